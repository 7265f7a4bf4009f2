#pragma once

#include <QChar>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>

// One entry of the phone's log as adb's logcat prints it in its "threadtime"
// format: "DATE TIME PID TID LEVEL TAG: MESSAGE".
struct LogLine {
    enum class Level : int { verbose = 0, debug = 1, info = 2, warning = 3, error = 4, fatal = 5 };

    int64_t id = 0;
    QString time;
    QString pid; // compared as text, never as a number
    Level level = Level::verbose;
    QString tag;
    QString message;
    QString raw; // the whole line as it came

    // The level of one letter; "F" and "A" are both fatal. Exact: lower case
    // and other characters give none.
    static std::optional<Level> levelFromLetter(QChar letter);
    static std::optional<Level> levelFromRaw(int value);
    static const std::array<Level, 6>& allLevels();

    // The record of one line (without its line break); none when the line
    // is not a log entry.
    static std::optional<LogLine> parse(int64_t id, const QString& raw);
};
