#include "FakeServiceBrowser.h"
#include "LocalNetwork.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

namespace {

LocalNetwork::Subnet subnet(const char* network, const char* mask)
{
    in_addr n{};
    in_addr m{};
    ::inet_pton(AF_INET, network, &n);
    ::inet_pton(AF_INET, mask, &m);
    return {n.s_addr, m.s_addr};
}

const std::vector<LocalNetwork::Subnet> home{subnet("192.168.1.0", "255.255.255.0")};

TEST(LocalNetworkIPv4, ReadsTheAddressOfAnIPv4SocketAddress)
{
    const auto address = LocalNetwork::ipv4(ipv4Address("192.168.1.20", 37199));
    ASSERT_TRUE(address);
    EXPECT_EQ(address->text, QStringLiteral("192.168.1.20"));
    in_addr expected{};
    ::inet_pton(AF_INET, "192.168.1.20", &expected);
    EXPECT_EQ(address->raw, expected.s_addr);
}

TEST(LocalNetworkIPv4, RejectsEverythingElse)
{
    EXPECT_FALSE(LocalNetwork::ipv4(ipv6Address("fe80::1")));
    EXPECT_FALSE(LocalNetwork::ipv4(ipv4Address("192.168.1.20").left(8)));
    EXPECT_FALSE(LocalNetwork::ipv4(QByteArray()));
    EXPECT_FALSE(LocalNetwork::ipv4(QByteArray(16, '\xff')));
}

TEST(LocalNetworkReachable, PrefersAnAddressOnOneOfOurSubnets)
{
    const QList<QByteArray> both{ipv4Address("169.254.1.2"), ipv4Address("192.168.1.20")};
    EXPECT_EQ(LocalNetwork::reachableIPv4(both, home), QStringLiteral("192.168.1.20"));
}

TEST(LocalNetworkReachable, FallsBackToTheFirstIPv4Address)
{
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv4Address("169.254.1.2")}, home), QStringLiteral("169.254.1.2"));
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv6Address("fe80::1"), ipv4Address("10.1.1.1"), ipv4Address("10.2.2.2")},
                                          home),
              QStringLiteral("10.1.1.1"));
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv4Address("10.1.1.1")}, {}), QStringLiteral("10.1.1.1"));
}

TEST(LocalNetworkReachable, NeverChoosesIPv6)
{
    EXPECT_EQ(LocalNetwork::reachableIPv4({ipv6Address("fe80::1"), ipv6Address("2001:db8::5")}, home), std::nullopt);
    EXPECT_EQ(LocalNetwork::reachableIPv4({}, home), std::nullopt);
}

TEST(LocalNetworkSubnets, LeaveOutLoopback)
{
    const auto loopback = subnet("127.0.0.0", "255.0.0.0");
    for (const auto& s : LocalNetwork::subnets()) {
        EXPECT_EQ(s.network & s.mask, s.network);
        EXPECT_NE(s.network & loopback.mask, loopback.network);
    }
}

} // namespace
