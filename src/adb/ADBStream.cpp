#include "ADBStream.h"

#include "ChildProcess.h"
#include "WorkerPool.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>

struct ADBStream::Shared {
    std::unique_ptr<ChildProcess> process;
    // Held while lines are delivered, so that release waits for a delivery
    // under way; recursive for a handler that releases its own stream.
    std::recursive_mutex mutex;
    bool released = false; // the owner let go: deliver no more lines
    LinesHandler onLines;
    EndHandler onEnd;
};

namespace {

void deliver(ADBStream::Shared& shared, QByteArray& pending, const char* data, ssize_t size)
{
    QStringList lines = adbdetail::takeLines(pending, QByteArrayView(data, size));
    if (lines.isEmpty())
        return;
    std::lock_guard lock(shared.mutex);
    if (!shared.released && shared.onLines)
        shared.onLines(lines);
}

// One thread per stream waits for output and for the end of the child.
void pump(const std::shared_ptr<ADBStream::Shared>& shared, std::stop_token stop)
{
    ChildProcess& child = *shared->process;
    std::stop_callback onStop(stop, [&child] { child.terminate(); });
    const int outFd = child.outputFd();
    const int exitFd = child.exitFd();
    ::fcntl(outFd, F_SETFL, ::fcntl(outFd, F_GETFL) | O_NONBLOCK);
    QByteArray pending;
    char buffer[64 * 1024];
    bool outputOpen = true;
    for (;;) {
        pollfd fds[2];
        nfds_t count = 0;
        if (outputOpen)
            fds[count++] = {outFd, POLLIN, 0};
        if (exitFd >= 0)
            fds[count++] = {exitFd, POLLIN, 0};
        // Without a pidfd, notice the end of the child by polling now and then.
        const int timeout = exitFd >= 0 ? -1 : 100;
        int ready = count > 0 ? ::poll(fds, count, timeout) : 0;
        if (ready < 0 && errno != EINTR)
            break;
        bool ended = exitFd >= 0 ? (fds[count - 1].revents & POLLIN) != 0 : child.hasEnded();
        if (outputOpen && (fds[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            // Take what is there now; after the end, only what was already written.
            for (;;) {
                ssize_t n = readAvailable(outFd, buffer, sizeof buffer);
                if (n == 0)
                    outputOpen = false;
                if (n <= 0)
                    break;
                deliver(*shared, pending, buffer, n);
                if (!ended)
                    break;
            }
        }
        if (ended)
            break;
        if (!outputOpen && exitFd < 0 && count == 0)
            ::poll(nullptr, 0, 100);
    }
    ADBStream::End end;
    end.status = child.wait();
    {
        std::lock_guard lock(shared->mutex);
        end.endedByUs = shared->released || stop.stop_requested();
    }
    if (shared->onEnd)
        shared->onEnd(end);
}

} // namespace

ADBStream::ADBStream(const ADB& adb, const QStringList& args, LinesHandler onLines, ExitHandler onExit)
    : ADBStream(adb, args, std::move(onLines),
                EndHandler(onExit ? [onExit = std::move(onExit)](const End& end) { onExit(end.code()); } : EndHandler()))
{
}

ADBStream::ADBStream(const ADB& adb, const QStringList& args, LinesHandler onLines, EndHandler onEnd)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->onLines = std::move(onLines);
    m_shared->onEnd = std::move(onEnd);
    ChildProcess::Options options;
    options.program = adb.executable;
    options.arguments = args;
    options.output = ChildProcess::Output::Merged;
    m_shared->process = ChildProcess::start(options);
    WorkerPool::shared().start([shared = m_shared](std::stop_token stop) { pump(shared, std::move(stop)); });
}

ADBStream::~ADBStream()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->released = true;
    }
    m_shared->process->terminate();
}

namespace adbdetail {

QStringList takeLines(QByteArray& pending, QByteArrayView data, qsizetype longestLine)
{
    QStringList lines;
    auto take = [&lines](QByteArrayView line) {
        while (!line.isEmpty() && line.front() == '\r')
            line = line.sliced(1);
        while (!line.isEmpty() && line.back() == '\r')
            line.chop(1);
        lines << QString::fromUtf8(line);
    };
    // Only the bytes before the first line feed of `data` join the rest.
    qsizetype from = 0;
    for (qsizetype feed = data.indexOf('\n'); feed >= 0; feed = data.indexOf('\n', from)) {
        if (from == 0 && !pending.isEmpty()) {
            pending.append(data.first(feed));
            take(pending);
            pending.clear();
        } else {
            take(data.sliced(from, feed - from));
        }
        from = feed + 1;
    }
    pending.append(data.sliced(from));
    // The phone decides how long a line is: what is held has a bound.
    if (pending.size() > longestLine) {
        take(pending);
        pending.clear();
    }
    return lines;
}

} // namespace adbdetail
