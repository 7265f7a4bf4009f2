#include "ADBStream.h"
#include "Error.h"
#include "TestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>

using testsupport::waitUntil;

namespace {

struct Recorder {
    std::mutex mutex;
    QStringList lines;
    int batches = 0;
    std::atomic<int> exits = 0;
    std::atomic<int> status = -1;
    std::atomic<int> concurrent = 0;
    std::atomic<bool> overlapped = false;

    ADBStream::LinesHandler onLines()
    {
        return [this](const QStringList& batch) {
            if (++concurrent > 1)
                overlapped = true;
            {
                std::lock_guard lock(mutex);
                lines += batch;
                ++batches;
            }
            --concurrent;
        };
    }
    ADBStream::ExitHandler onExit()
    {
        return [this](int s) {
            status = s;
            ++exits;
        };
    }
    QStringList snapshot()
    {
        std::lock_guard lock(mutex);
        return lines;
    }
};

ADB stub(const QTemporaryDir& dir, const QByteArray& body)
{
    return ADB(testsupport::writeScript(dir.path(), QStringLiteral("adb"), "#!/bin/sh\n" + body));
}

} // namespace

TEST(ADBStream, DeliversLinesInOrderInBatchesAndReportsTheExitOnce)
{
    QTemporaryDir dir;
    Recorder r;
    {
        ADBStream stream(stub(dir, "i=0; while [ $i -lt 2000 ]; do echo \"line $i\"; i=$((i+1)); done\n"
                                   "printf 'crlf\\r\\n'; echo err >&2; sleep 0.1; printf 'unfinished'; exit 3\n"),
                         {}, r.onLines(), r.onExit());
        ASSERT_TRUE(waitUntil([&] { return r.exits == 1; }));
    }
    QStringList lines = r.snapshot();
    ASSERT_EQ(lines.size(), 2002);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(lines[i], QStringLiteral("line %1").arg(i));
    EXPECT_EQ(lines[2000], QStringLiteral("crlf"));
    EXPECT_EQ(lines[2001], QStringLiteral("err")); // standard error arrives among the lines
    EXPECT_LT(r.batches, 2002);                     // batched, not one call per line
    EXPECT_EQ(r.status, 3);
    EXPECT_FALSE(r.overlapped);
    EXPECT_EQ(r.exits, 1);
}

TEST(ADBStream, ReleasingTheStreamTerminatesItsChild)
{
    QTemporaryDir dir;
    Recorder r;
    const QString pidFile = dir.path() + QStringLiteral("/pid");
    auto stream = std::make_unique<ADBStream>(
        stub(dir, "echo $$ > '" + pidFile.toUtf8() + "'\necho started\nexec sleep 30\n"), QStringList {},
        r.onLines(), r.onExit());
    ASSERT_TRUE(waitUntil([&] { return r.snapshot().contains(QStringLiteral("started")); }));
    QFile f(pidFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const long pid = f.readAll().trimmed().toLong();
    stream.reset();
    ASSERT_TRUE(waitUntil([&] { return r.exits == 1; }));
    EXPECT_EQ(r.status, SIGTERM);
    EXPECT_FALSE(testsupport::processAlive(pid));
}

TEST(ADBStream, ArgumentsPassUnchangedAndInputIsEmpty)
{
    QTemporaryDir dir;
    Recorder r;
    ADBStream stream(stub(dir, "printf '%s\\n' \"$@\"; cat; echo end\n"),
                     {QStringLiteral("-s"), QStringLiteral("A B"), QStringLiteral("logcat")}, r.onLines(), r.onExit());
    ASSERT_TRUE(waitUntil([&] { return r.exits == 1; }));
    EXPECT_EQ(r.snapshot(), (QStringList {"-s", "A B", "logcat", "end"}));
    EXPECT_EQ(r.status, 0);
}

TEST(ADBStream, FailedLaunchThrowsAndCallsNothing)
{
    QTemporaryDir dir;
    Recorder r;
    EXPECT_THROW(ADBStream(ADB(dir.path() + QStringLiteral("/none")), {}, r.onLines(), r.onExit()), SystemError);
    EXPECT_EQ(r.exits, 0);
    EXPECT_EQ(r.batches, 0);
}
