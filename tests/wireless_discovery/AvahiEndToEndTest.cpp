// Discovery through the real avahi backend: a private D-Bus system bus and an
// avahi-daemon confined to a network namespace of the test's own, so that no
// multicast ever reaches the machine's real interfaces.

#include "ChildProcess.h"
#include "Error.h"
#include "TestSupport.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>


#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using Kind = WirelessService::Kind;

const QString daemonAddress = QStringLiteral("10.213.7.1");

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromUtf8(name), {u"/usr/sbin"_s, u"/usr/bin"_s, u"/sbin"_s, u"/bin"_s});
}

std::unique_ptr<ChildProcess> launch(const QStringList& command, const QMap<QString, QString>& environment = {})
{
    try {
        return ChildProcess::start({command.first(), command.mid(1), environment, ChildProcess::Output::Merged});
    } catch (const Error&) {
        return nullptr;
    }
}

// Reads the child's output until it holds `marker`, it ends, or the limit passes.
bool awaitOutput(ChildProcess& child, const QByteArray& marker, std::chrono::milliseconds limit, QByteArray* seen)
{
    char buffer[4096];
    return testsupport::waitUntil(
        [&] {
            pollfd entry{child.outputFd(), POLLIN, 0};
            const ssize_t n = ::poll(&entry, 1, 50) > 0 ? readAvailable(child.outputFd(), buffer, sizeof buffer) : -1;
            if (n > 0)
                seen->append(buffer, n);
            return seen->contains(marker) || n == 0;
        },
        limit) && seen->contains(marker);
}

// The private bus and daemon, shared by the tests of this file: the process
// learns the system bus's address once, so every test must use the same.
struct AvahiRig {
    QString ip = tool("ip"), daemon = tool("avahi-daemon"), publisher = tool("avahi-publish"), busAddress, avahiConfig;
    QString network = u"vtq-avahi-%1"_s.arg(::getpid()); // the namespace
    QTemporaryDir folder;
    std::unique_ptr<ChildProcess> busDaemon, avahiDaemon;

    ~AvahiRig()
    {
        // In reverse order of start; the namespace goes last.
        avahiDaemon.reset();
        busDaemon.reset();
        if (auto child = launch({ip, u"netns"_s, u"delete"_s, network}))
            testsupport::waitUntil([&] { return child->tryWait(); }, 5s);
    }

    // Starts avahi-daemon inside the namespace; why it failed, or empty.
    QString startDaemon()
    {
        avahiDaemon = launch({ip, u"netns"_s, u"exec"_s, network, daemon, u"--no-drop-root"_s, u"--no-chroot"_s,
                              u"--no-rlimits"_s, u"-f"_s, avahiConfig}, {{u"DBUS_SYSTEM_BUS_ADDRESS"_s, busAddress}});
        QByteArray log;
        const bool started = avahiDaemon && awaitOutput(*avahiDaemon, "Server startup complete", 10s, &log);
        return started ? QString() : u"avahi-daemon didn't start:\n"_s + QString::fromUtf8(log);
    }

    // Sets everything up. Returns why the tests can't run here (skip), or
    // fills `failure` when something that should work didn't.
    QString start(QString* failure)
    {
        if (::geteuid() != 0)
            return u"needs root to make a network namespace"_s;
        const QString bus = tool("dbus-daemon");
        if (ip.isEmpty() || daemon.isEmpty() || publisher.isEmpty() || bus.isEmpty())
            return u"needs ip, avahi-daemon, avahi-publish and dbus-daemon"_s;
        // avahi-daemon keeps its pid file in /run/avahi-daemon: only one runs.
        QFile pidFile(u"/run/avahi-daemon/pid"_s);
        if (pidFile.open(QIODevice::ReadOnly) && testsupport::processAlive(pidFile.readAll().trimmed().toLong()))
            return u"another avahi-daemon is running"_s;

        // A namespace with a veth pair.
        const QString script = QStringLiteral("set -e; ip netns add %1; ip -n %1 link add va type veth peer name vb;"
                                              " ip -n %1 addr add %2/24 dev va; ip -n %1 addr add 10.213.7.2/24 dev vb;"
                                              " ip -n %1 link set va up multicast on; ip -n %1 link set vb up multicast on")
                                   .arg(network, daemonAddress);
        auto setup = launch({u"/bin/sh"_s, u"-c"_s, script});
        QByteArray output;
        if (!setup || awaitOutput(*setup, "\x01never", 10s, &output)
            || !testsupport::waitUntil([&] { return setup->tryWait(); }, 5s) || !setup->wait().succeeded())
            return u"couldn't make a network namespace: "_s + QString::fromUtf8(output).trimmed();

        // A bus of the test's own, open to every client.
        const QString socket = folder.filePath(u"bus"_s);
        busAddress = u"unix:path="_s + socket;
        busDaemon = launch({bus, u"--session"_s, u"--address="_s + busAddress, u"--nofork"_s, u"--nopidfile"_s});
        if (!busDaemon || !testsupport::waitUntil([&] { return QFile::exists(socket); }, 5s)) {
            *failure = u"the private D-Bus bus never listened"_s;
            return {};
        }
        avahiConfig = folder.filePath(u"avahi.conf"_s);
        QFile config(avahiConfig);
        if (config.open(QIODevice::WriteOnly))
            config.write("[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=va\nenable-dbus=yes\n"
                         "[wide-area]\nenable-wide-area=no\n"
                         "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
        config.close();
        *failure = startDaemon();
        // The code under test reaches the private bus the same way.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", busAddress.toUtf8());
        return {};
    }
};

class AvahiEndToEnd : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        rig = new AvahiRig;
        skipReason = rig->start(&setupFailure);
        if (!skipReason.isEmpty() || !setupFailure.isEmpty())
            TearDownTestSuite();
    }
    static void TearDownTestSuite() { delete std::exchange(rig, nullptr); }

    void SetUp() override
    {
        if (!skipReason.isEmpty())
            GTEST_SKIP() << skipReason.toStdString();
        ASSERT_TRUE(rig) << setupFailure.toStdString();
        discovery = std::make_unique<WirelessDiscovery>();
        discovery->start();
    }
    // The discovery goes before the publishers; both before the rig.
    void TearDown() override
    {
        discovery.reset();
        publishers.clear();
    }

    ChildProcess* publish(const QString& name, const char* type, int port)
    {
        publishers.push_back(launch({rig->publisher, u"-s"_s, name, QString::fromLatin1(type), QString::number(port)},
                                    {{u"DBUS_SYSTEM_BUS_ADDRESS"_s, rig->busAddress}}));
        return publishers.back().get();
    }
    void stop(ChildProcess* publisher) { std::erase_if(publishers, [&](auto& child) { return child.get() == publisher; }); }

    // Whether the service is listed, at the daemon's address and this port if one is given.
    bool listed(Kind kind, const QString& name, int port = 0) const
    {
        for (const auto& service : discovery->services()) {
            if (service.kind == kind && service.name == name)
                return port == 0 || service.address == daemonAddress + QLatin1Char(':') + QString::number(port);
        }
        return false;
    }
    bool waitFor(const std::function<bool()>& condition) const { return testsupport::waitUntil(condition, 15s); }

    static inline AvahiRig* rig = nullptr;
    static inline QString skipReason, setupFailure;
    std::vector<std::unique_ptr<ChildProcess>> publishers;
    std::unique_ptr<WirelessDiscovery> discovery;
};

TEST_F(AvahiEndToEnd, PublishedServicesComeAndGo)
{
    const QString name = u"adb-R5CT123ABC-Xy1Z"_s;
    ChildProcess* pairing = publish(name, "_adb-tls-pairing._tcp", 37199);
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41005);
    ASSERT_TRUE(pairing && connect);
    ASSERT_TRUE(waitFor([&] { return listed(Kind::pairing, name, 37199) && listed(Kind::connect, name, 41005); }));
    EXPECT_EQ(discovery->services().size(), 2);
    // A publisher stops: its service leaves the list, the other stays.
    stop(pairing);
    ASSERT_TRUE(waitFor([&] { return !listed(Kind::pairing, name); }));
    EXPECT_TRUE(listed(Kind::connect, name));
    stop(connect);
    EXPECT_TRUE(waitFor([&] { return discovery->services().isEmpty(); }));
}

TEST_F(AvahiEndToEnd, ListsAgainAfterTheDaemonRestarts)
{
    const QString name = u"adb-AGAIN001-Cd3E"_s;
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41007);
    ASSERT_TRUE(connect);
    ASSERT_TRUE(waitFor([&] { return listed(Kind::connect, name); }));
    // The daemon goes: everything it reported is gone with it.
    rig->avahiDaemon.reset();
    ASSERT_TRUE(waitFor([&] { return discovery->services().isEmpty(); }));
    // It comes back; the discovery reconnects by itself.
    stop(connect);
    const QString problem = rig->startDaemon();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    ASSERT_TRUE(publish(name, "_adb-tls-connect._tcp", 41008));
    EXPECT_TRUE(waitFor([&] { return listed(Kind::connect, name, 41008); }));
}

} // namespace
