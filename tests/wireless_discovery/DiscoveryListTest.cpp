#include "FakeServiceBrowser.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QVariant>

namespace {

using Kind = WirelessService::Kind;

class DiscoveryList : public ::testing::Test {
protected:
    DiscoveryList()
    {
        QObject::connect(discovery.get(), &WirelessDiscovery::servicesChanged, [this] { ++changes; });
    }

    ServiceBrowser::Handlers& handlersFor(Kind kind)
    {
        const QString type =
            kind == Kind::pairing ? QStringLiteral("_adb-tls-pairing._tcp.") : QStringLiteral("_adb-tls-connect._tcp.");
        for (auto& browse : browses) {
            if (browse.type == type)
                return browse.handlers;
        }
        throw std::logic_error("type not browsed");
    }

    void resolveAt(Kind kind, const QString& name, QList<QByteArray> addresses, uint16_t port)
    {
        handlersFor(kind).resolved({name, std::move(addresses), port});
    }
    void resolve(Kind kind, const QString& name, const char* ip = "192.168.1.20", uint16_t port = 37199)
    {
        resolveAt(kind, name, {ipv4Address(ip, port)}, port);
    }
    void remove(Kind kind, const QString& name) { handlersFor(kind).removed(name); }

    QStringList ids() const
    {
        QStringList result;
        for (const auto& service : discovery->services())
            result << service.id();
        return result;
    }

    std::vector<FakeServiceBrowser::Browse> browses;
    std::unique_ptr<WirelessDiscovery> discovery =
        std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
    int changes = 0;
};

TEST_F(DiscoveryList, StartBrowsesBothServiceTypesOnce)
{
    EXPECT_TRUE(browses.empty()); // inert until started
    discovery->start();
    discovery->start();
    ASSERT_EQ(browses.size(), 2u);
    EXPECT_EQ(browses[0].type, QStringLiteral("_adb-tls-pairing._tcp."));
    EXPECT_EQ(browses[1].type, QStringLiteral("_adb-tls-connect._tcp."));
    EXPECT_EQ(browses[0].domain, QStringLiteral("local."));
    EXPECT_EQ(browses[1].domain, QStringLiteral("local."));
}

TEST_F(DiscoveryList, AResolvedServiceIsListedAtItsAddressAndPort)
{
    discovery->start();
    resolve(Kind::connect, QStringLiteral("adb-R5CT123ABC-Xy1Z"), "192.168.1.20", 41005);
    ASSERT_EQ(discovery->services().size(), 1);
    const WirelessService& service = discovery->services().first();
    EXPECT_EQ(service.kind, Kind::connect);
    EXPECT_EQ(service.name, QStringLiteral("adb-R5CT123ABC-Xy1Z"));
    EXPECT_EQ(service.address, QStringLiteral("192.168.1.20:41005"));
    EXPECT_EQ(service.serial(), QStringLiteral("R5CT123ABC"));
    EXPECT_EQ(changes, 1);
    // The same list through the published property.
    EXPECT_EQ(discovery->property("services").value<QList<WirelessService>>(), discovery->services());
}

TEST_F(DiscoveryList, PairingServicesComeFirstThenEachKindByName)
{
    discovery->start();
    resolve(Kind::connect, QStringLiteral("b"));
    resolve(Kind::pairing, QStringLiteral("z"));
    resolve(Kind::connect, QStringLiteral("a"));
    resolve(Kind::pairing, QStringLiteral("Z"));
    // By code point: U+FF21 comes before U+1F600, which UTF-16 order would flip.
    resolve(Kind::pairing, QString::fromUtf8("\xF0\x9F\x98\x80"));
    resolve(Kind::pairing, QString::fromUtf8("\xEF\xBC\xA1"));
    EXPECT_EQ(ids(), (QStringList{QStringLiteral("pairing:Z"), QStringLiteral("pairing:z"),
                                  QString::fromUtf8("pairing:\xEF\xBC\xA1"), QString::fromUtf8("pairing:\xF0\x9F\x98\x80"),
                                  QStringLiteral("connect:a"), QStringLiteral("connect:b")}));
    EXPECT_EQ(discovery->pairing().size(), 4);
    ASSERT_EQ(discovery->connect().size(), 2);
    EXPECT_EQ(discovery->connect().first().name, QStringLiteral("a"));
}

TEST_F(DiscoveryList, TheSameNameUnderBothKindsIsListedTwice)
{
    discovery->start();
    resolve(Kind::connect, QStringLiteral("adb-A-x"));
    resolve(Kind::pairing, QStringLiteral("adb-A-x"));
    EXPECT_EQ(ids(), (QStringList{QStringLiteral("pairing:adb-A-x"), QStringLiteral("connect:adb-A-x")}));
    remove(Kind::pairing, QStringLiteral("adb-A-x"));
    EXPECT_EQ(ids(), QStringList{QStringLiteral("connect:adb-A-x")});
}

TEST_F(DiscoveryList, IsRepublishedOnlyWhenItReallyChanges)
{
    discovery->start();
    resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.20", 5555);
    resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.20", 5555);
    EXPECT_EQ(changes, 1);
    remove(Kind::connect, QStringLiteral("never-seen"));
    EXPECT_EQ(changes, 1);
    // A new resolution with another address replaces the old one.
    resolve(Kind::connect, QStringLiteral("adb-A-x"), "192.168.1.21", 5555);
    EXPECT_EQ(changes, 2);
    EXPECT_EQ(discovery->services().first().address, QStringLiteral("192.168.1.21:5555"));
}

TEST_F(DiscoveryList, ARemovedServiceLeavesTheList)
{
    discovery->start();
    resolve(Kind::pairing, QStringLiteral("adb-A-x"));
    resolve(Kind::pairing, QStringLiteral("adb-B-x"));
    remove(Kind::pairing, QStringLiteral("adb-A-x"));
    EXPECT_EQ(ids(), QStringList{QStringLiteral("pairing:adb-B-x")});
    // Removing the connect service of that name takes nothing else with it.
    remove(Kind::connect, QStringLiteral("adb-B-x"));
    EXPECT_EQ(ids(), QStringList{QStringLiteral("pairing:adb-B-x")});
}

TEST_F(DiscoveryList, AServiceWithoutIPv4IsNotListed)
{
    discovery->start();
    resolveAt(Kind::connect, QStringLiteral("adb-A-x"), {ipv6Address("fe80::1", 5555)}, 5555);
    resolveAt(Kind::connect, QStringLiteral("adb-B-x"), {}, 5555);
    EXPECT_TRUE(discovery->services().isEmpty());
    EXPECT_EQ(changes, 0);
    // Alongside IPv6, the IPv4 address is used.
    resolveAt(Kind::connect, QStringLiteral("adb-A-x"), {ipv6Address("fe80::1"), ipv4Address("10.9.8.7")}, 5555);
    ASSERT_EQ(discovery->services().size(), 1);
    EXPECT_EQ(discovery->services().first().address, QStringLiteral("10.9.8.7:5555"));
}

TEST_F(DiscoveryList, ReportsAfterTheDiscoveryIsGoneAreIgnored)
{
    discovery->start();
    auto handlers = handlersFor(Kind::connect);
    discovery.reset();
    handlers.resolved({QStringLiteral("adb-A-x"), {ipv4Address("10.0.0.1")}, 5555});
    handlers.removed(QStringLiteral("adb-A-x"));
    SUCCEED();
}

} // namespace
