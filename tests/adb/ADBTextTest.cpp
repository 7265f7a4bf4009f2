#include "ADB.h"
#include "ADBStream.h"

#include <QTextBoundaryFinder>

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

// The runner keeps the tail of adb's terminal output by user-perceived
// characters; plain ASCII takes a shortcut that must agree with full
// segmentation wherever other characters come near the cut. The reference:
// the last `count` grapheme clusters, found by full segmentation.
static QString reference(const QString& text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype position = text.size();
    for (int i = 0; i < count; ++i) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            break;
        position = previous;
    }
    return text.mid(position);
}

TEST(TerminalTail, AgreesWithFullSegmentationAtEveryCut)
{
    // CR LF pairs, combining marks, a flag of two regional indicators, a
    // joined emoji and a non-ASCII character right before ASCII.
    const QStringList texts {QStringLiteral("[ 10%] /sdcard/a\r\x1b[K[ 11%] /sdcard/a\r\n"),
                             QStringLiteral("xx\r\n[ 5%]\r\n\r\n\r\n"),
                             QStringLiteral("caf\u00e9 \u05d0\u05b8 ok\r\n"),
                             QStringLiteral("x\U0001F1E9\U0001F1EAyz"),
                             QStringLiteral("\U0001F468\u200D\U0001F469 family\r\n\r"),
                             QStringLiteral("e\u0301\u0301\u0301 x\u00e9abc")};
    for (const QString& text : texts) {
        for (int count = 1; count <= text.size() + 1; ++count)
            EXPECT_EQ(adbdetail::lastCharacters(text, count), reference(text, count)) << count;
    }
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("abe\u0301cd"), 3), QStringLiteral("e\u0301cd"));
}

