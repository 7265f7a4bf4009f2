// The one job: a second request only beeps, Stop is silent and ends the
// job, a failure is shown once before the folder is read again, progress
// lands at most once a frame and only on its own job; the conflict question
// and the free names.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

class JobsTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(QStringLiteral("A1"))});
        phone = adb->phone(QStringLiteral("A1"));
        phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a.jpg")), file(QStringLiteral("b.jpg"))});
        pass();
        model().setAskWhereToSave(false);
        model().setRevealAfterCopy(false);
        model().setSaveFolder(saved.path());
    }

    // Every transfer waits for a gate of its own, in order.
    std::shared_ptr<Gate> holdTransfers()
    {
        auto gate = std::make_shared<Gate>();
        gates.push_back(gate);
        phone->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
        return gate;
    }
    void waitForJobEnd()
    {
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
    }

    QTemporaryDir saved;
    std::shared_ptr<MemoryPhoneFiles> phone;
};

TEST_F(JobsTest, ARequestWhileAJobRunsOnlyBeeps)
{
    auto gate = holdTransfers();
    model().download({file(QStringLiteral("a.jpg"))});
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
    const std::optional<Job> running = model().job();
    QSignalSpy changes(&model(), &BrowserModel::jobChanged);
    model().upload({QUrl::fromLocalFile(saved.filePath(QStringLiteral("x")))});
    model().openOnMac({file(QStringLiteral("b.jpg"))});
    EXPECT_EQ(desktop->beeps, 2);
    EXPECT_EQ(model().job(), running);
    EXPECT_EQ(changes.count(), 0);
    gate->open();
    waitForJobEnd();
    EXPECT_EQ(phone->calls(QStringLiteral("pull /sdcard/b.jpg ") + saved.path()), 0);
    EXPECT_FALSE(model().errorMessage());
}

TEST_F(JobsTest, StopEndsTheJobSilentlyAndLaterItemsAreNotTried)
{
    // The transport fails after Stop, as adb does when its process is ended.
    phone->onTransfer([](const QString&, const Progress&, const Cancel& cancel) {
        testsupport::waitUntil([&] { return cancel.isCancelled(); });
        throw ADBError::failed(QStringLiteral("adb: error: terminated"));
    });
    model().cancelJob(); // nothing to stop
    model().download({file(QStringLiteral("a.jpg")), file(QStringLiteral("b.jpg"))});
    ASSERT_TRUE(model().job());
    model().cancelJob();
    waitForJobEnd();
    EXPECT_FALSE(model().errorMessage());
    EXPECT_EQ(phone->calls(QStringLiteral("pull /sdcard/b.jpg ") + saved.path()), 0);
    EXPECT_EQ(desktop->beeps, 0);
}

TEST_F(JobsTest, AFailureIsShownOnceAndThenTheFolderIsReadAgain)
{
    phone->onTransfer([](const QString&, const Progress&, const Cancel&) {
        throw ADBError::failed(QStringLiteral("adb: error: no space left"));
    });
    const int listings = phone->calls(QStringLiteral("list /sdcard"));
    int listingsWhenShown = -1;
    QObject::connect(&model(), &BrowserModel::errorMessageChanged, &model(),
                     [&] { listingsWhenShown = phone->calls(QStringLiteral("list /sdcard")); });
    QSignalSpy shown(&model(), &BrowserModel::errorMessageChanged);
    model().upload({QUrl::fromLocalFile(saved.filePath(QStringLiteral("new.txt")))});
    waitForJobEnd();
    EXPECT_EQ(shown.count(), 1);
    EXPECT_TRUE(model().errorMessage()->contains(QStringLiteral("no space left")));
    EXPECT_EQ(listingsWhenShown, listings);
    EXPECT_EQ(phone->calls(QStringLiteral("list /sdcard")), listings + 1);
    EXPECT_GE(phone->calls(QStringLiteral("info")), 1);
}

TEST_F(JobsTest, ProgressLandsAtMostOnceAFrameAndOnlyOnItsOwnJob)
{
    auto release = std::make_shared<Gate>();
    gates.push_back(release);
    Progress first;
    phone->onTransfer([&, release](const QString&, const Progress& progress, const Cancel&) {
        if (!first)
            first = progress;
        for (int report = 1; report <= 50000; ++report)
            progress(report / 50000.0);
        release->wait();
    });
    int applied = 0;
    QObject::connect(&model(), &BrowserModel::jobChanged, &model(), [&] {
        if (model().job() && model().job()->progress)
            ++applied;
    });
    model().download({file(QStringLiteral("a.jpg"))});
    ASSERT_TRUE(testsupport::waitUntil([&] { return model().job() && model().job()->progress == 1.0; }));
    EXPECT_LE(applied, 10);
    release->open();
    waitForJobEnd();

    // A report of the finished job, or with no job at all, changes nothing.
    first(0.5);
    settle();
    EXPECT_FALSE(model().job());
    auto next = holdTransfers();
    model().openOnMac({file(QStringLiteral("b.jpg"))});
    ASSERT_TRUE(testsupport::waitUntil([&] { return next->waiting(); }));
    first(0.5);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(model().job()->progress, std::nullopt);
    next->open();
    waitForJobEnd();
}

TEST(FreeNames, NumberedPutsTheNumberBeforeTheExtension)
{
    const struct {
        const char* name;
        int number;
        const char* result;
    } cases[] = {{"photo.jpg", 2, "photo 2.jpg"}, {"archive.tar.gz", 2, "archive.tar 2.gz"},
                 {"Notes", 3, "Notes 3"},        {".nomedia", 2, ".nomedia 2"}};
    for (const auto& c : cases)
        EXPECT_EQ(BrowserModel::numbered(QString::fromUtf8(c.name), c.number), QString::fromUtf8(c.result)) << c.name;
}

TEST(FreeNames, UniqueLocalURLSkipsEverythingThatIsThere)
{
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
    for (const char* name : {"a.txt", "a 2.txt"}) {
        QFile made(at(name));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Photos")));
    ASSERT_TRUE(QFile::link(at("nowhere"), at("link")));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("a.txt")), at("a 3.txt"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("Photos")), at("Photos 2"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("link")), at("link 2"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("b.txt")), at("b.txt"));
    const QStringList taken{QStringLiteral("song 2.mp3")};
    EXPECT_EQ(BrowserModel::uniqueRemoteName(QStringLiteral("song.mp3"), [&](const QString& name) { return taken.contains(name); }),
              QStringLiteral("song 3.mp3"));
}

TEST_F(JobsTest, TheConflictQuestionNamesOneOrCountsAndItsAnswersDecide)
{
    const QString a = saved.filePath(QStringLiteral("a.jpg"));
    QFile made(a);
    ASSERT_TRUE(made.open(QIODevice::WriteOnly));
    made.close();
    // Button pressed -> what reached the phone.
    const struct {
        std::optional<int> answer;
        const char* push;
    } cases[] = {{0, "push %1 /sdcard/"}, {1, "push %1 /sdcard/a 2.jpg"}, {2, nullptr}, {3, nullptr}, {std::nullopt, nullptr}};
    for (const auto& c : cases) {
        phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a.jpg")), file(QStringLiteral("b.jpg"))});
        reload();
        const int pushes = phone->calls(QStringLiteral("push %1 /sdcard/").arg(a)) + phone->calls(QStringLiteral("push %1 /sdcard/a 2.jpg").arg(a));
        desktop->answer = c.answer;
        model().upload({QUrl::fromLocalFile(a)});
        waitForJobEnd();
        const int after = phone->calls(QStringLiteral("push %1 /sdcard/").arg(a)) + phone->calls(QStringLiteral("push %1 /sdcard/a 2.jpg").arg(a));
        if (c.push)
            EXPECT_EQ(phone->calls(QString::fromUtf8(c.push).arg(a)), 1) << c.push;
        else
            EXPECT_EQ(after, pushes) << c.answer.value_or(-1);
    }
    ASSERT_FALSE(desktop->questions.isEmpty());
    const Desktop::Question& one = desktop->questions.first();
    EXPECT_EQ(one.message, QStringLiteral("“a.jpg” already exists in the phone."));
    EXPECT_EQ(one.informative, QStringLiteral("Replacing overwrites existing files. Folders are merged."));
    EXPECT_EQ(one.buttons, (QStringList{QStringLiteral("Replace"), QStringLiteral("Keep Both"), QStringLiteral("Skip"), QStringLiteral("Cancel")}));

    phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("x")), file(QStringLiteral("y")), file(QStringLiteral("z"))});
    reload();
    desktop->answer = 3;
    model().upload({QUrl::fromLocalFile(QStringLiteral("/m/x")), QUrl::fromLocalFile(QStringLiteral("/m/y")),
                    QUrl::fromLocalFile(QStringLiteral("/m/z")), QUrl::fromLocalFile(QStringLiteral("/m/w"))});
    EXPECT_EQ(desktop->questions.last().message, QStringLiteral("3 items already exist in the phone."));
    EXPECT_FALSE(model().job());
}

} // namespace
