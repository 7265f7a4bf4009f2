#include "LogLine.h"

#include <gtest/gtest.h>

namespace {

using Level = LogLine::Level;

struct Case {
    const char* what;
    QString raw;
    std::optional<Level> level; // none: no record
    QString tag = {};
    QString message = {};
    QString time = QStringLiteral("10:00:00.123");
    QString pid = QStringLiteral("1234");
};

const QString head = QStringLiteral("01-15 10:00:00.123  1234  1240 ");

TEST(LogLineTest, ParsesThreadtimeLinesAsTheyComeAndRejectsTheRest)
{
    const Case cases[] = {
        {"runs of spaces", head + QStringLiteral("I ActivityManager: Start proc"), Level::info,
         QStringLiteral("ActivityManager"), QStringLiteral("Start proc")},
        {"leading spaces", QStringLiteral("   ") + head + QStringLiteral("D Tag: m"), Level::debug,
         QStringLiteral("Tag"), QStringLiteral("m")},
        {"spaces before the colon", head + QStringLiteral("W chatty  : uid=1000"), Level::warning,
         QStringLiteral("chatty"), QStringLiteral("uid=1000")},
        {"only the first colon splits", head + QStringLiteral("E Tag: a: b"), Level::error, QStringLiteral("Tag"),
         QStringLiteral("a: b")},
        {"message keeps its spaces", head + QStringLiteral("I Tag:   x "), Level::info, QStringLiteral("Tag"),
         QStringLiteral("  x ")},
        {"remainder ending in colon space", head + QStringLiteral("I  Tag : "), Level::info, QStringLiteral("Tag"), {}},
        {"no colon space: colons trimmed", head + QStringLiteral("I :Tag:"), Level::info, QStringLiteral("Tag"), {}},
        {"no colon space: inner colon stays", head + QStringLiteral("I Tag:msg"), Level::info,
         QStringLiteral("Tag:msg"), {}},
        {"no colon space: blank before final colon stays", head + QStringLiteral("I Tag :"), Level::info,
         QStringLiteral("Tag "), {}},
        {"tabs and no-break spaces are trimmed", head + QStringLiteral("I \tTag\u00a0: m"), Level::info,
         QStringLiteral("Tag"), QStringLiteral("m")},
        {"remainder of spaces only", head + QStringLiteral("V  "), Level::verbose, {}, {}},
        {"F is fatal", head + QStringLiteral("F Tag: m"), Level::fatal, QStringLiteral("Tag"), QStringLiteral("m")},
        {"A is fatal", head + QStringLiteral("A Tag: m"), Level::fatal, QStringLiteral("Tag"), QStringLiteral("m")},
        {"control characters", head + QStringLiteral("I T\u0001g: \u0007x"), Level::info, QStringLiteral("T\u0001g"),
         QStringLiteral("\u0007x")},
        {"S is no level", head + QStringLiteral("S Tag: m"), std::nullopt},
        {"lower-case letter", head + QStringLiteral("i Tag: m"), std::nullopt},
        {"letter with a combining mark", head + QStringLiteral("E\u0301 Tag: m"), std::nullopt},
        {"a tab is no separator", QStringLiteral("01-15 10:00:00.123 1234\t1240 I Tag: m"), std::nullopt},
        {"five pieces", QStringLiteral("01-15 10:00:00.123 1234 1240 I"), std::nullopt},
        {"five pieces and a space", QStringLiteral("01-15 10:00:00.123 1234 1240 I "), std::nullopt},
        {"no thread id", QStringLiteral("01-15 10:00:00.123 1234 I Tag: m"), std::nullopt},
        {"header line", QStringLiteral("--------- beginning of main"), std::nullopt},
        {"empty line", QString(), std::nullopt},
        {"spaces only", QStringLiteral("        "), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<LogLine> line = LogLine::parse(7, c.raw);
        ASSERT_EQ(line.has_value(), c.level.has_value());
        if (!line)
            continue;
        EXPECT_EQ(line->id, 7);
        EXPECT_EQ(line->level, *c.level);
        EXPECT_EQ(line->time, c.time);
        EXPECT_EQ(line->pid, c.pid);
        EXPECT_EQ(line->tag, c.tag);
        EXPECT_EQ(line->message, c.message);
        EXPECT_EQ(line->raw, c.raw);
    }
}

TEST(LogLineTest, AMegabyteLineParses)
{
    const QString message(1 << 20, QLatin1Char('x'));
    const std::optional<LogLine> line = LogLine::parse(0, head + QStringLiteral("I Tag: ") + message);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->message.size(), message.size());
}

TEST(LogLineTest, LevelsComeFromExactLettersAndRawValues)
{
    EXPECT_EQ(LogLine::levelFromLetter(QLatin1Char('A')), Level::fatal);
    EXPECT_EQ(LogLine::levelFromLetter(QLatin1Char('v')), std::nullopt);
    EXPECT_EQ(LogLine::levelFromRaw(5), Level::fatal);
    EXPECT_EQ(LogLine::levelFromRaw(6), std::nullopt);
    EXPECT_EQ(LogLine::levelFromRaw(-1), std::nullopt);
}

} // namespace
