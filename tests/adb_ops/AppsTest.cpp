// The app list runs its three adb commands at once: a failing one, or a
// cancel, must end the others rather than wait for them.
#include "ADBTools.h"
#include "TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(AppListCommands, AFailedListOrACancelEndsEveryOtherCommand)
{
    // Every command runs for half a minute unless ended; for the serial
    // "failing", "pm list packages -3" fails at once.
    QTemporaryDir dir;
    const ADB adb(testsupport::writeScript(dir.path(), QStringLiteral("adb"),
                                           "#!/bin/sh\n"
                                           "if [ \"$2\" = failing ] && [ \"$4\" = 'pm list packages -3' ]; then\n"
                                           "  echo 'error: closed' >&2; exit 1\n"
                                           "fi\n"
                                           "exec sleep 30\n"));
    const auto started = std::chrono::steady_clock::now();
    try {
        adb.apps(QStringLiteral("failing"), Cancel());
        ADD_FAILURE() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("error: closed"));
    }
    std::stop_source stop;
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    EXPECT_THROW(adb.apps(QStringLiteral("SER1"), Cancel(stop.get_token())), Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)); // not the 30 s of a command
    EXPECT_EQ(testsupport::reapZombies(), 0);
}
