#include "LogLine.h"

#include <gtest/gtest.h>

namespace {

using namespace Qt::Literals::StringLiterals;
using Level = LogLine::Level;

const QString head = u"01-15 10:00:00.123  1234  1240 "_s;

TEST(LogLineTest, ParsesThreadtimeLinesAsTheyComeAndRejectsTheRest)
{
    const struct {
        const char* what;
        QString raw;
        std::optional<Level> level; // none: no record
        QString tag = {}, message = {};
    } cases[] = {
        {"runs of spaces", head + u"I ActivityManager: Start proc"_s, Level::info, u"ActivityManager"_s, u"Start proc"_s},
        {"leading spaces", u"   "_s + head + u"D Tag: m"_s, Level::debug, u"Tag"_s, u"m"_s},
        {"spaces before the colon", head + u"W chatty  : uid=1000"_s, Level::warning, u"chatty"_s, u"uid=1000"_s},
        {"only the first colon splits", head + u"E Tag: a: b"_s, Level::error, u"Tag"_s, u"a: b"_s},
        {"message keeps its spaces", head + u"I Tag:   x "_s, Level::info, u"Tag"_s, u"  x "_s},
        {"remainder ending in colon space", head + u"I  Tag : "_s, Level::info, u"Tag"_s, {}},
        {"no colon space: colons trimmed", head + u"I :Tag:"_s, Level::info, u"Tag"_s, {}},
        {"no colon space: inner colon stays", head + u"I Tag:msg"_s, Level::info, u"Tag:msg"_s, {}},
        {"no colon space: blank before final colon stays", head + u"I Tag :"_s, Level::info, u"Tag "_s, {}},
        {"tabs and no-break spaces are trimmed", head + u"I \tTag\u00a0: m"_s, Level::info, u"Tag"_s, u"m"_s},
        {"remainder of spaces only", head + u"V  "_s, Level::verbose, {}, {}},
        {"F is fatal", head + u"F Tag: m"_s, Level::fatal, u"Tag"_s, u"m"_s},
        {"A is fatal", head + u"A Tag: m"_s, Level::fatal, u"Tag"_s, u"m"_s},
        {"control characters", head + u"I T\u0001g: \u0007x"_s, Level::info, u"T\u0001g"_s, u"\u0007x"_s},
        {"S is no level", head + u"S Tag: m"_s, std::nullopt},
        {"lower-case letter", head + u"i Tag: m"_s, std::nullopt},
        {"letter with a combining mark", head + u"E\u0301 Tag: m"_s, std::nullopt},
        {"a tab is no separator", u"01-15 10:00:00.123 1234\t1240 I Tag: m"_s, std::nullopt},
        {"five pieces", u"01-15 10:00:00.123 1234 1240 I"_s, std::nullopt},
        {"five pieces and a space", u"01-15 10:00:00.123 1234 1240 I "_s, std::nullopt},
        {"no thread id", u"01-15 10:00:00.123 1234 I Tag: m"_s, std::nullopt},
        {"header line", u"--------- beginning of main"_s, std::nullopt},
        {"empty line", QString(), std::nullopt},
        {"spaces only", u"        "_s, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<LogLine> line = LogLine::parse(7, c.raw);
        ASSERT_EQ(line.has_value(), c.level.has_value());
        if (!line)
            continue;
        EXPECT_EQ(line->id, 7);
        EXPECT_EQ(line->level, *c.level);
        EXPECT_EQ(line->time, u"10:00:00.123"_s);
        EXPECT_EQ(line->pid, u"1234"_s);
        EXPECT_EQ(line->tag, c.tag);
        EXPECT_EQ(line->message, c.message);
        EXPECT_EQ(line->raw, c.raw);
    }
}

TEST(LogLineTest, LevelsComeFromRawValuesZeroToFive)
{
    EXPECT_EQ(LogLine::levelFromRaw(0), Level::verbose);
    EXPECT_EQ(LogLine::levelFromRaw(5), Level::fatal);
    EXPECT_EQ(LogLine::levelFromRaw(6), std::nullopt);
    EXPECT_EQ(LogLine::levelFromRaw(-1), std::nullopt);
}

} // namespace
