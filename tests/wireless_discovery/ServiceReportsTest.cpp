#include "FakeServiceBrowser.h"
#include "LocalNetwork.h"
#include "ServiceReports.h"

#include <gtest/gtest.h>

namespace {

const QString name = QStringLiteral("adb-R5CT-Xy1Z");
constexpr ServiceReports::Where wifiV4{3, 0};
constexpr ServiceReports::Where wifiV6{3, 1};
constexpr ServiceReports::Where ethernetV4{2, 0};

TEST(ServiceReports, OneInstanceSeenOnSeveralInterfacesIsOneService)
{
    ServiceReports reports;
    reports.add(name, wifiV4);
    reports.add(name, ethernetV4);
    reports.resolve(name, wifiV4, socketAddress("192.168.1.20"), 37199);
    const auto resolved = reports.resolve(name, ethernetV4, socketAddress("10.0.0.20"), 37199);
    EXPECT_EQ(resolved, (ServiceBrowser::Resolved{name, {socketAddress("10.0.0.20"), socketAddress("192.168.1.20")}, 37199}));
}

TEST(ServiceReports, IsGoneOnlyWithItsLastReport)
{
    ServiceReports reports;
    for (const auto where : {wifiV4, wifiV6, ethernetV4})
        reports.add(name, where);
    reports.resolve(name, wifiV4, socketAddress("192.168.1.20"), 5555);
    reports.resolve(name, wifiV6, socketAddress("fe80::1"), 5555);

    // An unresolved report going away changes nothing callers were told.
    const auto unresolved = reports.remove(name, ethernetV4);
    EXPECT_FALSE(unresolved.gone || unresolved.update);

    const auto first = reports.remove(name, wifiV4);
    EXPECT_FALSE(first.gone);
    ASSERT_TRUE(first.update);
    EXPECT_EQ(first.update->addresses, QList<QByteArray>{socketAddress("fe80::1")});

    EXPECT_TRUE(reports.remove(name, wifiV6).gone);
    EXPECT_FALSE(reports.contains(name));
    // A removal nobody announced changes nothing.
    EXPECT_FALSE(reports.remove(name, wifiV6).gone);
}

TEST(LocalNetworkReachable, PrefersOurSubnetsThenTheFirstIPv4AndNeverIPv6)
{
    const std::vector<LocalNetwork::Subnet> home{{::inet_addr("192.168.1.0"), ::inet_addr("255.255.255.0")}};
    const auto reachable = [&](const QList<QByteArray>& addresses) { return LocalNetwork::reachableIPv4(addresses, home); };
    EXPECT_EQ(reachable({socketAddress("169.254.1.2"), socketAddress("192.168.1.20")}), QStringLiteral("192.168.1.20"));
    EXPECT_EQ(reachable({socketAddress("fe80::1"), socketAddress("10.1.1.1"), socketAddress("10.2.2.2")}),
              QStringLiteral("10.1.1.1"));
    // Only a whole IPv4 socket address counts.
    EXPECT_EQ(reachable({socketAddress("fe80::1"), socketAddress("10.1.1.1").left(8), QByteArray()}), std::nullopt);
}

} // namespace
