// Pulling from the phone: the hidden temporary file that becomes the target
// only when complete, what a failure or cancellation leaves, progress, and
// names from the phone that must not become paths here.
#include "FilesFixture.h"

#include <sys/stat.h>

using namespace mtp;

namespace {

const QDateTime taken(QDate(2022, 7, 14), QTime(16, 45, 30));

class MTPDownload : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        photos = phone->addFolder(0, QStringLiteral("Photos"));
        content = bytesOf(3 * MiB + 321);
        phone->addFile(photos, QStringLiteral("IMG_1.jpg"), content, taken);
        target = local(QStringLiteral("IMG_1.jpg"));
        ASSERT_TRUE(write(target, "the old file"));
    }

    // Pulls IMG_1.jpg to the target and calls during() once, after the first piece.
    std::exception_ptr pullWith(const std::function<void()>& during, const Cancel& cancel = Cancel())
    {
        bool once = false;
        try {
            files().pull(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), target,
                         [&](double) {
                             if (!std::exchange(once, true))
                                 during();
                         },
                         cancel);
        } catch (...) {
            return std::current_exception();
        }
        return nullptr;
    }

    uint32_t photos = 0;
    QByteArray content;
    QString target;
};

TEST_F(MTPDownload, TheTargetIsReplacedOnlyOnceTheFileIsComplete)
{
    std::optional<QByteArray> meanwhile;
    QStringList namesMeanwhile;
    EXPECT_FALSE(pullWith([&] {
        meanwhile = read(target);
        namesMeanwhile = entries(temp.path());
    }));
    EXPECT_EQ(meanwhile, QByteArray("the old file"));
    EXPECT_EQ(namesMeanwhile, (QStringList{QStringLiteral(".IMG_1.jpg.vantelorquist"), QStringLiteral("IMG_1.jpg")}));

    EXPECT_EQ(read(target), content);
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
    EXPECT_EQ(QFileInfo(target).lastModified(), taken);
}

TEST_F(MTPDownload, ACancelledDownloadLeavesTheOldFileAndNoTemporaryFile)
{
    std::stop_source stop;
    const auto error = pullWith([&] { stop.request_stop(); }, Cancel(stop.get_token()));
    EXPECT_THROW(std::rethrow_exception(error), Cancelled);
    EXPECT_EQ(read(target), QByteArray("the old file"));
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), Cancel())) << "the phone stays usable";
}

TEST_F(MTPDownload, AFailedDownloadLeavesTheOldFileAndNoTemporaryFile)
{
    const auto unplugged =
        pullWith([&] { phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 0, UsbStatus::noDevice, true); });
    ASSERT_TRUE(unplugged);
    try {
        std::rethrow_exception(unplugged);
    } catch (const MTPError& error) {
        EXPECT_EQ(error.kind(), MTPError::Kind::gone);
    }
    EXPECT_EQ(read(target), QByteArray("the old file"));
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
}

TEST_F(MTPDownload, APhoneThatRefusesTheFileSaysSo)
{
    phone->configure([](auto& s) { s.responseFor[Operation::getObject] = Response::generalError; });
    const auto error = mtpErrorOf([&] { files().pull(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), target, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone couldn't copy that file (MTP error 0x2002)."));
    EXPECT_EQ(read(target), QByteArray("the old file"));
    EXPECT_EQ(entries(temp.path()), QStringList{QStringLiteral("IMG_1.jpg")});
}

TEST_F(MTPDownload, AFileTakesThePlaceOfAFolderOfTheSameName)
{
    const QString into = local(QStringLiteral("Downloads"));
    ASSERT_TRUE(QDir().mkpath(into + QStringLiteral("/IMG_1.jpg/inner")));
    ASSERT_TRUE(write(into + QStringLiteral("/IMG_1.jpg/inner/x"), "x"));
    files().pull(QStringLiteral("/sdcard/Photos/IMG_1.jpg"), into, Cancel());
    EXPECT_EQ(read(into + QStringLiteral("/IMG_1.jpg")), content);
}

TEST_F(MTPDownload, AFolderCannotTakeThePlaceOfAFile)
{
    phone->clearRecords();
    EXPECT_THROW(files().pull(QStringLiteral("/sdcard/Photos"), target, Cancel()), SystemError);
    EXPECT_EQ(sent(Operation::getObject), 0);
    EXPECT_EQ(read(target), QByteArray("the old file"));
}

TEST_F(MTPDownload, ProgressRisesWithTheBytesOfAllFilesUpToOne)
{
    const uint32_t album = phone->addFolder(0, QStringLiteral("Album"));
    const uint32_t inner = phone->addFolder(album, QStringLiteral("Inner"));
    phone->addFolder(album, QStringLiteral("Empty"));
    phone->addFile(album, QStringLiteral("a.bin"), bytesOf(4 * MiB));
    phone->addFile(inner, QStringLiteral("b.bin"), bytesOf(5 * MiB + 5));
    phone->addFile(inner, QStringLiteral("c.bin"), QByteArray());

    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/Album"), local(QStringLiteral("Album")), progress.callback(), Cancel());
    EXPECT_GE(progress.values.size(), 9u);
    EXPECT_TRUE(progress.risesWithin0And1());
    EXPECT_LT(progress.values.front(), 0.2);
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(read(local(QStringLiteral("Album/Inner/b.bin"))), bytesOf(5 * MiB + 5));
    EXPECT_EQ(read(local(QStringLiteral("Album/Inner/c.bin"))), QByteArray());
    EXPECT_TRUE(QFileInfo(local(QStringLiteral("Album/Empty"))).isDir());
}

TEST_F(MTPDownload, AnEmptyFolderIsMadeWithoutProgress)
{
    phone->addFolder(0, QStringLiteral("Nothing"));
    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/Nothing"), local(QStringLiteral("Nothing")), progress.callback(), Cancel());
    EXPECT_TRUE(QFileInfo(local(QStringLiteral("Nothing"))).isDir());
    EXPECT_TRUE(progress.values.empty());
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
        auto error = mtpErrorOf([&] { files().pull(QStringLiteral("/sdcard/Holder"), into, Cancel()); });
        ASSERT_TRUE(error);
        EXPECT_TRUE(error->description().contains(QStringLiteral("can't"))) << error->description().toStdString();
        phone->removeObject(holder);

        if (!name.isEmpty() && !name.contains(QChar(0))) {
            const uint32_t top = phone->addFile(0, name, QByteArray("escaped"));
            error = mtpErrorOf([&] { files().pull(QStringLiteral("/sdcard/") + name, into, Cancel()); });
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

} // namespace
