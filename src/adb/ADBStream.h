#pragma once

#include "ADB.h"
#include "ChildProcess.h"

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
    // How the child ended: by its own exit, by our release of the stream, or
    // by a signal someone else sent (adb killed from outside), which is no
    // cancellation and is told as ADBError::stopped() says it.
    struct End {
        ExitStatus status;
        bool endedByUs = false; // the owner had let go of the stream first, or the application stops

        bool stoppedFromOutside() const { return status.signalled && !endedByUs; }
        // The exit status, or the number of the signal that ended the child.
        int code() const { return status.signalled ? status.signal : status.code; }
    };
    using LinesHandler = std::function<void(const QStringList&)>;
    using ExitHandler = std::function<void(int)>;
    using EndHandler = std::function<void(const End&)>;

    // Starts the child at once. Throws SystemError when it cannot start; then
    // neither handler is ever called. Handlers run on a background thread:
    // onLines one batch per read, never overlapping; onExit exactly once with
    // End::code().
    ADBStream(const ADB& adb, const QStringList& args, LinesHandler onLines = {}, ExitHandler onExit = {});
    // The same, told how the child ended.
    ADBStream(const ADB& adb, const QStringList& args, LinesHandler onLines, EndHandler onEnd);
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
