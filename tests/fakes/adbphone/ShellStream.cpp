#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace adbphone {

namespace {

// Shell protocol packet ids.
constexpr char kStdin = 0;
constexpr char kStdout = 1;
constexpr char kStderr = 2;
constexpr char kExit = 3;
constexpr char kCloseStdin = 4;

constexpr qsizetype kLargestPacket = 1 << 20;

QByteArray packetHeader(char id, qsizetype size)
{
    QByteArray header(1, id);
    adbwire::putLe32(header, static_cast<uint32_t>(size));
    return header;
}

bool makePipe(int& ourEnd, int& theirEnd, bool weRead)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    ourEnd = weRead ? fds[0] : fds[1];
    theirEnd = weRead ? fds[1] : fds[0];
    ::fcntl(ourEnd, F_SETFL, ::fcntl(ourEnd, F_GETFL) | O_NONBLOCK);
    return true;
}

int shellStatus(int waitStatus)
{
    if (WIFEXITED(waitStatus))
        return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus))
        return 128 + WTERMSIG(waitStatus);
    return 255;
}

} // namespace

ShellStream::ShellStream(Connection& connection, uint32_t localId, uint32_t remoteId, Kind kind)
    : Stream(connection, localId, remoteId), m_kind(kind)
{
}

ShellStream::~ShellStream()
{
    if (m_pid > 0) {
        if (!m_exited) {
            // The host went away: the command and whatever it started go too.
            ::kill(-m_pid, SIGKILL);
            phone().abandonChild(m_pid);
        } else {
            phone().forgetChild(m_pid);
        }
    }
    closeFd(m_pidFd);
    closeFd(m_inFd);
    closeFd(m_outFd);
    closeFd(m_errFd);
}

void ShellStream::closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void ShellStream::startScripted(const ScriptedReply& reply)
{
    if (m_kind == Kind::ShellV2 || m_cut) {
        appendOutput(kStdout, reply.out.constData(), reply.out.size());
        appendOutput(kStderr, reply.err.constData(), reply.err.size());
    } else {
        m_pending = reply.out + reply.err;
    }
    m_exited = true;
    m_status = m_cut ? 0 : reply.status & 0xff;
}

void ShellStream::startCommand(const QByteArray& command, const QByteArray& term)
{
    int childIn = -1, childOut = -1, childErr = -1;
    bool ok = makePipe(m_inFd, childIn, false) && makePipe(m_outFd, childOut, true);
    if (ok && m_kind == Kind::ShellV2)
        ok = makePipe(m_errFd, childErr, true);
    pid_t pid = -1;
    if (ok)
        pid = phone().sandbox().spawn(command, term, childIn, childOut, childErr >= 0 ? childErr : childOut);
    const int err = errno;
    closeFd(childIn);
    closeFd(childOut);
    closeFd(childErr);
    if (pid < 0) {
        closeFd(m_inFd);
        closeFd(m_outFd);
        closeFd(m_errFd);
        const QByteArray message = "fakeadbphone: couldn't start the shell: " + QByteArray(::strerror(err)) + '\n';
        startScripted(ScriptedReply {{}, message, 126});
        return;
    }
    m_pid = pid;
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (m_pidFd >= 0)
        ::fcntl(m_pidFd, F_SETFD, FD_CLOEXEC);
}

void ShellStream::appendOutput(char id, const char* data, qsizetype size)
{
    if (m_cut) {
        if (id != kStdout)
            return;
        size = std::min<qsizetype>(size, m_keep);
        m_keep -= size;
        if (size == 0)
            return;
    }
    if (m_kind == Kind::Raw) {
        m_pending.append(data, size);
        return;
    }
    // Packets never exceed one payload, header included.
    const qsizetype largest = static_cast<qsizetype>(m_connection.maxPayload()) - 5;
    for (qsizetype offset = 0; offset < size; offset += largest) {
        const qsizetype piece = std::min(largest, size - offset);
        m_pending += packetHeader(id, piece);
        m_pending.append(data + offset, piece);
    }
}

void ShellStream::readPipe(int& fd, char id)
{
    char buffer[64 * 1024];
    while (fd >= 0 && m_pending.size() < m_connection.maxPayload()) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            appendOutput(id, buffer, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            closeFd(fd);
        }
    }
}

void ShellStream::feedStdin()
{
    while (m_inFd >= 0 && !m_stdin.isEmpty()) {
        const ssize_t n = ::write(m_inFd, m_stdin.constData(), static_cast<size_t>(m_stdin.size()));
        if (n > 0) {
            m_stdin.remove(0, n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else {
            // The command stopped reading; what it did not take is lost, as on a phone.
            closeFd(m_inFd);
        }
    }
    m_stdin.clear();
    if (m_closeStdin)
        closeFd(m_inFd);
    if (m_okayOwed && !finished()) {
        m_okayOwed = false;
        acknowledge();
    }
}

void ShellStream::hostWrite(const QByteArray& data)
{
    if (m_kind == Kind::Raw) {
        m_stdin += data;
    } else {
        m_packets += data;
        while (m_packets.size() >= 5) {
            const qsizetype size = adbwire::le32(m_packets.constData() + 1);
            if (size > kLargestPacket) {
                // Not the shell protocol; nothing here can be trusted.
                m_packets.clear();
                m_closeStdin = true;
                break;
            }
            if (m_packets.size() < 5 + size)
                break;
            const char id = m_packets.at(0);
            if (id == kStdin)
                m_stdin += m_packets.mid(5, size);
            else if (id == kCloseStdin)
                m_closeStdin = true;
            // Window size changes and anything else mean nothing without a terminal.
            m_packets.remove(0, 5 + size);
        }
    }
    m_okayOwed = true;
    feedStdin();
}

void ShellStream::service(Clock::time_point now)
{
    (void)now;
    if (m_pid > 0 && !m_exited) {
        if (const auto status = phone().exitStatus(m_pid)) {
            m_exited = true;
            m_status = m_cut ? 0 : shellStatus(*status);
            closeFd(m_pidFd);
        }
    }
    readPipe(m_outFd, kStdout);
    readPipe(m_errFd, kStderr);
    feedStdin();
    if (!canSend())
        return;
    if (!m_pending.isEmpty()) {
        sendFrom(m_pending);
    } else if (m_exited && m_outFd < 0 && m_errFd < 0) {
        if (m_kind == Kind::ShellV2 && !m_exitQueued) {
            m_exitQueued = true;
            m_pending = packetHeader(kExit, 1) + QByteArray(1, static_cast<char>(m_status));
            sendFrom(m_pending);
        } else {
            finish();
        }
    }
}

void ShellStream::addPollFds(std::vector<pollfd>& fds) const
{
    const bool room = m_pending.size() < m_connection.maxPayload();
    if (room && m_outFd >= 0)
        fds.push_back(pollfd {m_outFd, POLLIN, 0});
    if (room && m_errFd >= 0)
        fds.push_back(pollfd {m_errFd, POLLIN, 0});
    if (m_inFd >= 0 && !m_stdin.isEmpty())
        fds.push_back(pollfd {m_inFd, POLLOUT, 0});
    if (m_pidFd >= 0 && !m_exited)
        fds.push_back(pollfd {m_pidFd, POLLIN, 0});
}

} // namespace adbphone
