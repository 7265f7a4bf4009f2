// The app list runs its three adb commands at once: a failing one, or a
// cancel, must end the others rather than wait for them.
#include "ADBTools.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// An adb stand-in whose commands run for half a minute unless ended; for the
// serial "failing", "pm list packages -3" fails at once.
class AppListCommands : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ADB adb {testsupport::writeScript(dir.path(), QStringLiteral("adb"),
                                      "#!/bin/sh\n"
                                      "if [ \"$2\" = failing ] && [ \"$4\" = 'pm list packages -3' ]; then\n"
                                      "  echo 'error: closed' >&2; exit 1\n"
                                      "fi\n"
                                      "exec sleep 30\n")};
    const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
    bool endedSoon() const { return std::chrono::steady_clock::now() - started < std::chrono::seconds(10); }
};

TEST_F(AppListCommands, AFailedListFailsTheCallAndEndsTheOthers)
{
    try {
        adb.apps(QStringLiteral("failing"), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("error: closed"));
    }
    EXPECT_TRUE(endedSoon());
}

TEST_F(AppListCommands, CancellingEndsEveryCommand)
{
    std::stop_source stop;
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    EXPECT_THROW(adb.apps(QStringLiteral("SER1"), Cancel(stop.get_token())), Cancelled);
    canceller.join();
    EXPECT_TRUE(endedSoon());
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

} // namespace
