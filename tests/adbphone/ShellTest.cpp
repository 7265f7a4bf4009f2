// Shell commands through the real adb: the phone's real shell over its
// storage, exit status and stderr through shell protocol v2, scripted answers,
// exec-out's raw bytes, and several streams at once.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <future>
#include <vector>

namespace {

class AdbPhoneShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    }

    void writeFile(const QString& relative, const QByteArray& contents = {})
    {
        const QString path = phone.storage() + QLatin1Char('/') + relative;
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }

    FakePhoneHarness phone;
};

QStringList sortedLines(const QByteArray& out)
{
    QStringList lines = QString::fromUtf8(out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    lines.sort();
    return lines;
}

} // namespace

TEST_F(AdbPhoneShell, ExitStatusAndStandardErrorReachTheAdbClient)
{
    const auto result = phone.shell(QStringLiteral("echo out; echo oops >&2; exit 3"));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, QByteArray("out\n"));
    EXPECT_EQ(result.err, QByteArray("oops\n"));
    EXPECT_EQ(phone.receivedCommands(), QStringList {QStringLiteral("echo out; echo oops >&2; exit 3")});
}

TEST_F(AdbPhoneShell, ChangingIntoAMissingFolderFailsWithTheShellsMessage)
{
    const auto result = phone.shell(QStringLiteral("cd '/sdcard/x' || exit 1; echo never"));
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(result.out.isEmpty());
    EXPECT_TRUE(result.err.contains("/sdcard/x")) << result.err.toStdString();
    EXPECT_TRUE(result.err.contains("No such file")) << result.err.toStdString();
}

TEST_F(AdbPhoneShell, StatListsAwkwardNamesOfTheStorageFolder)
{
    writeFile(QStringLiteral("Odd/with space.txt"), "12345");
    writeFile(QStringLiteral("Odd/It's"));
    writeFile(QStringLiteral("Odd/a|b.txt"), "x");
    writeFile(QStringLiteral("Odd/.nomedia"));
    QDir().mkpath(phone.storage() + QStringLiteral("/Odd/Camera"));
    QFile handle(phone.storage() + QStringLiteral("/Odd/with space.txt"));
    ASSERT_TRUE(handle.open(QIODevice::ReadWrite));
    ASSERT_TRUE(handle.setFileTime(QDateTime::fromSecsSinceEpoch(1700000123), QFileDevice::FileModificationTime));
    handle.close();

    const auto result = phone.shell(
        QStringLiteral("cd '/sdcard/Odd' || exit 1; stat -L -c '%F|%s|%Y|%n' -- * .* 2>/dev/null; true"));
    EXPECT_EQ(result.status, 0) << result.err.toStdString();
    const QStringList lines = sortedLines(result.out);
    EXPECT_TRUE(lines.contains(QStringLiteral("regular file|5|1700000123|with space.txt"))) << lines.join('\n').toStdString();
    EXPECT_TRUE(lines.contains(QStringLiteral("regular file|1|") + QString::number(QFileInfo(phone.storage() + QStringLiteral("/Odd/a|b.txt")).lastModified().toSecsSinceEpoch()) + QStringLiteral("|a|b.txt")));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith(QStringLiteral("regular empty file|0|")) && l.endsWith(QStringLiteral("|It's")); }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.startsWith(QStringLiteral("directory|")) && l.endsWith(QStringLiteral("|Camera")); }));
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const QString& l) { return l.endsWith(QStringLiteral("|.nomedia")); }));

    // A quoted path with a single quote in it reaches the folder.
    const auto quoted = phone.shell(QStringLiteral("cd '/sdcard/Odd' && test -e 'It'\\''s' && echo yes"));
    EXPECT_EQ(quoted.out, QByteArray("yes\n"));
}

TEST_F(AdbPhoneShell, TheShellChangesTheStorageButNothingOfTheHost)
{
    EXPECT_EQ(phone.shell(QStringLiteral("mkdir -p /sdcard/new/deep && echo hi > /sdcard/new/deep/f && mv /sdcard/new/deep/f /sdcard/new/g")).status, 0);
    EXPECT_TRUE(QFileInfo::exists(phone.storage() + QStringLiteral("/new/g")));

    const QString hostFile = QDir::tempPath() + QStringLiteral("/fakeadbphone-escape-check");
    QFile::remove(hostFile);
    const auto result = phone.shell(QStringLiteral("echo x > /usr/fakeadbphone-escape-check; echo x > %1; ls /").arg(hostFile));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/fakeadbphone-escape-check")));
    EXPECT_FALSE(QFileInfo::exists(hostFile));
    EXPECT_TRUE(result.err.contains("Read-only file system") || result.err.contains("No such file")) << result.err.toStdString();
    // The host's own folders (and the test's) are not part of the phone.
    EXPECT_FALSE(result.out.contains("work\n"));
    EXPECT_TRUE(result.out.contains("sdcard\n"));
}

TEST_F(AdbPhoneShell, AScriptedReplyAnswersInsteadOfTheShellAndIsRecorded)
{
    const QString command = QStringLiteral("touch /sdcard/ran; getprop ro.build.version.release");
    phone.setReply(command, {QByteArray("13\n"), QByteArray("warning\n"), 7});
    phone.clearReceived();

    const auto result = phone.shell(command);
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.out, QByteArray("13\n"));
    EXPECT_EQ(result.err, QByteArray("warning\n"));
    EXPECT_FALSE(QFileInfo::exists(phone.storage() + QStringLiteral("/ran")));
    EXPECT_EQ(phone.receivedCommands(), QStringList {command});

    // The default table answers what the host has no program for.
    EXPECT_EQ(phone.shell(QStringLiteral("getprop ro.product.model")).out, QByteArray("Pixel 7\n"));

    phone.clearReplies();
    EXPECT_EQ(phone.shell(command).status, 127); // now the real shell runs it, and has no getprop
    EXPECT_TRUE(QFileInfo::exists(phone.storage() + QStringLiteral("/ran")));
}

TEST_F(AdbPhoneShell, TheDefaultTableAnswersTheDevicePanelsFacts)
{
    // The facts command as the device panel sends it, which needs getprop and dumpsys.
    const auto facts = phone.shell(QStringLiteral(
        "echo \"ver=$(getprop ro.build.version.release)\"; echo \"mfr=$(getprop ro.product.manufacturer)\"; "
        "dumpsys battery 2>/dev/null | grep -E '^ *(level|status):'; "
        "echo \"df=$(df -k /sdcard/ 2>/dev/null | tail -n 1)\""));
    EXPECT_EQ(facts.status, 0);
    EXPECT_TRUE(facts.out.startsWith("ver=14\nmfr=")) << facts.out.toStdString();
    EXPECT_TRUE(facts.out.contains("\n  level: 85\n")) << facts.out.toStdString();
    EXPECT_TRUE(facts.out.contains("\ndf=")) << facts.out.toStdString();
}

TEST_F(AdbPhoneShell, ExecOutReturnsTheExactBytes)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 70000; ++i)
        png.append(static_cast<char>(i * 7 % 256)); // every byte value, more than one payload
    png.append("\n\r\0\xff", 4);
    phone.setReply(QStringLiteral("screencap '-p'"), {png, {}, 0});

    const auto result = phone.runAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("exec-out"),
                                      QStringLiteral("screencap"), QStringLiteral("-p")});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out.size(), png.size());
    EXPECT_TRUE(result.out == png);
    EXPECT_EQ(phone.receivedCommands().value(0), QStringLiteral("exec:screencap '-p'"));
}

TEST_F(AdbPhoneShell, LargeOutputAndSeveralCommandsAtOnceArriveWhole)
{
    std::vector<std::future<FakePhoneHarness::Result>> runs;
    for (int i = 0; i < 4; ++i) {
        runs.push_back(std::async(std::launch::async, [this, i] {
            return phone.shell(QStringLiteral("sleep 0.2; head -c %1 /dev/zero | tr '\\0' '%2'").arg(1500000 + i).arg(i));
        }));
    }
    for (int i = 0; i < 4; ++i) {
        const auto result = runs[static_cast<size_t>(i)].get();
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, QByteArray(1500000 + i, static_cast<char>('0' + i)));
    }
}

TEST_F(AdbPhoneShell, TheLegacyShellServiceRunsCommandsToo)
{
    const auto result = phone.runAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("shell"), QStringLiteral("-x"),
                                      QStringLiteral("echo plain; exit 4")});
    EXPECT_EQ(result.out, QByteArray("plain\n"));
    EXPECT_EQ(result.status, 0); // without shell protocol v2 no exit status travels
}
