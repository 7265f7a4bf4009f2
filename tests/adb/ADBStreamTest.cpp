#include "ADBStream.h"
#include "Error.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
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

// A stream's end says whether adb was ended from outside (killed from a
// terminal, an adb server restart): that is told, unlike the owner's release
// or adb's own exit.
TEST(ADBStream, TheEndSaysWhetherAdbWasEndedFromOutside)
{
    const struct {
        const char* what;
        QByteArray body;
        bool release; // the owner lets go once the child runs
        bool kill;    // SIGKILL from outside once the child runs
        bool fromOutside;
        int code;
    } cases[] = {
        {"its own exit", "echo $$; exit 4\n", false, false, false, 4},
        {"released", "echo $$; exec sleep 30\n", true, false, false, SIGTERM},
        {"killed from outside", "echo $$; exec sleep 30\n", false, true, true, SIGKILL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        Recorder r;
        std::mutex mutex;
        std::optional<ADBStream::End> end;
        auto stream = std::make_unique<ADBStream>(stub(dir, c.body), QStringList {}, r.onLines(),
                                                  ADBStream::EndHandler([&](const ADBStream::End& e) {
                                                      std::lock_guard lock(mutex);
                                                      end = e;
                                                  }));
        ASSERT_TRUE(waitUntil([&] { return !r.snapshot().isEmpty(); }));
        if (c.kill)
            ::kill(pid_t(r.snapshot().first().toLong()), SIGKILL);
        if (c.release)
            stream.reset();
        ASSERT_TRUE(waitUntil([&] {
            std::lock_guard lock(mutex);
            return end.has_value();
        }));
        std::lock_guard lock(mutex);
        EXPECT_EQ(end->stoppedFromOutside(), c.fromOutside);
        EXPECT_EQ(end->code(), c.code);
    }
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
