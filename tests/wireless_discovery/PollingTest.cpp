#include "FakeServiceBrowser.h"
#include "StubADB.h"
#include "TestSupport.h"
#include "WirelessDiscovery.h"
#include "WorkerPool.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;
using namespace Qt::Literals::StringLiterals;
using Kind = WirelessService::Kind;

TEST(ADBServiceList, ReadsOneServicePerUsableLineAndNothingFromAFailureOrCancel)
{
    StubADB adb;
    adb.setOutput("List of discovered mdns services\n"
                  "adb-R5CT123ABC-Xy1Z\t_adb-tls-connect._tcp.\t192.168.1.20:41005\n\n"
                  "adb-R5CT123ABC-Xy1Z  _adb-tls-pairing._tcp   192.168.1.20:37199  extra fields\n"
                  "adb-NOCOLON-x _adb-tls-connect._tcp. 192.168.1.21\n"
                  "printer _ipp._tcp. 192.168.1.30:631\n"
                  "adb-SHORT-x _adb-tls-connect._tcp.\n");
    EXPECT_EQ(ADB(adb.path).mdnsServices(Cancel()),
              (std::vector<WirelessService>{{Kind::connect, u"adb-R5CT123ABC-Xy1Z"_s, u"192.168.1.20:41005"_s},
                                            {Kind::pairing, u"adb-R5CT123ABC-Xy1Z"_s, u"192.168.1.20:37199"_s}}));
    EXPECT_EQ(adb.calls(), "mdns services\n");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel(stop.get_token())).empty());
    adb.fail();
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel()).empty());
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
    void TearDown() override { discovery.setPolling(std::nullopt); }

    bool listedAt(Kind kind, const char* name, const char* address, std::chrono::milliseconds wait = 0ms) const
    {
        const WirelessService service{kind, QString::fromUtf8(name), QString::fromUtf8(address)};
        const auto listed = [&] { return discovery.services().contains(service); };
        return listed() || (wait > 0ms && testsupport::waitUntil(listed, wait));
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
    browses.resolve(Kind::pairing, u"adb-A-x"_s, "192.168.1.5", 3333);
    browses.resolve(Kind::connect, u"adb-C-z"_s, "192.168.1.6", 5555);
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(listedAt(Kind::connect, "adb-B-y", "10.0.0.2:2222", 5s));
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "192.168.1.5:3333"));
    EXPECT_EQ(discovery.services().size(), 3);
    // Gone from service discovery, still listed by adb: adb's address.
    browses.remove(Kind::pairing, u"adb-A-x"_s);
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "10.0.0.1:1111"));
    // Turned off, adb's services go at once, before any event loop runs.
    discovery.setPolling(std::nullopt);
    EXPECT_EQ(discovery.services(), (QList<WirelessService>{{Kind::connect, u"adb-C-z"_s, u"192.168.1.6:5555"_s}}));
}

TEST_F(Polling, RepeatsAndFollowsAdbsListAndAFailureEmptiesIt)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(listedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111", 5s));
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1112\n");
    ASSERT_TRUE(listedAt(Kind::connect, "adb-A-x", "10.0.0.1:1112", 5s));
    adb.fail();
    EXPECT_TRUE(testsupport::waitUntil([&] { return discovery.services().isEmpty(); }, 5s));
}

TEST_F(Polling, ANewSettingReplacesTheRunningPoll)
{
    StubADB other;
    adb.setOutput("adb-FIRST-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    other.setOutput("adb-SECOND-x _adb-tls-connect._tcp. 10.0.0.2:2222\n");
    discovery.setPolling(ADB(adb.path));
    // The first poll finishes while nothing is delivered: its result waits.
    for (int i = 0; i < 1000 && adb.calls().isEmpty(); ++i)
        std::this_thread::sleep_for(5ms);
    std::this_thread::sleep_for(300ms);
    discovery.setPolling(ADB(other.path));
    ASSERT_TRUE(listedAt(Kind::connect, "adb-SECOND-x", "10.0.0.2:2222", 5s));
    testsupport::waitUntil([] { return false; }, 1500ms); // room for a second round of either poll
    EXPECT_FALSE(seen.contains(QStringLiteral("adb-FIRST-x")));
    EXPECT_EQ(discovery.services().size(), 1);
    EXPECT_EQ(adb.calls().count('\n'), 1); // the replaced poll never asked again
}

// Mended: with no thread to poll on, turning polling on threw to the caller
// and the one-second tick let the failure escape its timer slot, which ended
// the application. A poll that cannot start counts as an empty list, and the
// next tick tries again.
TEST_F(Polling, APollThatCannotStartListsNothingAndTheNextTickTriesAgain)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    WorkerPool::shared().refuseThreadsForTesting(true);
    EXPECT_NO_THROW(discovery.setPolling(ADB(adb.path)));
    testsupport::waitUntil([] { return false; }, 1500ms); // past a tick
    WorkerPool::shared().refuseThreadsForTesting(false);
    EXPECT_TRUE(discovery.services().isEmpty());
    EXPECT_TRUE(adb.calls().isEmpty());
    EXPECT_TRUE(listedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111", 5s));
}

} // namespace
