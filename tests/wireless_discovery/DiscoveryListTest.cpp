#include "FakeServiceBrowser.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Kind = WirelessService::Kind;

TEST(WirelessServiceSerial, IsTheMiddleOfAnAdbInstanceName)
{
    const std::pair<const char*, std::optional<QString>> table[] = {
        {"adb-R5CT123ABC-Xy1Z", u"R5CT123ABC"_s}, {"adb-R5-CT12-Xy1Z", u"R5-CT12"_s}, // a serial holding "-" survives
        {"adb-R5CT123ABC", std::nullopt},         {"ADB-R5-x", std::nullopt},         {"adb--x", std::nullopt},
    };
    for (const auto& [name, serial] : table)
        EXPECT_EQ((WirelessService{Kind::connect, QString::fromUtf8(name), {}}.serial()), serial) << name;
}

class DiscoveryList : public ::testing::Test {
protected:
    void SetUp() override
    {
        QObject::connect(discovery.get(), &WirelessDiscovery::servicesChanged, [this] { ++changes; });
        discovery->start();
    }
    QStringList ids() const
    {
        QStringList result;
        for (const auto& service : discovery->services())
            result << service.id();
        return result;
    }

    Browses browses;
    std::unique_ptr<WirelessDiscovery> discovery
        = std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
    int changes = 0;
};

TEST_F(DiscoveryList, ListsTheIPv4AddressAndRepublishesOnlyOnAChange)
{
    // Without an IPv4 address a service isn't listed; alongside IPv6 the IPv4 one is used.
    browses.resolveAt(Kind::connect, u"adb-A-x"_s, {socketAddress("fe80::1", 5555)}, 5555);
    EXPECT_EQ(changes, 0);
    browses.resolveAt(Kind::connect, u"adb-A-x"_s, {socketAddress("fe80::1"), socketAddress("10.9.8.7")}, 41005);
    EXPECT_EQ(discovery->services(), (QList<WirelessService>{{Kind::connect, u"adb-A-x"_s, u"10.9.8.7:41005"_s}}));
    browses.resolveAt(Kind::connect, u"adb-A-x"_s, {socketAddress("10.9.8.7")}, 41005);
    browses.remove(Kind::connect, u"never-seen"_s);
    EXPECT_EQ(changes, 1);
    browses.resolve(Kind::connect, u"adb-A-x"_s, "192.168.1.21");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(discovery->services().first().address, u"192.168.1.21:5555"_s);
}

TEST_F(DiscoveryList, PairingComesFirstThenEachKindByCodePointAndEachKindIsItsOwnService)
{
    for (const char* name : {"b", "a"})
        browses.resolve(Kind::connect, QString::fromUtf8(name));
    // U+FF21 comes before U+1F600, which UTF-16 order would flip.
    for (const char* name : {"z", "b", "Z", "\xF0\x9F\x98\x80", "\xEF\xBC\xA1"})
        browses.resolve(Kind::pairing, QString::fromUtf8(name));
    browses.remove(Kind::pairing, u"b"_s);
    EXPECT_EQ(ids(),
              (QStringList{u"pairing:Z"_s, u"pairing:z"_s, QString::fromUtf8("pairing:\xEF\xBC\xA1"),
                           QString::fromUtf8("pairing:\xF0\x9F\x98\x80"), u"connect:a"_s, u"connect:b"_s}));
    EXPECT_EQ(discovery->pairing().size(), 4);
    EXPECT_EQ(discovery->connect().size(), 2);
}

TEST_F(DiscoveryList, ReportsAfterTheDiscoveryIsGoneAreIgnored)
{
    auto handlers = browses.of(Kind::connect);
    discovery.reset();
    handlers.resolved({u"adb-A-x"_s, {socketAddress("10.0.0.1")}, 5555});
    handlers.removed(u"adb-A-x"_s);
}

} // namespace
