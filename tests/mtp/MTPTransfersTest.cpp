// Copies between the computer and the phone. Pulling: the hidden temporary
// file that becomes the target only when complete, what a failure or
// cancellation leaves, progress, and names from the phone that must not become
// paths here. Pushing: where the copy lands, what it replaces or merges into,
// and what a cancelled or inconsistent copy leaves.
#include "PhoneFixture.h"

#include <future>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mtp;
using namespace std::chrono_literals;

namespace {

// ---- pull -----------------------------------------------------------------------

const QDateTime taken(QDate(2022, 7, 14), QTime(16, 45, 30));

// On the phone Photos/IMG_1.jpg and an empty folder Download; here an older
// IMG_1.jpg.
class MTPCopies : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        photos = phone->addFolder(0, QStringLiteral("Photos"));
        content = bytesOf(3 * MiB + 321);
        phone->addFile(photos, QStringLiteral("IMG_1.jpg"), content, taken);
        download = phone->addFolder(0, QStringLiteral("Download"));
        target = local(QStringLiteral("IMG_1.jpg"));
        ASSERT_TRUE(write(target, "the old file"));
    }

    // Pulls IMG_1.jpg to the target and calls during() once, after the first piece.
    void pullWith(const std::function<void()>& during, const Cancel& cancel = Cancel())
    {
        bool once = false;
        files().pull(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), target,
                     [&](double) {
                         if (!std::exchange(once, true))
                             during();
                     },
                     cancel);
    }

    std::optional<QByteArray> onPhone(const QString& path) const
    {
        const auto object = phone->objectAt(path);
        if (!object || object->isFolder())
            return std::nullopt;
        return object->content->bytes();
    }

    uint32_t photos = 0, download = 0;
    QByteArray content;
    QString target;
};

using MTPDownload = MTPCopies;
using MTPUpload = MTPCopies;

TEST_F(MTPDownload, TheTargetIsReplacedOnlyOnceTheFileIsComplete)
{
    std::optional<QByteArray> meanwhile;
    QStringList namesMeanwhile;
    pullWith([&] {
        meanwhile = read(target);
        namesMeanwhile = entries(temp.path());
    });
    EXPECT_EQ(meanwhile, QByteArray("the old file"));
    EXPECT_EQ(namesMeanwhile, (QStringList{QStringLiteral(".IMG_1.jpg.vantelorquist"), QStringLiteral("IMG_1.jpg")}));

    EXPECT_EQ(read(target), content);
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
    EXPECT_EQ(QFileInfo(target).lastModified(), taken);
}

TEST_F(MTPDownload, ACancelledOrFailedDownloadLeavesTheOldFileAndNoTemporaryFile)
{
    std::stop_source stop;
    EXPECT_THROW(pullWith([&] { stop.request_stop(); }, Cancel(stop.get_token())), Cancelled);
    EXPECT_EQ(read(target), QByteArray("the old file"));
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), Cancel())) << "the phone stays usable";

    const auto error = errorOf([&] {
        pullWith([&] { phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 0, UsbStatus::noDevice, true); });
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_EQ(read(target), QByteArray("the old file"));
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
}

TEST_F(MTPDownload, AFileTakesThePlaceOfAFolderButNotTheOtherWayRound)
{
    const QString into = local(QStringLiteral("Downloads"));
    ASSERT_TRUE(QDir().mkpath(into + QStringLiteral("/IMG_1.jpg/inner")));
    ASSERT_TRUE(write(into + QStringLiteral("/IMG_1.jpg/inner/x"), "x"));
    files().pull(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), into, Cancel());
    EXPECT_EQ(read(into + QStringLiteral("/IMG_1.jpg")), content);

    phone->clearRecords();
    EXPECT_THROW(files().pull(QStringLiteral("/sdcard/Photos"), target, Cancel()), SystemError);
    EXPECT_EQ(sent(Operation::getObject), 0);
    EXPECT_EQ(read(target), QByteArray("the old file"));
}

TEST_F(MTPDownload, ProgressRisesWithTheBytesOfAllFilesUpToOne)
{
    const uint32_t album = phone->addFolder(0, QStringLiteral("Album"));
    const uint32_t inner = phone->addFolder(album, QStringLiteral("Inner"));
    phone->addFile(album, QStringLiteral("a.bin"), bytesOf(4 * MiB));
    phone->addFile(inner, QStringLiteral("b.bin"), bytesOf(5 * MiB + 5));

    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/Album"), local(QStringLiteral("Album")), progress.callback(), Cancel());
    EXPECT_GE(progress.values.size(), 9u);
    EXPECT_TRUE(progress.risesTo1());
    EXPECT_LT(progress.values.front(), 0.2);
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(read(local(QStringLiteral("Album/Inner/b.bin"))), bytesOf(5 * MiB + 5));
}

TEST_F(MTPDownload, NamesFromThePhoneNeverLeaveTheChosenFolder)
{
    const QString into = local(QStringLiteral("Into"));
    ASSERT_TRUE(QDir().mkpath(into));
    const QString outside = local(QStringLiteral("outside.txt"));
    const std::vector<QString> bad = {QStringLiteral(".."), QStringLiteral("."), QStringLiteral("../outside.txt"),
                                      QString(), QStringLiteral("a") + QChar(0) + QStringLiteral("b")};
    for (const QString& name : bad) {
        SCOPED_TRACE(name.toStdString());
        // A folder that holds the bad name, and the bad name at the top.
        const uint32_t holder = phone->addFolder(0, QStringLiteral("Holder"));
        phone->addFile(holder, name, QByteArray("escaped"));
        auto error = errorOf([&] { files().pull(QStringLiteral("/sdcard/Holder"), into, Cancel()); });
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->description().contains(QStringLiteral("can't"))) << error->description().toStdString();
        phone->removeObject(holder);

        if (!name.isEmpty() && !name.contains(QChar(0))) {
            const uint32_t top = phone->addFile(0, name, QByteArray("escaped"));
            error = errorOf([&] { files().pull(QStringLiteral("/sdcard/") + name, into, Cancel()); });
            EXPECT_TRUE(error);
            phone->removeObject(top);
        }
    }
    EXPECT_FALSE(QFileInfo::exists(outside));
    EXPECT_EQ(entries(temp.path()), (QStringList{QStringLiteral("IMG_1.jpg"), QStringLiteral("Into")}));
    const QStringList left = entries(into);
    EXPECT_TRUE(left.isEmpty() || left == QStringList{QStringLiteral("Holder")}) << left.join(u',').toStdString();
}

TEST_F(MTPDownload, TheTemporaryNameStaysWithinTheFileNameLimit)
{
    // 250 bytes of plain letters, and 84 three-byte characters (252 bytes).
    for (const QString& name : {QString(250, QLatin1Char('n')), QString(84, QChar(0x20AC))}) {
        ASSERT_LE(QFile::encodeName(name).size(), 255);
        phone->addFile(photos, name, QByteArray("long"), taken);
        files().pull(QStringLiteral("/sdcard/Photos/") + name, temp.path(), Cancel());
        EXPECT_EQ(read(local(name)), QByteArray("long"));
    }
    EXPECT_EQ(entries(temp.path()).size(), 3);
}

// ---- push -----------------------------------------------------------------------

TEST_F(MTPUpload, AFileReplacesAFolderAndAFolderReplacesAFile)
{
    const uint32_t old = phone->addFolder(download, QStringLiteral("IMG_1.jpg"));
    phone->addFile(old, QStringLiteral("inside"), QByteArray("gone"));
    files().push(target, QStringLiteral("/sdcard/Download/"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/IMG_1.jpg")), QByteArray("the old file"));
    EXPECT_FALSE(phone->object(old));

    const QString folder = local(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(write(folder + QStringLiteral("/in.txt"), "in"));
    files().push(folder, QStringLiteral("/sdcard/Download/IMG_1.jpg"), {}, Cancel());
    EXPECT_EQ(onPhone(QStringLiteral("Download/IMG_1.jpg/in.txt")), QByteArray("in"));
}

TEST_F(MTPUpload, AFolderMergesIntoAFolderOfTheSameNameWithRisingProgress)
{
    const uint32_t trip = phone->addFolder(download, QStringLiteral("Trip"));
    phone->addFile(trip, QStringLiteral("kept.txt"), QByteArray("kept"));
    phone->addFile(trip, QStringLiteral("same.txt"), QByteArray("old"));
    const QString folder = local(QStringLiteral("Trip"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/deep")));
    ASSERT_TRUE(write(folder + QStringLiteral("/same.txt"), bytesOf(3 * MiB)));
    ASSERT_TRUE(write(folder + QStringLiteral("/deep/.hidden"), bytesOf(2 * MiB + 1)));

    ProgressRecord progress;
    files().push(folder, QStringLiteral("/sdcard/Download/"), progress.callback(), Cancel());
    EXPECT_EQ(phone->objectAt(QStringLiteral("Download/Trip"))->handle, trip);
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/kept.txt")), QByteArray("kept"));
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/same.txt")), bytesOf(3 * MiB));
    EXPECT_EQ(onPhone(QStringLiteral("Download/Trip/deep/.hidden")), bytesOf(2 * MiB + 1));
    EXPECT_GE(progress.values.size(), 5u);
    EXPECT_TRUE(progress.risesTo1());
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
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
        files().push(target, QStringLiteral("/sdcard/Download/"), {}, Cancel());
        EXPECT_EQ(onPhone(QStringLiteral("Download/IMG_1.jpg")), QByteArray("the old file"));
    }
}

// A pipe (or socket, or device) has no contents to send: opening it would
// wait for a writer with the phone's queue held. It is left out, the rest is
// copied, and the sentence at the end names it.
TEST_F(MTPUpload, OnlyRegularFilesAreSentAndWhatIsLeftOutIsNamed)
{
    const QString folder = local(QStringLiteral("Mixed"));
    const QString pipe = folder + QStringLiteral("/pipe");
    ASSERT_TRUE(QDir().mkpath(folder));
    ASSERT_TRUE(write(folder + QStringLiteral("/a.txt"), "a"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    const std::pair<QString, QString> pushes[] = {
        {folder, QStringLiteral("“Mixed/pipe” was left out: it isn't a regular file or folder.")},
        {pipe, QStringLiteral("“pipe” was left out: it isn't a regular file or folder.")}};
    for (const auto& [source, sentence] : pushes) {
        auto pushing = std::async(std::launch::async, [&] {
            return errorOf<SystemError>([&] { files().push(source, QStringLiteral("/sdcard/Download/"), {}, Cancel()); });
        });
        if (pushing.wait_for(30s) != std::future_status::ready)
            ::close(::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK)); // lets a stuck reader go
        const auto error = pushing.get();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), sentence);
    }
    EXPECT_EQ(onPhone(QStringLiteral("Download/Mixed/a.txt")), QByteArray("a"));
    EXPECT_FALSE(phone->objectAt(QStringLiteral("Download/Mixed/pipe")));
    EXPECT_FALSE(phone->objectAt(QStringLiteral("Download/pipe")));
    EXPECT_TRUE(phone->violations().empty());
}

} // namespace
