#include "FakeServiceBrowser.h"
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

} // namespace
