#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

namespace {

using Kind = WirelessService::Kind;

std::optional<QString> serialOf(const char* name)
{
    return WirelessService{Kind::connect, QString::fromUtf8(name), {}}.serial();
}

TEST(WirelessServiceSerial, IsTheMiddleOfAnAdbInstanceName)
{
    EXPECT_EQ(serialOf("adb-R5CT123ABC-Xy1Z"), QStringLiteral("R5CT123ABC"));
    // A serial that holds "-" itself survives.
    EXPECT_EQ(serialOf("adb-R5-CT12-Xy1Z"), QStringLiteral("R5-CT12"));
    // Empty pieces are dropped before counting.
    EXPECT_EQ(serialOf("adb--R5CT--Xy1Z"), QStringLiteral("R5CT"));
}

TEST(WirelessServiceSerial, IsNoneForOtherNames)
{
    EXPECT_EQ(serialOf("adb-R5CT123ABC"), std::nullopt);
    EXPECT_EQ(serialOf("ADB-R5-x"), std::nullopt);
    EXPECT_EQ(serialOf("adbR5CT123ABC"), std::nullopt);
    EXPECT_EQ(serialOf(""), std::nullopt);
    EXPECT_EQ(serialOf("adb--x"), std::nullopt);
}

TEST(WirelessServiceIdentity, KindsWithTheSameNameAreDifferentServices)
{
    const WirelessService pairing{Kind::pairing, QStringLiteral("adb-A-x"), QStringLiteral("10.0.0.7:37")};
    const WirelessService connect{Kind::connect, QStringLiteral("adb-A-x"), QStringLiteral("10.0.0.7:37")};
    EXPECT_EQ(pairing.id(), QStringLiteral("pairing:adb-A-x"));
    EXPECT_EQ(connect.id(), QStringLiteral("connect:adb-A-x"));
    EXPECT_NE(pairing, connect);
    // Same identity, another address: a different value.
    WirelessService moved = connect;
    moved.address = QStringLiteral("10.0.0.8:37");
    EXPECT_EQ(moved.id(), connect.id());
    EXPECT_NE(moved, connect);
}

} // namespace
