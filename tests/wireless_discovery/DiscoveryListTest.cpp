#include "FakeServiceBrowser.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

namespace {

using Kind = WirelessService::Kind;

TEST(WirelessServiceSerial, IsTheMiddleOfAnAdbInstanceName)
{
    const auto serialOf = [](const char* name) {
        return WirelessService{Kind::connect, QString::fromUtf8(name), {}}.serial();
    };
    EXPECT_EQ(serialOf("adb-R5CT123ABC-Xy1Z"), QStringLiteral("R5CT123ABC"));
    // A serial that holds "-" itself survives.
    EXPECT_EQ(serialOf("adb-R5-CT12-Xy1Z"), QStringLiteral("R5-CT12"));
    EXPECT_EQ(serialOf("adb-R5CT123ABC"), std::nullopt);
    EXPECT_EQ(serialOf("ADB-R5-x"), std::nullopt);
    EXPECT_EQ(serialOf("adb--x"), std::nullopt);
}

class DiscoveryList : public ::testing::Test {
protected:
    DiscoveryList()
    {
        QObject::connect(discovery.get(), &WirelessDiscovery::servicesChanged, [this] { ++changes; });
    }

    QStringList ids() const
    {
        QStringList result;
        for (const auto& service : discovery->services())
            result << service.id();
        return result;
    }

    Browses browses;
    std::unique_ptr<WirelessDiscovery> discovery =
        std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
    int changes = 0;
};

TEST_F(DiscoveryList, AResolvedServiceIsListedAtItsAddressAndPort)
{
    discovery->start();
    browses.resolve(Kind::connect, QStringLiteral("adb-R5CT123ABC-Xy1Z"), "192.168.1.20", 41005);
    EXPECT_EQ(discovery->services(), (QList<WirelessService>{{Kind::connect, QStringLiteral("adb-R5CT123ABC-Xy1Z"),
                                                               QStringLiteral("192.168.1.20:41005")}}));
    EXPECT_EQ(changes, 1);
}

TEST_F(DiscoveryList, PairingServicesComeFirstThenEachKindByName)
{
    discovery->start();
    browses.resolve(Kind::connect, QStringLiteral("b"));
    browses.resolve(Kind::pairing, QStringLiteral("z"));
    browses.resolve(Kind::connect, QStringLiteral("a"));
    browses.resolve(Kind::pairing, QStringLiteral("Z"));
    // By code point: U+FF21 comes before U+1F600, which UTF-16 order would flip.
    browses.resolve(Kind::pairing, QString::fromUtf8("\xF0\x9F\x98\x80"));
    browses.resolve(Kind::pairing, QString::fromUtf8("\xEF\xBC\xA1"));
    EXPECT_EQ(ids(), (QStringList{QStringLiteral("pairing:Z"), QStringLiteral("pairing:z"),
                                  QString::fromUtf8("pairing:\xEF\xBC\xA1"), QString::fromUtf8("pairing:\xF0\x9F\x98\x80"),
                                  QStringLiteral("connect:a"), QStringLiteral("connect:b")}));
    EXPECT_EQ(discovery->pairing().size(), 4);
    EXPECT_EQ(discovery->connect().size(), 2);
}

TEST_F(DiscoveryList, EachKindOfANameIsItsOwnServiceAndLeavesAlone)
{
    discovery->start();
    browses.resolve(Kind::connect, QStringLiteral("adb-A-x"));
    browses.resolve(Kind::pairing, QStringLiteral("adb-A-x"));
    browses.resolve(Kind::pairing, QStringLiteral("adb-B-x"));
    EXPECT_EQ(ids(), (QStringList{QStringLiteral("pairing:adb-A-x"), QStringLiteral("pairing:adb-B-x"),
                                  QStringLiteral("connect:adb-A-x")}));
    browses.remove(Kind::pairing, QStringLiteral("adb-A-x"));
    browses.remove(Kind::connect, QStringLiteral("adb-B-x"));
    EXPECT_EQ(ids(), (QStringList{QStringLiteral("pairing:adb-B-x"), QStringLiteral("connect:adb-A-x")}));
}

TEST_F(DiscoveryList, IsRepublishedOnlyWhenItReallyChanges)
{
    discovery->start();
    browses.resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.20");
    browses.resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.20");
    browses.remove(Kind::connect, QStringLiteral("never-seen"));
    EXPECT_EQ(changes, 1);
    // A new resolution with another address replaces the old one.
    browses.resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.21");
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(discovery->services().first().address, QStringLiteral("192.168.1.21:5555"));
}

TEST_F(DiscoveryList, AServiceWithoutIPv4IsNotListed)
{
    discovery->start();
    browses.resolveAt(Kind::connect, QStringLiteral("adb-A-x"), {ipv6Address("fe80::1", 5555)}, 5555);
    EXPECT_TRUE(discovery->services().isEmpty());
    EXPECT_EQ(changes, 0);
    // Alongside IPv6, the IPv4 address is used.
    browses.resolveAt(Kind::connect, QStringLiteral("adb-A-x"), {ipv6Address("fe80::1"), ipv4Address("10.9.8.7")}, 5555);
    ASSERT_EQ(discovery->services().size(), 1);
    EXPECT_EQ(discovery->services().first().address, QStringLiteral("10.9.8.7:5555"));
}

TEST_F(DiscoveryList, ReportsAfterTheDiscoveryIsGoneAreIgnored)
{
    discovery->start();
    auto handlers = browses.of(Kind::connect);
    discovery.reset();
    handlers.resolved({QStringLiteral("adb-A-x"), {ipv4Address("10.0.0.1")}, 5555});
    handlers.removed(QStringLiteral("adb-A-x"));
    SUCCEED();
}

} // namespace
