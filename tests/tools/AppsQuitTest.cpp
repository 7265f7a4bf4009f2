// Quitting while an app action runs: the process still ends.
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ProbeEnd {
    bool exited = false;
    QProcess::ExitStatus status = QProcess::CrashExit;
    int code = -1;
    QByteArray output;
};

ProbeEnd runProbe(const QStringList& arguments)
{
    ProbeEnd end;
    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    probe.start(QStringLiteral(APPS_QUIT_PROBE), arguments);
    if (!probe.waitForStarted(10000))
        return end;
    end.exited = probe.waitForFinished(20000);
    if (!end.exited) {
        probe.kill();
        probe.waitForFinished(5000);
    }
    end.status = probe.exitStatus();
    end.code = probe.exitCode();
    end.output = probe.readAll();
    return end;
}

// Mended: quitting during Save APK left the package cut short under its final
// name, where it looked like a whole one.
TEST(AppsQuit, ASaveStoppedByQuittingLeavesNoPartOfThePackage)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const ProbeEnd end = runProbe({QStringLiteral("--save"), folder.path()});
    EXPECT_TRUE(end.exited);
    EXPECT_EQ(end.code, 0) << "3: a part was left; " << end.output.toStdString();
}

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
