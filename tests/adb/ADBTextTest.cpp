#include "ADB.h"
#include "ADBStream.h"

#include <gtest/gtest.h>

TEST(ADBClean, RemovesEscapesMarkersControlsAndPrefixesAnywhere)
{
    EXPECT_EQ(ADB::clean(QStringLiteral("\x1b[31madb: error: x\x1b[0m\n")), QStringLiteral("x"));
    EXPECT_EQ(ADB::clean(QStringLiteral("one^Dtwo")), QStringLiteral("onetwo"));
    EXPECT_EQ(ADB::clean(QString::fromUtf8("a\x01\x08" "b\tc")), QStringLiteral("ab\tc"));
    EXPECT_EQ(ADB::clean(QStringLiteral("failed: adb: error: closed")), QStringLiteral("failed: closed"));
}

TEST(ADBLastPercent, TakesTheLastBracketedPercentUpToAHundred)
{
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("no brackets")), std::nullopt);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[100%]")), 100);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[1000%]")), std::nullopt);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[ 10%] x\r[ 20%] y")), 20);
}

TEST(ADBLastLines, KeepsTheLastTwoMeaningfulLines)
{
    EXPECT_EQ(adbdetail::lastLines("one\r\ntwo\nthree\n"), QStringLiteral("two\nthree"));
    EXPECT_EQ(adbdetail::lastLines("[ 10%] a\r[ 20%] b\n"), QString());
    EXPECT_EQ(adbdetail::lastLines("\x1b\x07  \x01"), QStringLiteral("  "));
}

TEST(ADBStreamLines, SplitsAtLineFeedsAndKeepsTheUnfinishedRest)
{
    QString pending;
    EXPECT_TRUE(adbdetail::takeLines(pending, QStringLiteral("abc")).isEmpty());
    EXPECT_EQ(adbdetail::takeLines(pending, QStringLiteral("def\nx")), (QStringList {"abcdef"}));
    EXPECT_EQ(pending, QStringLiteral("x"));
    pending.clear();
    EXPECT_EQ(adbdetail::takeLines(pending, QStringLiteral("\n\na\r")), (QStringList {"", ""}));
    EXPECT_EQ(adbdetail::takeLines(pending, QStringLiteral("\n")), (QStringList {"a"})); // CR LF split between reads
    EXPECT_EQ(adbdetail::takeLines(pending, QStringLiteral("\r\rabc\r\na\rb\n")), (QStringList {"abc", "a\rb"}));
}
