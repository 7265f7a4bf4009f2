#include "ADBServer.h"

#include <gtest/gtest.h>

#include <QtGlobal>

namespace {

class ServerPort : public ::testing::Test {
protected:
    void TearDown() override { qunsetenv("ANDROID_ADB_SERVER_PORT"); }
    static uint16_t portFor(const char* value)
    {
        qputenv("ANDROID_ADB_SERVER_PORT", value);
        return ADBServer::port();
    }
};

TEST_F(ServerPort, DefaultsTo5037WithoutAUsableValue)
{
    qunsetenv("ANDROID_ADB_SERVER_PORT");
    EXPECT_EQ(ADBServer::port(), 5037);
    EXPECT_EQ(portFor(""), 5037);
    EXPECT_EQ(portFor("abc"), 5037);
    EXPECT_EQ(portFor("70000"), 5037);
    EXPECT_EQ(portFor("65536"), 5037);
    EXPECT_EQ(portFor("-1"), 5037);
    EXPECT_EQ(portFor("+5038"), 5037);
    EXPECT_EQ(portFor(" 5038"), 5037);
    EXPECT_EQ(portFor("5038x"), 5037);
    EXPECT_EQ(portFor("99999999999999999999999"), 5037);
}

TEST_F(ServerPort, TakesAWholeDecimalNumber)
{
    EXPECT_EQ(portFor("5038"), 5038);
    EXPECT_EQ(portFor("65535"), 65535);
    EXPECT_EQ(portFor("0"), 0);
}

TEST_F(ServerPort, IsReadAfreshEachTime)
{
    EXPECT_EQ(portFor("6001"), 6001);
    EXPECT_EQ(portFor("6002"), 6002);
}

} // namespace
