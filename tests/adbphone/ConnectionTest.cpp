// The harness cleans up after itself (the private adb server, the phone and
// the environment end with it), and the phone's shell writes only its storage.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <memory>

TEST(AdbPhoneConnection, TheShellStaysInsideAndStopEndsTheServerAndThePhoneAndRestoresTheEnvironment)
{
    const QByteArray homeBefore = qgetenv("HOME");
    const bool portSetBefore = qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT");
    auto phone = std::make_unique<FakePhoneHarness>();
    QString error;
    ASSERT_TRUE(phone->start(&error)) << error.toStdString();
    const qint64 pids[] {phone->serverPid(), phone->phonePid()};
    const QString storage = phone->storage();
    EXPECT_TRUE(testsupport::processAlive(pids[0]) && testsupport::processAlive(pids[1]));
    EXPECT_NE(qgetenv("HOME"), homeBefore);

    const QString hostFile = QDir::tempPath() + QStringLiteral("/fakeadbphone-escape-check");
    QFile::remove(hostFile);
    const auto result = phone->shell(QStringLiteral("echo hi > /sdcard/g; echo x > %1; ls /").arg(hostFile));
    EXPECT_TRUE(QFileInfo::exists(storage + QStringLiteral("/g")));
    EXPECT_FALSE(QFileInfo::exists(hostFile));
    EXPECT_FALSE(result.out.contains("work\n"));
    EXPECT_TRUE(result.out.contains("sdcard\n"));

    phone.reset();
    for (const qint64 pid : pids)
        EXPECT_FALSE(testsupport::processAlive(pid));
    EXPECT_FALSE(QFileInfo::exists(storage));
    EXPECT_EQ(qgetenv("HOME"), homeBefore);
    EXPECT_EQ(qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT"), portSetBefore);
}
