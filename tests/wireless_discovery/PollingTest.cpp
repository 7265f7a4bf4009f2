#include "FakeServiceBrowser.h"
#include "StubADB.h"
#include "TestSupport.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <chrono>
#include <stop_token>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Kind = WirelessService::Kind;

TEST(ADBServiceList, AsksAdbAndReadsOneServicePerUsableLine)
{
    StubADB adb;
    adb.setOutput("List of discovered mdns services\n"
                  "adb-R5CT123ABC-Xy1Z\t_adb-tls-connect._tcp.\t192.168.1.20:41005\n"
                  "\n"
                  "adb-R5CT123ABC-Xy1Z  _adb-tls-pairing._tcp   192.168.1.20:37199  extra fields\n"
                  "adb-NOCOLON-x _adb-tls-connect._tcp. 192.168.1.21\n"
                  "printer _ipp._tcp. 192.168.1.30:631\n"
                  "adb-SHORT-x _adb-tls-connect._tcp.\n");
    const auto services = ADB(adb.path).mdnsServices(Cancel());
    EXPECT_EQ(adb.calls(), "mdns services\n");
    ASSERT_EQ(services.size(), 2u);
    EXPECT_EQ(services[0], (WirelessService{Kind::connect, QStringLiteral("adb-R5CT123ABC-Xy1Z"),
                                            QStringLiteral("192.168.1.20:41005")}));
    EXPECT_EQ(services[1], (WirelessService{Kind::pairing, QStringLiteral("adb-R5CT123ABC-Xy1Z"),
                                            QStringLiteral("192.168.1.20:37199")}));
}

TEST(ADBServiceList, IsEmptyWhenAdbFailsOrIsCancelled)
{
    StubADB adb;
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:5555\n");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel(stop.get_token())).empty());
    adb.fail();
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel()).empty());
}

TEST(ADBServiceList, AnAdbWithoutTheCommandListsNothing)
{
    const QString system = QStringLiteral("/usr/bin/adb");
    if (!QFileInfo(system).isExecutable())
        GTEST_SKIP() << "no adb installed at " << system.toStdString();
    EXPECT_TRUE(ADB(system).mdnsServices(Cancel()).empty());
}

class Polling : public ::testing::Test {
protected:
    void SetUp() override
    {
        discovery.start();
        QObject::connect(&discovery, &WirelessDiscovery::servicesChanged, [this] {
            for (const auto& service : discovery.services())
                seen << service.name;
        });
    }

    bool listedAt(Kind kind, const char* name, const char* address) const
    {
        return discovery.services().contains(WirelessService{kind, QString::fromUtf8(name), QString::fromUtf8(address)});
    }
    bool waitListedAt(Kind kind, const char* name, const char* address) const
    {
        return testsupport::waitUntil([&] { return listedAt(kind, name, address); }, 5s);
    }

    // Waits, without running the event loop, until adb was asked and has
    // surely answered, so that the poll's result sits undelivered.
    static bool finishedWithoutDelivery(const StubADB& stub)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (stub.calls().isEmpty()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(5ms);
        }
        std::this_thread::sleep_for(300ms);
        return true;
    }

    StubADB adb;
    Browses browses;
    WirelessDiscovery discovery{std::make_unique<FakeServiceBrowser>(&browses)};
    QSet<QString> seen;
};

TEST_F(Polling, MergesAdbsListWithServiceDiscoveryWhichWinsUntilTurnedOff)
{
    adb.setOutput("adb-A-x _adb-tls-pairing._tcp. 10.0.0.1:1111\n"
                  "adb-B-y _adb-tls-connect._tcp. 10.0.0.2:2222\n");
    browses.resolve(Kind::pairing, QStringLiteral("adb-A-x"), "192.168.1.5", 3333);
    browses.resolve(Kind::connect, QStringLiteral("adb-C-z"), "192.168.1.6", 5555);
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-B-y", "10.0.0.2:2222"));
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "192.168.1.5:3333"));
    EXPECT_EQ(discovery.services().size(), 3);

    // Gone from service discovery, still listed by adb: adb's address.
    browses.remove(Kind::pairing, QStringLiteral("adb-A-x"));
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "10.0.0.1:1111"));

    // Turned off, adb's services go at once, before any event loop runs.
    discovery.setPolling(std::nullopt);
    EXPECT_EQ(discovery.services(),
              (QList<WirelessService>{{Kind::connect, QStringLiteral("adb-C-z"), QStringLiteral("192.168.1.6:5555")}}));
}

TEST_F(Polling, RepeatsAndFollowsAdbsList)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111"));
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1112\n");
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1112"));
    // A failing run empties adb's part of the list.
    adb.fail();
    EXPECT_TRUE(testsupport::waitUntil([&] { return discovery.services().isEmpty(); }, 5s));
    discovery.setPolling(std::nullopt);
}

TEST_F(Polling, ANewSettingReplacesTheRunningPoll)
{
    StubADB other;
    adb.setOutput("adb-FIRST-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    other.setOutput("adb-SECOND-x _adb-tls-connect._tcp. 10.0.0.2:2222\n");
    discovery.setPolling(ADB(adb.path));
    // The first poll finishes while nothing is delivered: its result waits.
    ASSERT_TRUE(finishedWithoutDelivery(adb));
    discovery.setPolling(ADB(other.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-SECOND-x", "10.0.0.2:2222"));
    // Long enough for a second round of either poll.
    testsupport::waitUntil([] { return false; }, 1500ms);
    EXPECT_FALSE(seen.contains(QStringLiteral("adb-FIRST-x")));
    EXPECT_EQ(discovery.services().size(), 1);
    // Only one poll runs: the replaced one never asked adb again.
    EXPECT_EQ(adb.calls().count('\n'), 1);
    discovery.setPolling(std::nullopt);
}

} // namespace
