// Files through adb's sync service: push and pull of files and folders, the
// modification time kept by "pull -a", and the knobs that slow a transfer down
// or cut the connection in the middle of one.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <random>

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

    static QByteArray randomBytes(qsizetype size)
    {
        std::mt19937 random(static_cast<unsigned>(size));
        QByteArray bytes(size, Qt::Uninitialized);
        for (char& c : bytes)
            c = static_cast<char>(random() & 0xff);
        return bytes;
    }

    static void write(const QString& path, const QByteArray& contents, qint64 mtime = 0)
    {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(contents);
        if (mtime > 0) {
            ASSERT_TRUE(file.setFileTime(QDateTime::fromSecsSinceEpoch(mtime), QFileDevice::FileModificationTime));
        }
    }

    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    static qint64 mtime(const QString& path)
    {
        return QFileInfo(path).lastModified().toSecsSinceEpoch();
    }

    // Relative path -> contents of every file below `root`.
    static QMap<QString, QByteArray> tree(const QString& root)
    {
        QMap<QString, QByteArray> files;
        QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            files.insert(QDir(root).relativeFilePath(path), read(path));
        }
        return files;
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

TEST_F(AdbPhoneSync, PushThenPullOfAFileKeepsContentAndPullKeepsTheTime)
{
    const QByteArray contents = randomBytes(300 * 1024 + 17); // several chunks and a short one
    write(localPath(QStringLiteral("photo.jpg")), contents, 1600000000);

    const auto pushed = adb({QStringLiteral("push"), localPath(QStringLiteral("photo.jpg")), QStringLiteral("/sdcard/DCIM/photo.jpg")});
    ASSERT_EQ(pushed.status, 0) << pushed.err.toStdString();
    EXPECT_EQ(read(phone.storage() + QStringLiteral("/DCIM/photo.jpg")), contents);
    EXPECT_TRUE(phone.receivedCommands().contains(QStringLiteral("sync:SEND /sdcard/DCIM/photo.jpg")));

    // The phone's copy gets a time of its own; pull -a brings that one.
    QFile onPhone(phone.storage() + QStringLiteral("/DCIM/photo.jpg"));
    ASSERT_TRUE(onPhone.open(QIODevice::ReadWrite));
    ASSERT_TRUE(onPhone.setFileTime(QDateTime::fromSecsSinceEpoch(1650000000), QFileDevice::FileModificationTime));
    onPhone.close();

    const auto pulled = adb({QStringLiteral("pull"), QStringLiteral("-a"), QStringLiteral("/sdcard/DCIM/photo.jpg"), localPath(QStringLiteral("back.jpg"))});
    ASSERT_EQ(pulled.status, 0) << pulled.err.toStdString();
    EXPECT_EQ(read(localPath(QStringLiteral("back.jpg"))), contents);
    EXPECT_EQ(mtime(localPath(QStringLiteral("back.jpg"))), 1650000000);
    EXPECT_TRUE(phone.receivedCommands().contains(QStringLiteral("sync:RECV /sdcard/DCIM/photo.jpg")));

    const auto missing = adb({QStringLiteral("pull"), QStringLiteral("/sdcard/none.jpg"), localPath(QStringLiteral("none.jpg"))});
    EXPECT_NE(missing.status, 0);
    EXPECT_TRUE((missing.out + missing.err).contains("does not exist")) << missing.out.toStdString();
}

TEST_F(AdbPhoneSync, FoldersTravelWithEverythingInThem)
{
    write(localPath(QStringLiteral("Trip/day 1/a.txt")), "first");
    write(localPath(QStringLiteral("Trip/day 1/It's.txt")), "quote");
    write(localPath(QStringLiteral("Trip/day 2/deeper/b.bin")), randomBytes(70000));
    write(localPath(QStringLiteral("Trip/.hidden")), "dot");

    const auto pushed = adb({QStringLiteral("push"), localPath(QStringLiteral("Trip")), QStringLiteral("/sdcard/")});
    ASSERT_EQ(pushed.status, 0) << pushed.err.toStdString();
    EXPECT_EQ(tree(phone.storage() + QStringLiteral("/Trip")), tree(localPath(QStringLiteral("Trip"))));

    const auto pulled = adb({QStringLiteral("pull"), QStringLiteral("-a"), QStringLiteral("/sdcard/Trip"), localPath(QStringLiteral("Back"))});
    ASSERT_EQ(pulled.status, 0) << pulled.err.toStdString();
    EXPECT_EQ(tree(localPath(QStringLiteral("Back"))), tree(localPath(QStringLiteral("Trip"))));
    EXPECT_EQ(mtime(localPath(QStringLiteral("Back/day 2/deeper/b.bin"))),
              mtime(phone.storage() + QStringLiteral("/Trip/day 2/deeper/b.bin")));
}

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

TEST_F(AdbPhoneSync, ADroppedConnectionFailsTheTransferAndThePhoneComesBack)
{
    const QByteArray contents = randomBytes(1024 * 1024);
    write(phone.storage() + QStringLiteral("/movie.mp4"), contents);
    phone.dropAfterBytes(200 * 1024);

    const auto pulled = adb({QStringLiteral("pull"), QStringLiteral("/sdcard/movie.mp4"), localPath(QStringLiteral("movie.mp4"))});
    EXPECT_NE(pulled.status, 0);
    EXPECT_NE(read(localPath(QStringLiteral("movie.mp4"))), contents);

    // Once: adb finds the phone again and the same pull then works.
    ASSERT_TRUE(phone.waitForState(QStringLiteral("device"), 15000)) << phone.state().toStdString();
    const auto again = adb({QStringLiteral("pull"), QStringLiteral("/sdcard/movie.mp4"), localPath(QStringLiteral("movie.mp4"))});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(read(localPath(QStringLiteral("movie.mp4"))), contents);

    // The same for a push: the partial file does not stay on the phone.
    write(localPath(QStringLiteral("upload.bin")), contents);
    phone.dropAfterBytes(300 * 1024);
    const auto pushed = adb({QStringLiteral("push"), localPath(QStringLiteral("upload.bin")), QStringLiteral("/sdcard/upload.bin")});
    EXPECT_NE(pushed.status, 0);
    EXPECT_FALSE(QFileInfo::exists(phone.storage() + QStringLiteral("/upload.bin")));
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
