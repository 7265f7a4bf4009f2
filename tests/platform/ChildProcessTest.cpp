#include "ChildProcess.h"
#include "Error.h"
#include "TestSupport.h"

#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

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
