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
    reports.resolve(name, wifiV4, ipv4Address("192.168.1.20"), 37199);
    const auto resolved = reports.resolve(name, ethernetV4, ipv4Address("10.0.0.20"), 37199);
    EXPECT_EQ(resolved, (ServiceBrowser::Resolved{name, {ipv4Address("10.0.0.20"), ipv4Address("192.168.1.20")}, 37199}));
}

TEST(ServiceReports, IsGoneOnlyWithItsLastReport)
{
    ServiceReports reports;
    reports.add(name, wifiV4);
    reports.add(name, wifiV6);
    reports.add(name, ethernetV4);
    reports.resolve(name, wifiV4, ipv4Address("192.168.1.20"), 5555);
    reports.resolve(name, wifiV6, ipv6Address("fe80::1"), 5555);

    // An unresolved report going away changes nothing callers were told.
    const auto unresolved = reports.remove(name, ethernetV4);
    EXPECT_FALSE(unresolved.gone);
    EXPECT_FALSE(unresolved.update);

    const auto first = reports.remove(name, wifiV4);
    EXPECT_FALSE(first.gone);
    ASSERT_TRUE(first.update);
    EXPECT_EQ(first.update->addresses, QList<QByteArray>{ipv6Address("fe80::1")});

    EXPECT_TRUE(reports.remove(name, wifiV6).gone);
    EXPECT_FALSE(reports.contains(name));
    // A removal nobody announced changes nothing.
    EXPECT_FALSE(reports.remove(name, wifiV6).gone);
}

LocalNetwork::Subnet subnet(const char* network, const char* mask)
{
    in_addr n{};
    in_addr m{};
    ::inet_pton(AF_INET, network, &n);
    ::inet_pton(AF_INET, mask, &m);
    return {n.s_addr, m.s_addr};
}

TEST(LocalNetworkReachable, PrefersOurSubnetsThenTheFirstIPv4AndNeverIPv6)
{
    const std::vector<LocalNetwork::Subnet> home{subnet("192.168.1.0", "255.255.255.0")};
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv4Address("169.254.1.2"), ipv4Address("192.168.1.20")}, home),
              QStringLiteral("192.168.1.20"));
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv6Address("fe80::1"), ipv4Address("10.1.1.1"), ipv4Address("10.2.2.2")},
                                          home),
              QStringLiteral("10.1.1.1"));
    // Only a whole IPv4 socket address counts.
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv6Address("fe80::1"), ipv4Address("10.1.1.1").left(8), QByteArray()}, home),
              std::nullopt);
}


} // namespace
