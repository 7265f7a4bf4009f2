#include "ChildProcess.h"
#include "Error.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {

QByteArray readAll(int fd)
{
    QByteArray all;
    char buffer[4096];
    for (;;) {
        ssize_t n = readAvailable(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    return all;
}

std::unique_ptr<ChildProcess> sh(const QString& script, ChildProcess::Output output = ChildProcess::Output::Pipes)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), script};
    options.output = output;
    return ChildProcess::start(options);
}

} // namespace

TEST(ChildProcess, TellsExitStatusFromSignal)
{
    auto exited = sh(QStringLiteral("exit 3"));
    ExitStatus status = exited->wait();
    EXPECT_FALSE(status.signalled);
    EXPECT_EQ(status.code, 3);

    auto killed = sh(QStringLiteral("kill -KILL $$"));
    status = killed->wait();
    EXPECT_TRUE(status.signalled);
    EXPECT_EQ(status.signal, SIGKILL);
}

TEST(ChildProcess, SeparatesOutputAndErrorAndGivesNullInput)
{
    auto child = sh(QStringLiteral("echo out; echo err >&2; cat; echo done"));
    // Output is small enough for the pipes; read after the end.
    EXPECT_EQ(child->wait().code, 0);
    EXPECT_EQ(readAll(child->outputFd()), QByteArray("out\ndone\n"));
    EXPECT_EQ(readAll(child->errorFd()), QByteArray("err\n"));
}

TEST(ChildProcess, MissingProgramIsASystemErrorWithASentence)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/nonexistent/adb");
    try {
        ChildProcess::start(options);
        FAIL() << "started a missing program";
    } catch (const SystemError& e) {
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("Couldn't start /nonexistent/adb")));
        EXPECT_EQ(e.errorNumber(), ENOENT);
    }
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

TEST(ChildProcess, ChildSeesNoneOfOurDescriptors)
{
    // A descriptor opened without close-on-exec by someone else in the process.
    int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 0);
    auto child = sh(QStringLiteral("ls /proc/self/fd"));
    child->wait();
    QList<QByteArray> fds = readAll(child->outputFd()).split('\n');
    fds.removeAll(QByteArray());
    ::close(leaky);
    // 0, 1, 2 and the descriptor ls opens to read the folder.
    EXPECT_LE(fds.size(), 4) << readAll(child->outputFd()).constData();
    EXPECT_FALSE(fds.contains(QByteArray::number(leaky)));
}

TEST(ChildProcess, TerminalModeGivesTheChildATerminal)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), QStringLiteral("test -t 1 && test -t 2 && echo tty; echo $TERM; echo oops >&2")};
    options.environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    options.output = ChildProcess::Output::Terminal;
    auto child = ChildProcess::start(options);
    QByteArray all;
    char buffer[512];
    for (;;) {
        pollfd p {child->outputFd(), POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 5000), 0);
        ssize_t n = readAvailable(child->outputFd(), buffer, sizeof buffer);
        if (n <= 0)
            break;
        all.append(buffer, n);
    }
    EXPECT_EQ(child->wait().code, 0);
    EXPECT_EQ(all, QByteArray("tty\r\nxterm-256color\r\noops\r\n"));
    EXPECT_EQ(child->errorFd(), -1);
}

TEST(ChildProcess, TerminateEndsARunningChildAndSignalsAfterReapAreHarmless)
{
    auto child = sh(QStringLiteral("sleep 30"));
    const pid_t pid = child->pid();
    child->terminate();
    ExitStatus status = child->wait();
    EXPECT_TRUE(status.signalled);
    EXPECT_EQ(status.signal, SIGTERM);
    EXPECT_FALSE(testsupport::processAlive(pid));
    child->terminate(); // reaped: must not signal whatever now has the pid
    EXPECT_EQ(child->wait().signal, SIGTERM);
}

TEST(ChildProcess, DestroyingARunningChildReapsIt)
{
    pid_t pid;
    {
        auto child = sh(QStringLiteral("sleep 30"));
        pid = child->pid();
    }
    EXPECT_FALSE(testsupport::processAlive(pid));
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

TEST(ChildProcess, ExitFdBecomesReadableWhenTheChildEnds)
{
    auto child = sh(QStringLiteral("sleep 0.05"));
    ASSERT_GE(child->exitFd(), 0);
    pollfd p {child->exitFd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 5000), 1);
    EXPECT_TRUE(child->hasEnded());
}
