// What copies to the phone could not remove when they stopped or failed:
// removed when the phone is next reachable, and only that.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "BrowserPaths.h"

#include "BrowserSettings.h"
#include "Error.h"
#include "FilePlaces.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

namespace working = browserpaths::workingnames;

// Another process that runs while a test needs it: the maker of records a
// second process on the same settings made.
class OtherProcess {
public:
    OtherProcess()
    {
        m_process.start(u"sleep"_s, {u"60"_s});
        if (m_process.waitForStarted(5000))
            m_identity = ProcessIdentity::ofPid(m_process.processId()).value_or(ProcessIdentity{});
    }
    ~OtherProcess() { end(); }
    const ProcessIdentity& identity() const { return m_identity; }
    void end()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    ProcessIdentity m_identity;
};

// Makers provably gone: of another boot, and one whose process id now
// belongs to another process (this one, started at another time).
ProcessIdentity ofAnotherBoot()
{
    ProcessIdentity gone = ProcessIdentity::self();
    gone.boot = u"00000000-0000-0000-0000-000000000000"_s;
    return gone;
}
ProcessIdentity ofAReusedPid()
{
    ProcessIdentity gone = ProcessIdentity::self();
    gone.start += 1;
    return gone;
}

class LeftoversTest : public JobTest {
protected:
    void TearDown() override
    {
        // The record is the process's: nothing of one test reaches the next.
        for (const QString& phone : {u"adb:A1"_s, u"adb:B2"_s, u"mtp:A1"_s})
            working::takeLeft(phone);
        for (const QString& path : working::localPaths())
            working::forgetLocal(path);
    }
    int removals(const QString& path) { return phone->calls(u"remove "_s + path); }
    // What this process knew of the phone's working items goes with it.
    static void forgetProcess()
    {
        for (const working::Kept& kept : working::records().kept)
            working::unkeep(kept.path.section(u'/', -1));
        working::takeLeft(u"adb:A1"_s);
        for (const QString& path : working::localPaths())
            working::forgetLocal(path);
    }
    // The records as they were on disk at this moment, read later.
    void snapshotSettings(const QString& copy) { QFile::copy(m_settingsPath, copy); }
    static working::Records recordsIn(const QString& file)
    {
        QSettings store(file, QSettings::IniFormat);
        return BrowserSettings(store).workingItems(settingkeys::workingItems);
    }
    // Replaces /sdcard/photo.jpg; the phone then can neither remove the old
    // file nor tell whether it is there, so the new copy is kept. Its path.
    QString keepACopy(const QString& source)
    {
        QString sentTo;
        phone->onTransfer([&](const QString& call, const Progress&, const Cancel&) {
            if (!call.startsWith(u"push "_s))
                return;
            sentTo = call.section(u' ', -1);
            phone->failCall(u"remove /sdcard/photo.jpg"_s, std::make_exception_ptr(ADBError::failed(u"device offline"_s)));
            phone->failExists(u"/sdcard/photo.jpg"_s);
        });
        model().upload(urls({source}));
        run();
        phone->onTransfer({});
        return sentTo;
    }
    // A new file's copy the phone cuts short, leaving a working file it can
    // neither remove nor tell of. Its path.
    QString leaveANewCopy()
    {
        QTemporaryDir source;
        QFile(source.filePath(u"new.jpg"_s)).open(QIODevice::WriteOnly);
        QString sentTo;
        phone->onTransfer([&](const QString& call, const Progress&, const Cancel&) {
            if (!call.startsWith(u"push "_s))
                return;
            sentTo = call.section(u' ', -1);
            phone->failCall(u"remove "_s + sentTo, std::make_exception_ptr(ADBError::failed(u"device offline"_s)));
            phone->failExists(sentTo);
            throw ADBError::failed(u"device offline"_s);
        });
        model().upload(urls({source.filePath(u"new.jpg"_s)}));
        run();
        phone->onTransfer({});
        return sentTo;
    }
    // A working path no copy made, for the phone to hold.
    QString working(const QString& item)
    {
        const QString name = browserpaths::temporaryName(item, true);
        phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s), file(name)});
        return u"/sdcard/"_s + name;
    }
};

TEST_F(LeftoversTest, ACleanUpThePhoneRefusedIsDoneWhenAListingNextSucceeds)
{
    // The phone goes during the transfer, and its clean-up can't be done.
    const QString sentTo = leaveANewCopy();
    ASSERT_TRUE(browserpaths::isWorkingName(sentTo.section(u'/', -1))) << sentTo.toStdString();
    // The listing after the job may try once more.
    const int tried = removals(sentTo);
    ASSERT_GE(tried, 1);

    // Still not answering: tried, and kept for the next time.
    reload();
    EXPECT_EQ(removals(sentTo), tried + 1);
    // Reachable again: it goes, once.
    phone->answerAgain();
    reload();
    EXPECT_EQ(removals(sentTo), tried + 2);
    reload();
    EXPECT_EQ(removals(sentTo), tried + 2);
}

// A replacing copy kept under its working name because the phone couldn't
// tell whether the file it replaces was still there: once it answers, the
// copy goes when that file is there, and stays as the only copy when not.
TEST_F(LeftoversTest, AKeptCopyGoesWhenTheFileItReplacesIsStillThereElseTakesItsName)
{
    const struct {
        const char* why;
        bool oldStays;
        int removals;
    } cases[] = {
        {"the old file is still there", true, 1},
        {"the old file went: the copy takes its name", false, 0},
    };
    QTemporaryDir source;
    ASSERT_TRUE(QFile(source.filePath(u"photo.jpg"_s)).open(QIODevice::WriteOnly));
    desktop->answer = 0; // Replace
    model().setShowHidden(true); // a kept copy shows
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s)});
        const QString sentTo = keepACopy(source.filePath(u"photo.jpg"_s));
        ASSERT_TRUE(browserpaths::isWorkingName(sentTo.section(u'/', -1))) << sentTo.toStdString();
        ASSERT_TRUE(working::hasLeft(u"adb:A1"_s));

        // Still no answer about the old file: nothing goes.
        reload();
        EXPECT_EQ(removals(sentTo), 0);
        if (!c.oldStays)
            phone->setFolder(u"/sdcard"_s, {file(sentTo.section(u'/', -1))});
        phone->answerAgain();
        reload();
        EXPECT_EQ(removals(sentTo), c.removals);
        EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
        // What the folder shows follows: the old file, or the copy that
        // was to replace it finished into its place.
        const QStringList shown = names(model().entries());
        EXPECT_FALSE(shown.contains(sentTo.section(u'/', -1)));
        EXPECT_TRUE(shown.contains(u"photo.jpg"_s));
        model().setErrorMessage(std::nullopt);
    }
}

TEST_F(LeftoversTest, TheDevicePollRemovesThemWhenThePhoneIsReady)
{
    const QString left = working(u"a.jpg"_s);
    working::leave(u"adb:A1"_s, {left, {}});
    pass();
    EXPECT_EQ(removals(left), 1);
    EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
}

TEST_F(LeftoversTest, ANameARunningCopyUsesWaitsUntilItIsFree)
{
    const QString left = working(u"a.jpg"_s);
    working::leave(u"adb:A1"_s, {left, {}});
    {
        const browserpaths::HeldWorkingName held(left.section(u'/', -1));
        reload();
        EXPECT_EQ(removals(left), 0);
    }
    reload();
    EXPECT_EQ(removals(left), 1);
}

TEST_F(LeftoversTest, OnlyTheRecordedWorkingItemsOfThePhoneReachedGo)
{
    const QString own = browserpaths::temporaryName(u"photo.jpg"_s, true);
    const QString kept = browserpaths::temporaryName(u"kept.jpg"_s, true);
    working::keep(kept); // the new copy a refused rename left: the person's now
    const struct {
        const char* why;
        QString phone, path;
    } cases[] = {
        {"the person's own item", u"adb:A1"_s, u"/sdcard/photo.jpg"_s},
        {"a working name of no copy of its own", u"adb:A1"_s, u"/sdcard/.photo.jpg.vantelorquist-copy"_s},
        {"another letter case", u"adb:A1"_s, u"/sdcard/.photo.jpg.0123456789AB.vantelorquist-copy"_s},
        {"a name kept for the person", u"adb:A1"_s, u"/sdcard/"_s + kept},
        {"another phone", u"adb:B2"_s, u"/sdcard/"_s + own},
        {"the same phone over MTP", u"mtp:A1"_s, u"/sdcard/"_s + own},
    };
    for (const auto& c : cases)
        working::leave(c.phone, {c.path, {}});
    // Recorded by another process on the same settings, which still runs.
    const OtherProcess other;
    ASSERT_FALSE(other.identity().isEmpty());
    const QString others = u"/sdcard/"_s + browserpaths::temporaryName(u"photo.jpg"_s, working::markFor(u"another owner"_s));
    working::restore({{}, {{u"adb:A1"_s, {others, {}}, other.identity()}}, {}});
    reload();
    pass();
    EXPECT_EQ(removals(others), 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(removals(c.path), 0);
    }
}

// Mended: the records lived in the process only, so after a restart a kept
// copy (the person's only new one) counted as stale and the next listing
// with hidden items removed it.
TEST_F(LeftoversTest, AKeptCopyOutlivesAQuitAndIsFinishedWhenThePhoneIsNextReachable)
{
    const struct {
        const char* why;
        bool oldStays;
        int removals;
        int moves;
    } cases[] = {
        {"the old file is still there: the copy goes", true, 1, 0},
        {"the old file went: the copy takes its name", false, 0, 1},
    };
    QTemporaryDir source;
    ASSERT_TRUE(QFile(source.filePath(u"photo.jpg"_s)).open(QIODevice::WriteOnly));
    desktop->answer = 0; // Replace
    model().setShowHidden(true); // so that a stale working file would go
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s)});
        const QString sentTo = keepACopy(source.filePath(u"photo.jpg"_s));
        const QString name = sentTo.section(u'/', -1);
        ASSERT_TRUE(browserpaths::isWorkingName(name)) << sentTo.toStdString();
        model().setErrorMessage(std::nullopt);

        quit();
        forgetProcess();
        // Started again; the phone still can't tell about the old file.
        pass();
        EXPECT_EQ(removals(sentTo), 0);
        EXPECT_TRUE(names(model().entries()).contains(name));

        if (!c.oldStays)
            phone->setFolder(u"/sdcard"_s, {file(name)});
        phone->answerAgain();
        reload();
        EXPECT_EQ(removals(sentTo), c.removals);
        EXPECT_EQ(phone->calls(u"move "_s + sentTo + u" /sdcard/photo.jpg"_s), c.moves);
        EXPECT_EQ(names(model().entries()), QStringList{u"photo.jpg"_s});
        EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
        // Done with: the next start has nothing of it.
        quit();
        forgetProcess();
        pass();
        EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
        EXPECT_TRUE(working::isHidden(name));
    }
}

// Mended: what a clean-up could not remove stayed on the phone after a
// restart until its folder happened to be listed with hidden items.
TEST_F(LeftoversTest, AWorkingFileLeftBeforeAQuitGoesWhenThePhoneIsNextReachable)
{
    const QString sentTo = leaveANewCopy();
    const int tried = removals(sentTo);
    ASSERT_TRUE(working::hasLeft(u"adb:A1"_s));

    quit();
    forgetProcess();
    phone->answerAgain();
    pass(); // hidden items are not listed
    EXPECT_EQ(removals(sentTo), tried + 1);
    EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
}

// What another program or a damaged file put in the settings never leads a
// clean-up to an item that isn't one of the working items copies make.
TEST_F(LeftoversTest, StoredRecordsAreTakenOnlyForWorkingItemsBesideWhatTheyReplace)
{
    const QString hex = u".0123456789ab.vantelorquist-copy"_s;
    const QString ours = u"/sdcard/.b.jpg"_s + hex;
    const QString keptCopy = u"/sdcard/.photo.jpg"_s + hex;
    const QVariantList left{
        QStringList{u"/sdcard/photo.jpg"_s, QString()},                   // the person's item
        QStringList{u"/sdcard/Photos"_s, QString()},                      // a folder
        QStringList{u"/sdcard/Photos/../.c.jpg"_s + hex, QString()},      // a climbing path
        QStringList{u"sdcard/.c.jpg"_s + hex, QString()},                 // no full path
        QStringList{keptCopy, u"/sdcard/Photos/photo.jpg"_s},             // replacing in another folder
        QStringList{keptCopy, u"/sdcard/other.jpg"_s},                    // replacing another item
        QVariant(ours),                                                   // no pair
        QStringList{ours, QString()},                                     // sound
    };
    settings().setValue(settingkeys::workingItems,
                        QVariantMap{{u"adb:A1"_s, QVariantMap{{u"kept"_s, QStringList{keptCopy, u"/sdcard/Photos"_s}},
                                                              {u"left"_s, left}}},
                                    {u"A1"_s, QVariantMap{{u"left"_s, QVariantList{QStringList{ours, QString()}}}}},
                                    {u"adb:B2"_s, u"text"_s}});
    phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s), folder(u"Photos"_s), file(keptCopy.section(u'/', -1)),
                                    file(ours.section(u'/', -1))});
    phone->setFolder(u"/sdcard/Photos"_s, {});
    quit();
    forgetProcess();
    pass();
    model().setShowHidden(true);
    settle();
    EXPECT_EQ(phone->calls(u"remove "_s + ours), 1);
    EXPECT_EQ(phone->callsStartingWith(u"remove "_s), 1);
    EXPECT_EQ(phone->callsStartingWith(u"move "_s), 0);
    // The kept copy is taken for kept: it stays, and shows.
    EXPECT_TRUE(names(model().entries()).contains(keptCopy.section(u'/', -1)));
    working::unkeep(keptCopy.section(u'/', -1));
}

// Mended: past 64 records, or on a path over 1,024 characters, a kept copy
// (maybe the person's only copy of a file) wasn't stored, so after a
// restart it was taken for a stale working file and removed.
TEST_F(LeftoversTest, WhatIsStoredIsBoundedButKeepsEveryKeptCopy)
{
    working::Records records;
    const QString deep = u"/sdcard"_s + QString(u"/Folder"_s).repeated(300);
    records.kept.push_back({u"adb:A1"_s, deep + u"/.a.jpg.0123456789ab.vantelorquist-copy"_s});
    for (int i = 0; i < 100; ++i) {
        records.kept.push_back({u"adb:A1"_s, u"/sdcard/.k%1.jpg.0123456789ab.vantelorquist-copy"_s.arg(i)});
        records.left.push_back(
            {u"mtp:A1"_s, {u"/sdcard/.b%1.jpg.0123456789ab.vantelorquist-copy"_s.arg(i), QString()}});
    }
    BrowserSettings store(settings());
    store.setWorkingItems(settingkeys::workingItems, records);
    const working::Records back = store.workingItems(settingkeys::workingItems);
    ASSERT_EQ(back.kept.size(), records.kept.size());
    EXPECT_EQ(back.kept[0].path, records.kept[0].path);
    ASSERT_EQ(back.left.size(), size_t(BrowserSettings::storedRecords));
    EXPECT_EQ(back.left.back().item.path, records.left.back().item.path); // the newest
    EXPECT_EQ(back.left.back().phone, u"mtp:A1"_s);
}

// Mended: a Stop during a replacing file's swap on a phone that stopped
// answering said nothing of the new copy it left there.
TEST_F(LeftoversTest, AStopDuringASwapThePhoneLeftUnansweredSaysWhatBecomesOfTheNewCopy)
{
    const struct {
        const char* why;
        bool atOnce;       // the swap is one rename (adb)
        QString stopAt;    // the call the phone stops answering at
        bool oldAnswered;  // whether it still tells whether the old file is there
        QString message;
    } cases[] = {
        {"one rename", true, u"move "_s, false,
         u"The phone didn’t answer in time to say whether the new copy of “photo.jpg” took its place; if it didn’t, "
         u"it will be removed when the phone is next reachable."_s},
        {"removing the old file, then no answer", false, u"remove /sdcard/photo.jpg"_s, false,
         u"The phone didn’t answer in time to finish replacing “photo.jpg”; when the phone is next reachable, its new "
         u"copy will take the name, or be removed if the old “photo.jpg” is still there."_s},
        {"the rename after the old file went", false, u"move "_s, true,
         u"“photo.jpg” was removed from the phone, but the phone didn’t answer in time to give its new copy the name; "
         u"the new copy will take it when the phone is next reachable."_s},
        {"removing the old file, which stays", false, u"remove /sdcard/photo.jpg"_s, true,
         u"The phone didn’t answer in time to remove the unfinished copy of “photo.jpg”; it will be removed when the "
         u"phone is next reachable."_s},
    };
    QTemporaryDir source;
    ASSERT_TRUE(QFile(source.filePath(u"photo.jpg"_s)).open(QIODevice::WriteOnly));
    desktop->answer = 0; // Replace
    BrowserModel* shown = &model();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s)});
        phone->setSwapsAtOnce(c.atOnce);
        QString sentTo;
        phone->onTransfer([&](const QString& call, const Progress&, const Cancel&) {
            if (call.startsWith(u"push "_s))
                sentTo = call.section(u' ', -1);
        });
        bool stopped = false;
        phone->onCall([&](const QString& call, const Cancel& cancel) {
            if (stopped || !call.startsWith(c.stopAt))
                return;
            stopped = true;
            // Stop comes; the phone answers nothing more about the new copy.
            phone->failCall(u"remove "_s + sentTo, std::make_exception_ptr(ADBError::failed(u"device offline"_s)));
            phone->failExists(sentTo);
            if (!c.oldAnswered)
                phone->failExists(u"/sdcard/photo.jpg"_s);
            QMetaObject::invokeMethod(shown, [shown] { shown->cancelJob(); }, Qt::QueuedConnection);
            testsupport::waitUntil([&] { return cancel.isCancelled(); }, std::chrono::seconds(5));
            throw Cancelled();
        });
        model().upload(urls({source.filePath(u"photo.jpg"_s)}));
        run();
        EXPECT_TRUE(stopped);
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message);
        // What the person's own Stop left is a note, not something gone wrong.
        EXPECT_TRUE(model().errorIsNote());
        phone->onCall({});
        phone->onTransfer({});
        phone->answerAgain();
        model().setErrorMessage(std::nullopt);
        forgetProcess();
    }
}

// Mended: a listing with hidden items shown, or a copy into the folder,
// removed every working item no copy of this process used, so a second
// process (another person's settings, another computer on the phone) lost
// the folder it was writing and the copy it kept. Only ours go; every
// working item stays hidden.
// Mended: a listing removed every working item under our mark that no copy
// of this process used, so a second process on the same settings removed
// the first's working folder mid-copy. Only what our records hold, made by
// a process provably gone, goes.
TEST_F(LeftoversTest, AListingRemovesOnlyOurOwnStaleWorkingItemsAndHidesEveryOne)
{
    const QString other = working::markFor(u"another owner"_s);
    const OtherProcess running;
    ASSERT_FALSE(running.identity().isEmpty());
    const struct {
        const char* why;
        QString name;
        std::optional<ProcessIdentity> recordedBy;
        int removals;
    } cases[] = {
        {"ours, recorded by a process gone", browserpaths::temporaryName(u"a.jpg"_s, true), ofAnotherBoot(), 1},
        {"ours, recorded by a process still running", browserpaths::temporaryName(u"b.jpg"_s, true),
         running.identity(), 0},
        {"ours, not recorded (a second process's, its records not yet read)",
         browserpaths::temporaryName(u"c.jpg"_s, true), std::nullopt, 0},
        {"another owner's, being written", browserpaths::temporaryName(u"a.jpg"_s, other), std::nullopt, 0},
        {"a copy another owner kept", browserpaths::temporaryName(u"kept.jpg"_s, other), std::nullopt, 0},
        {"an earlier version's we never recorded", u".a.jpg.0123456789ab.vantelorquist-copy"_s, std::nullopt, 0},
    };
    QList<RemoteEntry> held{file(u"photo.jpg"_s)};
    for (const auto& c : cases) {
        held.append(file(c.name));
        if (c.recordedBy)
            working::restore({{}, {{u"mtp:A1"_s, {u"/sdcard/"_s + c.name, {}}, *c.recordedBy}}, {}});
    }
    phone->setFolder(u"/sdcard"_s, held);
    model().setShowHidden(true);
    reload();
    // And a copy into the folder, which reads it too.
    QTemporaryDir source;
    ASSERT_TRUE(QFile(source.filePath(u"new.jpg"_s)).open(QIODevice::WriteOnly));
    model().upload(urls({source.filePath(u"new.jpg"_s)}));
    run();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(removals(u"/sdcard/"_s + c.name), c.removals);
        EXPECT_FALSE(names(model().entries()).contains(c.name));
    }
}

// Mended: working items were recorded only once a clean-up failed, so a
// process killed mid-copy left no record of them. Each is on disk before it
// is made, both ways, and no longer once it is gone.
TEST_F(LeftoversTest, EachWorkingItemIsRecordedOnDiskBeforeItIsMade)
{
    QTemporaryDir source;
    ASSERT_TRUE(QFile(source.filePath(u"new.jpg"_s)).open(QIODevice::WriteOnly));
    const QString during = m_folder.filePath(u"during.ini"_s);
    for (const bool toPhone : {true, false}) {
        SCOPED_TRACE(toPhone ? "to the phone" : "to the computer");
        QFile::remove(during);
        QString madeAt;
        phone->onTransfer([&](const QString& call, const Progress&, const Cancel&) {
            madeAt = call.section(u' ', -1);
            snapshotSettings(during);
        });
        if (toPhone)
            model().upload(urls({source.filePath(u"new.jpg"_s)}));
        else
            model().download({file(u"photo.jpg"_s)});
        run();
        phone->onTransfer({});
        ASSERT_FALSE(madeAt.isEmpty());
        EXPECT_EQ(model().errorMessage(), std::nullopt);
        const QString name = madeAt.section(u'/', -1);
        EXPECT_TRUE(working::isOurs(name)) << name.toStdString();
        const auto recorded = [&](const working::Records& records) {
            return toPhone ? std::any_of(records.left.begin(), records.left.end(),
                                         [&](const working::Recorded& one) {
                                             return one.phone == u"adb:A1"_s && one.item.path == madeAt;
                                         })
                           : std::any_of(records.local.begin(), records.local.end(),
                                         [&](const working::LocalRecord& one) { return one.path == madeAt; });
        };
        EXPECT_TRUE(recorded(recordsIn(during)));
        quit();
        EXPECT_FALSE(recorded(recordsIn(m_settingsPath)));
        pass();
        model().setAskWhereToSave(false);
        model().setSaveFolder(saved.path());
    }
}

// Mended: a new letter case of a name moves the person's own item under a
// working name first; a process killed there left it under our mark and
// unrecorded, and the next listing removed it as a stale working item.
TEST_F(LeftoversTest, AnItemRespelledIsKeptOnDiskBeforeItLeavesItsName)
{
    phone->setIgnoresCase(true);
    phone->setFolder(u"/sdcard"_s, {file(u"Photo.jpg"_s)});
    reload();
    const QString during = m_folder.filePath(u"respelling.ini"_s);
    QString movedTo;
    phone->onCall([&](const QString& call, const Cancel&) {
        if (call.startsWith(u"move /sdcard/Photo.jpg "_s) && movedTo.isEmpty()) {
            movedTo = call.section(u' ', -1);
            snapshotSettings(during);
        }
    });
    model().rename(file(u"Photo.jpg"_s), u"photo.jpg"_s);
    run();
    phone->onCall({});
    EXPECT_EQ(model().errorMessage(), std::nullopt);
    ASSERT_FALSE(movedTo.isEmpty());
    const auto kept = [&](const working::Records& records) {
        return std::any_of(records.kept.begin(), records.kept.end(),
                           [&](const working::Kept& one) { return one.path == movedTo; });
    };
    EXPECT_TRUE(kept(recordsIn(during)));
    quit();
    EXPECT_FALSE(kept(recordsIn(m_settingsPath)));
}

// Mended: after a hard kill mid-copy to the computer its hidden working
// items stayed in the save folder for good. The next start removes those
// recorded, only while they still look as a copy made them.
TEST_F(LeftoversTest, TheNextStartRemovesTheComputersRecordedWorkingItemsOnly)
{
    QTemporaryDir outside;
    QFile(outside.filePath(u"person.txt"_s)).open(QIODevice::WriteOnly);
    const auto at = [&](const QString& name) { return saved.filePath(name); };
    const auto put = [](const QString& path) {
        QFile out(path);
        return out.open(QIODevice::WriteOnly) && out.write("part") == 4;
    };
    const QString file = at(browserpaths::temporaryName(u"movie.mkv"_s, true));
    const QString folder = at(browserpaths::temporaryName(u"Album"_s, true));
    ASSERT_TRUE(put(file));
    ASSERT_TRUE(QDir().mkpath(folder + u"/sub"_s) && put(folder + u"/a.jpg"_s) && put(folder + u"/sub/b.jpg"_s));
    ASSERT_TRUE(QFile::link(outside.path(), folder + u"/sub/link"_s));
    const OtherProcess alive;
    ASSERT_FALSE(alive.identity().isEmpty());
    const QString another = working::markFor(u"another owner"_s);
    enum class By { none, us, running, gone };
    const struct {
        const char* why;
        QString path;
        By recorded;
        bool goes;
    } cases[] = {
        {"our file, recorded", file, By::us, true},
        {"our folder, recorded (a link inside goes as a name)", folder, By::us, true},
        {"a link now under our recorded name", at(browserpaths::temporaryName(u"Link"_s, true)), By::us, false},
        {"ours, not recorded", at(browserpaths::temporaryName(u"song.mp3"_s, true)), By::none, false},
        {"another owner's, recorded in settings shared with a process still running",
         at(browserpaths::temporaryName(u"song.mp3"_s, another)), By::running, false},
        {"another mark (the settings moved since), recorded by a process gone",
         at(browserpaths::temporaryName(u"clip.mp4"_s, another)), By::gone, true},
        {"an earlier version's, another process's maybe", at(u".movie.mkv.vantelorquist-copy"_s), By::none, false},
    };
    ASSERT_TRUE(QFile::link(outside.path(), cases[2].path));
    working::Records others;
    for (const auto& c : cases) {
        if (!browserpaths::existsLocally(c.path)) {
            ASSERT_TRUE(put(c.path));
        }
        if (c.recorded == By::us)
            working::recordLocal(c.path);
        else if (c.recorded != By::none)
            others.local.push_back({c.path, c.recorded == By::running ? alive.identity() : ofAReusedPid()});
    }
    // As the other processes stored them.
    {
        QSettings store(m_settingsPath, QSettings::IniFormat);
        working::Records all = working::records();
        all.local.insert(all.local.end(), others.local.begin(), others.local.end());
        BrowserSettings(store).setWorkingItems(settingkeys::workingItems, all);
    }
    quit();
    forgetProcess();
    model();
    settle();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(browserpaths::existsLocally(c.path), !c.goes);
    }
    EXPECT_TRUE(QFileInfo::exists(outside.filePath(u"person.txt"_s)));
    // What went, or was never ours, is no longer recorded; the link stays
    // so, and the running process's.
    EXPECT_EQ(working::localPaths(), (std::vector<QString>{cases[2].path, cases[4].path}));
}

// Mended: a record was acted on by its owner mark, so a second process on
// the same settings (another login) removed a running copy's working items,
// and after the settings moved a killed process's stayed for good. A record
// is acted on once the process it names is provably gone, whatever the mark.
TEST_F(LeftoversTest, ARecordedItemGoesOnceItsMakerIsProvablyGoneWhateverItsMark)
{
    OtherProcess alive;
    ASSERT_FALSE(alive.identity().isEmpty());
    const QString another = working::markFor(u"settings since moved"_s);
    const struct {
        const char* why;
        QString name;
        ProcessIdentity maker;
        int removals;
    } cases[] = {
        {"made by this process, no copy uses it", browserpaths::temporaryName(u"a.jpg"_s, true), ProcessIdentity::self(), 1},
        {"made by a process still running", browserpaths::temporaryName(u"b.jpg"_s, true), alive.identity(), 0},
        {"made in another boot", browserpaths::temporaryName(u"c.jpg"_s, true), ofAnotherBoot(), 1},
        {"its process id now another process's", browserpaths::temporaryName(u"d.jpg"_s, true), ofAReusedPid(), 1},
        {"made under settings since moved, by a process gone", browserpaths::temporaryName(u"e.jpg"_s, another),
         ofAReusedPid(), 1},
        {"an earlier version's of another mark", browserpaths::temporaryName(u"f.jpg"_s, another), {}, 0},
        {"an earlier version's of our mark", browserpaths::temporaryName(u"g.jpg"_s, true), {}, 1},
    };
    working::Records records;
    for (const auto& c : cases)
        records.left.push_back({u"adb:A1"_s, {u"/sdcard/"_s + c.name, {}}, c.maker});
    working::restore(records);
    pass();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        EXPECT_EQ(removals(u"/sdcard/"_s + c.name), c.removals);
    }
    // Its maker ended: it goes at the next pass.
    EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
    alive.end();
    pass();
    EXPECT_EQ(removals(u"/sdcard/"_s + cases[1].name), 1);
}

// Mended: a record was dropped as "gone" when its folder was away (a drive
// unmounted or unplugged, a card out), so the working item stayed for good
// once it came back. A record goes only when its folder is there and the
// item is not.
TEST_F(LeftoversTest, ARecordStaysWhileItsFolderIsAwayAndItsItemGoesOnceItIsBack)
{
    // The save folder's drive goes away while the copy is written.
    const QString away = saved.path() + u"-away"_s;
    QString madeAt;
    phone->onTransfer([&](const QString& call, const Progress&, const Cancel&) {
        madeAt = call.section(u' ', -1);
        QFile part(madeAt);
        if (part.open(QIODevice::WriteOnly))
            part.write(QByteArray(4096, 'p'));
        part.close();
        QDir().rename(saved.path(), away);
    });
    model().download({file(u"photo.jpg"_s)});
    run();
    phone->onTransfer({});
    ASSERT_FALSE(madeAt.isEmpty());
    EXPECT_NE(model().errorMessage(), std::nullopt);
    EXPECT_EQ(working::localPaths(), std::vector<QString>{madeAt});
    // Still away: nothing proves it gone.
    reload();
    settle();
    EXPECT_EQ(working::localPaths(), std::vector<QString>{madeAt});
    // Back: it goes, and so does its record.
    ASSERT_TRUE(QDir().rename(away, saved.path()));
    ASSERT_TRUE(QFileInfo::exists(madeAt));
    reload();
    settle();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !QFileInfo::exists(madeAt); }, std::chrono::seconds(5)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return working::localPaths().empty(); }, std::chrono::seconds(5)));

    // On the phone: a card away answers "not there" for the item and its folder alike.
    const QString onCard = u"/sdcard/Card/"_s + browserpaths::temporaryName(u"a.jpg"_s, true);
    working::leave(u"adb:A1"_s, {onCard, {}});
    phone->failCall(u"remove "_s + onCard, std::make_exception_ptr(ADBError::failed(u"No such file or directory"_s)));
    pass();
    EXPECT_TRUE(working::hasLeft(u"adb:A1"_s));
    phone->setFolder(u"/sdcard/Card"_s, {});
    pass();
    EXPECT_FALSE(working::hasLeft(u"adb:A1"_s));
}

// Mended: on a disk that can't exchange two names a Replace first moves the
// person's file to a hidden name; a kill then left it hidden for good and
// the next start removed the new copy. It is recorded as the person's, and
// the next start gives it back, or says where it is.
TEST_F(LeftoversTest, TheNextStartGivesBackThePersonsFileSetAsideOrSaysWhereItIs)
{
    const auto put = [](const QString& path, const QByteArray& bytes) {
        QFile out(path);
        return out.open(QIODevice::WriteOnly | QIODevice::Append) && out.write(bytes) == bytes.size();
    };
    const auto read = [](const QString& path) {
        QFile in(path);
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray("<none>");
    };
    const QByteArray persons = "the person's own bytes";
    const QByteArray ours = "our new copy";
    const OtherProcess alive;
    ASSERT_FALSE(alive.identity().isEmpty());
    enum class There { nothing, ourCopy, ourCopyWrittenSince, anotherFile, folder, personsFile };
    const struct {
        const char* why;
        QString name;
        bool setAside; // the person's file still at the hidden name
        There there;
        bool makerGone;
        bool back; // the person's file at its name again
        bool told;
    } cases[] = {
        {"its name free", u"a.txt"_s, true, There::nothing, true, true, false},
        {"our new copy at its name, as recorded", u"b.txt"_s, true, There::ourCopy, true, true, false},
        {"our new copy at its name, written to since", u"c.txt"_s, true, There::ourCopyWrittenSince, true, false, true},
        {"another file at its name", u"d.txt"_s, true, There::anotherFile, true, false, true},
        {"a folder at its name", u"e.txt"_s, true, There::folder, true, false, true},
        {"replaced as asked before the kill", u"f.txt"_s, false, There::ourCopy, true, false, false},
        {"its maker still running", u"g.txt"_s, true, There::nothing, false, false, false},
        // The file back, our copy at the hidden name instead: it goes.
        {"a giving back cut short", u"h.txt"_s, false, There::personsFile, true, true, false},
    };
    working::Records records;
    std::vector<QString> asides;
    for (const auto& c : cases) {
        const QString name = saved.filePath(c.name);
        const QString aside = saved.filePath(browserpaths::temporaryName(c.name, true));
        asides.push_back(aside);
        if (c.setAside) {
            ASSERT_TRUE(put(aside, persons));
        }
        std::optional<fileplaces::Identity> copy;
        if (c.there == There::ourCopy || c.there == There::ourCopyWrittenSince) {
            ASSERT_TRUE(put(name, ours));
            copy = fileplaces::identityOf(paths::bytes(name));
            if (c.there == There::ourCopyWrittenSince) {
                ASSERT_TRUE(put(name, " and more"));
            }
        } else if (c.there == There::anotherFile) {
            ASSERT_TRUE(put(name, "another file"));
        } else if (c.there == There::folder) {
            ASSERT_TRUE(QDir().mkpath(name));
        } else if (c.there == There::personsFile) {
            ASSERT_TRUE(put(aside, ours));
            copy = fileplaces::identityOf(paths::bytes(aside));
            ASSERT_TRUE(put(name, persons));
        }
        records.local.push_back({aside, c.makerGone ? ofAReusedPid() : alive.identity(), working::GiveBack{name, copy}});
    }
    // As the killed process stored them.
    {
        QSettings store(m_settingsPath, QSettings::IniFormat);
        BrowserSettings(store).setWorkingItems(settingkeys::workingItems, records);
    }
    quit();
    forgetProcess();
    model();
    settle();
    const QString message = model().errorMessage().value_or(QString());
    for (size_t index = 0; index < std::size(cases); ++index) {
        const auto& c = cases[index];
        SCOPED_TRACE(c.why);
        const QString name = saved.filePath(c.name);
        const QString hidden = asides[index].section(u'/', -1);
        if (c.back) {
            EXPECT_EQ(read(name), persons);
            EXPECT_FALSE(browserpaths::existsLocally(asides[index]));
        } else if (c.setAside) {
            // Never removed, nor moved over what has the name.
            EXPECT_EQ(read(asides[index]), persons);
            EXPECT_NE(read(name), persons);
        }
        if (c.there == There::ourCopy && !c.back) {
            EXPECT_EQ(read(name), ours);
        }
        EXPECT_EQ(message.contains(u"“"_s + c.name + u"”"_s), c.told) << message.toStdString();
        EXPECT_EQ(message.contains(u"“"_s + hidden + u"”"_s), c.told) << message.toStdString();
    }
    EXPECT_TRUE(message.contains(saved.path())) << message.toStdString();
    // Only the running process's is still recorded; nothing of ours is left beside the names.
    EXPECT_EQ(working::localPaths(), std::vector<QString>{asides[6]});
    for (const QString& left : QDir(saved.path()).entryList({u".*"_s}, QDir::Hidden | QDir::Files))
        EXPECT_TRUE(std::find(asides.begin(), asides.end(), saved.filePath(left)) != asides.end()) << left.toStdString();
}

} // namespace
