#pragma once

#include "ADBError.h"
#include "Cancel.h"
#include "Models.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Fraction done, 0 to 1; may be called on any thread.
using Progress = std::function<void(double)>;

// Where the adb tool is, and the commands run through it. Every operation
// blocks its (worker) thread until adb ends and takes the caller's Cancel;
// cancelling terminates adb and throws Cancelled. The per-phone operations
// take the phone's serial first.
class ADB {
public:
    explicit ADB(QString executablePath) : executable(std::move(executablePath)) {}

    QString executable; // absolute path of the adb executable

    // The first executable adb of the usual places, read afresh on each call.
    static std::optional<ADB> locate();
    // The places locate() tries, in order.
    static QStringList candidatePaths();

    // ---- running commands --------------------------------------------------
    // Runs adb with args (nothing is added or quoted). Returns its standard
    // output; with a progress callback adb runs on a terminal, its percentage
    // lines are reported and the result is empty. Throws ADBError::failed on a
    // non-zero exit, Cancelled, or SystemError when adb cannot start.
    QByteArray runData(const QStringList& args, const Progress& progress, const Cancel& cancel) const;
    // The same, decoded as UTF-8 with invalid bytes replaced.
    QString run(const QStringList& args, const Progress& progress, const Cancel& cancel) const;
    QString run(const QStringList& args, const Cancel& cancel) const { return run(args, {}, cancel); }

    // adb's raw output made fit for a user sentence.
    static QString clean(const QString& text);
    // The last "[ nn%]" of terminal output, 0 to 100.
    static std::optional<int> lastPercent(const QString& text);
};

namespace adbdetail {
// The last two meaningful lines of terminal output (not percentage lines).
QString lastLines(const QByteArray& output);
// The text keeping only its last `count` user-perceived characters.
QString lastCharacters(const QString& text, qsizetype count);
} // namespace adbdetail
