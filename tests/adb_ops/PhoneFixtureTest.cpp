#include "PhoneFixture.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <csignal>

#include <sys/types.h>

using namespace std::chrono_literals;

namespace {

// Tests count the adb commands they leave running; an adb client of another
// program on the computer (another test binary running alongside) is not one
// of theirs and must not fail them.
TEST(PhoneFixture, AnAdbClientThisProcessDidNotStartIsNotCounted)
{
    const QString needle = QStringLiteral("pm list packages of-another-program");
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    // Named as an adb client; the shell keeps its arguments and ends on its own.
    const QString standIn = folder.filePath(QStringLiteral("adb-elsewhere"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/bin/sh"), standIn));
    qint64 pid = 0;
    ASSERT_TRUE(QProcess::startDetached(
        standIn, {QStringLiteral("-c"), QStringLiteral("i=0; while [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done"),
                  needle},
        {}, &pid));
    ASSERT_GT(pid, 0);
    const auto runs = [&] {
        QFile line(QStringLiteral("/proc/%1/cmdline").arg(pid));
        return line.open(QIODevice::ReadOnly) && line.readAll().contains(needle.toUtf8());
    };
    const bool started = testsupport::waitUntil(runs, 5s);
    const QStringList counted = phonetest::adbClientsWith(needle);
    ::kill(pid_t(pid), SIGTERM);
    ASSERT_TRUE(started);
    EXPECT_TRUE(counted.isEmpty()) << counted.join(QLatin1Char('\n')).toStdString();
}

} // namespace
