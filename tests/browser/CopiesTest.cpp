// Copies to the computer, opening on it, and copies to the phone: the panels,
// the per-item lines, what Skip, Keep Both and Replace hand the transport,
// what is cleaned up after a failure or Stop and what never is.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "BrowserPaths.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

class CopiesTest : public JobTest {
protected:
    QString local(const QString& name) { return saved.filePath(name); }
    void make(const QString& name, const QByteArray& contents = "old")
    {
        QFile made(local(name));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly) && made.write(contents) == contents.size());
    }
    QByteArray read(const QString& name)
    {
        QFile file(local(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    }
    // The transfer of `call` ends at Stop with the cancellation.
    void stopDuring(const QString& call)
    {
        phone->onTransfer([this, call](const QString& made, const Progress&, const Cancel& cancel) {
            if (!made.startsWith(call))
                return;
            QMetaObject::invokeMethod(&model(), [this] { model().cancelJob(); });
            testsupport::waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
    }
};

TEST_F(CopiesTest, ThePanelStartsAtTheSaveFolderAndItsChoiceIsKeptEvenWhenNothingIsCopied)
{
    model().setAskWhereToSave(true);
    model().download({file(u"photo.jpg"_s)}); // closed: nothing copied
    ASSERT_EQ(desktop->panels.size(), 1);
    EXPECT_EQ(desktop->panels[0].folder, saved.path());
    EXPECT_FALSE(model().job());

    QTemporaryDir other;
    ASSERT_TRUE(QFile(other.filePath(u"photo.jpg"_s)).open(QIODevice::WriteOnly));
    desktop->folder = other.path();
    desktop->answer = 3; // Cancel at the conflict question
    model().download({file(u"photo.jpg"_s)});
    EXPECT_EQ(model().saveFolder(), other.path());
    EXPECT_FALSE(model().job());
}

TEST_F(CopiesTest, CopyToMacSkipsKeepsBothOrReplacesAndRevealsOnlyWhatItCopied)
{
    make(u"photo.jpg"_s);
    ASSERT_TRUE(QDir(saved.path()).mkpath(u"Photos/mine"_s));
    const QList<RemoteEntry> both{file(u"photo.jpg"_s), folder(u"Photos"_s)};

    desktop->answer = 2; // Skip
    model().download({file(u"photo.jpg"_s), file(u".hidden"_s)});
    run();
    EXPECT_EQ(read(u"photo.jpg"_s), "old");
    EXPECT_EQ(desktop->revealed, QList<QStringList>{{local(u".hidden"_s)}});

    desktop->answer = 1; // Keep Both
    model().download({file(u"photo.jpg"_s)});
    run();
    EXPECT_EQ(read(u"photo 2.jpg"_s), "/sdcard/photo.jpg");
    EXPECT_EQ(desktop->revealed.last(), QStringList{local(u"photo 2.jpg"_s)});

    desktop->answer = 0; // Replace: a folder merges instead of nesting
    phone->setFolder(u"/sdcard/Photos"_s, {file(u"cat.jpg"_s)});
    model().setRevealAfterCopy(false);
    model().download(both);
    run();
    EXPECT_TRUE(QFileInfo::exists(local(u"Photos/mine"_s)));
    EXPECT_EQ(read(u"Photos/cat.jpg"_s), "/sdcard/Photos/cat.jpg");
    EXPECT_EQ(read(u"photo.jpg"_s), "/sdcard/photo.jpg");
    EXPECT_EQ(desktop->revealed.size(), 2);

    // Everything skipped: nothing to show.
    model().setRevealAfterCopy(true);
    desktop->answer = 2;
    model().download(both);
    run();
    EXPECT_EQ(desktop->revealed.size(), 2);
}

// Mended: a failed or stopped Replace left the computer's file as the
// transport left it, part of the phone's file or nothing.
TEST_F(CopiesTest, AFailedOrStoppedCopyLeavesTheComputersFilesAsTheyWere)
{
    make(u"photo.jpg"_s);
    desktop->answer = 0;
    // Item -> stopped (else it fails): the transport writes part of the file where it was told to.
    const struct {
        QString name;
        bool stop;
    } cases[] = {{u"photo.jpg"_s, false}, {u"photo.jpg"_s, true}, {u"new.jpg"_s, false}, {u"new.jpg"_s, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE((c.name + (c.stop ? u" stopped"_s : u" failed"_s)).toStdString());
        model().setErrorMessage(std::nullopt);
        phone->onTransfer([this, c](const QString& call, const Progress&, const Cancel& cancel) {
            const QString destination = call.section(u' ', 2);
            QFile part(QFileInfo(destination).isDir() ? destination + u'/' + c.name : destination);
            ASSERT_TRUE(part.open(QIODevice::WriteOnly) && part.write("partial") == 7);
            part.close();
            if (!c.stop)
                throw ADBError::failed(u"adb: error: connection lost"_s);
            QMetaObject::invokeMethod(&model(), [this] { model().cancelJob(); });
            testsupport::waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
        model().download({file(c.name)});
        run();
        EXPECT_EQ(model().errorMessage().has_value(), !c.stop);
        EXPECT_EQ(QDir(saved.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{u"photo.jpg"_s});
        EXPECT_EQ(read(u"photo.jpg"_s), "old");
    }
    EXPECT_TRUE(desktop->revealed.isEmpty());
}

// Mended: a folder copy met a clash only when it reached it, after the files
// before it were copied, and merged through a link on the computer into the
// folder it leads to.
TEST_F(CopiesTest, AFolderCopyThatMeetsAnItemOfTheOtherKindLeavesOutThatItemAloneAndFollowsNoLink)
{
    QTemporaryDir elsewhere;
    phone->setFolder(u"/sdcard/Photos"_s, {file(u"a.jpg"_s), file(u"b.jpg"_s), folder(u"sub"_s)});
    phone->setFolder(u"/sdcard/Photos/sub"_s, {file(u"c.jpg"_s)});
    desktop->answer = 0; // Replace: folders merge
    // What is on the computer at Photos/NAME -> the sentence, and what the folder holds after.
    const struct {
        QString name;
        bool link; // a link to a folder elsewhere, else a folder or a file
        QString message;
        QStringList after;
    } cases[] = {
        {u"b.jpg"_s, false, u"“b.jpg” wasn't copied: a folder of that name is in its place."_s,
         {u"a.jpg"_s, u"b.jpg"_s, u"sub"_s}},
        {u"sub"_s, false, u"“sub” wasn't copied: a file of that name is in its place."_s, {u"a.jpg"_s, u"b.jpg"_s, u"sub"_s}},
        {u"sub"_s, true, u"“sub” wasn't copied: a file of that name is in its place."_s, {u"a.jpg"_s, u"b.jpg"_s, u"sub"_s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name.toStdString() + (c.link ? " link" : ""));
        QDir(local(u"Photos"_s)).removeRecursively();
        ASSERT_TRUE(QDir(saved.path()).mkpath(u"Photos"_s));
        const QString there = local(u"Photos/"_s + c.name);
        if (c.link)
            ASSERT_TRUE(QFile::link(elsewhere.path(), there));
        else if (c.name.endsWith(u".jpg"_s))
            ASSERT_TRUE(QDir().mkpath(there));
        else
            make(u"Photos/"_s + c.name);
        model().setErrorMessage(std::nullopt);
        model().download({folder(u"Photos"_s)});
        run();
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message);
        // Only that item stays out; the rest is copied.
        EXPECT_EQ(QDir(local(u"Photos"_s)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System),
                  c.after);
        EXPECT_EQ(QFileInfo(local(u"Photos/sub/c.jpg"_s)).isFile(), c.name != u"sub"_s);
        EXPECT_TRUE(QDir(elsewhere.path()).isEmpty());
    }
}

// Mended: any failure but a clash ended a folder copy to the computer: one
// name the disk couldn't hold, or one file it refused, and the rest never
// came, unsaid; a failure that ended the copy counted none of the items
// inside the folder it never came to, and over USB named our hidden file.
TEST_F(CopiesTest, AFolderCopyLeavesOutEachItemTheComputerRefusesAndCountsWhatAnEndingFailureNeverReached)
{
    const QString longName = QString(90, QChar(0x5b57)) + u".txt"_s; // 270 bytes, more than ext4's 255
    phone->setFolder(u"/sdcard/Docs"_s, {file(u"a.txt"_s), file(longName), folder(u"sub"_s), file(u"z.txt"_s)});
    phone->setFolder(u"/sdcard/Docs/sub"_s, {file(u"b.txt"_s), file(u"c.txt"_s)});
    const QString notReached = u" wasn't copied: the copy ended before it came to it."_s;
    // What b.txt's transfer meets -> what is told, and what arrives.
    const struct {
        const char* what;
        int error; // b.txt's write fails so; 0: it doesn't
        QString message;
        QStringList details;
        QStringList copied;
    } cases[] = {
        {"a name too long, alone", 0, u"“"_s + longName + u"” wasn't copied: its name is too long for the computer's disk."_s,
         {}, {u"a.txt"_s, u"sub/b.txt"_s, u"sub/c.txt"_s, u"z.txt"_s}},
        {"and one file the disk refuses", EACCES,
         u"“"_s + longName + u"” wasn't copied: its name is too long for the computer's disk. 1 other item wasn't copied."_s,
         {u"“"_s + longName + u"” wasn't copied: its name is too long for the computer's disk."_s,
          u"Copying “b.txt” failed: Permission denied."_s},
         {u"a.txt"_s, u"sub/c.txt"_s, u"z.txt"_s}},
        {"and a full disk", ENOSPC, u"Copying “b.txt” failed: No space left on device. 3 other items weren't copied."_s,
         {u"Copying “b.txt” failed: No space left on device."_s,
          u"“"_s + longName + u"” wasn't copied: its name is too long for the computer's disk."_s,
          u"“c.txt”"_s + notReached, u"“z.txt”"_s + notReached},
         {u"a.txt"_s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(local(u"Docs"_s)).removeRecursively();
        model().setErrorMessage(std::nullopt);
        phone->onTransfer([&c](const QString& call, const Progress&, const Cancel&) {
            // The transport names the partial file it writes beside our working item.
            if (c.error && call.section(u' ', 1, 1).endsWith(u"/b.txt"_s))
                throw SystemError::fromErrno(u"Couldn't write “"_s + call.section(u' ', 2) + u".vantelorquist”"_s, c.error);
        });
        model().download({folder(u"Docs"_s)});
        run();
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message);
        EXPECT_EQ(model().errorDetails(), c.details);
        QStringList arrived;
        for (const QString& name : {u"a.txt"_s, u"sub/b.txt"_s, u"sub/c.txt"_s, u"z.txt"_s}) {
            if (QFileInfo(local(u"Docs/"_s + name)).isFile())
                arrived.append(name);
        }
        EXPECT_EQ(arrived, c.copied);
        // Nothing of ours stays.
        EXPECT_EQ(QDir(saved.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                  QStringList{u"Docs"_s});
    }
    phone->onTransfer({});
}

TEST_F(CopiesTest, OpenOnMacStagesEachRequestApartAndOpensEachFileWhenItArrives)
{
    auto second = gates.emplace_back(std::make_shared<Gate>());
    phone->onTransfer([second](const QString& call, const Progress&, const Cancel&) {
        if (call.startsWith(u"pull /sdcard/b.txt"_s))
            second->wait();
    });
    model().openOnMac({file(u"a.txt"_s), file(u"b.txt"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->waiting() && desktop->opened.size() == 1; }));
    second->open();
    run();
    model().openOnMac({file(u"c.txt"_s)});
    run();
    ASSERT_EQ(desktop->opened.size(), 3);
    const QString first = QFileInfo(desktop->opened[0]).path();
    EXPECT_EQ(QFileInfo(desktop->opened[1]).path(), first);
    EXPECT_NE(QFileInfo(desktop->opened[2]).path(), first);
    EXPECT_EQ(QFileInfo(first).path(), TempFolder::path());
}

// Mended: with no program for the file, the copy arrived and nothing showed.
TEST_F(CopiesTest, OpenOnMacSaysSoWhenNoProgramOpensTheFile)
{
    desktop->opens = false;
    model().openOnMac({file(u"a.txt"_s)});
    run();
    EXPECT_EQ(desktop->opened.size(), 1);
    EXPECT_EQ(model().errorMessage(), u"“a.txt” can't be opened: no application on this computer opens it."_s);
}

// Mended: Stop or a lost phone while opening a large file left the part
// copied in the staging folder until the application quit.
TEST_F(CopiesTest, OpeningThatStopsOrFailsLeavesNoPartOfTheFileStaged)
{
    for (const bool stop : {true, false}) {
        QString staged;
        phone->onTransfer([this, stop, &staged](const QString& call, const Progress&, const Cancel& cancel) {
            // "pull /sdcard/holiday.mkv FOLDER": the transport has begun the file.
            staged = call.section(u' ', 2) + u"/holiday.mkv"_s;
            QFile part(staged);
            ASSERT_TRUE(part.open(QIODevice::WriteOnly) && part.write("part") == 4);
            part.close();
            if (!stop)
                throw ADBError::failed(u"adb: error: connection lost"_s);
            QMetaObject::invokeMethod(&model(), [this] { model().cancelJob(); });
            testsupport::waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
        model().openOnMac({file(u"holiday.mkv"_s)});
        run();
        ASSERT_FALSE(staged.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(staged)) << (stop ? "after Stop" : "after a failure");
        EXPECT_TRUE(desktop->opened.isEmpty());
        EXPECT_EQ(model().errorMessage().has_value(), !stop);
        model().setErrorMessage(std::nullopt);
    }
}

TEST_F(CopiesTest, CopyToPhoneGoesIntoTheFolderAskedForWithOneSlash)
{
    desktop->items = {u"/m/song.mp3"_s};
    phone->setFolder(u"/sdcard/Download"_s, {});
    model().chooseAndUpload(u"/sdcard/Download"_s);
    run();
    phone->setFolder(u"/"_s, {folder(u"sdcard"_s)});
    model().navigate(u"/"_s);
    settle();
    model().chooseAndUpload();
    run();
    EXPECT_EQ(phone->sent(u"/m/song.mp3"_s, u"/sdcard/Download/song.mp3"_s), 1);
    EXPECT_EQ(phone->sent(u"/m/song.mp3"_s, u"/song.mp3"_s), 1);
    // Checked before the copy and as it takes its name.
    EXPECT_EQ(phone->calls(u"exists /song.mp3"_s), 2);
}

TEST_F(CopiesTest, KeepBothNeverTakesANameThePhoneOrThisCopyHas)
{
    // "photo 2.jpg" exists on the phone though not listed; two items of the
    // same name take 3 and 4.
    phone->setFolder(u"/sdcard/photo 2.jpg"_s, {});
    desktop->answer = 1;
    model().upload(urls({u"/m/photo.jpg"_s, u"/n/photo.jpg"_s}));
    run();
    EXPECT_EQ(phone->sent(u"/m/photo.jpg"_s, u"/sdcard/photo 3.jpg"_s), 1);
    EXPECT_EQ(phone->sent(u"/n/photo.jpg"_s, u"/sdcard/photo 4.jpg"_s), 1);
}

// Mended: a new item went in under its own name, so Stop removed it by that
// name, which may reach the phone's own item.
TEST_F(CopiesTest, StopRemovesOnlyTheWorkingItemOfTheCopyItself)
{
    // Item copied into a folder, new or there: Stop during its transfer.
    const struct {
        QString name, into;
    } cases[] = {
        {u"new.jpg"_s, u"/sdcard"_s},
        {u"photo.jpg"_s, u"/sdcard"_s},
        {u".hidden"_s, u"/sdcard"_s}, // not listed (hidden), but there on the phone
        {u"photo.jpg"_s, u"/sdcard/Photos"_s}, // another folder, whose names the window does not know
    };
    phone->setFolder(u"/sdcard/Photos"_s, {file(u"photo.jpg"_s)});
    desktop->answer = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE((c.into + u'/' + c.name).toStdString());
        const int listings = phone->calls(u"list /sdcard"_s);
        // Every item goes in under a hidden working name beside its own.
        stopDuring(u"push /m/"_s + c.name + u' ' + c.into + u"/."_s + c.name + u'.');
        // The current folder is the one asked for when none is named.
        model().upload(urls({u"/m/"_s + c.name}), c.into == model().path() ? std::nullopt : std::optional(c.into));
        run();
        EXPECT_EQ(phone->calls(u"remove "_s + c.into + u'/' + c.name), 0);
        EXPECT_EQ(phone->callsMatching(QRegularExpression(u'^' + QRegularExpression::escape(u"remove "_s + c.into + u"/."_s + c.name + u'.')
                                                          + u"(?:[0-9a-f]{8}-)?[0-9a-f]{12}\\.vantelorquist-copy$"_s)),
                  1);
        EXPECT_EQ(phone->calls(u"list /sdcard"_s), listings + (c.into == u"/sdcard"_s ? 2 : 1));
        EXPECT_FALSE(model().errorMessage());
    }
}

// Mended: a check that failed read as "not there", and Stop then removed
// the user's own item, a folder being merged included.
TEST_F(CopiesTest, StopKeepsAnItemWhoseCheckFailed)
{
    // Item copied into a folder whose check fails -> the transfer Stop comes in.
    const struct {
        QString name, into, stopped;
    } cases[] = {
        {u"Photos"_s, u"/sdcard"_s, u"/sdcard/Photos/.photo.jpg."_s}, // listed: merged into
        {u"photo.jpg"_s, u"/sdcard/Photos"_s, u"/sdcard/Photos/.photo.jpg."_s}, // listed there
        {u"new.jpg"_s, u"/sdcard/Photos"_s, u"/sdcard/Photos/"_s}, // can't be told: left alone
        {u"new.jpg"_s, u"/sdcard"_s, u"/sdcard/"_s},
    };
    QTemporaryDir source;
    ASSERT_TRUE(QDir(source.path()).mkpath(u"Photos"_s));
    for (const QString& name : {u"Photos/photo.jpg"_s, u"photo.jpg"_s, u"new.jpg"_s})
        ASSERT_TRUE(QFile(source.filePath(name)).open(QIODevice::WriteOnly));
    phone->setFolder(u"/sdcard/Photos"_s, {file(u"photo.jpg"_s)});
    desktop->answer = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE((c.into + u'/' + c.name).toStdString());
        model().setErrorMessage(std::nullopt);
        phone->failExists(c.into + u'/' + c.name);
        const QString item = source.filePath(c.name);
        stopDuring(u"push "_s + (c.name == u"Photos"_s ? item + u"/photo.jpg"_s : item) + u' ' + c.stopped);
        model().upload(urls({item}), c.into == model().path() ? std::nullopt : std::optional(c.into));
        run();
        EXPECT_EQ(phone->calls(u"remove "_s + c.into + u'/' + c.name), 0);
        EXPECT_EQ(phone->calls(u"remove /sdcard/Photos/photo.jpg"_s), 0);
        EXPECT_FALSE(model().errorMessage());
    }
    const std::vector<RemoteEntry> left = phone->list(u"/sdcard/Photos"_s, true, Cancel());
    EXPECT_EQ(joined(QList<RemoteEntry>(left.begin(), left.end())), u"photo.jpg"_s);
}

// Mended: inside a Replace merge, an item the phone holds under another
// letter case whose check could not answer was taken for new, and Stop then
// removed it by the computer's spelling, which a phone's shared storage
// takes for the phone's own item.
TEST_F(CopiesTest, AMergeNeverRemovesThePhonesItemOfAnotherSpelling)
{
    QTemporaryDir source;
    ASSERT_TRUE(QDir(source.path()).mkpath(u"Photos"_s));
    for (const QString& name : {u"Photos/IMG_1.JPG"_s, u"Photos/new.jpg"_s})
        ASSERT_TRUE(QFile(source.filePath(name)).open(QIODevice::WriteOnly));
    phone->setFolder(u"/sdcard/Photos"_s, {file(u"IMG_1.jpg"_s)});
    phone->failExists(u"/sdcard/Photos/IMG_1.JPG"_s);
    desktop->answer = 0;
    // Whether Stop comes during the merge's transfer of IMG_1.JPG.
    for (const bool stop : {true, false}) {
        SCOPED_TRACE(stop);
        model().setErrorMessage(std::nullopt);
        if (stop)
            stopDuring(u"push "_s + source.filePath(u"Photos/IMG_1.JPG"_s));
        else
            phone->onTransfer({});
        model().upload(urls({source.filePath(u"Photos"_s)}));
        run();
        EXPECT_EQ(phone->callsStartingWith(u"remove /sdcard/Photos/IMG_1"_s), 0);
        EXPECT_EQ(phone->callsStartingWith(u"move /sdcard/Photos/.IMG_1"_s), 0);
        EXPECT_EQ(model().errorMessage().value_or(QString()),
                  u"“IMG_1.JPG” wasn't copied: the phone didn't answer whether it is “IMG_1.jpg”, which the folder holds."_s);
    }
    const std::vector<RemoteEntry> left = phone->list(u"/sdcard/Photos"_s, true, Cancel());
    EXPECT_EQ(joined(QList<RemoteEntry>(left.begin(), left.end())), u"IMG_1.jpg"_s);
}

// Mended: Keep Both counted on for ever when the phone could not say
// whether a numbered name was free, Stop included.
TEST_F(CopiesTest, KeepBothEndsWhenThePhoneCannotAnswer)
{
    phone->failExists(u"/sdcard/photo *"_s);
    desktop->answer = 1;
    model().upload(urls({u"/m/photo.jpg"_s}));
    run();
    EXPECT_EQ(model().errorMessage().value_or(QString()),
              u"“photo.jpg” wasn't copied: the phone didn't answer whether “photo 2.jpg” is free."_s);
    EXPECT_EQ(phone->callsStartingWith(u"push "_s), 0);
}

TEST(FreeNames, ThePhonesFreeNameSearchEnds)
{
    std::stop_source stopped;
    stopped.request_stop();
    // What the phone answers for every name, whether Stop came -> the name found, or the failure.
    const struct {
        std::function<std::optional<bool>(const QString&)> taken;
        bool stop;
        QString found, failure;
    } cases[] = {
        {[](const QString& name) { return std::optional(name != u"a 4.txt"_s); }, false, u"a 4.txt"_s, {}},
        {[](const QString&) { return std::optional<bool>(); }, false, {},
         u"“a.txt” wasn't copied: the phone didn't answer whether “a 2.txt” is free."_s},
        {[](const QString&) { return std::optional<bool>(); }, true, {}, u"stopped"_s},
        {[](const QString&) { return std::optional(true); }, false, {},
         u"“a.txt” wasn't copied: the phone has no free numbered name for it."_s},
        {[](const QString&) { return std::optional(true); }, true, {}, u"stopped"_s},
    };
    for (const auto& c : cases) {
        const Cancel cancel = c.stop ? Cancel(stopped.get_token()) : Cancel();
        try {
            EXPECT_EQ(BrowserModel::uniqueRemoteName(u"a.txt"_s, c.taken, cancel), c.found);
        } catch (const Cancelled&) {
            EXPECT_EQ(u"stopped"_s, c.failure);
        } catch (const Error& error) {
            EXPECT_EQ(error.description(), c.failure);
        }
    }
}

// Mended: items dropped on another folder (a path bar crumb, a folder tile,
// the tray's Send Files to Downloads…), or hidden ones while hidden items
// are not shown, replaced the phone's items of those names unasked.
TEST_F(CopiesTest, EveryCopyToThePhoneAsksAboutWhatItsFolderHolds)
{
    phone->setFolder(u"/sdcard/Documents"_s, {file(u"letter.txt"_s)});
    phone->setFolder(u"/sdcard/Download"_s, {file(u"song.mp3"_s)});
    desktop->items = {u"/m/song.mp3"_s};
    const struct {
        const char* what;
        std::function<void()> request;
        QString question, item;
    } cases[] = {
        {"dropped on another folder", [&] { model().handleDrop(urls({u"/m/letter.txt"_s}), u"/sdcard/Documents"_s); },
         u"“letter.txt” already exists in the phone."_s, u"/m/letter.txt"_s},
        {"hidden, not shown", [&] { model().handleDrop(urls({u"/m/.hidden"_s, u"/m/new.txt"_s})); },
         u"“.hidden” already exists in the phone."_s, u"/m/.hidden"_s},
        {"sent to Downloads", [&] { model().chooseAndUpload(u"/sdcard/Download"_s); },
         u"“song.mp3” already exists in the phone."_s, u"/m/song.mp3"_s},
    };
    desktop->answer = 2; // Skip
    for (const auto& c : cases) {
        desktop->questions.clear();
        c.request();
        run();
        ASSERT_EQ(desktop->questions.size(), 1) << c.what;
        EXPECT_EQ(desktop->questions[0].message, c.question) << c.what;
        EXPECT_EQ(phone->callsStartingWith(u"push "_s + c.item + u' '), 0) << c.what;
    }
    EXPECT_EQ(phone->sent(u"/m/new.txt"_s, u"/sdcard/new.txt"_s), 1);
}

// Mended: Keep Both gave an item the numbered name another item of the same
// copy then took, so one overwrote (or merged into) the other.
TEST_F(CopiesTest, KeepBothTakesNoNameAnotherItemOfTheCopyWillTake)
{
    phone->setFolder(u"/sdcard"_s, {file(u"notes"_s), folder(u"Proj"_s)});
    reload();
    desktop->answer = 1;
    model().upload(urls({u"/m/notes"_s, u"/m/notes 2"_s, u"/m/Proj"_s, u"/m/Proj 2"_s}));
    run();
    for (const auto& [from, to] : {std::pair(u"/m/notes"_s, u"/sdcard/notes 3"_s), std::pair(u"/m/notes 2"_s, u"/sdcard/notes 2"_s),
                                   std::pair(u"/m/Proj"_s, u"/sdcard/Proj 3"_s), std::pair(u"/m/Proj 2"_s, u"/sdcard/Proj 2"_s)})
        EXPECT_EQ(phone->sent(from, to), 1) << to.toStdString();

    make(u"notes"_s);
    model().download({file(u"notes"_s), file(u"notes 2"_s)});
    run();
    EXPECT_EQ(read(u"notes"_s), "old");
    EXPECT_EQ(read(u"notes 3"_s), "/sdcard/notes");
    EXPECT_EQ(read(u"notes 2"_s), "/sdcard/notes 2");
}

// Mended: a copy that failed because its item was deleted on the phone left
// the item's row in the listing.
TEST_F(CopiesTest, ACopyOfAnItemGoneFromThePhoneListsTheFolderAgain)
{
    // The transport's failure -> whether the folder is listed again.
    const struct {
        std::exception_ptr failure;
        bool listed;
    } cases[] = {
        {std::make_exception_ptr(ADBError::failed(
             u"adb: error: failed to stat remote object '/sdcard/photo.jpg': No such file or directory"_s)),
         true},
        // Mended: adb's newer words for the same.
        {std::make_exception_ptr(ADBError::failed(u"adb: error: remote object '/sdcard/photo.jpg' does not exist"_s)),
         true},
        {std::make_exception_ptr(FakeMtpMissing(u"photo.jpg"_s)), true},
        {std::make_exception_ptr(ADBError::failed(u"adb: error: connection lost"_s)), false},
    };
    for (const auto& c : cases) {
        const int listings = phone->calls(u"list /sdcard"_s);
        phone->onTransfer([&](const QString&, const Progress&, const Cancel&) { std::rethrow_exception(c.failure); });
        model().setErrorMessage(std::nullopt);
        model().download({file(u"photo.jpg"_s)});
        run();
        EXPECT_EQ(phone->calls(u"list /sdcard"_s), listings + (c.listed ? 1 : 0));
        EXPECT_TRUE(model().errorMessage());
        model().openOnMac({file(u"photo.jpg"_s)});
        run();
        EXPECT_EQ(phone->calls(u"list /sdcard"_s), listings + (c.listed ? 2 : 0));
    }
}

TEST(FreeNames, ANameThatWouldPassTheLimitIsCutBeforeTheNumber)
{
    const QString emoji = u"\U0001F600"_s;
    // Name -> its second numbered form, at most 255 bytes, no character cut in two.
    const struct {
        QString name, numbered;
    } cases[] = {
        {QString(251, u'a') + u".txt"_s, QString(249, u'a') + u" 2.txt"_s},
        {QString(125, QChar(0xE9)) + u".txt"_s, QString(124, QChar(0xE9)) + u" 2.txt"_s},
        {u"ab"_s + emoji.repeated(63), u"ab"_s + emoji.repeated(62) + u" 2"_s},
        {u"short.txt"_s, u"short 2.txt"_s},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(BrowserModel::numbered(c.name, 2), c.numbered) << c.name.size();
        EXPECT_LE(c.numbered.toUtf8().size(), 255);
    }
    // On the disk: the free name can be made.
    QTemporaryDir dir;
    const QString longest = dir.filePath(QString(251, u'a') + u".txt"_s);
    ASSERT_TRUE(QFile(longest).open(QIODevice::WriteOnly));
    QFile next(BrowserModel::uniqueLocalURL(longest));
    EXPECT_TRUE(next.open(QIODevice::WriteOnly)) << next.errorString().toStdString();
}

// Mended: Stop, then the same Replace again at once, failed now and then
// with "mv: cannot stat": the phone removed the stopped copy's file late,
// and it bore the name of the new one's.
TEST(FreeNames, EachCopyToThePhoneMakesItsNewFileUnderANameOfItsOwn)
{
    // Within both limits, the mark kept: 255 bytes on the disk, and the 254
    // UTF-16 units an MTP string carries (a name of 255 ASCII bytes is cut
    // there, and so is one of four-byte characters, two units each).
    const QString emoji = QString::fromUtf8("\xF0\x9F\x93\xB7");
    for (const QString& name : {u"keep.bin"_s, QString(300, u'k'), QString(248, u'k'), emoji.repeated(100),
                                QString(240, u'k') + emoji.repeated(10)}) {
        const QString first = browserpaths::temporaryName(name, true);
        const QString second = browserpaths::temporaryName(name, true);
        EXPECT_NE(first, second);
        for (const QString& made : {first, second, browserpaths::temporaryName(name)}) {
            EXPECT_TRUE(made.startsWith(u'.') && made.endsWith(u".vantelorquist-copy"_s)) << made.toStdString();
            EXPECT_LE(made.toUtf8().size(), 255);
            EXPECT_LE(made.size(), 254) << made.toStdString();
            EXPECT_TRUE(made.isValidUtf16()) << made.toStdString();
        }
        EXPECT_TRUE(browserpaths::isWorkingName(first) && browserpaths::workingnames::isOurs(first));
    }
}

} // namespace

// Mended: an item that came into the destination after the person answered
// (a camera, another program) was replaced without a word, whatever the
// answer. It is a clash handled by the answer given, or, unasked, a failure.
TEST_F(CopiesTest, AnItemThatCameAfterTheQuestionIsNeverReplaced)
{
    const QString came = u"“b.txt” wasn't copied: an item of that name came "_s;
    const struct {
        const char* what;
        std::optional<int> answer; // none: no clash, no question
        QString keptAs;            // where the copy of b.txt went, if anywhere
        QString message;
    } cases[] = {
        {"skip", 2, {}, {}},
        {"keep both", 1, u"b 2.txt"_s, {}},
        {"replace", 0, {}, came},
        {"no question", std::nullopt, {}, came},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        desktop->answer = c.answer;
        const QStringList items = c.answer ? QStringList{u"a.txt"_s, u"c.txt"_s, u"b.txt"_s} : QStringList{u"c.txt"_s, u"b.txt"_s};

        // To the phone: b.txt comes while c.txt is sent.
        phone->setFolder(u"/sdcard"_s, {file(u"a.txt"_s)});
        reload();
        phone->onTransfer([this](const QString& call, const Progress&, const Cancel&) {
            if (call.startsWith(u"push /m/c.txt"_s))
                phone->setFolder(u"/sdcard"_s, {file(u"a.txt"_s), file(u"b.txt"_s)});
        });
        QStringList sources;
        for (const QString& item : items)
            sources.append(u"/m/"_s + item);
        model().upload(urls(sources));
        run();
        EXPECT_EQ(phone->sent(u"/m/b.txt"_s, u"/sdcard/b.txt"_s), 0);
        if (!c.keptAs.isEmpty()) {
            EXPECT_EQ(phone->sent(u"/m/b.txt"_s, u"/sdcard/"_s + c.keptAs), 1);
        }
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message.isEmpty() ? QString() : c.message + u"onto the phone meanwhile."_s);
        model().setErrorMessage(std::nullopt);

        // To the computer: b.txt comes while c.txt is pulled.
        QDir(saved.path()).removeRecursively();
        QDir().mkpath(saved.path());
        make(u"a.txt"_s);
        phone->setFolder(u"/sdcard"_s, {file(u"a.txt"_s), file(u"b.txt"_s), file(u"c.txt"_s)});
        reload();
        phone->onTransfer([this](const QString& call, const Progress&, const Cancel&) {
            if (call.startsWith(u"pull /sdcard/c.txt"_s))
                make(u"b.txt"_s, "theirs");
        });
        QList<RemoteEntry> entries;
        for (const QString& item : items)
            entries.append(file(item));
        model().download(entries);
        run();
        EXPECT_EQ(read(u"b.txt"_s), "theirs");
        if (!c.keptAs.isEmpty()) {
            EXPECT_EQ(read(c.keptAs), "/sdcard/b.txt");
        }
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message.isEmpty() ? QString() : c.message + u"into the folder meanwhile."_s);
        model().setErrorMessage(std::nullopt);
        phone->onTransfer({});
    }

    // A file that comes inside a folder being merged, or at the file's own
    // name while its transfer runs, stays too.
    desktop->answer.reset();
    phone->setFolder(u"/sdcard"_s, {folder(u"Album"_s), file(u"d.txt"_s)});
    phone->setFolder(u"/sdcard/Album"_s, {file(u"x.jpg"_s)});
    phone->onTransfer([this](const QString& call, const Progress&, const Cancel&) {
        if (call.startsWith(u"pull /sdcard/Album/x.jpg"_s))
            make(u"Album/x.jpg"_s, "theirs");
        if (call.startsWith(u"pull /sdcard/d.txt"_s))
            make(u"d.txt"_s, "theirs");
    });
    model().download({folder(u"Album"_s)});
    run();
    EXPECT_EQ(read(u"Album/x.jpg"_s), "theirs");
    model().setErrorMessage(std::nullopt);
    model().download({file(u"d.txt"_s)});
    run();
    EXPECT_EQ(read(u"d.txt"_s), "theirs");
    EXPECT_EQ(model().errorMessage(), u"“d.txt” wasn't copied: an item of that name came into the folder meanwhile."_s);
}

// Mended: a merge item by item stopped at its first clash and named only
// that item, the items after it left uncopied without a word; and a copy of
// several items stopped with the first that clashed. The rest now goes, and
// the first clash is named once it is in.
TEST_F(CopiesTest, AClashLeavesOutOnlyItsItemAndIsNamedOnceTheRestIsIn)
{
    QTemporaryDir source;
    ASSERT_TRUE(QDir(source.path()).mkpath(u"Album"_s));
    for (const QString& name : {u"Album/a.jpg"_s, u"Album/b.jpg"_s, u"Album/c.jpg"_s, u"after.txt"_s})
        ASSERT_TRUE(QFile(source.filePath(name)).open(QIODevice::WriteOnly));
    phone->setFolder(u"/sdcard"_s, {folder(u"Album"_s)});
    phone->setFolder(u"/sdcard/Album"_s, {folder(u"a.jpg"_s)});
    phone->setFolder(u"/sdcard/Album/a.jpg"_s, {});
    desktop->answer = 0; // Replace
    model().upload(urls({source.filePath(u"Album"_s), source.filePath(u"after.txt"_s)}));
    run();
    EXPECT_EQ(model().errorMessage().value_or(QString()), u"“a.jpg” wasn't copied: a folder of that name is in its place."_s);
    const auto names = [&](const QString& path) {
        const std::vector<RemoteEntry> listed = phone->list(path, true, Cancel());
        QStringList all;
        for (const RemoteEntry& entry : listed)
            all.append(entry.name);
        all.sort();
        return all;
    };
    EXPECT_EQ(names(u"/sdcard/Album"_s), (QStringList{u"a.jpg"_s, u"b.jpg"_s, u"c.jpg"_s}));
    EXPECT_EQ(names(u"/sdcard"_s), (QStringList{u"Album"_s, u"after.txt"_s}));
}

// Mended: a clash ended a copy to the computer, the items after it left
// behind unsaid, and either way only the first item left out was named; a
// failure after a clash named only itself, so what the clash left out read
// as copied. Every item not copied is told: the first by name (the failure
// that ended the copy first of all), how many others, and the whole list.
TEST_F(CopiesTest, EveryItemNotCopiedIsToldTheFirstByNameTheOthersCountedAndListed)
{
    const QString folderThere = u" wasn't copied: a folder of that name is in its place."_s;
    const QString full = u"Copying “c.bin” failed: No space left on device."_s;
    const struct {
        const char* what;
        bool toPhone;
        QStringList inTheWay; // folders where the copy's files go
        QString failAtC;      // c.bin's transfer fails so; empty: it doesn't
        QStringList copied;
        QString message;
        QStringList details;
    } cases[] = {
        {"two clashes, to the computer", false, {u"b.bin"_s, u"d.bin"_s}, {}, {u"a.bin"_s, u"c.bin"_s},
         u"“b.bin”"_s + folderThere + u" 1 other item wasn't copied."_s,
         {u"“b.bin”"_s + folderThere, u"“d.bin”"_s + folderThere}},
        {"a clash, then a failure, to the computer", false, {u"a.bin"_s}, full, {u"b.bin"_s},
         full + u" 2 other items weren't copied."_s,
         {full, u"“a.bin”"_s + folderThere, u"“d.bin” wasn't copied: the copy ended before it came to it."_s}},
        {"two clashes, to the phone", true, {u"b.bin"_s, u"d.bin"_s}, {}, {u"a.bin"_s, u"c.bin"_s},
         u"“b.bin”"_s + folderThere + u" 1 other item wasn't copied."_s,
         {u"“b.bin”"_s + folderThere, u"“d.bin”"_s + folderThere}},
        {"a clash, then a failure, to the phone", true, {u"a.bin"_s}, full, {u"b.bin"_s},
         full + u" 2 other items weren't copied."_s,
         {full, u"“a.bin”"_s + folderThere, u"“d.bin” wasn't copied: the copy ended before it came to it."_s}},
        // A failure that names no item names the one it ended.
        {"a clash, then a failure naming nothing, to the phone", true, {u"a.bin"_s}, u"The phone was disconnected."_s,
         {u"b.bin"_s}, u"Copying “c.bin” failed: The phone was disconnected. 2 other items weren't copied."_s,
         {u"Copying “c.bin” failed: The phone was disconnected."_s, u"“a.bin”"_s + folderThere,
          u"“d.bin” wasn't copied: the copy ended before it came to it."_s}},
    };
    const QStringList all{u"a.bin"_s, u"b.bin"_s, u"c.bin"_s, u"d.bin"_s};
    desktop->answer = 0; // Replace
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // A phone folder of its own each time: the phone keeps what earlier rounds sent.
        const QString into = u"/sdcard/T"_s + QString::number(++round);
        model().setErrorMessage(std::nullopt);
        QDir(saved.path()).removeRecursively();
        QDir().mkpath(saved.path());
        QList<RemoteEntry> onPhone;
        for (const QString& name : all) {
            if (!c.toPhone) {
                onPhone.append(file(name));
                if (c.inTheWay.contains(name)) {
                    ASSERT_TRUE(QDir(saved.path()).mkpath(name));
                }
            } else if (c.inTheWay.contains(name)) {
                onPhone.append(folder(name));
            }
        }
        for (const QString& name : c.inTheWay) {
            if (c.toPhone)
                phone->setFolder(into + u'/' + name, {});
        }
        phone->setFolder(c.toPhone ? into : u"/sdcard"_s, onPhone);
        reload();
        phone->onTransfer([&c](const QString& call, const Progress&, const Cancel&) {
            if (!c.failAtC.isEmpty() && call.section(u' ', 1, 1).endsWith(u"c.bin"_s))
                throw ADBError::failed(c.failAtC);
        });
        if (c.toPhone) {
            QStringList sources;
            for (const QString& name : all)
                sources.append(u"/m/"_s + name);
            model().upload(urls(sources), into);
        } else {
            QList<RemoteEntry> entries;
            for (const QString& name : all)
                entries.append(file(name));
            model().download(entries);
        }
        run();
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.message);
        EXPECT_EQ(model().errorDetails(), c.details);
        EXPECT_FALSE(model().errorIsNote());
        // What a clash left out, or the copy never came to, was never sent.
        for (const QString& name : all) {
            if (!c.failAtC.isEmpty() && name == u"c.bin"_s)
                continue;
            const bool copied = c.toPhone ? phone->sent(u"/m/"_s + name, into + u'/' + name) == 1
                                          : QFileInfo(local(name)).isFile();
            EXPECT_EQ(copied, c.copied.contains(name)) << name.toStdString();
        }
        phone->onTransfer({});
    }
}
