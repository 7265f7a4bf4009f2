// The harness cleans up after itself (the private adb server, the phone and
// the environment end with it), and the phone's shell writes only its storage.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

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

namespace {

bool mounted(const QString& path)
{
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    return table.open(QIODevice::ReadOnly) && table.readAll().contains(" " + QFile::encodeName(path) + " ");
}

} // namespace

// The switch the copy tests use for a phone whose shared storage ignores
// letter case: the phone's shell, adb's transfers and the harness's own view
// of the storage all take "Photo.jpg" and "PHOTO.JPG" for one item; a new
// item keeps the spelling it was made with, and a pushed file, which takes
// the old one's place as adbd does (removed, then made anew), the one it was
// sent to. Stop leaves no mount behind.
TEST(AdbPhoneConnection, CaselessStorageIgnoresLetterCaseEverywhereAndStopUnmountsIt)
{
    if (const QString why = FakePhoneHarness::caselessStorageUnavailable(); !why.isEmpty())
        GTEST_SKIP() << "no storage that ignores letter case here: " << why.toStdString();
    FakePhoneHarness::Options options;
    options.caselessStorage = true;
    auto phone = std::make_unique<FakePhoneHarness>(options);
    QString error;
    ASSERT_TRUE(phone->start(&error)) << error.toStdString();
    const QString storage = phone->storage();
    EXPECT_TRUE(mounted(storage));

    QFile old(storage + QStringLiteral("/Photo.jpg"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    EXPECT_EQ(phone->shell(QStringLiteral("cat /sdcard/photo.JPG")).out, QByteArray("old"));

    QTemporaryDir computer;
    const QString newer = computer.filePath(QStringLiteral("new.jpg"));
    QFile file(newer);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write("newer") == 5);
    file.close();
    EXPECT_EQ(phone->runAdb({QStringLiteral("-s"), phone->serial(), QStringLiteral("push"), newer,
                             QStringLiteral("/sdcard/PHOTO.JPG")}).status, 0);
    EXPECT_EQ(phone->shell(QStringLiteral("mkdir /sdcard/Album && echo x > /sdcard/ALBUM/Note.txt && ls /sdcard")).out,
              QByteArray("Album\nPHOTO.JPG\n"));
    EXPECT_EQ(QDir(storage).entryList(QDir::Files), QStringList {QStringLiteral("PHOTO.JPG")});
    QFile replaced(storage + QStringLiteral("/photo.jpg"));
    EXPECT_TRUE(replaced.open(QIODevice::ReadOnly) && replaced.readAll() == "newer");
    const QString pulled = computer.filePath(QStringLiteral("note"));
    EXPECT_EQ(phone->runAdb({QStringLiteral("-s"), phone->serial(), QStringLiteral("pull"),
                             QStringLiteral("/sdcard/album/NOTE.TXT"), pulled}).status, 0);
    EXPECT_EQ(QFileInfo(pulled).size(), 2);

    phone.reset();
    EXPECT_FALSE(mounted(storage));
    EXPECT_FALSE(QFileInfo::exists(storage));
}
