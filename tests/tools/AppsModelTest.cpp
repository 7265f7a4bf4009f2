// The apps model through the real adb and the fake phone.
#include "AppsModel.h"
#include "BrowserFakes.h" // readable texts in failure messages
#include "FakePhoneHarness.h"
#include "HostileNames.h"
#include "PhoneFixture.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace std::chrono_literals;
using testsupport::waitUntil;

const QString kNotes = QStringLiteral("com.example.notes");

InstalledApp app(const QString& package, std::optional<QString> version = QStringLiteral("2.3.1"))
{
    return InstalledApp {package, std::move(version), std::nullopt, false};
}

QByteArray packageLines(const QStringList& names)
{
    QByteArray out;
    for (const QString& name : names)
        out += "package:" + name.toUtf8() + '\n';
    return out;
}

class AppsModelTest : public PhoneTest {
protected:
    void SetUp() override
    {
        PhoneTest::SetUp();
        useSeams();
    }
    void useSeams()
    {
        model->setSeams({[this](const QString&, const QString&, const QString&) {
                             ++asked;
                             return answer;
                         },
                         [this] { ++beeps; }, [this](const QStringList& paths) { revealed += paths; },
                         [this](const QString& message) { toldElsewhere << message; }});
    }
    void TearDown() override
    {
        if (!hasPhone())
            return;
        EXPECT_TRUE(idle());
        phone().clearReplies();
        phone().clearPulls();
        phone().setChunkDelay(0);
    }

    bool idle() const
    {
        return waitUntil([this] { return !model->busyPackage() && !model->isLoading(); }, 20s);
    }
    void reply(const QString& command, const QByteArray& out, int status = 0, int delayMs = 0)
    {
        phone().setReply(command, {out, status ? "error: protocol fault\n" : QByteArray(), status, delayMs});
    }
    int received(const QString& command) const { return int(phone().receivedCommands().count(command)); }
    // A package file on the phone at `phonePath`, served from here.
    void serve(const QString& phonePath)
    {
        const QString local = files.filePath(QString::number(qHash(phonePath)));
        QFile file(local);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(phonePath.toUtf8());
        phone().servePull(phonePath, local);
    }
    QStringList saved(const QString& folder = {}) const
    {
        return QDir(folder.isEmpty() ? save.path() : folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    }

    std::shared_ptr<AppsModel> model = AppsModel::make(adb(), serial(), QStringLiteral("Pixel 7"));
    bool answer = true;
    int asked = 0;
    int beeps = 0;
    QStringList revealed;
    QStringList toldElsewhere;
    QTemporaryDir files;
    QTemporaryDir save;
};

TEST_F(AppsModelTest, ReloadReadsTheListAndAFailureKeepsIt)
{
    model->reload();
    EXPECT_TRUE(model->isLoading());
    ASSERT_TRUE(idle());
    ASSERT_EQ(model->apps().size(), 3u);
    EXPECT_EQ(model->apps()[1].version, QStringLiteral("2.3.1"));

    reply(QStringLiteral("pm list packages -3"), {}, 1);
    model->reload();
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("error: protocol fault"));
    EXPECT_EQ(model->apps().size(), 3u);

    // A failing dump costs the versions, not the list; thousands of apps and odd lines read fine.
    QStringList many;
    for (int i = 0; i < 3000; ++i)
        many << QStringLiteral("app.n%1").arg(i);
    reply(QStringLiteral("pm list packages"), packageLines(many) + "junk\n\npackage:\n");
    reply(QStringLiteral("pm list packages -3"), packageLines(many));
    reply(QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='"), {}, 1);
    model->reload();
    ASSERT_TRUE(idle());
    EXPECT_GE(model->apps().size(), 3000u);
    EXPECT_FALSE(model->apps().back().version);
}

TEST_F(AppsModelTest, TheNewestReloadDecidesTheList)
{
    reply(QStringLiteral("pm list packages"), packageLines({kNotes, QStringLiteral("gone.app")}), 0, 1500);
    model->reload();
    ASSERT_TRUE(waitUntil([this] { return received(QStringLiteral("pm list packages")) == 1; }));
    reply(QStringLiteral("pm list packages"), packageLines({kNotes}));
    model->reload();
    ASSERT_TRUE(waitUntil([this] { return model->apps().size() == 1; }));
    ASSERT_TRUE(idle());
    ASSERT_EQ(model->apps().size(), 1u);
    EXPECT_EQ(model->apps()[0].package, kNotes);
}

TEST_F(AppsModelTest, EachActionSendsItsCommandAndReportsItsOutcome)
{
    // status: afterwards, the earlier one when the action fails.
    struct Case { void (AppsModel::*action)(const InstalledApp&); QString package, command; QByteArray out; QString status;
                  std::optional<QString> error; };
    const QString quoted = QStringLiteral("it's.app");
    const Case cases[] = {
        {&AppsModel::open, kNotes, "monkey -p 'com.example.notes' -c android.intent.category.LAUNCHER 1", "Events injected: 1\n",
         "Opened com.example.notes", {}},
        {&AppsModel::forceStop, quoted, "am force-stop 'it'\\''s.app'", "", "Stopped it's.app", {}},
        {&AppsModel::showInfo, kNotes, "am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:'com.example.notes'",
         "Starting: Intent\n", "Showing App info on the phone", {}},
        {&AppsModel::clearData, quoted, "pm clear 'it'\\''s.app'", "Success\n", "Cleared data for it's.app", {}},
        {&AppsModel::open, kNotes, "monkey -p 'com.example.notes' -c android.intent.category.LAUNCHER 1",
         "** No activities found to run, monkey aborted.\n", "Cleared data for it's.app", "This app has nothing to open."},
        {&AppsModel::clearData, kNotes, "pm clear 'com.example.notes'", "Error: \x1b[1mjava.lang.SecurityException\n",
         "Cleared data for it's.app", "Error: java.lang.SecurityException"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command.toStdString());
        model->setErrorMessage(std::nullopt);
        phone().clearReceived();
        reply(c.command, c.out);
        (model.get()->*c.action)(app(c.package));
        EXPECT_EQ(model->busyPackage(), c.package);
        ASSERT_TRUE(idle());
        EXPECT_EQ(phone().receivedCommands(), QStringList {c.command});
        EXPECT_EQ(model->status(), c.status);
        EXPECT_EQ(model->errorMessage(), c.error);
    }
}

TEST_F(AppsModelTest, OneActionAtATime)
{
    reply(QStringLiteral("am force-stop 'com.example.notes'"), {}, 0, 700);
    model->forceStop(app(kNotes));
    model->open(app(QStringLiteral("other")));
    EXPECT_EQ(beeps, 1);

    // Asked even while busy; confirmed, it only beeps; declined, nothing at all.
    model->clearData(app(kNotes));
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(beeps, 2);
    ASSERT_TRUE(idle());
    answer = false;
    model->uninstall(app(kNotes));
    ASSERT_TRUE(idle());
    EXPECT_EQ(asked, 2);
    EXPECT_EQ(beeps, 2);
    EXPECT_EQ(phone().receivedCommands(), QStringList {QStringLiteral("am force-stop 'com.example.notes'")});
    EXPECT_EQ(model->status(), QStringLiteral("Stopped com.example.notes"));
}

TEST_F(AppsModelTest, AnUninstallReloadsBeforeItEnds)
{
    reply(QStringLiteral("cmd package 'uninstall' 'com.example.notes'"), "Success\n");
    // Slow enough that the reload still runs when the uninstall's word is seen, even on a loaded machine.
    reply(QStringLiteral("pm list packages"), packageLines({QStringLiteral("com.android.settings")}), 0, 3000);
    model->uninstall(app(kNotes));
    ASSERT_TRUE(waitUntil([this] { return model->status().has_value(); })) << phone().receivedCommands().join('|').toStdString();
    EXPECT_EQ(model->status(), QStringLiteral("Uninstalled com.example.notes"));
    EXPECT_EQ(model->busyPackage(), kNotes);
    EXPECT_TRUE(model->isLoading());
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->apps().size(), 1u);
    EXPECT_EQ(phone().receivedCommands().first(), QStringLiteral("cmd package 'uninstall' 'com.example.notes'"));
}

// Mended: an Uninstall whose adb was ended from outside said "The operation
// was cancelled." though nobody pressed anything, and one without a clear
// answer left the app listed although the phone may have removed it.
TEST_F(AppsModelTest, AnUninstallWithoutAClearAnswerSaysSoAndReadsTheListAgain)
{
    const QString uninstall = QStringLiteral("cmd package 'uninstall' 'com.example.notes'");
    const struct {
        const char* what;
        bool cut; // the connection drops under the uninstall, else adb is killed once it runs
        std::function<void()> loseTheAnswer;
        QString failure;
    } cases[] = {
        {"adb ended from outside", false,
         [] {
             QStringList clients;
             ASSERT_TRUE(waitUntil([&] { return !(clients = phonetest::adbClientsWith(QStringLiteral("uninstall"))).isEmpty(); }));
             ::kill(clients.first().section(u':', 0, 0).toInt(), SIGKILL);
         },
         QStringLiteral("adb was stopped before it answered.")},
        {"the connection dropped", true, [] {}, QStringLiteral("The connection to the phone ended before it answered.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reply(QStringLiteral("pm list packages"), packageLines({kNotes, QStringLiteral("com.android.settings")}));
        model->reload();
        ASSERT_TRUE(idle());
        ASSERT_EQ(model->apps().size(), 2u);
        // The phone removed it, whatever adb said.
        reply(QStringLiteral("pm list packages"), packageLines({QStringLiteral("com.android.settings")}));
        if (c.cut)
            phone().cutShells(QStringLiteral("uninstall"));
        else
            reply(uninstall, "Success\n", 0, 5000);
        model->uninstall(app(kNotes));
        c.loseTheAnswer();
        ASSERT_TRUE(idle());
        phone().cutShells({});
        EXPECT_EQ(model->errorMessage(), c.failure);
        EXPECT_EQ(model->apps().size(), 1u);
        model->setErrorMessage(std::nullopt);
    }
}

// Mended: Save APK whose adb was ended from outside said "The operation was
// cancelled." though nobody pressed anything.
TEST_F(AppsModelTest, ASaveWhoseAdbIsEndedFromOutsideSaysSoAndLeavesNothing)
{
    const QString path = QStringLiteral("/data/app/n/base.apk");
    const QString local = files.filePath(QStringLiteral("big.apk"));
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4 << 20, 'a'));
    file.close();
    phone().servePull(path, local);
    reply(QStringLiteral("pm path 'com.example.notes'"), "package:" + path.toUtf8() + '\n');
    phone().setChunkDelay(40);
    model->saveAPK(app(kNotes), save.path());
    QStringList clients;
    ASSERT_TRUE(waitUntil([&] { return !(clients = phonetest::adbClientsWith(QStringLiteral(" pull "))).isEmpty(); }));
    ::kill(clients.first().section(u':', 0, 0).toInt(), SIGKILL);
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->errorMessage(), QStringLiteral("adb was stopped before it answered."));
    EXPECT_EQ(saved(), QStringList());
}

TEST_F(AppsModelTest, SavingPackageFiles)
{
    const QStringList split = {"/data/app/n/base.apk", "/data/app/n/split_a.apk", "/data/app/n/split_b.apk"};
    const QStringList splitNames = {"base.apk", "split_a.apk", "split_b.apk"};
    // failing: the phone path whose pull fails; expected: the save folder's entries afterwards; inFolder: the
    // entries of the folder made for split files.
    const struct { const char* what; QString package; std::optional<QString> version; QStringList paths; QString failing;
                   QStringList expected, inFolder; std::optional<QString> error; } cases[] = {
        {"one file", kNotes, QStringLiteral("2.3.1"), {split[0]}, {}, {"com.example.notes 2.3.1.apk"}, {}, {}},
        {"taken name", kNotes, QStringLiteral("2.3.1"), {split[0]}, {},
         {"com.example.notes 2.3.1 2.apk", "com.example.notes 2.3.1.apk"}, {}, {}},
        {"no version", kNotes, std::nullopt, {split[0]}, {}, {"com.example.notes.apk"}, {}, {}},
        {"a version that climbs out", "it's.app", "1/../../x", {split[0]}, {}, {"it's.app 1-..-..-x.apk"}, {}, {}},
        {"split files", kNotes, "5", split, {}, {"com.example.notes 5"}, splitNames, {}},
        {"split files that climb out", kNotes, "../..", split, {}, {"com.example.notes ..-.."}, splitNames, {}},
        // Half an app is no app: nothing of it stays.
        {"second pull fails", kNotes, QStringLiteral("6"), split, split[1], {}, {},
         "Copying “split_a.apk” failed: Permission denied."},
        {"the one pull fails", kNotes, QStringLiteral("6"), {split[0]}, split[0], {}, {},
         "Copying “base.apk” failed: Permission denied."},
        {"no package line", kNotes, QStringLiteral("7"), {}, {}, {}, {}, "The phone didn't say where this app is stored."},
        // Mended: a part named ".." was pulled beside the app's folder.
        {"a part that names no file", kNotes, QStringLiteral("8"), {split[0], "/data/app/n/.."}, {}, {}, {},
         "The phone didn't say where this app is stored."},
        {"a part ending in a slash", kNotes, QStringLiteral("8"), {split[0], "/data/app/n/"}, {}, {}, {},
         "The phone didn't say where this app is stored."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (QString(c.what) != QStringLiteral("taken name")) {
            ASSERT_TRUE(QDir(save.path()).removeRecursively());
            ASSERT_TRUE(QDir().mkpath(save.path()));
        }
        phone().clearPulls();
        phone().clearReceived();
        revealed.clear();
        model->setErrorMessage(std::nullopt);
        QByteArray out = "WARNING: linker: odd line\n";
        for (const QString& path : c.paths) {
            out += "package:" + path.toUtf8() + '\n';
            serve(path);
        }
        if (!c.failing.isEmpty())
            phone().failPull(c.failing);
        const QString query = QStringLiteral("pm path ") + (c.package == kNotes ? "'com.example.notes'" : "'it'\\''s.app'");
        reply(query, out);
        model->saveAPK(InstalledApp {c.package, c.version, std::nullopt, false}, save.path());
        ASSERT_TRUE(idle());
        EXPECT_EQ(phone().receivedCommands().first(), query);
        EXPECT_EQ(saved(), c.expected);
        EXPECT_EQ(saved(save.filePath(c.expected.value(0))), c.inFolder); // a single file lists nothing
        if (c.error) {
            EXPECT_EQ(model->errorMessage(), QString(*c.error).replace(QStringLiteral("%1"), save.path()));
            EXPECT_TRUE(revealed.isEmpty());
        } else {
            EXPECT_FALSE(model->errorMessage());
            EXPECT_EQ(revealed, QStringList {save.filePath(c.expected.first())});
            EXPECT_EQ(model->status(), "Saved " + c.package + " to " + QDir(save.path()).dirName());
        }
    }
}

// Mended: an app uninstalled on the phone meanwhile ("pm path" ends 1 with
// no word) read "adb failed without an error message.".
TEST_F(AppsModelTest, SavingAnAppGoneFromThePhoneSaysThePhoneDidNotSayWhereItIs)
{
    const QString query = QStringLiteral("pm path 'com.example.notes'");
    const struct { QByteArray out, err; int status; QString error; } cases[] = {
        {{}, {}, 1, "The phone didn't say where this app is stored."},
        {{}, "Error: package manager not running\n", 1, "Error: package manager not running"},
    };
    for (const auto& c : cases) {
        model->setErrorMessage(std::nullopt);
        phone().setReply(query, {c.out, c.err, c.status});
        model->saveAPK(app(kNotes, QStringLiteral("2")), save.path());
        ASSERT_TRUE(idle());
        EXPECT_EQ(model->errorMessage(), c.error);
        EXPECT_EQ(saved(), QStringList());
    }
}

// Mended: a version of "../../x" climbed out of the chosen folder, and a
// long one could not be saved at all.
TEST_F(AppsModelTest, APackageOrVersionOfAnyTextIsSavedUnderOneNameInTheChosenFolder)
{
    for (const auto& c : hostilenames::cases()) {
        for (const bool inVersion : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (inVersion ? " as the version" : " as the package"));
            const InstalledApp hostile = inVersion ? app(kNotes, c.text) : app(c.text, QStringLiteral("1"));
            hostilenames::expectOneName(AppsModel::saveName(hostile), QString()); // a split app's folder
            if (hostile.package.contains(QChar(0)))
                continue; // no command line carries it to the phone to ask where it is
            ASSERT_TRUE(QDir(save.path()).removeRecursively());
            ASSERT_TRUE(QDir().mkpath(save.path()));
            serve(QStringLiteral("/data/app/x/base.apk"));
            reply(QStringLiteral("pm path ") + ADB::quote(hostile.package), "package:/data/app/x/base.apk\n");
            revealed.clear();
            model->saveAPK(hostile, save.path());
            ASSERT_TRUE(idle());
            EXPECT_FALSE(model->errorMessage()) << model->errorMessage().value_or(QString()).toStdString();
            ASSERT_EQ(saved().size(), 1) << saved().join(u'|').toStdString();
            hostilenames::expectOneName(saved().first(), QStringLiteral(".apk"));
            EXPECT_EQ(revealed, QStringList {save.filePath(saved().first())});
        }
    }
}

// Mended: "Save APK to Downloads" failed in a new home with no Downloads folder.
TEST_F(AppsModelTest, APackageIsSavedIntoAFolderThatIsNotThereYet)
{
    const QString missing = save.filePath(QStringLiteral("Downloads/Phone"));
    reply(QStringLiteral("pm path 'com.example.notes'"), packageLines({"/data/app/a.apk"}));
    serve(QStringLiteral("/data/app/a.apk"));
    model->saveAPK(app(kNotes), missing);
    ASSERT_TRUE(idle());
    EXPECT_FALSE(model->errorMessage()) << model->errorMessage().value_or(QString()).toStdString();
    ASSERT_EQ(revealed.size(), 1);
    EXPECT_EQ(QFileInfo(revealed.first()).path(), missing);
    EXPECT_TRUE(QFileInfo(revealed.first()).isFile());
}

TEST_F(AppsModelTest, AFolderThatCannotBeWrittenFailsWithASentence)
{
    const QString blocker = save.filePath(QStringLiteral("file"));
    ASSERT_TRUE(QFile(blocker).open(QIODevice::WriteOnly));
    for (const QStringList& paths : {QStringList {"/data/app/a.apk"}, QStringList {"/data/app/a.apk", "/data/app/b.apk"}}) {
        model->setErrorMessage(std::nullopt);
        reply(QStringLiteral("pm path 'com.example.notes'"), packageLines(paths));
        for (const QString& path : paths)
            serve(path);
        model->saveAPK(app(kNotes), blocker);
        ASSERT_TRUE(idle());
        EXPECT_TRUE(model->errorMessage().value_or(QString()).contains(QStringLiteral("Not a directory")));
        EXPECT_TRUE(revealed.isEmpty());
    }
}

// Mended: a save cut short by the phone going left half an app behind and
// said nothing, once the window had let the model go with its list.
TEST_F(AppsModelTest, ASaveCutShortLeavesNothingOfItselfAndIsToldWhereItCanBeSeen)
{
    const QStringList split = {"/data/app/s/base.apk", "/data/app/s/split_a.apk", "/data/app/s/split_b.apk"};
    // The person's own earlier save, which must stay as it was.
    const QString earlier = save.filePath(QStringLiteral("com.example.notes 9"));
    ASSERT_TRUE(QDir().mkpath(earlier));
    ASSERT_TRUE(phonetest::writeFile(earlier + QStringLiteral("/base.apk"), "the person's own bytes"));
    ASSERT_TRUE(phonetest::writeFile(save.filePath(QStringLiteral("com.example.notes 9.apk")), "the single one"));
    const QString told = QStringLiteral("Couldn’t save “com.example.notes”: ");
    // dropped: when the window lets the model go; dismissed: the person closed the alert before.
    enum Drop { beforeTheEnd, afterTheEnd, afterTheEndDismissed };
    const struct { const char* what; QStringList paths; Drop drop; bool toldHere, toldElsewhere; } cases[] = {
        {"split, window gone first", split, beforeTheEnd, false, true},
        {"one file, window gone first", {split[0]}, beforeTheEnd, false, true},
        {"split, alert still open when the window goes", split, afterTheEnd, true, true},
        {"split, alert dismissed before the window goes", split, afterTheEndDismissed, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model = AppsModel::make(adb(), serial(), QStringLiteral("Pixel 7"));
        toldElsewhere.clear();
        useSeams();
        phone().clearPulls();
        for (const QString& path : c.paths)
            serve(path);
        phone().failPull(c.paths.last());
        reply(QStringLiteral("pm path 'com.example.notes'"), packageLines(c.paths));
        model->saveAPK(app(kNotes, QStringLiteral("9")), save.path());
        if (c.drop == beforeTheEnd)
            model->drop();
        ASSERT_TRUE(idle());
        EXPECT_EQ(model->errorMessage().has_value(), c.toldHere);
        if (c.drop == afterTheEndDismissed)
            model->setErrorMessage(std::nullopt);
        if (c.drop != beforeTheEnd)
            model->drop();
        EXPECT_EQ(saved(), (QStringList {"com.example.notes 9", "com.example.notes 9.apk"}));
        EXPECT_EQ(saved(earlier), QStringList {"base.apk"});
        QFile kept(earlier + QStringLiteral("/base.apk"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), QByteArray("the person's own bytes"));
        ASSERT_EQ(toldElsewhere.size(), c.toldElsewhere ? 1 : 0);
        if (c.toldElsewhere) {
            EXPECT_TRUE(toldElsewhere.first().startsWith(told + QStringLiteral("Copying “")))
                << toldElsewhere.first().toStdString();
        }
        EXPECT_TRUE(revealed.isEmpty());
    }
}

// Mended: a failing save removed its folder whole, with what another program
// had put there meanwhile.
TEST_F(AppsModelTest, AFailingSaveRemovesOnlyWhatItMade)
{
    const QStringList split = {"/data/app/m/base.apk", "/data/app/m/split_a.apk", "/data/app/m/split_b.apk"};
    for (const QString& path : split)
        serve(path);
    phone().failPull(split[2]);
    reply(QStringLiteral("pm path 'com.example.notes'"), packageLines(split));
    // Slow copies leave time for another program to write into the folder.
    phone().setChunkDelay(700);
    model->saveAPK(app(kNotes, QStringLiteral("5")), save.path());
    const QString folder = save.filePath(QStringLiteral("com.example.notes 5"));
    ASSERT_TRUE(waitUntil([&] { return QFileInfo(folder).isDir(); }));
    ASSERT_TRUE(phonetest::writeFile(folder + QStringLiteral("/notes.txt"), "someone else's"));
    ASSERT_TRUE(idle());
    EXPECT_TRUE(model->errorMessage().has_value());
    EXPECT_EQ(saved(folder), QStringList {"notes.txt"});
}

// Mended: with a phone that does not answer, every reload left its adb
// running until the phone answered, also when replaced or let go.
TEST_F(AppsModelTest, AReplacedReloadAndALetGoModelsReloadEndTheirAdb)
{
    const QString list = QStringLiteral("pm list packages");
    // A phone that doesn't answer for as long as the test may take, however slow the machine.
    reply(list, packageLines({kNotes}), 0, 120000);
    auto running = [&] { return phonetest::adbClientsWith(list).size(); };
    model->reload();
    ASSERT_TRUE(waitUntil([&] { return running() == 1; }, 30s));
    model->reload();
    ASSERT_TRUE(waitUntil([&] { return received(list) == 2; }, 30s));
    EXPECT_TRUE(waitUntil([&] { return running() == 1; }, 30s)) << running();
    model->drop();
    EXPECT_TRUE(waitUntil([&] { return running() == 0; }, 30s)) << running();
    ASSERT_TRUE(idle());
    EXPECT_FALSE(model->errorMessage()) << "a reload nobody waits for says nothing";
}

// Mended: the reload that follows an uninstall started even when the window
// had let go of the model meanwhile, and its adb ran until the phone answered.
TEST_F(AppsModelTest, AModelLetGoDuringAnUninstallStartsNoReload)
{
    reply(QStringLiteral("cmd package 'uninstall' 'com.example.notes'"), "Success\n", 0, 700);
    model->uninstall(app(kNotes));
    ASSERT_TRUE(waitUntil([this] { return received(QStringLiteral("cmd package 'uninstall' 'com.example.notes'")) == 1; }));
    model->drop();
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->status(), QStringLiteral("Uninstalled com.example.notes"));
    EXPECT_EQ(received(QStringLiteral("pm list packages")), 0);
    model->reload();
    EXPECT_FALSE(model->isLoading());
    ASSERT_TRUE(idle());
    EXPECT_EQ(received(QStringLiteral("pm list packages")), 0);
}

// With no thread for adb, a reload and an action end at once with the reason
// shown, and the model is ready for the next.
TEST_F(AppsModelTest, WorkThatGetsNoThreadEndsWithItsReason)
{
    struct Refusal {
        Refusal() { WorkerPool::shared().refuseThreadsForTesting(true); }
        ~Refusal() { WorkerPool::shared().refuseThreadsForTesting(false); }
    };
    const struct {
        const char* what;
        std::function<void()> request;
    } cases[] = {
        {"a reload", [this] { model->reload(); }},
        {"an action", [this] { model->forceStop(app(kNotes)); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model->setErrorMessage(std::nullopt);
        {
            const Refusal refusal;
            EXPECT_NO_THROW(c.request());
            EXPECT_TRUE(waitUntil([this] { return model->errorMessage().has_value(); }, 30s));
        }
        EXPECT_TRUE(model->errorMessage().value_or(QString()).startsWith(QStringLiteral("Couldn't start a worker thread")))
            << model->errorMessage().value_or(QString()).toStdString();
        EXPECT_TRUE(idle());
    }
    EXPECT_TRUE(phone().receivedCommands().isEmpty());
    model->reload();
    ASSERT_TRUE(idle());
    EXPECT_EQ(model->apps().size(), 3u);
}

} // namespace
