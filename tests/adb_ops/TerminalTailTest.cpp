// The runner keeps the tail of adb's terminal output by user-perceived
// characters; plain ASCII takes a shortcut that must agree with full
// segmentation wherever other characters come near the cut.
#include "ADB.h"

#include <QTextBoundaryFinder>

#include <gtest/gtest.h>

namespace {

// The last `count` grapheme clusters, found by full segmentation.
QString reference(const QString& text, int count)
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

TEST(TerminalTail, PlainAsciiKeepsCrLfPairsWhole)
{
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("xx\r\n[ 5%]\r\n"), 6), QStringLiteral("[ 5%]\r\n"));
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("xx\r\n[ 5%]\r\n"), 7), QStringLiteral("\r\n[ 5%]\r\n"));
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("\r\n\r\n\r\n"), 2), QStringLiteral("\r\n\r\n"));
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("a\r\nb"), 2), QStringLiteral("\r\nb"));
}

TEST(TerminalTail, CombiningMarksAndEmojiCountAsOneCharacter)
{
    // "e" + U+0301 is one character, and so is a flag made of two regional indicators.
    const QString accent = QStringLiteral("abe\u0301cd");
    EXPECT_EQ(adbdetail::lastCharacters(accent, 3), QStringLiteral("e\u0301cd"));
    const QString flag = QStringLiteral("x\U0001F1E9\U0001F1EAyz");
    EXPECT_EQ(adbdetail::lastCharacters(flag, 3), QStringLiteral("\U0001F1E9\U0001F1EAyz"));
    // A non-ASCII character right before the cut is not split from what follows it.
    const QString before = QStringLiteral("\u00e9abc");
    EXPECT_EQ(adbdetail::lastCharacters(before, 3), QStringLiteral("abc"));
}

TEST(TerminalTail, AgreesWithFullSegmentation)
{
    const QStringList texts{QStringLiteral("[ 10%] /sdcard/a\r\x1b[K[ 11%] /sdcard/a\r\n"),
                            QStringLiteral("caf\u00e9 \u05d0\u05b8 ok\r\n"),
                            QStringLiteral("\U0001F468\u200D\U0001F469 family\r\n\r"),
                            QStringLiteral("e\u0301\u0301\u0301 x")};
    for (const QString& text : texts) {
        for (int count = 1; count <= text.size() + 1; ++count)
            EXPECT_EQ(adbdetail::lastCharacters(text, count), reference(text, count)) << count;
    }
}

} // namespace
