// Files through adb's sync service: a slowed transfer interrupted part-way,
// and transfers kept inside the storage. Copies themselves are shown by the
// PhoneFiles contract over ADBFiles.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ChildProcess.h"

#include <chrono>
#include <csignal>

namespace {

class AdbPhoneSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(local.isValid());
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    }

    QString localPath(const QString& relative) const { return local.path() + QLatin1Char('/') + relative; }

    static void write(const QString& path, const QByteArray& contents)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(contents);
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    FakePhoneHarness::Result adb(const QStringList& arguments)
    {
        return phone.runAdb(QStringList {QStringLiteral("-s"), phone.serial()} + arguments);
    }

    // Starts adb in the background (for a transfer that is to be interrupted).
    std::unique_ptr<ChildProcess> startAdb(const QStringList& arguments)
    {
        ChildProcess::Options options;
        options.program = phone.adbPath();
        options.arguments = QStringList {QStringLiteral("-s"), phone.serial()} + arguments;
        options.output = ChildProcess::Output::Merged;
        return ChildProcess::start(options);
    }

    QTemporaryDir local;
    FakePhoneHarness phone;
};

} // namespace

TEST_F(AdbPhoneSync, ASlowedTransferCanBeInterruptedAndThePhoneCarriesOn)
{
    // Big enough that what the sockets between adb and its server can hold
    // is a small part of it: a killed push then really stops part-way.
    const qsizetype size = 32 * 1024 * 1024;
    write(localPath(QStringLiteral("slow.bin")), QByteArray(size, 'u'));
    write(phone.storage() + QStringLiteral("/slow-out.bin"), QByteArray(size, 'd'));
    phone.setChunkDelay(10); // 512 chunks: several seconds

    for (const bool push : {true, false}) {
        const QString target = push ? phone.storage() + QStringLiteral("/slow.bin") : localPath(QStringLiteral("slow-out.bin"));
        auto client = startAdb(push ? QStringList {QStringLiteral("push"), localPath(QStringLiteral("slow.bin")), QStringLiteral("/sdcard/slow.bin")}
                                    : QStringList {QStringLiteral("pull"), QStringLiteral("/sdcard/slow-out.bin"), localPath(QStringLiteral("slow-out.bin"))});
        ASSERT_TRUE(testsupport::waitUntil([&] { return QFileInfo(target).size() > 0; }, std::chrono::seconds(10)));
        EXPECT_LT(QFileInfo(target).size(), size); // still under way
        client->signal(SIGKILL);
        client->wait();
        if (push) {
            // Once the server has passed on what adb had written, the phone
            // hears that the stream closed and removes the unfinished file.
            EXPECT_TRUE(testsupport::waitUntil([&] { return !QFileInfo::exists(target); }, std::chrono::seconds(10)));
        }
    }

    EXPECT_TRUE(testsupport::processAlive(phone.phonePid()));
    phone.setChunkDelay(0);
    const auto after = phone.shell(QStringLiteral("echo alive"));
    EXPECT_EQ(after.status, 0);
    EXPECT_EQ(after.out, QByteArray("alive\n"));
}

TEST_F(AdbPhoneSync, TransfersStayInsideTheStorage)
{
    write(localPath(QStringLiteral("note.txt")), "note");
    const QString outside = QFileInfo(phone.storage()).path(); // the harness's own folder

    // ".." cannot climb out of /sdcard: the phone's root is the storage.
    const auto climbed = adb({QStringLiteral("push"), localPath(QStringLiteral("note.txt")), QStringLiteral("/sdcard/../../climbed.txt")});
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("/climbed.txt")));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(outside).path() + QStringLiteral("/climbed.txt")));
    if (climbed.status == 0) {
        EXPECT_EQ(read(phone.storage() + QStringLiteral("/climbed.txt")), QByteArray("note"));
    }

    // Nor can a link that points out of it.
    ASSERT_TRUE(QFile::link(outside, phone.storage() + QStringLiteral("/out")));
    adb({QStringLiteral("push"), localPath(QStringLiteral("note.txt")), QStringLiteral("/sdcard/out/linked.txt")});
    EXPECT_FALSE(QFileInfo::exists(outside + QStringLiteral("/linked.txt")));
    const auto secret = adb({QStringLiteral("pull"), QStringLiteral("/sdcard/out/control/replies.json"), localPath(QStringLiteral("secret"))});
    EXPECT_NE(secret.status, 0);
    EXPECT_FALSE(QFileInfo::exists(localPath(QStringLiteral("secret"))));

    // Places of the phone outside its storage cannot be written.
    const auto elsewhere = adb({QStringLiteral("push"), localPath(QStringLiteral("note.txt")), QStringLiteral("/data/local/tmp/note.txt")});
    EXPECT_NE(elsewhere.status, 0);
}
