#include "FakeServiceBrowser.h"
#include "StubADB.h"
#include "TestSupport.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Kind = WirelessService::Kind;

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

    const WirelessService* find(Kind kind, const QString& name) const
    {
        for (const auto& service : discovery.services()) {
            if (service.kind == kind && service.name == name)
                return &service;
        }
        return nullptr;
    }
    bool listedAt(Kind kind, const char* name, const char* address)
    {
        const auto* service = find(kind, QString::fromUtf8(name));
        return service && service->address == QString::fromUtf8(address);
    }
    bool waitListedAt(Kind kind, const char* name, const char* address)
    {
        return testsupport::waitUntil([&] { return listedAt(kind, name, address); }, 5s);
    }
    void resolve(Kind kind, const char* name, const char* ip, uint16_t port)
    {
        for (auto& browse : browses) {
            if (browse.type.startsWith(kind == Kind::pairing ? QStringLiteral("_adb-tls-pairing")
                                                             : QStringLiteral("_adb-tls-connect")))
                browse.handlers.resolved({QString::fromUtf8(name), {ipv4Address(ip, port)}, port});
        }
    }
    void remove(Kind kind, const char* name)
    {
        for (auto& browse : browses) {
            if (browse.type.startsWith(kind == Kind::pairing ? QStringLiteral("_adb-tls-pairing")
                                                             : QStringLiteral("_adb-tls-connect")))
                browse.handlers.removed(QString::fromUtf8(name));
        }
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
    std::vector<FakeServiceBrowser::Browse> browses;
    WirelessDiscovery discovery{std::make_unique<FakeServiceBrowser>(&browses)};
    QSet<QString> seen;
};

TEST_F(Polling, MergesAdbsListWithServiceDiscoveryWhichWins)
{
    adb.setOutput("adb-A-x _adb-tls-pairing._tcp. 10.0.0.1:1111\n"
                  "adb-B-y _adb-tls-connect._tcp. 10.0.0.2:2222\n");
    resolve(Kind::pairing, "adb-A-x", "192.168.1.5", 3333);
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-B-y", "10.0.0.2:2222"));
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "192.168.1.5:3333"));
    EXPECT_EQ(discovery.services().size(), 2);

    // Gone from service discovery, still listed by adb: adb's address.
    remove(Kind::pairing, "adb-A-x");
    EXPECT_TRUE(listedAt(Kind::pairing, "adb-A-x", "10.0.0.1:1111"));
}

TEST_F(Polling, TheFirstOfTwoEntriesWithOneIdentityWins)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n"
                  "adb-A-x _adb-tls-connect._tcp. 10.0.0.9:9999\n");
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111"));
    EXPECT_EQ(discovery.services().size(), 1);
}

TEST_F(Polling, RepeatsAndFollowsAdbsList)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111"));
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1112\n");
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1112"));
    // A failing run empties adb's part of the list.
    adb.setFailing(true);
    EXPECT_TRUE(testsupport::waitUntil([&] { return discovery.services().isEmpty(); }, 5s));
    discovery.setPolling(std::nullopt);
}

TEST_F(Polling, TurningItOffDropsAdbsServicesAtOnce)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    resolve(Kind::connect, "adb-B-y", "192.168.1.5", 5555);
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(waitListedAt(Kind::connect, "adb-A-x", "10.0.0.1:1111"));
    discovery.setPolling(std::nullopt);
    // No event loop has run: the change is immediate.
    EXPECT_EQ(discovery.services().size(), 1);
    EXPECT_TRUE(listedAt(Kind::connect, "adb-B-y", "192.168.1.5:5555"));
    // And nothing of adb's comes back later.
    testsupport::waitUntil([] { return false; }, 1500ms);
    EXPECT_EQ(discovery.services().size(), 1);
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

TEST_F(Polling, AResultArrivingAfterTurningItOffIsDropped)
{
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:1111\n");
    discovery.setPolling(ADB(adb.path));
    ASSERT_TRUE(finishedWithoutDelivery(adb));
    discovery.setPolling(std::nullopt);
    testsupport::waitUntil([] { return false; }, 300ms);
    EXPECT_TRUE(discovery.services().isEmpty());
    EXPECT_TRUE(seen.isEmpty());
}

} // namespace
