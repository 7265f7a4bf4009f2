// Quitting while an app action runs: the process still ends.
#include <QProcess>

#include <gtest/gtest.h>

namespace {

TEST(AppsQuit, AnActionWhoseAnswerIsStillQueuedDoesNotHoldUpTheExit)
{
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QStringLiteral(APPS_QUIT_PROBE), {});
    ASSERT_TRUE(probe.waitForStarted(10000));
    const bool exited = probe.waitForFinished(20000);
    if (!exited) {
        probe.kill();
        probe.waitForFinished(5000);
    }
    EXPECT_TRUE(exited) << "the process hung on its way out";
    EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit) << probe.readAll().toStdString();
    EXPECT_EQ(probe.exitCode(), 0) << probe.readAll().toStdString();
}

} // namespace
