#include "ADBStream.h"
#include "Error.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using testsupport::waitUntil;

namespace {

struct Recorder {
    std::mutex mutex;
    QStringList lines;
    int batches = 0;
    std::atomic<int> exits = 0, status = -1;

    ADBStream::LinesHandler onLines()
    {
        return [this](const QStringList& batch) {
            std::lock_guard lock(mutex);
            lines += batch;
            ++batches;
        };
    }
    ADBStream::ExitHandler onExit() { return [this](int s) { status = s, ++exits; }; }
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
        ADBStream stream(stub(dir, "printf '%s\\n' \"$@\"; cat\n" // arguments unchanged, input empty
                                   "i=0; while [ $i -lt 2000 ]; do echo \"line $i\"; i=$((i+1)); done\n"
                                   "printf 'crlf\\r\\n'; echo err >&2; sleep 0.1; printf 'unfinished'; exit 3\n"),
                         {QStringLiteral("-s"), QStringLiteral("A B")}, r.onLines(), r.onExit());
        ASSERT_TRUE(waitUntil([&] { return r.exits == 1; }));
    }
    QStringList expected {"-s", "A B"};
    for (int i = 0; i < 2000; ++i)
        expected << QStringLiteral("line %1").arg(i);
    EXPECT_EQ(r.snapshot(), expected << "crlf" << "err"); // standard error arrives among the lines
    EXPECT_LT(r.batches, 2004);                     // batched, not one call per line
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.exits, 1);
}

TEST(ADBStream, ReleasingTheStreamTerminatesItsChild)
{
    QTemporaryDir dir;
    Recorder r;
    auto stream = std::make_unique<ADBStream>(stub(dir, "echo $$\nexec sleep 30\n"), QStringList {}, r.onLines(),
                                              r.onExit());
    ASSERT_TRUE(waitUntil([&] { return !r.snapshot().isEmpty(); }));
    stream.reset();
    ASSERT_TRUE(waitUntil([&] { return r.exits == 1; }));
    EXPECT_EQ(r.status, SIGTERM);
    EXPECT_FALSE(testsupport::processAlive(r.snapshot().first().toLong()));
    EXPECT_THROW(ADBStream(ADB(dir.path() + QStringLiteral("/none")), {}, r.onLines(), r.onExit()), SystemError);
    EXPECT_EQ(r.exits, 1); // nothing from the stream that never started
}

// Mended: release let a batch being delivered run on after it returned.
TEST(ADBStream, ReleaseWaitsForADeliveryUnderWayAndNoBatchFollows)
{
    QTemporaryDir dir;
    std::atomic<bool> inside = false, letGo = false, releasedInside = false;
    std::atomic<int> afterRelease = 0;
    std::atomic<bool> released = false;
    auto stream = std::make_unique<ADBStream>(
        stub(dir, "while :; do echo x; sleep 0.01; done\n"), QStringList {}, [&](const QStringList&) {
            afterRelease += released ? 1 : 0;
            inside = true;
            waitUntil([&] { return letGo.load(); }, std::chrono::seconds(5));
            inside = false;
        });
    ASSERT_TRUE(waitUntil([&] { return inside.load(); }));
    std::thread releaser([&] {
        stream.reset();
        releasedInside = inside.load();
        released = true;
    });
    // Give a release that does not wait the time to return.
    waitUntil([&] { return released.load(); }, std::chrono::milliseconds(300));
    letGo = true;
    releaser.join();
    EXPECT_FALSE(releasedInside);
    EXPECT_EQ(afterRelease, 0);
}
