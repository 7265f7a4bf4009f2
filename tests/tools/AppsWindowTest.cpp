// The apps window under the offscreen platform, with a browser model fed by
// fakes and the fake phone behind the real adb.
#include "AppsList.h"
#include "AppsModel.h"
#include "AppsTable.h"
#include "AppsWindow.h"
#include "FakePhoneHarness.h"
#include "ModalGuard.h"
#include "NeedsDebuggingView.h"
#include "Look.h"
#include "ToolWindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QTest>
#include <QTextDocument>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using browsertest::adbPhone;
using testsupport::waitUntil;

const QString kList = QStringLiteral("pm list packages");

class AppsWindowTest : public ToolWindowTest {
protected:
    ~AppsWindowTest() override
    {
        if (m_window && m_window->apps())
            waitUntil([this] { return !m_window->apps()->isLoading() && !m_window->apps()->busyPackage(); });
    }
    AppsWindow& window()
    {
        m_window = std::make_unique<AppsWindow>(
            model(), [] {},
            [](AppsModel& apps) { apps.setSeams({[](auto&&...) { return true; }, [] {}, [](const QStringList&) {}}); });
        m_window->resize(720, 560);
        m_window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        return *m_window;
    }
    // The ready window with its first list read.
    AppsList& list()
    {
        offer({ready()});
        window();
        EXPECT_TRUE(loaded());
        return *m_window->list();
    }
    bool loaded() { return waitUntil([this] { return m_window->apps() && !m_window->apps()->isLoading(); }); }
    QStringList rows() const
    {
        QStringList names;
        QAbstractItemModel* shown = m_window->list()->table()->model();
        for (int row = 0; row < shown->rowCount(); ++row)
            names << shown->index(row, 0).data(AppsTableModel::PackageRole).toString();
        return names;
    }
    QPoint rowPoint(int row) const { return m_window->list()->table()->visualRect(m_window->list()->table()->model()->index(row, 0)).center(); }
    static QStringList titles(const QMenu& menu)
    {
        QStringList result;
        for (QAction* action : menu.actions())
            result << (action->isSeparator() ? QStringLiteral("-") : action->text());
        return result;
    }

    std::unique_ptr<AppsWindow> m_window;
};

TEST_F(AppsWindowTest, AReadyPhoneShowsTheListAndReloadsOnRequest)
{
    phone().setReply(kList, {"package:com.example.notes\n", {}, 0, 600});
    offer({adbPhone(phone().serial(), QStringLiteral("offline"))});
    AppsWindow& shown = window();
    EXPECT_TRUE(shown.placeholder()->isVisible()); // the rule is the log window's, tested there
    offer({ready()});
    ASSERT_NE(shown.apps(), nullptr);
    EXPECT_TRUE(shown.list()->overlay()->isVisible());
    ASSERT_TRUE(loaded());

    // With rows: no overlay, only Refresh waits; Ctrl+R does nothing meanwhile.
    QTest::keyClick(&shown, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(shown.apps()->isLoading());
    EXPECT_FALSE(shown.list()->refreshAction()->isEnabled());
    EXPECT_FALSE(shown.list()->overlay()->isVisible());
    QTest::keyClick(&shown, Qt::Key_R, Qt::ControlModifier);
    ASSERT_TRUE(loaded());
    EXPECT_TRUE(shown.list()->refreshAction()->isEnabled());
    EXPECT_EQ(phone().receivedCommands().count(kList), 2);
}

TEST_F(AppsWindowTest, FilterSearchAndSort)
{
    AppsList& apps = list();
    EXPECT_EQ(rows(), QStringList {QStringLiteral("com.example.notes")});
    apps.systemAppsAction()->trigger();
    EXPECT_EQ(rows().size(), 3);

    const std::pair<const char*, const char*> searches[] = {{"NOTES", "1 apps"}, {"2.3", "0 apps"}, {"", "3 apps"}};
    for (const auto& [search, status] : searches) {
        apps.searchField()->setText(QString::fromUtf8(search));
        EXPECT_EQ(apps.statusText(), QString::fromUtf8(status)) << search;
    }

    phone().setReply(kList, {"package:app10\npackage:App1\npackage:app2\n"});
    phone().setReply(QStringLiteral("pm list packages -3"), {"package:app10\npackage:App1\npackage:app2\n"});
    apps.refreshAction()->trigger();
    ASSERT_TRUE(loaded());
    EXPECT_EQ(rows(), (QStringList {"App1", "app2", "app10"}));
    QTest::mouseClick(apps.table()->horizontalHeader()->viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(rows(), (QStringList {"app10", "app2", "App1"}));
}

// Mended: Tab walked the table cell by cell and wrapped round in it, so
// the keyboard never reached the search field or the toolbar again.
TEST_F(AppsWindowTest, TabLeavesTheTableAndArrowsMoveWithinIt)
{
    AppsList& apps = list();
    apps.systemAppsAction()->trigger();
    ASSERT_EQ(rows().size(), 3);
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QTableView* table = apps.table();
    table->setFocus(Qt::TabFocusReason);
    table->setCurrentIndex(table->model()->index(0, 0));
    QTest::keyClick(table, Qt::Key_Down);
    EXPECT_EQ(table->currentIndex().row(), 1);
    EXPECT_EQ(QApplication::focusWidget(), table);
    for (const Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
        table->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), table);
        QTest::keyClick(table, key);
        EXPECT_NE(QApplication::focusWidget(), table) << key;
        EXPECT_EQ(table->currentIndex().row(), 1) << key;
    }
}

TEST_F(AppsWindowTest, MenusFollowTheAppAndTheSelection)
{
    AppsList& apps = list();
    apps.systemAppsAction()->trigger();
    const int settingsRow = int(rows().indexOf(QStringLiteral("com.android.settings")));
    const int notesRow = int(rows().indexOf(QStringLiteral("com.example.notes")));
    model().setSaveFolder(QStringLiteral("/home/someone/Downloads"));
    const QStringList user = {"Open on Phone", "Force Stop", "Show App Info on Phone", "-", "Save APK to Downloads",
                              "Copy Package Name", "-", "Clear Data…", "Uninstall…"};
    EXPECT_EQ(titles(*apps.rowMenu(rowPoint(notesRow))), user);
    EXPECT_EQ(titles(*apps.rowMenu(rowPoint(settingsRow))), user.mid(0, 8));
    EXPECT_EQ(apps.rowMenu(QPoint(5, apps.table()->viewport()->height() - 2)), nullptr);

    // "Actions" needs a selection; the search hiding the app keeps it, a reload removing it does not.
    EXPECT_FALSE(apps.actionsAction()->isVisible());
    QTest::mouseClick(apps.table()->viewport(), Qt::LeftButton, {}, rowPoint(notesRow));
    EXPECT_TRUE(apps.actionsAction()->isVisible());
    apps.searchField()->setText(QStringLiteral("youtube"));
    EXPECT_TRUE(apps.actionsAction()->isVisible());
    apps.searchField()->clear();
    EXPECT_EQ(apps.table()->selectionModel()->selectedRows().size(), 1);
    phone().setReply(kList, {"package:com.android.settings\n"});
    apps.refreshAction()->trigger();
    ASSERT_TRUE(loaded());
    EXPECT_FALSE(apps.actionsAction()->isVisible());

    // Double-click opens; "Copy Package Name" leaves the name alone on the clipboard.
    phone().setReply(QStringLiteral("monkey -p 'com.android.settings' -c android.intent.category.LAUNCHER 1"), {});
    QTest::mouseClick(apps.table()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    QTest::mouseDClick(apps.table()->viewport(), Qt::LeftButton, {}, rowPoint(0));
    EXPECT_TRUE(waitUntil([&] { return apps.statusText() == QStringLiteral("Opened com.android.settings"); }))
        << apps.statusText().toStdString() << phone().receivedCommands().join('|').toStdString();
    QApplication::clipboard()->setText(QStringLiteral("before"));
    std::unique_ptr<QMenu> menu = apps.rowMenu(rowPoint(0));
    menu->actions().at(5)->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("com.android.settings"));
}

TEST_F(AppsWindowTest, FailuresOpenTheAlertUntilDismissed)
{
    AppsList& apps = list();
    for (const char* failure : {"<b>first</b> failure", "second failure"}) {
        phone().setReply(QStringLiteral("pm list packages -3"), {{}, QByteArray(failure) + '\n', 1});
        apps.refreshAction()->trigger();
        ASSERT_TRUE(waitUntil([&] { return apps.alert() && apps.alert()->isVisible(); }));
        EXPECT_EQ(apps.alert()->informativeText(), QString::fromUtf8(failure));
        EXPECT_EQ(apps.alert()->textFormat(), Qt::PlainText);
        EXPECT_EQ(rows().size(), 1);
        apps.alert()->buttons().first()->click();
        EXPECT_FALSE(apps.model()->errorMessage());
    }
}

// What a label shows the user: markup only where it takes its text as rich text.
QString readAs(const QLabel& label)
{
    if (label.textFormat() == Qt::PlainText || (label.textFormat() == Qt::AutoText && !Qt::mightBeRichText(label.text())))
        return label.text();
    QTextDocument document;
    document.setHtml(label.text());
    return document.toPlainText();
}

// Mended: the informative text of a message box is "auto" text in Qt 6.4,
// whatever its format says: adb's words and the phone's name showed as
// markup with live links.
TEST_F(AppsWindowTest, AdbsAndThePhonesWordsShowAsTheyAre)
{
    const QString failure = QStringLiteral("<b>first</b> <a href=\"https://example.com\">failure</a>");
    AppsList& apps = list();
    phone().setReply(QStringLiteral("pm list packages -3"), {{}, failure.toUtf8() + '\n', 1});
    apps.refreshAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return apps.alert() && apps.alert()->isVisible(); }));
    for (const QLabel* label : apps.alert()->findChildren<QLabel*>())
        EXPECT_EQ(readAs(*label), label->text());
    const auto* informative = apps.alert()->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"));
    ASSERT_TRUE(informative);
    EXPECT_EQ(informative->text(), failure);
    EXPECT_FALSE(informative->openExternalLinks());
    apps.alert()->buttons().first()->click();

    const QString name = QStringLiteral("<b>Pixel</b> <a href=\"https://example.com\">site</a>");
    std::unique_ptr<QMessageBox> question = AppsModel::confirmation(
        QStringLiteral("Uninstall “<b>com.x</b>”?"), QStringLiteral("The app and its data are removed from ") + name + u'.',
        QStringLiteral("Uninstall"));
    for (const QLabel* label : question->findChildren<QLabel*>())
        EXPECT_EQ(readAs(*label), label->text());
    EXPECT_EQ(question->informativeText(), QStringLiteral("The app and its data are removed from ") + name + u'.');
}

// Mended: the alert stayed open, acting on nothing, after its phone went.
TEST_F(AppsWindowTest, TheAlertGoesWithItsPhone)
{
    AppsList& apps = list();
    phone().setReply(QStringLiteral("pm list packages -3"), {{}, QByteArray("failure\n"), 1});
    apps.refreshAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return apps.alert() && apps.alert()->isVisible(); }));
    QPointer<QMessageBox> alert = apps.alert();
    offer({});
    EXPECT_TRUE(m_window->placeholder()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return !alert || !alert->isVisible(); }));
}

// Mended: the question stayed when its phone went, and a later "Uninstall"
// acted on a model the window had let go of.
TEST_F(AppsWindowTest, AnOpenQuestionGoesWithItsPhoneAndItsAnswerDoesNothing)
{
    list();
    std::shared_ptr<AppsModel> apps = m_window->apps()->shared_from_this();
    ASSERT_FALSE(apps->apps().empty());
    const InstalledApp app = apps->apps().front();
    bool toldToClose = false;
    // The person answers "Uninstall" only after the phone went.
    apps->setSeams({[&](const QString&, const QString&, const QString&) {
        QEventLoop answering;
        QObject::connect(apps.get(), &AppsModel::dropped, &answering, [&] {
            toldToClose = true;
            answering.quit();
        });
        QTimer::singleShot(0, [this] { offer({}); });
        QTimer::singleShot(3000, &answering, &QEventLoop::quit);
        answering.exec();
        return true;
    }});
    apps->uninstall(app);
    EXPECT_TRUE(toldToClose);
    QTest::qWait(300);
    EXPECT_FALSE(phone().receivedCommands().join('|').contains(QStringLiteral("uninstall")))
        << phone().receivedCommands().join('|').toStdString();
}

// Mended: an item of the row menu asked its question while the menu was still
// handling the click; the phone going meanwhile took the list and its menu
// away under that click, and the process crashed soon after.
TEST_F(AppsWindowTest, APhoneThatGoesWhileAMenuItemsQuestionIsOpenLeavesTheWindowWorking)
{
    list();
    const int notesRow = int(rows().indexOf(QStringLiteral("com.example.notes")));
    ASSERT_GE(notesRow, 0);
    int asked = 0;
    // Each question: the phone goes while it is open, then the person says yes.
    auto answerLate = [&](AppsModel& apps) {
        apps.setSeams({[&, asking = &apps](const QString&, const QString&, const QString&) {
            ++asked;
            QEventLoop answering;
            QObject::connect(asking, &AppsModel::dropped, &answering, &QEventLoop::quit);
            QTimer::singleShot(0, [this] { offer({}); });
            QTimer::singleShot(3000, &answering, &QEventLoop::quit);
            answering.exec();
            return true;
        }});
    };
    for (const QString& item : {QStringLiteral("Clear Data…"), QStringLiteral("Uninstall…")}) {
        if (!m_window->list()) {
            offer({ready()});
            ASSERT_TRUE(loaded());
        }
        answerLate(*m_window->apps());
        QTableView* table = m_window->list()->table();
        QMenu* menu = m_window->list()->rowMenu(rowPoint(notesRow)).release();
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(table->viewport()->mapToGlobal(rowPoint(notesRow)));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));
        QAction* chosen = nullptr;
        for (QAction* action : menu->actions())
            chosen = action->text() == item ? action : chosen;
        ASSERT_NE(chosen, nullptr);
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(chosen).center());
        ASSERT_TRUE(waitUntil([&] { return m_window->placeholder()->isVisible(); }));
        QTest::qWait(100);
    }
    EXPECT_EQ(asked, 2);
    // The window goes on working: back comes the phone, and its list with it.
    offer({ready()});
    ASSERT_TRUE(loaded());
    EXPECT_TRUE(m_window->list()->isVisible());
    const QString sent = phone().receivedCommands().join('|');
    EXPECT_FALSE(sent.contains(QStringLiteral("uninstall")) || sent.contains(QStringLiteral("pm clear")))
        << sent.toStdString();
}

TEST_F(AppsWindowTest, TheQuestionBoxClosesWhenItsModelIsLetGo)
{
    const std::shared_ptr<AppsModel> apps = AppsModel::make(*model().adb(), QStringLiteral("gone"), QStringLiteral("Pixel"));
    bool asked = false;
    QTimer::singleShot(200, [&] {
        asked = QApplication::activeModalWidget() != nullptr;
        apps->drop();
    });
    InstalledApp app;
    app.package = QStringLiteral("com.example.notes");
    {
        const ModalGuard guard;
        apps->uninstall(app);
        EXPECT_FALSE(guard.closedOne());
    }
    EXPECT_TRUE(asked);
}

// Mended: the question was a child of the window in front; that window going
// while it was open (closed on quit) took the question along, which was then
// read and destroyed a second time.
TEST_F(AppsWindowTest, TheQuestionBoxGoingWithItsWindowAnswersNo)
{
    const std::shared_ptr<AppsModel> apps = AppsModel::make(*model().adb(), QStringLiteral("gone"), QStringLiteral("Pixel"));
    QPointer<QWidget> window = new QWidget;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    bool asked = false;
    QTimer::singleShot(0, window, [&] {
        asked = QApplication::activeModalWidget() != nullptr;
        window->close();
    });
    InstalledApp app;
    app.package = QStringLiteral("com.example.notes");
    {
        const ModalGuard guard;
        apps->uninstall(app);
        EXPECT_FALSE(guard.closedOne());
    }
    EXPECT_TRUE(asked);
    QTest::qWait(0);
    EXPECT_FALSE(window);
    delete window;
    EXPECT_FALSE(phone().receivedCommands().join('|').contains(QStringLiteral("uninstall")));
}

TEST_F(AppsWindowTest, AnotherReadyPhoneGetsANewModelAndKeepsTheViewState)
{
    FakePhoneHarness second(FakePhoneHarness::Options {.model = "Pixel_8", .shareServerOf = &phone()});
    ASSERT_TRUE(second.start());
    offer({ready(), adbPhone(second.serial(), QStringLiteral("device"))});
    AppsWindow& shown = window();
    ASSERT_TRUE(loaded());
    AppsModel* first = shown.apps();
    shown.list()->searchField()->setText(QStringLiteral("android"));
    shown.list()->systemAppsAction()->trigger();
    model().setSelectedSerial(second.serial());
    ASSERT_TRUE(loaded());
    EXPECT_NE(shown.apps(), first);
    EXPECT_EQ(second.receivedCommands().count(kList), 1);
    EXPECT_EQ(shown.list()->searchField()->text(), QStringLiteral("android"));
    EXPECT_TRUE(shown.list()->systemAppsAction()->isChecked());
    m_window.reset();
    second.stop();
}

// Mended: an app installed from the Apps window stayed out of its list until
// the person read the list again.
TEST_F(AppsWindowTest, InstallAPKInstallsTheChosenFileAndTheListShowsTheApp)
{
    auto desktop = std::make_shared<browsertest::ScriptedDesktop>();
    m_model = browsertest::newModel(located, mtp, settings, std::make_shared<browsertest::ManualClock>(), desktop);
    offer({ready()});
    m_window = std::make_unique<AppsWindow>(model(), [this] { model().installAPK(); });
    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
    ASSERT_TRUE(loaded());
    ASSERT_EQ(rows(), QStringList {QStringLiteral("com.example.notes")});

    // The phone has the new app once it is installed; nothing reads it before.
    const QString package = folder.filePath(QStringLiteral("New App.apk"));
    desktop->items = {package};
    const QByteArray afterwards = "package:com.example.fresh\npackage:com.example.notes\n";
    phone().setReply(kList, {afterwards});
    phone().setReply(QStringLiteral("pm list packages -3"), {afterwards});
    const int reads = int(phone().receivedCommands().count(kList));
    AppsList& apps = *m_window->list();
    ASSERT_TRUE(apps.installAction()->isEnabled());
    apps.installAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return rows().contains(QStringLiteral("com.example.fresh")); }))
        << rows().join(u',').toStdString();
    EXPECT_EQ(located->calls(QStringLiteral("run -s ") + serial() + QStringLiteral(" install -r ") + package), 1);
    EXPECT_EQ(phone().receivedCommands().count(kList), reads + 1);
    EXPECT_EQ(desktop->panels.size(), 1);

    // A failed install changes nothing on the phone: nothing is read again.
    located->onRun([](const QStringList&) { return QStringLiteral("Failure [INSTALL_FAILED_INVALID_APK]\n"); });
    apps.installAction()->trigger();
    ASSERT_TRUE(waitUntil([&] { return model().errorMessage().has_value() && !model().job(); }));
    ASSERT_TRUE(loaded());
    EXPECT_EQ(phone().receivedCommands().count(kList), reads + 1);
}

// Mended: a save that failed after the phone went was told nowhere.
TEST_F(AppsWindowTest, ASaveThatFailsIsToldInTheMainWindowOnceThePhoneWent)
{
    QTemporaryDir saveFolder;
    const QStringList split = {"/data/app/w/base.apk", "/data/app/w/split_a.apk"};
    // Whether the failure is on screen in the Apps window before the phone goes.
    for (const bool seenFirst : {false, true}) {
        SCOPED_TRACE(seenFirst);
        model().setErrorMessage(std::nullopt);
        list();
        const QString local = folder.filePath(QStringLiteral("package.apk"));
        QFile file(local);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("PK a package");
        file.close();
        for (const QString& path : split)
            phone().servePull(path, local);
        phone().failPull(split[1]);
        phone().setReply(QStringLiteral("pm path 'com.example.notes'"), {"package:" + split.join("\npackage:").toUtf8() + '\n'});
        m_window->apps()->saveAPK(InstalledApp {QStringLiteral("com.example.notes"), QStringLiteral("3"), std::nullopt, false},
                                  saveFolder.path());
        if (seenFirst) {
            ASSERT_TRUE(waitUntil([&] { return m_window->list()->alert() && m_window->list()->alert()->isVisible(); }));
        }
        // The main window's model also tells of its own listing; the save's sentence is among what it tells.
        QStringList told;
        const QMetaObject::Connection telling = QObject::connect(&model(), &BrowserModel::errorMessageChanged, [&] {
            told << model().errorMessage().value_or(QString());
        });
        offer({});
        const QString sentence = QStringLiteral("Couldn’t save “com.example.notes”: ");
        EXPECT_TRUE(waitUntil([&] { return !told.filter(sentence).isEmpty(); })) << told.join(u'|').toStdString();
        QObject::disconnect(telling);
        EXPECT_TRUE(QDir(saveFolder.path()).isEmpty());
        phone().clearPulls();
        phone().clearReplies();
    }
}

TEST_F(AppsWindowTest, CellsShowTheirIconBusySpinnerAndDashes)
{
    AppsTableModel table;
    const QDateTime installed(QDate(2024, 3, 5), QTime(9, 30));
    table.setApps({InstalledApp {QStringLiteral("com.user.app"), std::nullopt, std::nullopt, false},
                   InstalledApp {QStringLiteral("com.android.phone"), QStringLiteral("14"), installed, true}});
    table.setBusyPackage(QStringLiteral("com.user.app"));
    // Per row: the icon, whether the spinner turns, the Version and Installed cells.
    const struct { QString symbol; bool busy; QString version, date; } rowsShown[] = {
        {QStringLiteral("app"), true, QStringLiteral("—"), QStringLiteral("—")},
        {QStringLiteral("gearshape"), false, QStringLiteral("14"), Look::abbreviatedDate(installed)},
    };
    for (int row = 0; row < 2; ++row) {
        SCOPED_TRACE(row);
        const auto& expected = rowsShown[row];
        EXPECT_EQ(table.index(row, 0).data(AppsTableModel::SymbolRole).toString(), expected.symbol);
        EXPECT_EQ(table.index(row, 0).data(AppsTableModel::BusyRole).toBool(), expected.busy);
        EXPECT_EQ(table.index(row, 1).data().toString(), expected.version);
        EXPECT_EQ(table.index(row, 2).data().toString(), expected.date);
        for (int column : {1, 2})
            EXPECT_EQ(table.index(row, column).data(Qt::ForegroundRole).value<QColor>(), Look::secondary(QApplication::palette()));
    }
    table.setBusyPackage(std::nullopt);
    EXPECT_FALSE(table.index(0, 0).data(AppsTableModel::BusyRole).toBool());
}

TEST_F(AppsWindowTest, ColumnsKeepTheirMinimumWidths)
{
    AppsList& apps = list();
    QHeaderView& header = *apps.table()->horizontalHeader();
    // column, asked width, width kept
    const std::tuple<int, int, int> cases[] = {{1, 40, 70}, {1, 90, 90}, {2, 40, 80}, {2, 75, 80}, {2, 95, 95}};
    for (const auto& [column, asked, kept] : cases) {
        header.resizeSection(column, asked);
        EXPECT_EQ(header.sectionSize(column), kept) << column << " at " << asked;
    }
}

} // namespace
