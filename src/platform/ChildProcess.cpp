#include "ChildProcess.h"

#include "Error.h"
#include "Paths.h"

#include <QByteArray>
#include <QProcessEnvironment>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    int release()
    {
        int f = fd;
        fd = -1;
        return f;
    }
};

void makePipe(Fd& readEnd, Fd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create a pipe"), errno);
    readEnd.fd = fds[0];
    writeEnd.fd = fds[1];
}

// argv and envp built before fork: the child may only make async-signal-safe calls.
struct ExecImage {
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    std::vector<char*> envp;
    QByteArray path;
};

ExecImage buildImage(const ChildProcess::Options& options)
{
    ExecImage image;
    image.path = paths::bytes(options.program);
    image.storage.reserve(1 + options.arguments.size() + 64);
    image.storage.push_back(image.path);
    for (const QString& arg : options.arguments)
        image.storage.push_back(paths::bytes(arg)); // names in paths, byte for byte
    size_t argc = image.storage.size();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (auto it = options.environment.begin(); it != options.environment.end(); ++it)
        env.insert(it.key(), it.value());
    const QStringList keys = env.keys();
    for (const QString& key : keys)
        image.storage.push_back((key + QLatin1Char('=') + env.value(key)).toLocal8Bit());

    for (size_t i = 0; i < argc; ++i)
        image.argv.push_back(image.storage[i].data());
    image.argv.push_back(nullptr);
    for (size_t i = argc; i < image.storage.size(); ++i)
        image.envp.push_back(image.storage[i].data());
    image.envp.push_back(nullptr);
    return image;
}

int openPidFd(pid_t pid)
{
#ifdef SYS_pidfd_open
    int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        return fd;
    }
#endif
    (void)pid;
    return -1;
}

// Closes every descriptor from `first` on except `keep`. Async-signal-safe.
void closeAllFrom(int first, int keep, int limit)
{
#ifdef SYS_close_range
    bool done = true;
    if (keep > first && ::syscall(SYS_close_range, first, keep - 1, 0) != 0)
        done = false;
    if (done && ::syscall(SYS_close_range, std::max(first, keep + 1), ~0U, 0) == 0)
        return;
#endif
    for (int fd = first; fd < limit; ++fd) {
        if (fd != keep)
            ::close(fd);
    }
}

// Pipes need no terminal set-up in the child, so posix_spawn (a vfork-like
// clone, much cheaper than fork for a large process) is enough. Returns the pid.
pid_t spawnWithPipes(const ChildProcess::Options& options, const ExecImage& image, int nullIn, int outWrite,
                     int errWrite)
{
    const int stderrFd = options.output == ChildProcess::Output::Merged ? outWrite : errWrite;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, nullIn, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite, 1);
    posix_spawn_file_actions_adddup2(&actions, stderrFd, 2);
    // Descriptors of libraries without close-on-exec must not leak into the child.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t pid = -1;
    const int result = ::posix_spawn(&pid, image.path.constData(), &actions, &attributes, image.argv.data(),
                                     image.envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (result != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't start ") + options.program, result);
    return pid;
}

[[noreturn]] void childFail(int reportFd, int err)
{
    ssize_t ignored = ::write(reportFd, &err, sizeof err);
    (void)ignored;
    ::_exit(127);
}

} // namespace

std::unique_ptr<ChildProcess> ChildProcess::start(const Options& options)
{
    if (options.program.isEmpty())
        throw SystemError(QStringLiteral("Couldn't start a program without a name."));

    ExecImage image = buildImage(options);

    Fd nullIn(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (nullIn.fd < 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't open /dev/null"), errno);

    Fd outRead, outWrite, errRead, errWrite, master, slave;
    const bool terminal = options.output == Output::Terminal;
    if (terminal) {
        master.fd = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master.fd < 0 || ::grantpt(master.fd) != 0 || ::unlockpt(master.fd) != 0)
            throw SystemError::fromErrno(QStringLiteral("Couldn't open a pseudo-terminal"), errno);
        char name[128];
        if (::ptsname_r(master.fd, name, sizeof name) != 0)
            throw SystemError::fromErrno(QStringLiteral("Couldn't open a pseudo-terminal"), errno);
        slave.fd = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave.fd < 0)
            throw SystemError::fromErrno(QStringLiteral("Couldn't open a pseudo-terminal"), errno);
        // A wide terminal keeps progress lines on one line each.
        struct winsize size {};
        size.ws_row = 24;
        size.ws_col = 200;
        ::ioctl(slave.fd, TIOCSWINSZ, &size);
    } else {
        makePipe(outRead, outWrite);
        if (options.output == Output::Pipes)
            makePipe(errRead, errWrite);
    }

    if (!terminal && !options.endsWithUs) {
        const pid_t pid = spawnWithPipes(options, image, nullIn.fd, outWrite.fd, errWrite.fd);
        std::unique_ptr<ChildProcess> child(new ChildProcess);
        child->m_pid = pid;
        child->m_pidFd = openPidFd(pid);
        child->m_outputFd = outRead.release();
        child->m_errorFd = errRead.release();
        return child;
    }

    // The child writes errno here if exec fails; close-on-exec tells success.
    Fd reportRead, reportWrite;
    makePipe(reportRead, reportWrite);

    const int stdoutFd = terminal ? slave.fd : outWrite.fd;
    const int stderrFd = terminal ? slave.fd : options.output == Output::Merged ? outWrite.fd : errWrite.fd;
    const pid_t parent = ::getpid();

    struct rlimit files {};
    const int fdLimit = ::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur != RLIM_INFINITY
                            ? static_cast<int>(std::min<rlim_t>(files.rlim_cur, 65536))
                            : 4096;

    pid_t pid = ::fork();
    if (pid < 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't start ") + options.program, errno);

    if (pid == 0) {
        // Child: async-signal-safe calls only.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        for (int sig = 1; sig < NSIG; ++sig) {
            if (sig != SIGKILL && sig != SIGSTOP)
                ::sigaction(sig, &dfl, nullptr);
        }
        if (options.endsWithUs) {
            if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0)
                childFail(reportWrite.fd, errno);
            // Gone already, before the line above took effect.
            if (::getppid() != parent)
                ::_exit(127);
        }
        if (terminal) {
            if (::setsid() < 0 || ::ioctl(stdoutFd, TIOCSCTTY, 0) < 0)
                childFail(reportWrite.fd, errno);
        }
        if (::dup2(nullIn.fd, 0) < 0 || ::dup2(stdoutFd, 1) < 0 || ::dup2(stderrFd, 2) < 0)
            childFail(reportWrite.fd, errno);
        // Whatever else is open here (descriptors of libraries without
        // close-on-exec) must not leak into the child; the report pipe closes
        // on exec by itself.
        closeAllFrom(3, reportWrite.fd, fdLimit);
        ::execve(image.path.constData(), image.argv.data(), image.envp.data());
        childFail(reportWrite.fd, errno);
    }

    // Parent.
    reportWrite.reset();
    slave.reset();
    outWrite.reset();
    errWrite.reset();

    int childErrno = 0;
    ssize_t got;
    do {
        got = ::read(reportRead.fd, &childErrno, sizeof childErrno);
    } while (got < 0 && errno == EINTR);

    std::unique_ptr<ChildProcess> child(new ChildProcess);
    child->m_pid = pid;
    if (got == static_cast<ssize_t>(sizeof childErrno)) {
        child->wait(); // reap the failed child
        throw SystemError::fromErrno(QStringLiteral("Couldn't start ") + options.program, childErrno);
    }
    child->m_pidFd = openPidFd(pid);
    child->m_outputFd = terminal ? master.release() : outRead.release();
    child->m_errorFd = errRead.release();
    return child;
}

ChildProcess::~ChildProcess()
{
    if (!hasEnded()) {
        terminate();
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!hasEnded() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (!hasEnded())
            signal(SIGKILL);
    }
    wait();
    closeOutput();
    closeError();
    if (m_pidFd >= 0)
        ::close(m_pidFd);
}

void ChildProcess::closeOutput()
{
    if (m_outputFd >= 0)
        ::close(m_outputFd);
    m_outputFd = -1;
}

void ChildProcess::closeError()
{
    if (m_errorFd >= 0)
        ::close(m_errorFd);
    m_errorFd = -1;
}

void ChildProcess::signal(int sig)
{
    std::lock_guard lock(m_mutex);
    if (!m_reaped && m_pid > 0)
        ::kill(m_pid, sig);
}

void ChildProcess::terminate()
{
    signal(SIGTERM);
}

bool ChildProcess::reapLocked(bool block)
{
    if (m_reaped)
        return true;
    int status = 0;
    pid_t r;
    do {
        r = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (r < 0 && errno == EINTR);
    if (r == 0)
        return false;
    m_reaped = true;
    if (r < 0) {
        // Someone else reaped it (SIGCHLD ignored); report an unknown failure.
        m_status = ExitStatus{false, 255, 0};
    } else if (WIFSIGNALED(status)) {
        m_status = ExitStatus{true, 0, WTERMSIG(status)};
    } else {
        m_status = ExitStatus{false, WEXITSTATUS(status), 0};
    }
    return true;
}

ExitStatus ChildProcess::wait()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_reaped)
            return m_status;
    }
    // Wait without reaping, so the pid stays ours while signal() may run.
    siginfo_t info {};
    int r;
    do {
        r = ::waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    std::lock_guard lock(m_mutex);
    reapLocked(true);
    return m_status;
}

bool ChildProcess::tryWait()
{
    std::lock_guard lock(m_mutex);
    return reapLocked(false);
}

bool ChildProcess::hasEnded()
{
    return tryWait();
}

ssize_t readAvailable(int fd, char* buffer, size_t size)
{
    for (;;) {
        ssize_t n = ::read(fd, buffer, size);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        return 0; // EIO from a terminal whose other side closed, or any error: the end
    }
}
