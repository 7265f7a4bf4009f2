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

#include <chrono>
#include <memory>

#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Kind = WirelessService::Kind;

const QString daemonAddress = QStringLiteral("10.213.7.1");

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromUtf8(name), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                                    QStringLiteral("/sbin"), QStringLiteral("/bin")});
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

void writeFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text);
}

// The private bus and daemon, shared by the tests of this file: the process
// learns the system bus's address once, so every test must use the same.
struct AvahiRig {
    QString ip = tool("ip"), daemon = tool("avahi-daemon"), publisher = tool("avahi-publish"), busAddress, avahiConfig;
    QString network = QStringLiteral("vtq-avahi-%1").arg(::getpid()); // the namespace
    QTemporaryDir folder;
    std::unique_ptr<ChildProcess> busDaemon, avahiDaemon;

    ~AvahiRig()
    {
        // In reverse order of start; the namespace goes last.
        avahiDaemon.reset();
        busDaemon.reset();
        if (auto child = launch({ip, QStringLiteral("netns"), QStringLiteral("delete"), network}))
            testsupport::waitUntil([&] { return child->tryWait(); }, 5s);
    }

    // Starts avahi-daemon inside the namespace; why it failed, or empty.
    QString startDaemon()
    {
        avahiDaemon = launch({ip, QStringLiteral("netns"), QStringLiteral("exec"), network, daemon,
                              QStringLiteral("--no-drop-root"), QStringLiteral("--no-chroot"),
                              QStringLiteral("--no-rlimits"), QStringLiteral("-f"), avahiConfig},
                             {{QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), busAddress}});
        QByteArray log;
        if (!avahiDaemon || !awaitOutput(*avahiDaemon, "Server startup complete", 10s, &log))
            return QStringLiteral("avahi-daemon didn't start:\n") + QString::fromUtf8(log);
        return {};
    }

    // Sets everything up. Returns why the tests can't run here (skip), or
    // fills `failure` when something that should work didn't.
    QString start(QString* failure)
    {
        if (::geteuid() != 0)
            return QStringLiteral("needs root to make a network namespace");
        const QString bus = tool("dbus-daemon");
        if (ip.isEmpty() || daemon.isEmpty() || publisher.isEmpty() || bus.isEmpty())
            return QStringLiteral("needs ip, avahi-daemon, avahi-publish and dbus-daemon");
        // avahi-daemon keeps its pid file in /run/avahi-daemon: only one runs.
        QFile pidFile(QStringLiteral("/run/avahi-daemon/pid"));
        if (pidFile.open(QIODevice::ReadOnly) && testsupport::processAlive(pidFile.readAll().trimmed().toLong()))
            return QStringLiteral("another avahi-daemon is running");

        // A namespace with a veth pair.
        const QString script = QStringLiteral("set -e; ip netns add %1; ip -n %1 link add va type veth peer name vb;"
                                              " ip -n %1 addr add %2/24 dev va; ip -n %1 addr add 10.213.7.2/24 dev vb;"
                                              " ip -n %1 link set va up multicast on; ip -n %1 link set vb up multicast on")
                                   .arg(network, daemonAddress);
        auto setup = launch({QStringLiteral("/bin/sh"), QStringLiteral("-c"), script});
        QByteArray output;
        if (!setup || awaitOutput(*setup, "\x01never", 10s, &output)
            || !testsupport::waitUntil([&] { return setup->tryWait(); }, 5s) || !setup->wait().succeeded())
            return QStringLiteral("couldn't make a network namespace: ") + QString::fromUtf8(output).trimmed();

        const QString socket = folder.filePath(QStringLiteral("bus"));
        busAddress = QStringLiteral("unix:path=") + socket;
        const QString busConfig = folder.filePath(QStringLiteral("bus.conf"));
        writeFile(busConfig, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig><type>system</type><listen>" + busAddress.toUtf8() + "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>\n"
                             "    <allow send_destination=\"*\"/><allow receive_sender=\"*\"/></policy>\n"
                             "</busconfig>\n");
        busDaemon = launch({bus, QStringLiteral("--config-file=") + busConfig, QStringLiteral("--nofork")});
        if (!busDaemon || !testsupport::waitUntil([&] { return QFile::exists(socket); }, 5s)) {
            *failure = QStringLiteral("the private D-Bus bus never listened");
            return {};
        }
        avahiConfig = folder.filePath(QStringLiteral("avahi.conf"));
        writeFile(avahiConfig, "[server]\nuse-ipv4=yes\nuse-ipv6=no\nallow-interfaces=va\nenable-dbus=yes\n"
                               "[wide-area]\nenable-wide-area=no\n"
                               "[publish]\npublish-hinfo=no\npublish-workstation=no\n");
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
    static void TearDownTestSuite()
    {
        delete rig;
        rig = nullptr;
    }

    void SetUp() override
    {
        if (!skipReason.isEmpty())
            GTEST_SKIP() << skipReason.toStdString();
        ASSERT_TRUE(rig) << setupFailure.toStdString();
        discovery = std::make_unique<WirelessDiscovery>();
        discovery->start();
    }
    void TearDown() override
    {
        // The discovery goes before the publishers; both before the rig.
        discovery.reset();
        publishers.clear();
    }

    ChildProcess* publish(const QString& name, const char* type, int port)
    {
        publishers.push_back(launch({rig->publisher, QStringLiteral("-s"), name, QString::fromLatin1(type),
                                     QString::number(port)},
                                    {{QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), rig->busAddress}}));
        return publishers.back().get();
    }
    void stop(ChildProcess* publisher)
    {
        std::erase_if(publishers, [&](const auto& child) { return child.get() == publisher; });
    }

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
    const QString name = QStringLiteral("adb-R5CT123ABC-Xy1Z");
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
    const QString name = QStringLiteral("adb-AGAIN001-Cd3E");
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
