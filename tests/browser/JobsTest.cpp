// The one job: a second request is refused with a beep and a word, Stop is silent and ends the
// job, a failure is shown once before the folder is read again, progress
// lands at most once a frame and only on its own job; the conflict question
// and the free names.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

using JobsTest = JobTest;

// Mended: with no thread to run it, the job stayed set for ever (every later
// request only beeped) and the failure escaped into the caller's slot.
TEST_F(JobsTest, AJobThatCannotStartEndsAndSaysWhy)
{
    struct Refusal {
        Refusal() { WorkerPool::shared().refuseThreadsForTesting(true); }
        ~Refusal() { WorkerPool::shared().refuseThreadsForTesting(false); }
    };
    {
        const Refusal refusal;
        EXPECT_NO_THROW(model().newFolder(u"New"_s));
        settle(); // the failure arrives as any failure does: later
    }
    EXPECT_FALSE(model().job());
    EXPECT_TRUE(model().errorMessage().value_or(QString()).startsWith(u"Couldn't start a worker thread"_s))
        << model().errorMessage().value_or(QString()).toStdString();
    model().setErrorMessage(std::nullopt);
    model().newFolder(u"New"_s);
    run();
    EXPECT_EQ(phone->calls(u"mkdir /sdcard/New"_s), 1);
    EXPECT_EQ(desktop->beeps, 0);
    EXPECT_FALSE(model().errorMessage());
}

// Mended: work started from a timer or a slot other than a job let the
// failure to start escape: it ended the application, or the poll stopped
// for good.
TEST_F(JobsTest, BackgroundWorkThatCannotStartIsShownAndThePollGoesOn)
{
    struct Refusal {
        Refusal() { WorkerPool::shared().refuseThreadsForTesting(true); }
        ~Refusal() { WorkerPool::shared().refuseThreadsForTesting(false); }
    };
    const struct {
        const char* what;
        std::function<void(std::function<void()>)> request; // calls back when it is done
    } cases[] = {
        {"a device pass", [this](auto done) { model().refreshDevices(done); }},
        {"a listing", [this](auto done) { model().reload(done); }},
        {"the phone's facts", [this](auto done) { model().refreshInfo(done); }},
        {"a Wi-Fi disconnection", [this](auto done) { model().disconnect(adbPhone(u"10.0.0.9:5555"_s)); done(); }},
        {"quitting apps that hold the phone", [this](auto done) { model().quitConflictingApps(); done(); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setErrorMessage(std::nullopt);
        bool done = false;
        {
            const Refusal refusal;
            EXPECT_NO_THROW(c.request([&done] { done = true; }));
            settle();
        }
        EXPECT_TRUE(done);
        EXPECT_TRUE(model().errorMessage().value_or(QString()).startsWith(u"Couldn't start a worker thread"_s))
            << model().errorMessage().value_or(QString()).toStdString();
        EXPECT_FALSE(model().isLoading());
        settle();
    }
    // The poll's own timer: the pass fails to start, the next is still timed.
    for (int i = 0; i < 5 && clock->lastDelay() != std::chrono::milliseconds(2000); ++i) {
        clock->fire();
        settle();
    }
    ASSERT_EQ(clock->waiting(), 1);
    {
        const Refusal refusal;
        EXPECT_NO_THROW(clock->fire());
        settle();
    }
    EXPECT_EQ(clock->waiting(), 1);
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(2000));
}

TEST_F(JobsTest, ARequestWhileAJobRunsStartsNothing)
{
    auto gate = holdTransfers();
    model().download({file(u"a.jpg"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
    const std::optional<Job> running = model().job();
    QSignalSpy changes(&model(), &BrowserModel::jobChanged);
    model().upload(urls({saved.filePath(u"x"_s)}));
    model().openOnMac({file(u"b.jpg"_s)});
    EXPECT_EQ(desktop->beeps, 2);
    EXPECT_EQ(model().job(), running);
    EXPECT_EQ(changes.count(), 0);
    gate->open();
    run();
    EXPECT_TRUE(desktop->opened.isEmpty());
    EXPECT_EQ(phone->calls(u"push "_s + saved.filePath(u"x"_s) + u" /sdcard/"_s), 0);
    EXPECT_FALSE(model().errorMessage());
}

// Mended: a request while a job ran was dropped with a beep alone, which
// many desktops never play: nothing said why nothing happened.
TEST_F(JobsTest, ARequestWhileAJobRunsSaysWhatItWaitsFor)
{
    const struct {
        const char* what;
        std::function<void()> request;
    } requests[] = {
        {"copy to the phone", [&] { model().upload(urls({saved.filePath(u"x"_s)})); }},
        {"copy to the computer", [&] { model().download({file(u"photo.jpg"_s)}); }},
        {"open", [&] { model().openOnMac({file(u"photo.jpg"_s)}); }},
        {"new folder", [&] { model().newFolder(u"New"_s); }},
        {"rename", [&] { model().rename(file(u"photo.jpg"_s), u"beach.jpg"_s); }},
        {"delete", [&] { desktop->answer = 0; model().remove({file(u"photo.jpg"_s)}); }},
        {"install", [&] { model().install(urls({u"/m/a.apk"_s})); }},
        {"screenshot", [&] { model().takeScreenshot(); }},
    };
    // The running job -> the sentence: the job's line as it is now, and Stop
    // offered only where the job can be stopped.
    const struct {
        const char* what;
        std::function<std::shared_ptr<Gate>()> start;
        QString said;
    } jobs[] = {
        {"a copy",
         [&] {
             auto gate = holdTransfers();
             model().download({file(u"photo.jpg"_s)});
             return gate;
         },
         u"Wait for “Copying “photo.jpg” to computer (1 of 1)…” to finish, or stop it."_s},
        {"an install",
         [&] {
             auto gate = gates.emplace_back(std::make_shared<Gate>());
             adb->onRun([gate](const QStringList&) {
                 gate->wait();
                 return u"Success"_s;
             });
             model().install(urls({u"/m/game.apk"_s}));
             return gate;
         },
         u"Wait for “Installing “game.apk” (1 of 1)…” to finish, or stop it."_s},
    };
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.what);
        const auto gate = job.start();
        ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting() && model().job()->message.contains(u'“'); }));
        const std::optional<Job> running = model().job();
        for (const auto& request : requests) {
            SCOPED_TRACE(request.what);
            const int beeps = desktop->beeps;
            clock->fire(); // the word before goes after a while
            ASSERT_FALSE(model().notice());
            request.request();
            EXPECT_EQ(desktop->beeps, beeps + 1); // kept, for those who hear it
            EXPECT_EQ(model().notice().value_or(QString()), job.said);
            EXPECT_EQ(model().job(), running);
        }
        // The word goes with the job it waited for.
        gate->open();
        run();
        EXPECT_FALSE(model().notice());
        EXPECT_FALSE(model().errorMessage()) << model().errorMessage().value_or(QString()).toStdString();
    }
    EXPECT_EQ(phone->calls(u"mkdir /sdcard/New"_s) + phone->calls(u"remove /sdcard/photo.jpg"_s)
                  + phone->calls(u"move /sdcard/photo.jpg /sdcard/beach.jpg"_s),
              0);
    EXPECT_FALSE(model().refuseWhileJobRuns());
    EXPECT_FALSE(model().notice()) << "nothing to refuse while idle";
}

TEST_F(JobsTest, StopEndsTheJobSilentlyAndLaterItemsAreNotTried)
{
    // The transport fails after Stop, as adb does when its process is ended.
    phone->onTransfer([](const QString&, const Progress&, const Cancel& cancel) {
        testsupport::waitUntil([&] { return cancel.isCancelled(); });
        throw ADBError::failed(u"adb: error: terminated"_s);
    });
    model().cancelJob(); // nothing to stop
    model().download({file(u"a.jpg"_s), file(u"b.jpg"_s)});
    ASSERT_TRUE(model().job());
    model().cancelJob();
    run();
    EXPECT_FALSE(model().errorMessage());
    EXPECT_EQ(phone->calls(u"pull /sdcard/b.jpg "_s + saved.path()), 0);
    EXPECT_EQ(desktop->beeps, 0);
}

TEST_F(JobsTest, AFailureIsShownOnceAndThenTheFolderIsReadAgain)
{
    phone->onTransfer([](const QString&, const Progress&, const Cancel&) {
        throw ADBError::failed(u"adb: error: no space left"_s);
    });
    const int listings = phone->calls(u"list /sdcard"_s);
    QList<int> listingsWhenShown;
    QObject::connect(&model(), &BrowserModel::errorMessageChanged, &model(),
                     [&] { listingsWhenShown.append(phone->calls(u"list /sdcard"_s)); });
    model().upload(urls({saved.filePath(u"new.txt"_s)}));
    run();
    // The copy itself reads the folder first, for what it holds.
    EXPECT_EQ(listingsWhenShown, QList<int>{listings + 1});
    EXPECT_TRUE(model().errorMessage()->contains(u"no space left"_s));
    EXPECT_EQ(phone->calls(u"list /sdcard"_s), listings + 2);
    EXPECT_GE(phone->calls(u"info"_s), 1);
}

TEST_F(JobsTest, ProgressLandsAtMostOnceAFrameAndOnlyOnItsOwnJob)
{
    auto release = gates.emplace_back(std::make_shared<Gate>());
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
    model().download({file(u"a.jpg"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return model().job() && model().job()->progress == 1.0; }));
    EXPECT_LE(applied, 10);
    release->open();
    run();

    // A report of the finished job, or with no job at all, changes nothing.
    first(0.5);
    settle();
    EXPECT_FALSE(model().job());
    auto next = holdTransfers();
    model().openOnMac({file(u"b.jpg"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return next->waiting(); }));
    first(0.5);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(model().job()->progress, std::nullopt);
    next->open();
    run();
}

// Mended: a job stopped while it read the folder still put its conflict
// question once the listing came.
TEST_F(JobsTest, AStoppedJobAsksNothing)
{
    const QString local = saved.filePath(u"photo.jpg"_s);
    ASSERT_TRUE(QFile(local).open(QIODevice::WriteOnly));
    desktop->answer = 0;
    const auto listing = gates.emplace_back(phone->holdListing(u"/sdcard"_s));
    model().upload({QUrl::fromLocalFile(local)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return listing->waiting(); }));
    model().cancelJob();
    listing->open();
    run();
    EXPECT_TRUE(desktop->questions.isEmpty());
    EXPECT_EQ(phone->callsStartingWith(u"push "_s), 0);
    EXPECT_FALSE(model().errorMessage());
}

// Mended: the question wrote its finding (the phone's new connection) into
// the worker's own variables, which were gone once Stop had ended the job
// while the question was still up (as a quit signal does during a
// recording). The question is closed with the job, an answer given anyway
// reaches nothing, and nothing is copied.
TEST_F(JobsTest, AnAnswerGivenAfterTheJobEndedReachesNothing)
{
    const QString local = saved.filePath(u"photo.jpg"_s);
    ASSERT_TRUE(QFile(local).open(QIODevice::WriteOnly));
    bool endedWhileAsked = false;
    std::shared_ptr<MemoryPhoneFiles> replugged;
    desktop->whileAsking = [&] {
        model().cancelJob();
        endedWhileAsked = testsupport::waitUntil([&] { return !model().job(); });
        // The answer comes with a new connection to take.
        replugged = adb->replug(u"A1"_s);
        replugged->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s)});
    };
    desktop->answer = 0;
    model().upload({QUrl::fromLocalFile(local)});
    run();
    desktop->whileAsking = nullptr;
    EXPECT_TRUE(endedWhileAsked);
    EXPECT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->closings, 1); // the question went with its job
    EXPECT_EQ(phone->callsStartingWith(u"push "_s), 0);
    ASSERT_TRUE(replugged);
    EXPECT_EQ(replugged->callsStartingWith(u"push "_s), 0);
    EXPECT_FALSE(model().errorMessage());
}

TEST(FreeNames, TheNumberGoesBeforeTheExtensionAndSkipsEveryTakenName)
{
    // Anything there takes the name, a dangling link too.
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromUtf8(name)); };
    for (const char* name : {"a.txt", "a 2.txt", "archive.tar.gz", ".nomedia"})
        ASSERT_TRUE(QFile(at(name)).open(QIODevice::WriteOnly));
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"Photos"_s));
    ASSERT_TRUE(QFile::link(at("nowhere"), at("link")));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("a.txt")), at("a 3.txt"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("archive.tar.gz")), at("archive.tar 2.gz"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at(".nomedia")), at(".nomedia 2"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("Photos")), at("Photos 2"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("link")), at("link 2"));
    EXPECT_EQ(BrowserModel::uniqueLocalURL(at("b.txt")), at("b.txt"));
}

TEST_F(JobsTest, TheConflictQuestionsAnswersDecide)
{
    const QString local = saved.filePath(u"photo.jpg"_s);
    ASSERT_TRUE(QFile(local).open(QIODevice::WriteOnly));
    // Replace sends the file under a hidden name beside the one it replaces.
    const QString replaced = u"push "_s + local + u" /sdcard/.photo.jpg."_s;
    const QString keptBoth = u"push "_s + local + u" /sdcard/photo 2.jpg"_s;
    // Button pressed (none: the alert closed) -> pushes so far as Replace and as Keep Both.
    const struct {
        std::optional<int> answer;
        int replaced, keptBoth;
    } cases[] = {{0, 1, 0}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {std::nullopt, 1, 1}};
    for (const auto& c : cases) {
        desktop->answer = c.answer;
        model().upload({QUrl::fromLocalFile(local)});
        run();
        EXPECT_EQ(phone->callsStartingWith(replaced), c.replaced) << c.answer.value_or(-1);
        EXPECT_EQ(phone->calls(keptBoth), c.keptBoth) << c.answer.value_or(-1);
    }
    // Cancel with several conflicts copies not even the item without one.
    phone->setFolder(u"/sdcard"_s, {file(u"x"_s), file(u"y"_s)});
    reload();
    desktop->answer = 3;
    model().upload(urls({u"/m/x"_s, u"/m/y"_s, u"/m/w"_s}));
    run();
    EXPECT_EQ(phone->callsStartingWith(u"push /m/"_s), 0);
    EXPECT_FALSE(model().errorMessage());
}

} // namespace
