#pragma once

#include "ADB.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// One long-running adb child (a log stream, a screen recording) whose output
// (standard output and error, interleaved) arrives line by line. Destroying
// the stream terminates a child that still runs and waits for a batch of
// lines being delivered; no batch comes after it. onExit is still called.
class ADBStream {
public:
    using LinesHandler = std::function<void(const QStringList&)>;
    using ExitHandler = std::function<void(int)>;

    // Starts the child at once. Throws SystemError when it cannot start; then
    // neither handler is ever called. Handlers run on a background thread:
    // onLines one batch per read, never overlapping; onExit exactly once with
    // the exit status (or the number of the signal that ended the child).
    ADBStream(const ADB& adb, const QStringList& args, LinesHandler onLines = {}, ExitHandler onExit = {});
    ~ADBStream();

    ADBStream(const ADBStream&) = delete;
    ADBStream& operator=(const ADBStream&) = delete;

    struct Shared;

private:
    std::shared_ptr<Shared> m_shared;
};

namespace adbdetail {
// Splits `pending` + `data` into complete lines decoded as UTF-8 (carriage
// returns at either end of a line removed); the unfinished rest stays in
// `pending` as bytes, so a character cut between reads stays whole. A rest
// longer than `longestLine` bytes is a line of its own.
QStringList takeLines(QByteArray& pending, QByteArrayView data, qsizetype longestLine = 1024 * 1024);
} // namespace adbdetail
