// Shell commands through the real adb: the phone's real shell over its
// storage, exit status and stderr through shell protocol v2, scripted answers.
#include "FakePhoneHarness.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

class AdbPhoneShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    }
    FakePhoneHarness phone;
};

} // namespace

TEST_F(AdbPhoneShell, ExitStatusAndStandardErrorReachTheAdbClient)
{
    const auto result = phone.shell(QStringLiteral("echo out; echo oops >&2; exit 3"));
    EXPECT_EQ(result.status, 3);
    EXPECT_EQ(result.out, QByteArray("out\n"));
    EXPECT_EQ(result.err, QByteArray("oops\n"));
    EXPECT_EQ(phone.receivedCommands(), QStringList {QStringLiteral("echo out; echo oops >&2; exit 3")});
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

TEST_F(AdbPhoneShell, AScriptedReplyAnswersInsteadOfTheShellUntilTheRepliesAreCleared)
{
    const QString command = QStringLiteral("touch /sdcard/ran; getprop ro.build.version.release");
    phone.setReply(command, {QByteArray("13\n"), QByteArray("warning\n"), 7});
    const auto result = phone.shell(command);
    EXPECT_EQ(result.status, 7);
    EXPECT_EQ(result.out, QByteArray("13\n"));
    EXPECT_EQ(result.err, QByteArray("warning\n"));
    EXPECT_FALSE(QFileInfo::exists(phone.storage() + QStringLiteral("/ran")));

    phone.clearReplies();
    EXPECT_EQ(phone.shell(command).status, 127); // now the real shell runs it, and has no getprop
    EXPECT_TRUE(QFileInfo::exists(phone.storage() + QStringLiteral("/ran")));
}
