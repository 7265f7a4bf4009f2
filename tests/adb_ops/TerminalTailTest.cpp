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

} // namespace
