#include "ChildProcess.h"
#include "Error.h"
#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>

namespace {

// What a pipe of an ended child holds.
QByteArray readAll(int fd)
{
    QByteArray all;
    char buffer[4096];
    ssize_t n;
    while ((n = readAvailable(fd, buffer, sizeof buffer)) > 0)
        all.append(buffer, n);
    return all;
}

std::unique_ptr<ChildProcess> sh(const QString& script)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/bin/sh");
    options.arguments = {QStringLiteral("-c"), script};
    return ChildProcess::start(options);
}

} // namespace

TEST(ChildProcess, SeparatesOutputAndErrorAndGivesNullInput)
{
    auto child = sh(QStringLiteral("echo out; echo err >&2; cat; echo done; exit 3"));
    const ExitStatus status = child->wait(); // small enough for the pipes: read after the end
    EXPECT_FALSE(status.signalled);
    EXPECT_EQ(status.code, 3);
    EXPECT_EQ(readAll(child->outputFd()), QByteArray("out\ndone\n"));
    EXPECT_EQ(readAll(child->errorFd()), QByteArray("err\n"));
}

// The terminal mode is shown by the adb runner's progress, which needs it.
TEST(ChildProcess, MissingProgramIsASystemErrorWithASentence)
{
    for (auto output : {ChildProcess::Output::Pipes, ChildProcess::Output::Terminal}) {
        ChildProcess::Options options;
        options.program = QStringLiteral("/nonexistent/adb");
        options.output = output;
        try {
            ChildProcess::start(options);
            ADD_FAILURE() << "started a missing program";
        } catch (const SystemError& e) {
            EXPECT_TRUE(e.description().startsWith(QStringLiteral("Couldn't start /nonexistent/adb")));
            EXPECT_EQ(e.errorNumber(), ENOENT);
        }
    }
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

TEST(ChildProcess, ChildSeesNoneOfOurDescriptors)
{
    // A descriptor opened without close-on-exec by someone else in the process.
    const int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 0);
    auto child = sh(QStringLiteral("ls /proc/self/fd"));
    child->wait();
    QList<QByteArray> fds = readAll(child->outputFd()).split('\n');
    fds.removeAll(QByteArray());
    ::close(leaky);
    EXPECT_LE(fds.size(), 4); // 0, 1, 2 and the one ls reads the folder with
    EXPECT_FALSE(fds.contains(QByteArray::number(leaky)));
}

TEST(ChildProcess, SignalsAreToldFromExitsAndEveryChildIsReapedOnce)
{
    EXPECT_EQ(sh(QStringLiteral("kill -KILL $$"))->wait().signal, SIGKILL);

    auto child = sh(QStringLiteral("sleep 30"));
    const pid_t pid = child->pid();
    child->terminate();
    const ExitStatus status = child->wait();
    EXPECT_TRUE(status.signalled);
    EXPECT_EQ(status.signal, SIGTERM);
    EXPECT_FALSE(testsupport::processAlive(pid));
    child->terminate(); // reaped: must not signal whatever now has the pid
    EXPECT_EQ(child->wait().signal, SIGTERM);

    // Destroying a running child ends and reaps it.
    pid_t running;
    {
        auto dropped = sh(QStringLiteral("sleep 30"));
        running = dropped->pid();
    }
    EXPECT_FALSE(testsupport::processAlive(running));
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

// Mended: an adb transfer outlived an application killed mid-copy and wrote
// on into a working folder that the next start had already removed.
TEST(ChildProcess, AChildThatEndsWithUsEndsWhenWeAreKilled)
{
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t us = ::fork();
    ASSERT_GE(us, 0);
    if (us == 0) {
        ::close(report[0]);
        ChildProcess::Options options;
        options.program = QStringLiteral("/bin/sleep");
        options.arguments = {QStringLiteral("30")};
        options.endsWithUs = true;
        const std::unique_ptr<ChildProcess> running = ChildProcess::start(options);
        const pid_t pid = running->pid();
        ssize_t ignored = ::write(report[1], &pid, sizeof pid);
        (void)ignored;
        for (;;)
            ::pause();
    }
    ::close(report[1]);
    pid_t child = 0;
    pollfd ready{report[0], POLLIN, 0};
    const bool told = ::poll(&ready, 1, 5000) == 1 && ::read(report[0], &child, sizeof child) == sizeof child;
    ::close(report[0]);
    ::kill(us, SIGKILL);
    ::waitpid(us, nullptr, 0);
    ASSERT_TRUE(told && child > 0);
    // Gone, or a zombie no one reaps here.
    const auto ended = [child] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(child));
        if (!stat.open(QIODevice::ReadOnly))
            return true;
        const QByteArray line = stat.readAll();
        return line.mid(line.lastIndexOf(')') + 2, 1) == "Z";
    };
    const bool gone = testsupport::waitUntil(ended, std::chrono::seconds(5));
    if (!gone)
        ::kill(child, SIGKILL);
    EXPECT_TRUE(gone);
}
