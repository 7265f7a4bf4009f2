// The harness cleans up after itself (the private adb server, the phone and
// the environment end with it), and the phone's shell writes only its storage.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

TEST(AdbPhoneConnection, StopEndsThePrivateServerAndThePhoneAndRestoresTheEnvironment)
{
    const QByteArray homeBefore = qgetenv("HOME");
    const bool portSetBefore = qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT");
    qint64 serverPid = 0;
    qint64 phonePid = 0;
    QString storage;
    {
        FakePhoneHarness phone;
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
        serverPid = phone.serverPid();
        phonePid = phone.phonePid();
        storage = phone.storage();
        ASSERT_GT(serverPid, 0);
        EXPECT_TRUE(testsupport::processAlive(serverPid));
        EXPECT_GT(qgetenv("ANDROID_ADB_SERVER_PORT").toInt(), 0);
        EXPECT_NE(qgetenv("HOME"), homeBefore);
    }
    EXPECT_FALSE(testsupport::processAlive(serverPid));
    EXPECT_FALSE(testsupport::processAlive(phonePid));
    EXPECT_FALSE(QFileInfo::exists(storage));
    EXPECT_EQ(qgetenv("HOME"), homeBefore);
    EXPECT_EQ(qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT"), portSetBefore);

    // A second phone after the first, as a test binary with several tests does.
    FakePhoneHarness second;
    QString error;
    ASSERT_TRUE(second.start(&error)) << error.toStdString();
    EXPECT_NE(second.serverPid(), serverPid);

    // Its shell changes the storage and nothing of the host.
    const QString hostFile = QDir::tempPath() + QStringLiteral("/fakeadbphone-escape-check");
    QFile::remove(hostFile);
    const auto result = second.shell(
        QStringLiteral("echo hi > /sdcard/g; echo x > /usr/fakeadbphone-escape-check; echo x > %1; ls /").arg(hostFile));
    EXPECT_TRUE(QFileInfo::exists(second.storage() + QStringLiteral("/g")));
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/usr/fakeadbphone-escape-check")));
    EXPECT_FALSE(QFileInfo::exists(hostFile));
    EXPECT_FALSE(result.out.contains("work\n"));
    EXPECT_TRUE(result.out.contains("sdcard\n"));
}
