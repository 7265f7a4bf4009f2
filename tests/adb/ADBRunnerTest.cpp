// The runner against small shell scripts standing in for adb.
#include "ADB.h"
#include "Error.h"
#include "TestSupport.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using testsupport::waitUntil;

namespace {

class ADBRunner : public ::testing::Test {
protected:
    QTemporaryDir dir;

    ADB stub(const QByteArray& body)
    {
        return ADB(testsupport::writeScript(dir.path(), QStringLiteral("adb"), "#!/bin/sh\n" + body));
    }
    QString marker(const char* name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }

    static QString failureOf(const ADB& adb, const Progress& progress = {})
    {
        try {
            adb.run({}, progress, Cancel());
        } catch (const ADBError& e) {
            EXPECT_EQ(e.kind(), ADBError::Kind::failed);
            return e.message();
        }
        ADD_FAILURE() << "no failure";
        return {};
    }
};

} // namespace

TEST_F(ADBRunner, PassesArgumentsUnchangedAndReturnsStandardOutput)
{
    ADB adb = stub("for a in \"$@\"; do printf '<%s>' \"$a\"; done\n");
    EXPECT_EQ(adb.run({QStringLiteral("-s"), QStringLiteral("X Y"), QStringLiteral("shell"), QStringLiteral("echo 'a b'")},
                      Cancel()),
              QStringLiteral("<-s><X Y><shell><echo 'a b'>"));
}

TEST_F(ADBRunner, AlreadyCancelledCallStartsNoChild)
{
    ADB adb = stub("touch '" + marker("ran").toUtf8() + "'\n");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(adb.run({}, {}, Cancel(stop.get_token())), Cancelled);
    EXPECT_FALSE(QFileInfo::exists(marker("ran")));
}

TEST_F(ADBRunner, CancellingTerminatesTheChildAndWinsOverItsExitStatus)
{
    // The stub catches SIGTERM and exits 0: the caller must still see Cancelled.
    ADB adb = stub("trap 'exit 0' TERM\necho $$ > '" + marker("pid").toUtf8() +
                   "'\nwhile :; do sleep 0.02; done\n");
    std::stop_source stop;
    std::thread canceller([&] {
        waitUntil([&] { return QFileInfo(marker("pid")).size() > 0; }, std::chrono::seconds(10));
        stop.request_stop();
    });
    EXPECT_THROW(adb.run({}, {}, Cancel(stop.get_token())), Cancelled);
    canceller.join();
}

TEST_F(ADBRunner, ChildKilledFromOutsideIsACancellation)
{
    ADB adb = stub("echo $$ > '" + marker("pid").toUtf8() + "'\nwhile :; do sleep 0.02; done\n");
    std::thread killer([&] {
        waitUntil([&] { return QFileInfo(marker("pid")).size() > 0; }, std::chrono::seconds(10));
        QFile f(marker("pid"));
        f.open(QIODevice::ReadOnly);
        ::kill(f.readAll().trimmed().toInt(), SIGKILL);
    });
    EXPECT_THROW(adb.run({}, {}, Cancel()), Cancelled);
    killer.join();
}

TEST_F(ADBRunner, FailureMessagePrefersStandardErrorThenOutput)
{
    EXPECT_EQ(failureOf(stub("echo 'adb: error: device not found' >&2\necho ignored\nexit 1\n")),
              QStringLiteral("device not found"));
    EXPECT_EQ(failureOf(stub("echo 'error: closed'\nexit 1\n")), QStringLiteral("error: closed"));
    EXPECT_EQ(failureOf(stub("exit 1\n")), QString());
    try {
        stub("exit 1\n").run({}, Cancel());
    } catch (const ADBError& e) {
        EXPECT_EQ(e.description(), QStringLiteral("adb failed without an error message."));
    }
}

TEST_F(ADBRunner, BytesThatAreNotUtf8ReachDataCallersUnchanged)
{
    ADB adb = stub("printf '\\377\\376ok\\000'\n");
    EXPECT_EQ(adb.runData({}, {}, Cancel()), QByteArray("\xff\xfeok\0", 5));
    const QString text = adb.run({}, Cancel());
    EXPECT_TRUE(text.startsWith(QChar(0xFFFD)));
    EXPECT_TRUE(text.contains(QStringLiteral("ok")));
}

TEST_F(ADBRunner, LargeOutputOnBothStreamsDoesNotDeadlock)
{
    // Each stream alone overflows a pipe buffer; both must be drained together.
    ADB adb = stub("head -c 1000000 /dev/zero | tr '\\0' e >&2 & head -c 1000000 /dev/zero | tr '\\0' o; wait\n");
    EXPECT_EQ(adb.runData({}, {}, Cancel()).size(), 1000000);
}

TEST_F(ADBRunner, ProgressComesFromTheTerminalOneValuePerChunk)
{
    ADB adb = stub("[ -t 1 ] || { echo 'not a terminal' >&2; exit 9; }\n"
                   "[ \"$TERM\" = xterm-256color ] || { echo \"TERM=$TERM\" >&2; exit 8; }\n"
                   "printf '[ 12%%] /sdcard/a'; sleep 0.2\n"
                   "printf '\\r[ 47%%] /sdcard/a'; sleep 0.2\n"
                   "printf '\\r[150%%] /sdcard/a'; sleep 0.2\n"
                   "echo '/sdcard/a: 1 file pulled.'\n");
    std::mutex mutex;
    std::vector<double> values;
    const QString result = adb.run({}, [&](double v) {
        std::lock_guard lock(mutex);
        values.push_back(v);
    }, Cancel());
    EXPECT_TRUE(result.isEmpty());
    ASSERT_EQ(values.size(), 2u);
    EXPECT_DOUBLE_EQ(values[0], 0.12);
    EXPECT_DOUBLE_EQ(values[1], 0.47);
}

TEST_F(ADBRunner, ProgressFailureReadsTheLastMeaningfulTerminalLines)
{
    ADB adb = stub("printf '[ 99%%] /sdcard/big\\r\\n'\n"
                   "printf 'adb: error: remote No space left on device\\r\\n\\r\\n'\nexit 1\n");
    EXPECT_EQ(failureOf(adb, [](double) {}), QStringLiteral("remote No space left on device"));
}

TEST_F(ADBRunner, ProgressOutputOfAnySizeStaysBounded)
{
    // 5 MB of progress lines; the callback keeps getting values.
    ADB adb = stub("i=0; while [ $i -lt 100 ]; do head -c 50000 /dev/zero | tr '\\0' x; printf '\\r[ 42%%]'; "
                   "i=$((i+1)); done\n");
    std::atomic<int> calls = 0;
    adb.run({}, [&](double v) {
        EXPECT_DOUBLE_EQ(v, 0.42);
        ++calls;
    }, Cancel());
    EXPECT_GT(calls.load(), 0);
}

TEST_F(ADBRunner, MissingExecutableIsASystemError)
{
    ADB adb(dir.path() + QStringLiteral("/missing/adb"));
    EXPECT_THROW(adb.run({}, Cancel()), SystemError);
    EXPECT_THROW(adb.run({}, [](double) {}, Cancel()), SystemError);
}

TEST_F(ADBRunner, ManyRunsLeakNoDescriptorsOrChildren)
{
    ADB ok = stub("echo ok\n");
    ADB failing(testsupport::writeScript(dir.path(), QStringLiteral("failing"), "#!/bin/sh\necho bad >&2\nexit 2\n"));
    ADB slow(testsupport::writeScript(dir.path(), QStringLiteral("slow"), "#!/bin/sh\nsleep 5\n"));
    ok.run({}, Cancel()); // warm up lazily opened descriptors
    const int before = testsupport::openDescriptorCount();
    for (int i = 0; i < 300; ++i) {
        switch (i % 4) {
        case 0:
            ok.run({}, Cancel());
            break;
        case 1:
            EXPECT_THROW(failing.run({}, Cancel()), ADBError);
            break;
        case 2:
            EXPECT_THROW(failing.run({}, [](double) {}, Cancel()), ADBError);
            break;
        case 3: {
            std::stop_source stop;
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                stop.request_stop();
            });
            EXPECT_THROW(slow.run({}, i % 8 == 3 ? Progress([](double) {}) : Progress(), Cancel(stop.get_token())),
                         Cancelled);
            canceller.join();
            break;
        }
        }
    }
    EXPECT_EQ(testsupport::openDescriptorCount(), before);
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

TEST(ADBLocate, EarlierCandidatesWinAndMissingOnesAreSkipped)
{
    QTemporaryDir home;
    QTemporaryDir sdk;
    const QByteArray oldHome = qgetenv("ANDROID_HOME");
    qputenv("ANDROID_HOME", sdk.path().toLocal8Bit());
    QStringList candidates = ADB::candidatePaths();
    EXPECT_EQ(candidates.indexOf(sdk.path() + QStringLiteral("/platform-tools/adb")), 1);
    EXPECT_LT(candidates.indexOf(QStringLiteral("/usr/local/bin/adb")), candidates.indexOf(QStringLiteral("/usr/bin/adb")));

    // No adb in ANDROID_HOME: a later place is used.
    auto fallback = ADB::locate();
    if (fallback) {
        EXPECT_NE(fallback->executable, sdk.path() + QStringLiteral("/platform-tools/adb"));
    }

    QDir(sdk.path()).mkpath(QStringLiteral("platform-tools"));
    testsupport::writeScript(sdk.path() + QStringLiteral("/platform-tools"), QStringLiteral("adb"), "#!/bin/sh\n");
    auto found = ADB::locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->executable, sdk.path() + QStringLiteral("/platform-tools/adb"));

    // A file without execute permission does not count.
    QFile::setPermissions(found->executable, QFileDevice::ReadOwner);
    auto again = ADB::locate();
    EXPECT_TRUE(!again || again->executable != found->executable);

    if (oldHome.isNull())
        qunsetenv("ANDROID_HOME");
    else
        qputenv("ANDROID_HOME", oldHome);
}
