#include "FakeServiceBrowser.h"
#include "LocalNetwork.h"

#include <gtest/gtest.h>

namespace {

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
