// Discovery through the real avahi backend: a private D-Bus system bus and an
// avahi-daemon confined to a network namespace of the test's own, so that no
// multicast ever reaches the machine's real interfaces.

#include "ChildProcess.h"
#include "Error.h"
#include "TestSupport.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <memory>
#include <thread>

#include <poll.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Kind = WirelessService::Kind;

const char* const daemonAddress = "10.213.7.1";

QString tool(const char* name)
{
    const QString found = QStandardPaths::findExecutable(QString::fromUtf8(name));
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(QString::fromUtf8(name),
                                          {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                           QStringLiteral("/usr/bin"), QStringLiteral("/bin")});
}

std::unique_ptr<ChildProcess> launch(const QStringList& command, const QMap<QString, QString>& environment = {})
{
    ChildProcess::Options options;
    options.program = command.first();
    options.arguments = command.mid(1);
    options.environment = environment;
    options.output = ChildProcess::Output::Merged;
    try {
        return ChildProcess::start(options);
    } catch (const Error&) {
        return nullptr;
    }
}

// Reads the child's output until it holds `marker` or the limit passes.
bool awaitOutput(ChildProcess& child, const QByteArray& marker, std::chrono::milliseconds limit, QByteArray* seen)
{
    const auto deadline = Clock::now() + limit;
    char buffer[4096];
    while (!seen->contains(marker)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || child.outputFd() < 0)
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
bool runCommand(const QStringList& command, QByteArray* output = nullptr)
{
    auto child = launch(command);
    if (!child)
        return false;
    QByteArray text;
    awaitOutput(*child, QByteArray("\x01never", 6), 10s, &text); // to the end of its output
    const auto deadline = Clock::now() + 5s;
    while (!child->tryWait()) {
        if (Clock::now() > deadline)
            return false; // the destructor ends it
        std::this_thread::sleep_for(10ms);
    }
    if (output)
        *output = text;
    return child->wait().succeeded();
}

// A network namespace with a veth pair, removed with this object.
class NetworkNamespace {
public:
    explicit NetworkNamespace(QString ip) : m_ip(std::move(ip)), m_name(QStringLiteral("vtq-avahi-%1").arg(::getpid())) {}
    ~NetworkNamespace()
    {
        if (m_created)
            runCommand({m_ip, QStringLiteral("netns"), QStringLiteral("delete"), m_name});
    }

    // Why it couldn't be made, or empty.
    QString create()
    {
        QByteArray output;
        if (!runCommand({m_ip, QStringLiteral("netns"), QStringLiteral("add"), m_name}, &output))
            return QStringLiteral("ip netns is unavailable: ") + QString::fromUtf8(output).trimmed();
        m_created = true;
        const QList<QStringList> steps{
            {QStringLiteral("link"), QStringLiteral("add"), QStringLiteral("va"), QStringLiteral("type"),
             QStringLiteral("veth"), QStringLiteral("peer"), QStringLiteral("name"), QStringLiteral("vb")},
            {QStringLiteral("addr"), QStringLiteral("add"), QString::fromLatin1(daemonAddress) + QStringLiteral("/24"),
             QStringLiteral("dev"), QStringLiteral("va")},
            {QStringLiteral("addr"), QStringLiteral("add"), QStringLiteral("10.213.7.2/24"), QStringLiteral("dev"),
             QStringLiteral("vb")},
            {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("va"), QStringLiteral("up"),
             QStringLiteral("multicast"), QStringLiteral("on")},
            {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("vb"), QStringLiteral("up"),
             QStringLiteral("multicast"), QStringLiteral("on")},
        };
        for (const QStringList& step : steps) {
            if (!runCommand(QStringList{m_ip, QStringLiteral("-n"), m_name} + step, &output))
                return QStringLiteral("couldn't set up the namespace's network (%1): %2")
                    .arg(step.join(QLatin1Char(' ')), QString::fromUtf8(output).trimmed());
        }
        return {};
    }

    const QString& name() const { return m_name; }

private:
    QString m_ip;
    QString m_name;
    bool m_created = false;
};

// The private bus and daemon, shared by the tests of this file: the process
// learns the system bus's address once, so every test must use the same.
struct AvahiRig {
    QString ip, daemon, publisher, bus, busAddress, avahiConfig;
    QTemporaryDir folder;
    std::unique_ptr<NetworkNamespace> network;
    std::unique_ptr<ChildProcess> busDaemon;
    std::unique_ptr<ChildProcess> avahiDaemon;

    ~AvahiRig()
    {
        // In reverse order of start; the namespace goes last.
        avahiDaemon.reset();
        busDaemon.reset();
        network.reset();
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    static bool writeFile(const QString& path, const QByteArray& text)
    {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(text) == text.size();
    }

    // Starts avahi-daemon inside the namespace; why it failed, or empty.
    QString startDaemon()
    {
        avahiDaemon = launch({ip, QStringLiteral("netns"), QStringLiteral("exec"), network->name(), daemon,
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
        bus = tool("dbus-daemon");
        if (ip.isEmpty() || daemon.isEmpty() || publisher.isEmpty() || bus.isEmpty())
            return QStringLiteral("needs ip, avahi-daemon, avahi-publish and dbus-daemon");
        // avahi-daemon keeps its pid file in /run/avahi-daemon: only one runs.
        QFile pidFile(QStringLiteral("/run/avahi-daemon/pid"));
        if (pidFile.open(QIODevice::ReadOnly) && testsupport::processAlive(pidFile.readAll().trimmed().toLong()))
            return QStringLiteral("another avahi-daemon is running");
        if (!folder.isValid()) {
            *failure = QStringLiteral("no temporary folder");
            return {};
        }

        network = std::make_unique<NetworkNamespace>(ip);
        const QString problem = network->create();
        if (!problem.isEmpty())
            return problem;

        const QString socket = folder.filePath(QStringLiteral("bus"));
        busAddress = QStringLiteral("unix:path=") + socket;
        const QString busConfig = folder.filePath(QStringLiteral("bus.conf"));
        writeFile(busConfig, "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                             " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                             "<busconfig>\n"
                             "  <type>system</type>\n"
                             "  <listen>" + busAddress.toUtf8() + "</listen>\n"
                             "  <auth>EXTERNAL</auth>\n"
                             "  <policy context=\"default\">\n"
                             "    <allow user=\"*\"/>\n"
                             "    <allow own=\"*\"/>\n"
                             "    <allow send_destination=\"*\"/>\n"
                             "    <allow receive_sender=\"*\"/>\n"
                             "  </policy>\n"
                             "</busconfig>\n");
        busDaemon = launch({bus, QStringLiteral("--config-file=") + busConfig, QStringLiteral("--nofork")});
        if (!busDaemon || !testsupport::waitUntil([&] { return QFile::exists(socket); }, 5s)) {
            *failure = QStringLiteral("the private D-Bus bus never listened");
            return {};
        }

        avahiConfig = folder.filePath(QStringLiteral("avahi.conf"));
        writeFile(avahiConfig, "[server]\n"
                               "use-ipv4=yes\n"
                               "use-ipv6=no\n"
                               "allow-interfaces=va\n"
                               "enable-dbus=yes\n"
                               "[wide-area]\n"
                               "enable-wide-area=no\n"
                               "[publish]\n"
                               "publish-hinfo=no\n"
                               "publish-workstation=no\n");
        *failure = startDaemon();
        if (!failure->isEmpty())
            return {};
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
    }

    void TearDown() override
    {
        // The discovery goes before the publishers; both before the rig.
        discovery.reset();
        publishers.clear();
    }

    ChildProcess* publish(const QString& name, const char* type, int port)
    {
        auto child = launch({rig->publisher, QStringLiteral("-s"), name, QString::fromLatin1(type),
                             QString::number(port)},
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

    const WirelessService* find(Kind kind, const QString& name) const
    {
        for (const auto& service : discovery->services()) {
            if (service.kind == kind && service.name == name)
                return &service;
        }
        return nullptr;
    }

    QString describe() const
    {
        QStringList lines;
        for (const auto& service : discovery->services())
            lines << service.id() + QStringLiteral(" at ") + service.address;
        return lines.isEmpty() ? QStringLiteral("(nothing listed)") : lines.join(QStringLiteral(", "));
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
    discovery = std::make_unique<WirelessDiscovery>();
    discovery->start();
    ChildProcess* pairing = publish(name, "_adb-tls-pairing._tcp", 37199);
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41005);
    ASSERT_TRUE(pairing && connect);

    const QString pairingAt = QString::fromLatin1(daemonAddress) + QStringLiteral(":37199");
    const QString connectAt = QString::fromLatin1(daemonAddress) + QStringLiteral(":41005");
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            const auto* p = find(Kind::pairing, name);
            const auto* c = find(Kind::connect, name);
            return p && c && p->address == pairingAt && c->address == connectAt;
        },
        15s))
        << describe().toStdString();
    EXPECT_EQ(discovery->services().size(), 2) << describe().toStdString();
    EXPECT_EQ(discovery->services().first().kind, Kind::pairing);
    EXPECT_EQ(find(Kind::connect, name)->serial(), QStringLiteral("R5CT123ABC"));

    // A publisher stops: its service leaves the list, the other stays.
    stop(pairing);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !find(Kind::pairing, name); }, 10s)) << describe().toStdString();
    EXPECT_TRUE(find(Kind::connect, name));
    stop(connect);
    EXPECT_TRUE(testsupport::waitUntil([&] { return discovery->services().isEmpty(); }, 10s))
        << describe().toStdString();
}

TEST_F(AvahiEndToEnd, ADiscoveryStartedAfterThePublisherSeesItToo)
{
    const QString name = QStringLiteral("adb-LATE0001-Ab2C");
    ASSERT_TRUE(publish(name, "_adb-tls-connect._tcp", 41006));
    // Give the service time to be established before anyone browses.
    testsupport::waitUntil([] { return false; }, 1500ms);
    discovery = std::make_unique<WirelessDiscovery>();
    discovery->start();
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            const auto* c = find(Kind::connect, name);
            return c && c->address == QString::fromLatin1(daemonAddress) + QStringLiteral(":41006");
        },
        15s))
        << describe().toStdString();
}

TEST_F(AvahiEndToEnd, ListsAgainAfterTheDaemonRestarts)
{
    const QString name = QStringLiteral("adb-AGAIN001-Cd3E");
    discovery = std::make_unique<WirelessDiscovery>();
    discovery->start();
    ChildProcess* connect = publish(name, "_adb-tls-connect._tcp", 41007);
    ASSERT_TRUE(connect);
    ASSERT_TRUE(testsupport::waitUntil([&] { return find(Kind::connect, name) != nullptr; }, 15s))
        << describe().toStdString();

    // The daemon goes: everything it reported is gone with it.
    rig->avahiDaemon.reset();
    ASSERT_TRUE(testsupport::waitUntil([&] { return discovery->services().isEmpty(); }, 10s))
        << describe().toStdString();

    // It comes back; the discovery reconnects by itself.
    stop(connect);
    const QString problem = rig->startDaemon();
    ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();
    ASSERT_TRUE(publish(name, "_adb-tls-connect._tcp", 41008));
    EXPECT_TRUE(testsupport::waitUntil(
        [&] {
            const auto* c = find(Kind::connect, name);
            return c && c->address == QString::fromLatin1(daemonAddress) + QStringLiteral(":41008");
        },
        15s))
        << describe().toStdString();
}

} // namespace
