// Copies to the computer, opening on it, and copies to the phone: the panels,
// the per-item lines, what Skip, Keep Both and Replace hand the transport,
// what is cleaned up after a failure or Stop and what never is.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "TempFolder.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

using namespace browsertest;

namespace {

class CopiesTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(QStringLiteral("A1"))});
        phone = adb->phone(QStringLiteral("A1"));
        phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("photo.jpg")), folder(QStringLiteral("Photos")),
                                                     file(QStringLiteral(".hidden"))});
        pass();
        model().setAskWhereToSave(false);
        model().setSaveFolder(saved.path());
        QObject::connect(&model(), &BrowserModel::jobChanged, &model(), [this] {
            if (model().job() && (lines.isEmpty() || lines.last() != model().job()->message))
                lines.append(model().job()->message);
        });
    }
    void run()
    {
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
    }
    QString local(const QString& name) { return saved.filePath(name); }
    void make(const QString& name, const QByteArray& contents = "old")
    {
        QFile made(local(name));
        ASSERT_TRUE(made.open(QIODevice::WriteOnly));
        made.write(contents);
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
            if (made != call)
                return;
            QMetaObject::invokeMethod(&model(), [this] { model().cancelJob(); });
            testsupport::waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
    }

    QTemporaryDir saved;
    std::shared_ptr<MemoryPhoneFiles> phone;
    QStringList lines;
};

TEST_F(CopiesTest, ThePanelNamesWhatIsCopiedAndItsChoiceIsKeptEvenWhenNothingIsCopied)
{
    model().setAskWhereToSave(true);
    model().download({file(QStringLiteral("photo.jpg"))});
    model().download({file(QStringLiteral("a")), file(QStringLiteral("b")), file(QStringLiteral("c"))});
    ASSERT_EQ(desktop->panels.size(), 2);
    EXPECT_EQ(desktop->panels[0].message, QStringLiteral("Choose where to copy “photo.jpg”"));
    EXPECT_EQ(desktop->panels[0].prompt, QStringLiteral("Save Here"));
    EXPECT_EQ(desktop->panels[0].folder, saved.path());
    EXPECT_EQ(desktop->panels[1].message, QStringLiteral("Choose where to copy 3 items"));

    QTemporaryDir other;
    QFile(other.filePath(QStringLiteral("photo.jpg"))).open(QIODevice::WriteOnly);
    desktop->folder = other.path();
    desktop->answer = 3; // Cancel at the conflict question
    model().download({file(QStringLiteral("photo.jpg"))});
    EXPECT_EQ(model().saveFolder(), other.path());
    EXPECT_FALSE(model().job());
}

TEST_F(CopiesTest, CopyToMacSkipsKeepsBothOrReplacesAndRevealsOnlyWhatItCopied)
{
    make(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(QDir(saved.path()).mkpath(QStringLiteral("Photos/mine")));
    const QList<RemoteEntry> both{file(QStringLiteral("photo.jpg")), folder(QStringLiteral("Photos"))};

    desktop->answer = 2; // Skip: the second is counted as 2 of 2
    model().download({file(QStringLiteral("photo.jpg")), file(QStringLiteral(".hidden"))});
    run();
    EXPECT_EQ(lines.last(), QStringLiteral("Copying “.hidden” to Mac (2 of 2)…"));
    EXPECT_EQ(read(QStringLiteral("photo.jpg")), "old");
    EXPECT_EQ(desktop->revealed, QList<QStringList>{{local(QStringLiteral(".hidden"))}});

    desktop->answer = 1; // Keep Both
    model().download({file(QStringLiteral("photo.jpg"))});
    run();
    EXPECT_EQ(read(QStringLiteral("photo 2.jpg")), "/sdcard/photo.jpg");
    EXPECT_EQ(desktop->revealed.last(), QStringList{local(QStringLiteral("photo 2.jpg"))});

    desktop->answer = 0; // Replace: into the folder, so a folder merges instead of nesting
    model().setRevealAfterCopy(false);
    model().download(both);
    run();
    EXPECT_EQ(phone->calls(QStringLiteral("pull /sdcard/Photos ") + saved.path()), 1);
    EXPECT_TRUE(QFileInfo::exists(local(QStringLiteral("Photos/mine"))));
    EXPECT_EQ(read(QStringLiteral("photo.jpg")), "/sdcard/photo.jpg");
    EXPECT_EQ(desktop->revealed.size(), 2);

    // Everything skipped: nothing to show.
    model().setRevealAfterCopy(true);
    desktop->answer = 2;
    model().download(both);
    run();
    EXPECT_EQ(desktop->revealed.size(), 2);
}

TEST_F(CopiesTest, AFailedCopyRemovesOnlyTheNewFileItBegan)
{
    make(QStringLiteral("photo.jpg"));
    // The transport leaves part of the file behind and fails.
    const auto failWriting = [this](const QString& name) {
        phone->onTransfer([this, name](const QString&, const Progress&, const Cancel&) {
            make(name, "partial");
            throw ADBError::failed(QStringLiteral("adb: error: connection lost"));
        });
    };
    failWriting(QStringLiteral("photo.jpg"));
    desktop->answer = 0;
    model().download({file(QStringLiteral("photo.jpg"))});
    run();
    EXPECT_EQ(read(QStringLiteral("photo.jpg")), "partial");
    failWriting(QStringLiteral("new.jpg"));
    model().download({file(QStringLiteral("new.jpg"))});
    run();
    EXPECT_FALSE(QFileInfo::exists(local(QStringLiteral("new.jpg"))));
    EXPECT_TRUE(model().errorMessage()->contains(QStringLiteral("connection lost")));
    EXPECT_TRUE(desktop->revealed.isEmpty());
}

TEST_F(CopiesTest, OpenOnMacStagesEachRequestApartAndOpensEachFileWhenItArrives)
{
    auto second = std::make_shared<Gate>();
    gates.push_back(second);
    phone->onTransfer([second](const QString& call, const Progress&, const Cancel&) {
        if (call.startsWith(QStringLiteral("pull /sdcard/b.txt")))
            second->wait();
    });
    model().openOnMac({file(QStringLiteral("a.txt")), file(QStringLiteral("b.txt"))});
    ASSERT_TRUE(testsupport::waitUntil([&] { return second->waiting() && desktop->opened.size() == 1; }));
    EXPECT_EQ(lines, (QStringList{QStringLiteral("Opening…"), QStringLiteral("Opening “a.txt”…"), QStringLiteral("Opening “b.txt”…")}));
    second->open();
    run();
    model().openOnMac({file(QStringLiteral("c.txt"))});
    run();
    ASSERT_EQ(desktop->opened.size(), 3);
    const QString first = QFileInfo(desktop->opened[0]).path();
    EXPECT_EQ(QFileInfo(desktop->opened[1]).path(), first);
    EXPECT_NE(QFileInfo(desktop->opened[2]).path(), first);
    EXPECT_EQ(QFileInfo(first).path(), TempFolder::path());
    EXPECT_EQ(QFileInfo(first).fileName(), QFileInfo(first).fileName().toUpper());
    EXPECT_EQ(QFileInfo(first).fileName().size(), 36);
}

TEST_F(CopiesTest, CopyToPhoneGoesIntoTheFolderAskedForWithOneSlash)
{
    desktop->items = {QStringLiteral("/m/song.mp3")};
    model().chooseAndUpload(QStringLiteral("/sdcard/Download"));
    run();
    phone->setFolder(QStringLiteral("/"), {folder(QStringLiteral("sdcard"))});
    model().navigate(QStringLiteral("/"));
    settle();
    model().chooseAndUpload();
    run();
    ASSERT_EQ(desktop->panels.size(), 2);
    EXPECT_EQ(desktop->panels[0].message, QStringLiteral("Choose files or folders to copy to /sdcard/Download"));
    EXPECT_EQ(desktop->panels[0].prompt, QStringLiteral("Copy to Phone"));
    EXPECT_EQ(phone->calls(QStringLiteral("push /m/song.mp3 /sdcard/Download/")), 1);
    EXPECT_EQ(phone->calls(QStringLiteral("push /m/song.mp3 /")), 1);
    EXPECT_EQ(phone->calls(QStringLiteral("exists /song.mp3")), 1);
}

TEST_F(CopiesTest, KeepBothNeverTakesANameThePhoneOrThisCopyHas)
{
    // "photo 2.jpg" exists on the phone though not listed; two items of the
    // same name take 3 and 4.
    phone->setFolder(QStringLiteral("/sdcard/photo 2.jpg"), {});
    desktop->answer = 1;
    model().upload({QUrl::fromLocalFile(QStringLiteral("/m/photo.jpg")), QUrl::fromLocalFile(QStringLiteral("/n/photo.jpg"))});
    run();
    EXPECT_EQ(phone->calls(QStringLiteral("push /m/photo.jpg /sdcard/photo 3.jpg")), 1);
    EXPECT_EQ(phone->calls(QStringLiteral("push /n/photo.jpg /sdcard/photo 4.jpg")), 1);
    EXPECT_EQ(lines.last(), QStringLiteral("Copying “photo.jpg” to phone (2 of 2)…"));
}

TEST_F(CopiesTest, StopRemovesOnlyAnItemThePhoneDidNotHave)
{
    // Item -> whether Stop during its transfer removes it.
    const struct {
        const char* source;
        const char* call;
        const char* path;
        bool removed;
    } cases[] = {
        {"/m/new.jpg", "push /m/new.jpg /sdcard/", "/sdcard/new.jpg", true},
        {"/m/photo.jpg", "push /m/photo.jpg /sdcard/", "/sdcard/photo.jpg", false},
        // Not listed (hidden ones are not shown), but there on the phone.
        {"/m/.hidden", "push /m/.hidden /sdcard/", "/sdcard/.hidden", false},
    };
    desktop->answer = 0;
    for (const auto& c : cases) {
        const int listings = phone->calls(QStringLiteral("list /sdcard"));
        stopDuring(QString::fromUtf8(c.call));
        model().upload({QUrl::fromLocalFile(QString::fromUtf8(c.source))});
        run();
        EXPECT_EQ(phone->calls(QStringLiteral("remove ") + QString::fromUtf8(c.path)), c.removed ? 1 : 0) << c.source;
        EXPECT_EQ(phone->calls(QStringLiteral("list /sdcard")), listings + 1) << c.source;
        EXPECT_FALSE(model().errorMessage());
    }
    // Into another folder, whose names the window does not know.
    stopDuring(QStringLiteral("push /m/photo.jpg /sdcard/Photos/"));
    phone->setFolder(QStringLiteral("/sdcard/Photos"), {file(QStringLiteral("photo.jpg"))});
    model().upload({QUrl::fromLocalFile(QStringLiteral("/m/photo.jpg"))}, QStringLiteral("/sdcard/Photos"));
    run();
    EXPECT_EQ(phone->calls(QStringLiteral("remove /sdcard/Photos/photo.jpg")), 0);
}

TEST_F(CopiesTest, UnusableNamesAreRefusedBeforeAnythingIsJoined)
{
    for (const char* name : {"..", "a/b", ""}) {
        model().setErrorMessage(std::nullopt);
        model().download({file(QString::fromUtf8(name))});
        EXPECT_TRUE(model().errorMessage()) << name;
        EXPECT_FALSE(model().job()) << name;
    }
    model().setErrorMessage(std::nullopt);
    model().upload({QUrl::fromLocalFile(QStringLiteral("/"))});
    EXPECT_TRUE(model().errorMessage());
    EXPECT_FALSE(model().job());
}

} // namespace
