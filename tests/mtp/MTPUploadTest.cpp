// Pushing to the phone: where the copy lands and under which name, what it
// replaces or merges into, and what a cancelled or inconsistent copy leaves.
#include "FilesFixture.h"

using namespace mtp;

namespace {

class MTPUpload : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        download = phone->addFolder(0, QStringLiteral("Download"));
        photo = local(QStringLiteral("a.jpg"));
        ASSERT_TRUE(write(photo, bytesOf(5000)));
    }

    std::optional<QByteArray> onPhone(const QString& path) const
    {
        const auto object = phone->objectAt(path);
        if (!object || object->isFolder())
            return std::nullopt;
        return object->content->bytes();
    }
    bool folderOnPhone(const QString& path) const
    {
        const auto object = phone->objectAt(path);
        return object && object->isFolder();
    }

    uint32_t download = 0;
    QString photo;
};

TEST_F(MTPUpload, ATrailingSlashKeepsTheNameAFullPathRenames)
{
    files().push(photo, QStringLiteral("/sdcard/Download/"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/a.jpg")), bytesOf(5000));
    files().push(photo, QStringLiteral("/sdcard/Download/b.jpg"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/b.jpg")), bytesOf(5000));
    files().push(photo, QStringLiteral("/sdcard/New/Sub/"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("New/Sub/a.jpg")), bytesOf(5000));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPUpload, AFileReplacesAFolderAndAFolderReplacesAFile)
{
    const uint32_t old = phone->addFolder(download, QStringLiteral("a.jpg"));
    phone->addFile(old, QStringLiteral("inside"), QByteArray("gone"));
    files().push(photo, QStringLiteral("/sdcard/Download/"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/a.jpg")), bytesOf(5000));
    EXPECT_FALSE(phone->object(old));

    const QString folder = local(QStringLiteral("a.jpg.d"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(write(folder + QStringLiteral("/in.txt"), "in"));
    files().push(folder, QStringLiteral("/sdcard/Download/a.jpg"), {}, Cancel());
    EXPECT_TRUE(folderOnPhone(QStringLiteral("Download/a.jpg")));
    EXPECT_EQ(onPhone(QStringLiteral("Download/a.jpg/in.txt")), QByteArray("in"));
}

TEST_F(MTPUpload, AFolderMergesIntoAFolderOfTheSameName)
{
    const uint32_t trip = phone->addFolder(download, QStringLiteral("Trip"));
    phone->addFile(trip, QStringLiteral("kept.txt"), QByteArray("kept"));
    phone->addFile(trip, QStringLiteral("same.txt"), QByteArray("old"));
    const QString folder = local(QStringLiteral("Trip"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(write(folder + QStringLiteral("/same.txt"), "new"));
    ASSERT_TRUE(write(folder + QStringLiteral("/.hidden"), "h"));

    files().push(folder, QStringLiteral("/sdcard/Download/"), {}, Cancel());
    EXPECT_EQ(phone->objectAt(QStringLiteral("Download/Trip"))->handle, trip);
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/kept.txt")), QByteArray("kept"));
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/same.txt")), QByteArray("new"));
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/.hidden")), QByteArray("h"));
}

TEST_F(MTPUpload, AnEmptyFileSendsAHeaderAloneAndNoProgress)
{
    const QString empty = local(QStringLiteral("empty.txt"));
    ASSERT_TRUE(write(empty, QByteArray()));
    ProgressRecord progress;
    files().push(empty, QStringLiteral("/sdcard/Download/"), progress.callback(), Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/empty.txt")), QByteArray());
    EXPECT_EQ(phone->dataLengths().back(), 12u);
    EXPECT_TRUE(progress.values.empty());
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPUpload, ProgressRisesToOneOverAFolder)
{
    const QString folder = local(QStringLiteral("Batch"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/deep")));
    ASSERT_TRUE(write(folder + QStringLiteral("/one.bin"), bytesOf(3 * MiB)));
    ASSERT_TRUE(write(folder + QStringLiteral("/deep/two.bin"), bytesOf(2 * MiB + 1)));
    ProgressRecord progress;
    files().push(folder, QStringLiteral("/sdcard/Batch"), progress.callback(), Cancel());
    EXPECT_GE(progress.values.size(), 5u);
    EXPECT_TRUE(progress.risesWithin0And1());
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(onPhone(QStringLiteral("Batch/deep/two.bin")), bytesOf(2 * MiB + 1));
}

TEST_F(MTPUpload, APhoneThatGivesNoHandleGetsNoFile)
{
    phone->configure([](auto& s) { s.sendObjectInfoWithoutHandle = true; });
    const auto error = mtpErrorOf([&] { files().push(photo, QStringLiteral("/sdcard/Download/"), {}, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone didn't accept the file."));
    EXPECT_EQ(sent(Operation::sendObject), 0);
}

TEST_F(MTPUpload, ACancelledUploadRemovesItsPartAndKeepsWhatWasDone)
{
    const QString folder = local(QStringLiteral("Batch"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(write(folder + QStringLiteral("/small.txt"), "small"));
    ASSERT_TRUE(write(folder + QStringLiteral("/big.bin"), bytesOf(6 * MiB)));
    std::stop_source stop;
    // Cancelled once the big file is under way.
    const Progress cancelInBig = [&](double) {
        if (phone->objectAt(QStringLiteral("Batch/big.bin")))
            stop.request_stop();
    };
    EXPECT_THROW(files().push(folder, QStringLiteral("/sdcard/Batch"), cancelInBig, Cancel(stop.get_token())),
                 Cancelled);
    EXPECT_FALSE(phone->objectAt(QStringLiteral("Batch/big.bin"))) << "the partial object was deleted";
    EXPECT_EQ(phone->commandCodes().back(), Operation::deleteObject);
    // Finished before the big one, or never started: never half there.
    const auto small = onPhone(QStringLiteral("Batch/small.txt"));
    EXPECT_TRUE(!small || *small == "small");
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/Batch"), Cancel()));
}

TEST_F(MTPUpload, AFileThatChangesSizeMidwayFailsAndLeavesNothingHalfSent)
{
    const QString path = local(QStringLiteral("growing.log"));
    for (const bool grow : {false, true}) {
        SCOPED_TRACE(grow ? "grows" : "shrinks");
        ASSERT_TRUE(write(path, bytesOf(4 * MiB)));
        phone->clearRecords();
        bool changed = false;
        const Progress change = [&](double) {
            if (std::exchange(changed, true))
                return;
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadWrite));
            if (grow) {
                file.seek(file.size());
                file.write(bytesOf(MiB));
            } else {
                file.resize(MiB + MiB / 2);
            }
        };
        try {
            files().push(path, QStringLiteral("/sdcard/Download/"), change, Cancel());
            ADD_FAILURE() << "the copy succeeded";
        } catch (const SystemError& error) {
            EXPECT_EQ(error.description(), QStringLiteral("“growing.log” changed size while it was being copied to the "
                                                          "phone. Try again once it has finished changing."));
        }
        EXPECT_FALSE(phone->objectAt(QStringLiteral("Download/growing.log")));
        EXPECT_TRUE(phone->violations().empty()) << phone->violations().front().toStdString();
        // The session carries on in step.
        files().push(photo, QStringLiteral("/sdcard/Download/"), {}, Cancel());
        EXPECT_EQ(onPhone(QStringLiteral("Download/a.jpg")), bytesOf(5000));
    }
}

} // namespace
