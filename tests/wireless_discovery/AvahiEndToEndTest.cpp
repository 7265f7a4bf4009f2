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
using Clock = std::chrono::steady_clock;
using Kind = WirelessService::Kind;

const QString daemonAddress = QStringLiteral("10.213.7.1");

QString tool(const char* name)
{
    return QStandardPaths::findExecutable(QString::fromUtf8(name), {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/bin"),
                                                                    QStringLiteral("/sbin"), QStringLiteral("/bin")});
}

std::unique_ptr<ChildProcess> launch(const QStringList& command, const QMap<QString, QString>& environment = {})
{
    ChildProcess::Options options{command.first(), command.mid(1), environment, ChildProcess::Output::Merged};
    try {
        return ChildProcess::start(options);
    } catch (const Error&) {
        return nullptr;
    }
}

// Reads the child's output until it holds `marker`, it ends, or the limit passes.
bool awaitOutput(ChildProcess& child, const QByteArray& marker, std::chrono::milliseconds limit, QByteArray* seen)
{
    const auto deadline = Clock::now() + limit;
    char buffer[4096];
    while (!seen->contains(marker)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd entry{child.outputFd(), POLLIN, 0};
        if (::poll(&entry, 1, int(std::min<long long>(left.count(), 100))) <= 0)
            continue;
        const ssize_t n = readAvailable(child.outputFd(), buffer, sizeof buffer);
        if (n == 0)
            return false; // ended
        if (n > 0)
            seen->append(buffer, n);
    }
    return true;
}

// Runs a short command to its end, bounded; true when it succeeded.
bool runCommand(const QStringList& command, QByteArray* output)
{
    auto child = launch(command);
    if (!child)
        return false;
    output->clear();
    awaitOutput(*child, "\x01never", 10s, output); // to the end of its output
    return testsupport::waitUntil([&] { return child->tryWait(); }, 5s) && child->wait().succeeded();
}

// The private bus and daemon, shared by the tests of this file: the process
// learns the system bus's address once, so every test must use the same.
struct AvahiRig {
    QString ip, daemon, publisher, busAddress, avahiConfig;
    QString network = QStringLiteral("vtq-avahi-%1").arg(::getpid()); // the namespace
    bool networkCreated = false;
    QTemporaryDir folder;
    std::unique_ptr<ChildProcess> busDaemon;
    std::unique_ptr<ChildProcess> avahiDaemon;

    ~AvahiRig()
    {
        // In reverse order of start; the namespace goes last.
        avahiDaemon.reset();
        busDaemon.reset();
        QByteArray output;
        if (networkCreated)
            runCommand({ip, QStringLiteral("netns"), QStringLiteral("delete"), network}, &output);
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    // A network namespace with a veth pair; why it couldn't be made, or empty.
    QString createNetwork()
    {
        QByteArray output;
        if (!runCommand({ip, QStringLiteral("netns"), QStringLiteral("add"), network}, &output))
            return QStringLiteral("ip netns is unavailable: ") + QString::fromUtf8(output).trimmed();
        networkCreated = true;
        for (const QString& step : {QStringLiteral("link add va type veth peer name vb"),
                                    QStringLiteral("addr add ") + daemonAddress + QStringLiteral("/24 dev va"),
                                    QStringLiteral("addr add 10.213.7.2/24 dev vb"),
                                    QStringLiteral("link set va up multicast on"),
                                    QStringLiteral("link set vb up multicast on")}) {
            if (!runCommand(QStringList{ip, QStringLiteral("-n"), network} + step.split(QLatin1Char(' ')), &output))
                return QStringLiteral("couldn't set up the namespace's network (%1): %2")
                    .arg(step, QString::fromUtf8(output).trimmed());
        }
        return {};
    }

    static void writeFile(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(text);
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
        ip = tool("ip");
        daemon = tool("avahi-daemon");
        publisher = tool("avahi-publish");
        const QString bus = tool("dbus-daemon");
        if (ip.isEmpty() || daemon.isEmpty() || publisher.isEmpty() || bus.isEmpty())
            return QStringLiteral("needs ip, avahi-daemon, avahi-publish and dbus-daemon");
        // avahi-daemon keeps its pid file in /run/avahi-daemon: only one runs.
        QFile pidFile(QStringLiteral("/run/avahi-daemon/pid"));
        if (pidFile.open(QIODevice::ReadOnly) && testsupport::processAlive(pidFile.readAll().trimmed().toLong()))
            return QStringLiteral("another avahi-daemon is running");

        const QString problem = createNetwork();
        if (!problem.isEmpty())
            return problem;

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
        if (!skipReason.isEmpty() || !setupFailure.isEmpty()) {
            delete rig;
            rig = nullptr;
        }
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
        auto child = launch({rig->publisher, QStringLiteral("-s"), name, QString::fromLatin1(type), QString::number(port)},
                            {{QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), rig->busAddress}});
        if (!child)
            return nullptr;
        publishers.push_back(std::move(child));
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

    std::string describe() const
    {
        QStringList lines;
        for (const auto& service : discovery->services())
            lines << service.id() + QStringLiteral(" at ") + service.address;
        return lines.isEmpty() ? "(nothing listed)" : lines.join(QStringLiteral(", ")).toStdString();
    }

    static inline AvahiRig* rig = nullptr;
    static inline QString skipReason;
    static inline QString setupFailure;
    std::vector<std::unique_ptr<ChildProcess>> publishers;
    std::unique_ptr<WirelessDiscovery> discovery;
};

TEST_F(AvahiEndToEnd, PublishedServicesComeAndGo)
{
    const QString name = QStringLiteral("adb-R5CT123ABC-Xy1Z");
    ChildProcess* pairing = publish(name, "_adb-tls-pairing._tcp", 37199);
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41005);
    ASSERT_TRUE(pairing && connect);
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return listed(Kind::pairing, name, 37199) && listed(Kind::connect, name, 41005); }, 15s))
        << describe();
    EXPECT_EQ(discovery->services().size(), 2) << describe();
    EXPECT_EQ(discovery->services().first().kind, Kind::pairing);

    // A publisher stops: its service leaves the list, the other stays.
    stop(pairing);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !listed(Kind::pairing, name); }, 10s)) << describe();
    EXPECT_TRUE(listed(Kind::connect, name));
    stop(connect);
    EXPECT_TRUE(testsupport::waitUntil([&] { return discovery->services().isEmpty(); }, 10s)) << describe();
}

TEST_F(AvahiEndToEnd, ListsAgainAfterTheDaemonRestarts)
{
    const QString name = QStringLiteral("adb-AGAIN001-Cd3E");
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41007);
    ASSERT_TRUE(connect);
    ASSERT_TRUE(testsupport::waitUntil([&] { return listed(Kind::connect, name); }, 15s)) << describe();

    // The daemon goes: everything it reported is gone with it.
    rig->avahiDaemon.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return discovery->services().isEmpty(); }, 10s)) << describe();

    // It comes back; the discovery reconnects by itself.
    stop(connect);
    const QString problem = rig->startDaemon();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    ASSERT_TRUE(publish(name, "_adb-tls-connect._tcp", 41008));
    EXPECT_TRUE(testsupport::waitUntil([&] { return listed(Kind::connect, name, 41008); }, 15s)) << describe();
}

} // namespace
