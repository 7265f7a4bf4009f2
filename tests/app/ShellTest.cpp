// The shell over a model fed by fakes: the main menu's states and keys, the
// tray menu, the window requests, Settings, the tray glyph, the logo and the
// About panel.

#include "AppShell.h"
#include "DevicePanel.h"
#include "DevicePanelViews.h"
#include "AppsList.h"
#include "AppsModel.h"
#include "AppsWindow.h"
#include "MainMenu.h"
#include "MenuBarItem.h"
#include "MirrorDisplayView.h"
#include "MirrorSession.h"
#include "MirrorSideRail.h"
#include "RailButton.h"
#include "MirrorView.h"
#include "MirrorWindow.h"
#include "AboutPanel.h"
#include "Mirvek.h"
#include "SettingsView.h"
#include "TestSupport.h"
#include "VantelorquistApp.h"
#include "WindowFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTableView>

#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <cstring>
#include <functional>

using namespace windowtest;
using testsupport::waitUntil;

namespace {

class ShellTest : public WindowTest {
protected:
    MainMenu& mainMenu()
    {
        m_window = std::make_unique<QMainWindow>();
        auto* menu = new MainMenu(fullEnvironment(), {}, m_window.get());
        menu->install(m_window.get());
        return *menu;
    }
    MenuBarContent& trayMenu(std::function<void()> quit = [] {})
    {
        m_menu = std::make_unique<QMenu>();
        MenuBarContent::Hooks hooks{[this](const QString& identifier) { openedWindows.append(identifier); },
                                    [](const QString& identifier) { return identifier == u"mirror"_s; }, [] {},
                                    std::move(quit),
                                    // What the application had shown when it was brought forward.
                                    [this] { activatedBeforePanels.append(int(desktop->panels.size())); }};
        return *new MenuBarContent(fullEnvironment(), std::move(hooks), m_menu.get());
    }
    // A copy to the computer that waits until the test ends, reporting `progress`.
    void runJob(double progress)
    {
        model().setAskWhereToSave(false);
        model().setSaveFolder(m_folder.path());
        auto gate = std::make_shared<browsertest::Gate>();
        gates.push_back(gate);
        adb->phone(u"A1"_s)->onTransfer([gate, progress](const QString&, const Progress& report, const Cancel&) {
            report(progress);
            gate->wait();
        });
        model().download({file(u"a.jpg"_s)});
        waitUntil([this] { return model().job() && model().job()->progress; }, std::chrono::seconds(5));
    }

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<QMenu> m_menu;
    QList<int> activatedBeforePanels;
};

} // namespace

TEST_F(ShellTest, MainMenuItemsFollowThePhoneTheSelectionAndTheJob)
{
    const char* titles[] = {"New Folder",   "Copy to Phone…",  "Open",          "Copy to Computer…",  "Rename…",
                            "Delete…",      "Internal Storage", "Mirror Screen", "Apps",          "Logcat",
                            "Take Screenshot", "Record Screen", "Install APK…",  "Refresh",       "Show Hidden Files",
                            "as List",      "Connect over Wi-Fi…"};
    // Per title above: 1 enabled, 0 disabled, - not looked at.
    const std::tuple<const char*, std::function<void()>, const char*> cases[] = {
        {"no phone", [] {}, "0000--00---0-1111"},
        {"ready MTP phone", [this] { readyMtpPhone(); }, "11----1000000----"},
        {"two names selected",
         [this] {
             adbPhoneIn(u"device"_s, {file(u"a.jpg"_s), file(u"b.jpg"_s)});
             model().setSelection({u"a.jpg"_s, u"b.jpg"_s});
         },
         "--1101-1---------"},
        {"a job runs",
         [this] {
             adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
             model().setSelection({u"a.jpg"_s});
             runJob(0.5);
         },
         // Mended: New Folder and Rename… asked for a name the job then dropped.
         "001000111-010----"},
    };
    for (const auto& [name, setup, states] : cases) {
        SCOPED_TRACE(name);
        setup();
        MainMenu& menu = mainMenu();
        for (size_t i = 0; i < std::size(titles); ++i) {
            QAction* action = menu.action(QString::fromUtf8(titles[i]));
            ASSERT_TRUE(action) << titles[i];
            EXPECT_TRUE(states[i] == '-' || action->isEnabled() == (states[i] == '1')) << titles[i];
        }
        model().cancelJob();
        for (const auto& gate : gates)
            gate->open();
        settle();
        adb->setDevices({});
        mtp->setDevices({});
        pass();
    }
}

// Mended: the menus found their items by visible title and skipped, without
// a word, a title they could not find; a phone's name in the tray's header
// could stand for a command of that title. Each item has an identity of its own.
TEST_F(ShellTest, MenusReachEachItemByItsOwnIdentity)
{
    using Command = MainMenu::Command;
    using Item = MenuBarContent::Item;
    adb->setDevices({adbPhone(u"A1"_s, u"device"_s, u"Mirror Screen"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u"a.jpg"_s)});
    pass();
    model().setSelectedSerial(u"A1"_s);
    settle();
    model().setSelection({u"a.jpg"_s});
    const std::tuple<Command, const char*, bool> commands[] = {
        {Command::newFolder, "New Folder", true},     {Command::open, "Open", true},
        {Command::copyToPhone, "Copy to Phone…", true}, {Command::copyToComputer, "Copy to Computer…", true},
        {Command::rename, "Rename…", true},           {Command::remove, "Delete…", true},
        {Command::settings, "Settings…", true},       {Command::closeWindow, "Close Window", true},
        {Command::quit, "Quit Vantelorquist", true},  {Command::asList, "as List", true},
        {Command::asIcons, "as Icons", true},         {Command::showHidden, "Show Hidden Files", true},
        {Command::refresh, "Refresh", true},          {Command::back, "Back", false},
        {Command::forward, "Forward", false},         {Command::enclosingFolder, "Enclosing Folder", false},
        {Command::mirror, "Mirror Screen", true},     {Command::apps, "Apps", true},
        {Command::logcat, "Logcat", true},            {Command::screenshot, "Take Screenshot", true},
        {Command::record, "Record Screen", true},     {Command::installAPK, "Install APK…", true},
        {Command::wireless, "Connect over Wi-Fi…", true},
    };
    ASSERT_EQ(std::size(commands), size_t(MainMenu::commandCount));
    MainMenu& menu = mainMenu();
    for (const auto& [which, title, enabled] : commands) {
        SCOPED_TRACE(title);
        QAction* item = menu.command(which);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->text(), QString::fromUtf8(title));
        EXPECT_EQ(item->isEnabled(), enabled);
    }

    const std::tuple<Item, const char*, bool> items[] = {
        {Item::openApp, "Open Vantelorquist", true},  {Item::sendFiles, "Send Files to Downloads…", true},
        {Item::mirror, "Mirror Screen", true},        {Item::screenshot, "Take Screenshot of Phone", true},
        {Item::install, "Install APK…", true},        {Item::camera, "Browse Camera Photos", true},
        {Item::wireless, "Connect over Wi-Fi…", true}, {Item::settings, "Settings…", true},
        {Item::quit, "Quit Vantelorquist", true},     {Item::stop, "Stop", false}, // hidden without a job
    };
    ASSERT_EQ(std::size(items), size_t(MenuBarContent::itemCount));
    MenuBarContent& tray = trayMenu();
    // The phone's name heads the menu; the command of that title is another item.
    EXPECT_EQ(tray.lines().first(), u"Mirror Screen"_s);
    for (const auto& [which, title, enabled] : items) {
        SCOPED_TRACE(title);
        QAction* item = tray.item(which);
        ASSERT_TRUE(item);
        EXPECT_EQ(item->text(), QString::fromUtf8(title));
        EXPECT_EQ(item->isEnabled(), enabled);
    }
    tray.item(Item::mirror)->trigger();
    EXPECT_TRUE(openedWindows.contains(u"mirror"_s));
}

TEST_F(ShellTest, MainMenuAndTrayListReadyPhonesByNameOnlyFromTwoOn)
{
    adbPhoneIn(u"device"_s);
    MainMenu& menu = mainMenu();
    EXPECT_TRUE(menu.phoneItems().isEmpty());
    EXPECT_FALSE(menu.menu(u"Phone"_s)->actions().last()->isVisible()); // the separator
    EXPECT_FALSE(trayMenu().picker()->menuAction()->isVisible());

    mtp->setDevices({mtpPhone(u"M1"_s, u"device"_s, u"Tom & Jerry"_s)});
    mtp->phone(u"M1"_s)->setFolder(u"/sdcard"_s, {});
    adbPhoneIn(u"device"_s);
    QStringList titles;
    for (QAction* item : menu.phoneItems())
        titles.append(item->text());
    EXPECT_EQ(titles, (QStringList{u"Pixel 7"_s, u"Tom && Jerry"_s}));
    // The tray's picker offers the same phones, the chosen one (the newly plugged) marked.
    MenuBarContent& tray = trayMenu();
    ASSERT_TRUE(tray.picker()->menuAction()->isVisible());
    QStringList options;
    for (QAction* option : tray.picker()->actions())
        options.append(option->text() + (option->isChecked() ? u"*"_s : QString()));
    EXPECT_EQ(options, (QStringList{u"Pixel 7"_s, u"Tom && Jerry*"_s}));
    menu.phoneItems().first()->trigger();
    EXPECT_EQ(model().selectedSerial(), u"A1"_s);
}

TEST_F(ShellTest, MainMenuShortcutsAreDistinctAndReachTheirItems)
{
    adbPhoneIn(u"device"_s);
    MainMenu& menu = mainMenu();
    QStringList keys;
    for (QMenu* sub : m_window->findChildren<QMenu*>()) {
        for (QAction* item : sub->actions()) {
            if (!item->shortcut().isEmpty())
                keys.append(item->shortcut().toString());
        }
    }
    EXPECT_EQ(keys.size(), QSet<QString>(keys.begin(), keys.end()).size()) << keys.join(u' ').toStdString();
    for (const auto& [title, key] : std::initializer_list<std::pair<const char*, const char*>>{
             {"New Folder", "Ctrl+Shift+N"}, {"Copy to Phone…", "Ctrl+I"}, {"Install APK…", "Ctrl+Shift+I"},
             {"Refresh", "Ctrl+R"}, {"Record Screen", "Ctrl+Alt+R"}, {"Logcat", "Ctrl+Shift+L"},
             {"Delete…", "Del"}, {"Back", "Ctrl+["}, {"Enclosing Folder", "Ctrl+Up"}, {"as Icons", "Ctrl+2"}})
        EXPECT_EQ(menu.action(QString::fromUtf8(title))->shortcut().toString(), QString::fromUtf8(key)) << title;

    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_Period, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(model().showHidden());
    QTest::keyClick(m_window.get(), Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(model().viewMode(), ViewMode::grid);
}

// Mended: the tools' help texts named the keys of another desktop (⌥⌘P);
// each names the key of its Phone menu command, as it works here.
TEST_F(ShellTest, ToolHelpTextsNameTheKeysOfTheirCommands)
{
    adbPhoneIn(u"device"_s);
    MainMenu& menu = mainMenu();
    DevicePanel panel(fullEnvironment());
    QTemporaryDir folder;
    QSettings settings(folder.filePath(u"s.ini"_s), QSettings::IniFormat);
    MirrorSession session(ADB(u"/nowhere/adb"_s), u"A1"_s, u"Pixel 7"_s, &settings);
    MirrorSideRail rail(session, model());
    QHash<QString, QString> helps;
    for (ToolButton* tool : panel.tools())
        helps.insert(u"panel "_s + tool->objectName(), tool->toolTip());
    for (const char* title : {"Screenshot", "Record"})
        helps.insert(u"rail "_s + QString::fromUtf8(title), rail.button(QString::fromUtf8(title))->toolTip());
    const std::pair<const char*, const char*> table[] = {
        {"panel toolMirror", "Mirror Screen"}, {"panel toolCapture", "Take Screenshot"},
        {"panel toolRecord", "Record Screen"}, {"panel toolApps", "Apps"},
        {"panel toolLogcat", "Logcat"},        {"rail Screenshot", "Take Screenshot"},
        {"rail Record", "Record Screen"},
    };
    static const QRegularExpression keys(u"\\(([^()]+)\\)$"_s);
    for (const auto& [tool, command] : table) {
        SCOPED_TRACE(tool);
        const QString help = helps.value(QString::fromUtf8(tool));
        const QRegularExpressionMatch named = keys.match(help);
        ASSERT_TRUE(named.hasMatch()) << help.toStdString();
        QAction* item = menu.action(QString::fromUtf8(command));
        ASSERT_TRUE(item);
        EXPECT_EQ(named.captured(1), item->shortcut().toString(QKeySequence::NativeText));
    }
    // No help anywhere on the rail names another desktop's keys.
    for (RailButton* button : rail.buttons())
        EXPECT_FALSE(button->toolTip().contains(u'⌘') || button->toolTip().contains(u'⌥')) << button->toolTip().toStdString();
}

// Mended: Quit ended the application at once during a recording; the video
// stayed on the phone without a word. So did the quits the application
// decides on itself: the last window closing without a tray, and SIGTERM.
TEST_F(ShellTest, QuitDuringARecordingCopiesItFirst)
{
    QTemporaryDir tools;
    adb = std::make_shared<SilentAdbSource>(tools.path());
    const QString stopped = tools.filePath(u"stopped"_s);
    testsupport::writeScript(tools.path(), u"recorder"_s,
                             "#!/bin/sh\nfor i in $(seq 500); do [ -e '" + stopped.toUtf8() +
                                 "' ] && exit 0; sleep 0.02; done\n");
    adb->setStreamTool(tools.filePath(u"recorder"_s));
    adb->onRun([stopped](const QStringList& args) {
        if (args.last() == u"pkill -INT screenrecord"_s)
            QFile(stopped).open(QIODevice::WriteOnly);
        if (args.size() == 5 && args[2] == u"pull"_s) {
            QFile copy(args[4]);
            if (copy.open(QIODevice::WriteOnly))
                copy.write("a video");
        }
        // The recorder has ended, and its file is as long as the copy.
        if (args.last().startsWith(u"pgrep -f "_s))
            return u"recorder=1 size=7\n"_s;
        return QString();
    });
    adb->setDevices({adbPhone(u"A1"_s)});

    const struct {
        const char* how;
        bool tray;
        std::function<void(VantelorquistApp&)> quit;
    } cases[] = {
        {"the Quit command", true,
         [](VantelorquistApp& app) { app.mainMenu()->action(u"Quit Vantelorquist"_s)->trigger(); }},
        {"the last window closing without a tray", false,
         [](VantelorquistApp& app) {
             app.windows().window(u"main"_s)->close();
             // What Qt's event loop says then.
             Q_EMIT qApp->lastWindowClosed();
         }},
        {"SIGTERM", true,
         [](VantelorquistApp&) {
             struct sigaction current {};
             ::sigaction(SIGTERM, nullptr, &current);
             // Not handled, it would end the tests here.
             ASSERT_NE(current.sa_handler, SIG_DFL);
             ::raise(SIGTERM);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        QFile::remove(stopped);
        QTemporaryDir saved;
        int quits = 0;
        VantelorquistApp::Options options;
        options.settings = &settings();
        options.makeModel = [this] { return makeModel(settings()); };
        options.trayShown = [tray = c.tray] { return tray; };
        options.quit = [&quits] { ++quits; };
        VantelorquistApp app(std::move(options));
        app.willFinishLaunching();
        app.didFinishLaunching();
        BrowserModel& browser = app.model();
        bool passed = false;
        browser.refreshDevices([&passed] { passed = true; });
        ASSERT_TRUE(waitUntil([&passed] { return passed; }));
        settle();
        ASSERT_TRUE(browser.readyDevice());
        browser.setSaveFolder(saved.path());
        browser.toggleRecording();
        ASSERT_TRUE(browser.recordingStarted());
        c.quit(app);
        EXPECT_EQ(quits, 0);
        ASSERT_TRUE(waitUntil([&quits] { return quits > 0; }, std::chrono::seconds(15)));
        settle();
        EXPECT_EQ(quits, 1);
        EXPECT_EQ(QDir(saved.path()).entryList({u"* Recording *.mp4"_s}, QDir::Files).size(), 1);
    }
}

// Mended: every command was an action of the main window's menu bar, so its
// key did nothing in the other windows, Ctrl+Q included.
TEST_F(ShellTest, CommandKeysActFromEveryWindowAndLeaveEachWindowItsOwnKeys)
{
    QTemporaryDir tools;
    adb = std::make_shared<SilentAdbSource>(tools.path());
    // A recording runs until "pkill -INT screenrecord" leaves its mark.
    const QString stopped = tools.filePath(u"stopped"_s);
    testsupport::writeScript(tools.path(), u"recorder"_s,
                             "#!/bin/sh\nfor i in $(seq 500); do [ -e '" + stopped.toUtf8() +
                                 "' ] && exit 0; sleep 0.02; done\n");
    adb->setStreamTool(tools.filePath(u"recorder"_s));
    adb->onRun([stopped](const QStringList& args) {
        if (args.last() == u"pkill -INT screenrecord"_s)
            QFile(stopped).open(QIODevice::WriteOnly);
        if (args.size() == 5 && args[2] == u"pull"_s) {
            QFile copy(args[4]);
            if (copy.open(QIODevice::WriteOnly))
                copy.write("a video");
        }
        // The recorder has ended, and its file is as long as the copy.
        if (args.last().startsWith(u"pgrep -f "_s))
            return u"recorder=1 size=7\n"_s;
        return QString();
    });
    adb->setDevices({adbPhone(u"A1"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u"a.jpg"_s)});

    int quits = 0;
    VantelorquistApp::Options options;
    options.settings = &settings();
    options.makeModel = [this] { return makeModel(settings()); };
    options.trayShown = [] { return true; };
    options.quit = [&quits] { ++quits; };
    VantelorquistApp app(std::move(options));
    app.willFinishLaunching();
    app.didFinishLaunching();
    BrowserModel& browser = app.model();
    const auto passOf = [&] {
        bool done = false;
        browser.refreshDevices([&done] { done = true; });
        ASSERT_TRUE(waitUntil([&done] { return done; }));
        settle();
    };
    passOf();
    ASSERT_TRUE(browser.readyDevice());
    browser.setAskWhereToSave(false);
    browser.setSaveFolder(m_folder.path());
    browser.setSelection({u"a.jpg"_s});

    int viewChanges = 0, hiddenChanges = 0, recordings = 0, mirrorsOpened = 0, appsReloads = 0;
    QObject::connect(&browser, &BrowserModel::viewModeChanged, [&] { ++viewChanges; });
    QObject::connect(&browser, &BrowserModel::showHiddenChanged, [&] { ++hiddenChanges; });
    QObject::connect(&browser, &BrowserModel::recordingStartedChanged, [&] { recordings += bool(browser.recordingStarted()); });
    QObject::connect(&app.windows(), &WindowRegistry::windowOpened, [&](const QString& identifier) {
        mirrorsOpened += identifier == u"mirror"_s;
    });
    const auto closeWindow = [&](const QString& identifier) {
        if (QWidget* window = app.windows().window(identifier))
            window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        settle();
    };
    QPointer<QWidget> current;
    QSet<AppsModel*> counted;

    struct Command {
        const char* title;
        QKeyCombination key;
        std::function<int()> acted; // grows by one each time the command acts
        std::function<void()> undo;
        const char* where;          // per window below: 1 acts, 0 does not, - not tried
    };
    const char* windows[] = {"main", "mirror", "apps", "logcat", "settings"};
    const Command commands[] = {
        {"Take Screenshot", Qt::CTRL | Qt::ALT | Qt::Key_P, [&] { return adb->calls(u"screenshot A1"_s); }, [] {}, "11111"},
        {"Record Screen", Qt::CTRL | Qt::ALT | Qt::Key_R, [&] { return recordings; },
         [&] {
             browser.toggleRecording();
             EXPECT_TRUE(waitUntil([&] { return !browser.recordingStarted(); }, std::chrono::seconds(15)));
             QFile::remove(stopped);
         },
         "11111"},
        {"Mirror Screen", Qt::CTRL | Qt::ALT | Qt::Key_M, [&] { return mirrorsOpened; },
         [&] { closeWindow(u"mirror"_s); }, "1-111"},
        {"as Icons", Qt::CTRL | Qt::Key_2, [&] { return viewChanges; }, [&] { browser.setViewMode(ViewMode::list); }, "11111"},
        {"Show Hidden Files", Qt::CTRL | Qt::SHIFT | Qt::Key_Period, [&] { return hiddenChanges; },
         [&] { browser.setShowHidden(false); }, "11111"},
        // Its prompt shows in the main window, which comes forward (or back).
        {"New Folder", Qt::CTRL | Qt::SHIFT | Qt::Key_N,
         [&] {
             QWidget* main = app.windows().window(u"main"_s);
             return int(browser.showingNewFolder() && main && main->isVisible());
         },
         [&] { browser.setShowingNewFolder(false); }, "11111"},
        {"Refresh", Qt::CTRL | Qt::Key_R, [&] { return adb->phone(u"A1"_s)->calls(u"list /sdcard"_s); }, [] {}, "11011"},
        {"the apps' own Refresh", Qt::CTRL | Qt::Key_R, [&] { return appsReloads; }, [] {}, "--1--"},
        {"Delete…, a bare key", Qt::Key_Delete, [&] { return int(desktop->questions.size()); }, [] {}, "10000"},
        {"Quit Vantelorquist", Qt::CTRL | Qt::Key_Q, [&] { return quits; }, [] {}, "11111"},
        {"Close Window", Qt::CTRL | Qt::Key_W, [&] { return current ? 0 : 1; }, [] {}, "11111"},
    };
    for (size_t w = 0; w < std::size(windows); ++w) {
        const QString identifier = QString::fromLatin1(windows[w]);
        for (const Command& command : commands) {
            if (command.where[w] == '-')
                continue;
            SCOPED_TRACE(std::string(windows[w]) + ": " + command.title);
            if (identifier != u"mirror"_s)
                closeWindow(u"mirror"_s);
            current = app.windows().open(identifier);
            ASSERT_TRUE(current);
            ASSERT_TRUE(QTest::qWaitForWindowActive(current));
            // Keys come from where the window's user types.
            QWidget* focus = current;
            if (auto* mirror = qobject_cast<MirrorWindow*>(current.data())) {
                ASSERT_TRUE(mirror->view());
                focus = mirror->view()->screen();
            } else if (auto* apps = qobject_cast<AppsWindow*>(current.data())) {
                ASSERT_TRUE(apps->list() && apps->apps());
                ASSERT_TRUE(waitUntil([&] { QCoreApplication::processEvents(); return !apps->apps()->isLoading(); }));
                if (!counted.contains(apps->apps())) {
                    counted.insert(apps->apps());
                    AppsModel* model = apps->apps();
                    QObject::connect(model, &AppsModel::isLoadingChanged, [&appsReloads, model] {
                        appsReloads += model->isLoading();
                    });
                }
                focus = apps->list()->findChild<QTableView*>(u"appsTable"_s);
            } else if (identifier == u"logcat"_s) {
                focus = current->findChild<QLineEdit*>(u"search"_s);
            } else if (identifier == u"settings"_s) {
                focus = current->findChild<QCheckBox*>();
            }
            ASSERT_TRUE(focus);
            if (focus != current)
                focus->setFocus(Qt::OtherFocusReason);
            QWidget* typing = QApplication::focusWidget();
            ASSERT_TRUE(typing && typing->window() == current);
            ASSERT_TRUE(focus == current || typing == focus);
            const int before = command.acted();
            QTest::keyClick(typing, command.key.key(), command.key.keyboardModifiers());
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            // A running recording keeps a worker busy: nothing would settle.
            if (!browser.recordingStarted())
                settle();
            EXPECT_EQ(command.acted() - before, command.where[w] - '0');
            command.undo();
            settle();
        }
    }
    closeWindow(u"mirror"_s);

    // The items' enabled rules hold in every window: no screenshot while a job runs.
    auto gate = std::make_shared<browsertest::Gate>();
    gates.push_back(gate);
    adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
    browser.download({file(u"a.jpg"_s)});
    ASSERT_TRUE(browser.job());
    QWidget* apps = app.windows().open(u"apps"_s);
    ASSERT_TRUE(QTest::qWaitForWindowActive(apps));
    const int shots = adb->calls(u"screenshot A1"_s), beeps = desktop->beeps;
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : apps, Qt::Key_P,
                    Qt::ControlModifier | Qt::AltModifier);
    gate->open();
    settle();
    EXPECT_EQ(adb->calls(u"screenshot A1"_s), shots);
    EXPECT_EQ(desktop->beeps, beeps); // the item was off: the model never asked
}

TEST(TrayStatus, SaysHowThePhoneIsConnectedAndItsBattery)
{
    DeviceInfo full, chargingOnly;
    full.battery = 100;
    full.charging = chargingOnly.charging = true;
    const std::tuple<Device, std::optional<DeviceInfo>, const char*> cases[] = {
        {adbPhone(u"A1"_s), full, "Connected over USB, battery 100% (charging)"},
        {adbPhone(u"A1"_s), chargingOnly, "Connected over USB"},
        {adbPhone(u"192.168.1.20:5555"_s), std::nullopt, "Connected over Wi-Fi"},
        {mtpPhone(u"M1"_s), std::nullopt, "Connected for file transfer"},
        {adbPhone(u"A1"_s, u"offline"_s), std::nullopt, "Connecting…"},
        {adbPhone(u"A1"_s, u"unauthorized"_s), full, "Allow USB debugging on the phone"},
    };
    for (const auto& [device, info, expected] : cases)
        EXPECT_EQ(MenuBarContent::status(device, info), QString::fromUtf8(expected)) << expected;
    EXPECT_EQ(MenuBarContent::jobLine({u"Copying…"_s, 0.999, true}), u"Copying… 99%"_s);
    EXPECT_EQ(MenuBarContent::jobLine({u"Copying…"_s, std::nullopt, true}), u"Copying…"_s);
}

TEST_F(ShellTest, TrayMenuReadsTheToolsThePhoneAndTheJobAndEnablesTheGroupsByTransport)
{
    adb->setInstalled(false);
    pass();
    EXPECT_EQ(trayMenu().lines().first(), u"Android platform tools not installed"_s);
    adb->setInstalled(true);
    adbPhoneIn(u"unauthorized"_s);
    EXPECT_EQ(trayMenu().lines().mid(0, 3), (QStringList{u"Pixel 7"_s, u"Allow USB debugging on the phone"_s, u"-"_s}));
    EXPECT_FALSE(trayMenu().action(u"Send Files to Downloads…"_s)->isEnabled());

    adb->setDevices({});
    readyMtpPhone();
    MenuBarContent& tray = trayMenu();
    EXPECT_TRUE(tray.action(u"Send Files to Downloads…"_s)->isEnabled());
    EXPECT_TRUE(tray.action(u"Browse Camera Photos"_s)->isEnabled());
    for (const char* title : {"Mirror Screen", "Take Screenshot of Phone", "Install APK…"})
        EXPECT_FALSE(tray.action(QString::fromUtf8(title))->isEnabled()) << title;
    EXPECT_FALSE(tray.action(u"Stop"_s));

    mtp->setDevices({});
    adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
    EXPECT_TRUE(tray.action(u"Mirror Screen"_s)->isEnabled());
    runJob(0.999);
    // The job line changes at most twice a second: it gets there.
    const QString line = u"Copying “a.jpg” to computer (1 of 1)… 99%"_s;
    EXPECT_TRUE(waitUntil([&] { QCoreApplication::processEvents(); return tray.lines().contains(line); }))
        << tray.lines().join('|').toStdString();
    EXPECT_TRUE(tray.action(u"Stop"_s));
    EXPECT_FALSE(tray.action(u"Mirror Screen"_s)->isEnabled());
}

TEST_F(ShellTest, TrayPanelsComeUpWithTheApplicationInFront)
{
    adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
    MenuBarContent& tray = trayMenu();
    tray.action(u"Send Files to Downloads…"_s)->trigger();
    EXPECT_EQ(activatedBeforePanels, QList<int>{0});
    EXPECT_EQ(desktop->panels.size(), 1);
    tray.action(u"Install APK…"_s)->trigger();
    EXPECT_EQ(activatedBeforePanels, (QList<int>{0, 1}));
    EXPECT_EQ(desktop->panels.size(), 2);
    // Actions without a panel leave the application where it is.
    tray.action(u"Take Screenshot of Phone"_s)->trigger();
    settle();
    EXPECT_EQ(activatedBeforePanels.size(), 2);
}

TEST_F(ShellTest, ActivatingTheApplicationFrontsItsMainWindow)
{
    QWidget main;
    main.setObjectName(u"main"_s);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    QWidget other;
    other.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&other));
    QApplication::setActiveWindow(nullptr);
    ASSERT_FALSE(QApplication::activeWindow());

    AppShell shell(&settings(), [] { return true; });
    shell.activateApplication();
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &main; }, 2000));
}

TEST_F(ShellTest, TrayShortcutsActWhileTheMenuIsOpen)
{
    QMainWindow main;
    (new MainMenu(fullEnvironment(), {}, &main))->install(&main);
    int quits = 0;
    trayMenu([&quits] { ++quits; });
    for (Qt::Key key : {Qt::Key_O, Qt::Key_Q}) {
        m_menu->popup(QPoint(10, 10));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_menu.get()));
        QTest::keyClick(m_menu.get(), key, Qt::ControlModifier);
    }
    EXPECT_EQ(openedWindows, QStringList{u"main"_s});
    EXPECT_EQ(quits, 1);
}

TEST_F(ShellTest, AWindowRequestBringsUpTheMainWindowOrOpensItAgain)
{
    VantelorquistApp::Options options;
    options.settings = &settings();
    options.makeModel = [this] { return makeModel(settings()); };
    VantelorquistApp app(std::move(options));
    app.willFinishLaunching();
    app.didFinishLaunching();
    const auto passOf = [&] {
        bool done = false;
        app.model().refreshDevices([&done] { done = true; });
        ASSERT_TRUE(waitUntil([&done] { return done; }));
        settle();
    };
    passOf();
    QPointer<QWidget> main = app.windows().window(u"main"_s);
    ASSERT_TRUE(main);
    main->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(main);
    // A newly plugged phone asks for the window.
    adb->setDevices({adbPhone(u"A1"_s)});
    passOf();
    ASSERT_TRUE(app.windows().window(u"main"_s));
    EXPECT_TRUE(app.windows().window(u"main"_s)->isVisible());
}

TEST_F(ShellTest, SettingsShowDefaultsAndFollowTheirRules)
{
    bool menuBar = true;
    SettingsView view(model(), desktop, {[&] { return menuBar; }, [&](bool on) { menuBar = on; }});
    const QString keep = u"Keep running in the system tray when the window is closed"_s;
    for (const char* label : {"Ask where to save each time", "Show copied files in the file manager",
                              "Open Vantelorquist when a phone is plugged in",
                              "Reconnect to paired phones over Wi-Fi automatically", "Show Vantelorquist in the system tray"})
        EXPECT_TRUE(view.toggle(QString::fromUtf8(label))->isChecked()) << label;
    EXPECT_TRUE(view.toggle(keep)->isChecked());
    EXPECT_FALSE(view.toggle(u"Show hidden files"_s)->isChecked());
    EXPECT_EQ(view.folderText(), u"~/Downloads"_s);
    // Mended: the tray's toggles stood under "Menu bar".
    QStringList sections;
    for (const QGroupBox* section : view.findChildren<QGroupBox*>())
        sections << section->title();
    EXPECT_EQ(sections, (QStringList{u"Copying to Computer"_s, u"Connecting"_s, u"System tray"_s, u"Browsing"_s}));

    // Off for the tray disables "Keep running…" but keeps what it holds.
    view.toggle(u"Show Vantelorquist in the system tray"_s)->click();
    EXPECT_FALSE(menuBar);
    EXPECT_FALSE(view.toggle(keep)->isEnabled());
    EXPECT_TRUE(view.toggle(keep)->isChecked());
    EXPECT_TRUE(model().keepRunningInMenuBar());

    // A cancelled folder dialog changes nothing; a chosen folder is stored.
    model().setSaveFolder(u"/srv/photos"_s);
    desktop->folder = std::nullopt;
    view.findChild<QPushButton*>(u"choose"_s)->click();
    EXPECT_EQ(model().saveFolder(), u"/srv/photos"_s);
    EXPECT_EQ(desktop->panels.last().folder, u"/srv/photos"_s);
    desktop->folder = u"/srv/music"_s;
    view.findChild<QPushButton*>(u"choose"_s)->click();
    EXPECT_EQ(view.folderText(), u"/srv/music"_s);
}

// Mended: the Settings window going while its folder panel was open (closed
// on quit) left the choice to be stored through the freed window.
TEST_F(ShellTest, AFolderChosenAfterTheSettingsWindowWentIsStillStored)
{
    QPointer<SettingsView> view = new SettingsView(model(), desktop, {[] { return true; }, [](bool) {}});
    view->setAttribute(Qt::WA_DeleteOnClose);
    view->show();
    model().setSaveFolder(u"/srv/photos"_s);
    desktop->folder = u"/srv/music"_s;
    bool goneWhileChoosing = false;
    desktop->whileAsking = [&] {
        QEventLoop choosing;
        QTimer::singleShot(0, &choosing, [&] { view->close(); });
        QTimer::singleShot(200, &choosing, &QEventLoop::quit);
        choosing.exec();
        goneWhileChoosing = !view;
    };
    view->findChild<QPushButton*>(u"choose"_s)->click();
    EXPECT_TRUE(goneWhileChoosing);
    EXPECT_EQ(model().saveFolder(), u"/srv/music"_s);
    delete view;
}

TEST_F(ShellTest, SettingsReconnectToggleIsDisabledWithoutAdb)
{
    adb->setInstalled(false);
    pass();
    SettingsView view(model(), desktop, {[] { return true; }, [](bool) {}});
    EXPECT_FALSE(view.toggle(u"Reconnect to paired phones over Wi-Fi automatically"_s)->isEnabled());
}

TEST(SettingsPath, OnlyALeadingWholeHomeFolderBecomesTilde)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"/home/al/Downloads", "/home/al", "~/Downloads"}, {"/home/al", "/home/al", "~"},
        {"/home/alice/x", "/home/al", "/home/alice/x"},    {"/srv/home/al/x", "/home/al", "/srv/home/al/x"},
        {"/media/disk", "/home/al", "/media/disk"},         {"/home/al/x", "/home/al/", "~/x"},
    };
    for (const auto& [path, home, shown] : cases)
        EXPECT_EQ(SettingsView::displayPath(QString::fromUtf8(path), QString::fromUtf8(home)), QString::fromUtf8(shown))
            << path;
}

TEST(TrayGlyph, BodyIsSolidArrowsAreHolesAndAntennasShow)
{
    // Design points mapped as the glyph maps them onto its 18-point square.
    const auto at = [](const QImage& image, double x, double y) {
        const double scale = image.width() / 18.0;
        return qAlpha(image.pixel(int(((16 * x - 203) / 205) * scale), int(((16 * y - 163) / 205) * scale)));
    };
    for (int side : {18, 36}) {
        const QImage image = MenuBarGlyph::image(side, Qt::black);
        EXPECT_EQ(at(image, 96, 210), 255) << side; // body, below the arrows
        // The shafts are 16 units, under 1.3 pixels at 18: nearly clear.
        EXPECT_LT(at(image, 125, 120), 40) << side; // the upper arrow's shaft
        EXPECT_LT(at(image, 130, 168), 40) << side; // the lower arrow's shaft
        EXPECT_GT(std::min(at(image, 94, 27), at(image, 162, 27)), 100) << side; // near both antennas' tips
        EXPECT_EQ(at(image, 128, 24), 0) << side;   // between the antennas
    }
}

TEST(TrayGlyph, StandsOutOnLightAndDarkPanelsUnderEitherPalette)
{
    const QPalette saved = QApplication::palette();
    QPalette dark = saved;
    dark.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    QPalette light = saved;
    light.setColor(QPalette::WindowText, QColor(0x10, 0x10, 0x10));
    for (const auto& [palette, name] : {std::pair{light, "light palette"}, std::pair{dark, "dark palette"}}) {
        QApplication::setPalette(palette);
        for (const QColor panel : {QColor(0x20, 0x20, 0x20), QColor(0xf4, 0xf4, 0xf4)}) {
            QImage shown(22, 22, QImage::Format_ARGB32_Premultiplied);
            shown.fill(panel);
            {
                QPainter painter(&shown);
                painter.drawPixmap(0, 0, MenuBarGlyph::icon().pixmap(22, 22));
            }
            // Pixels that differ from the panel by more than half the range.
            int contrasting = 0;
            for (int y = 0; y < 22; ++y) {
                for (int x = 0; x < 22; ++x)
                    contrasting += std::abs(qGray(shown.pixel(x, y)) - qGray(panel.rgb())) > 128;
            }
            EXPECT_GT(contrasting, 60) << name << " on " << panel.name().toStdString();
        }
    }
    QApplication::setPalette(saved);
}

// Mended: the tray was asked for once, so a panel that started after the
// application never got the icon; and new desktop colours kept the glyph
// the tray had been given.
TEST_F(ShellTest, TheTrayIconComesWithALaterTrayAndIsDrawnAnewForNewColours)
{
    bool tray = false;
    MenuBarContent::Hooks hooks{[](const QString&) {}, [](const QString&) { return false; }, [] {}, [] {}, [] {}};
    MenuBarItem item(fullEnvironment(), std::move(hooks), nullptr, [&tray] { return tray; });
    item.setShown(true);
    EXPECT_FALSE(item.isShown());
    tray = true;
    EXPECT_TRUE(waitUntil([&] { return item.isShown(); }, MenuBarItem::trayRecheck * 3));
    item.setShown(false);
    EXPECT_FALSE(item.isShown());

    const QPalette before = QApplication::palette();
    const qint64 given = item.trayIcon()->icon().cacheKey();
    QPalette dark = before;
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Window, Qt::black);
    QApplication::setPalette(dark);
    EXPECT_NE(item.trayIcon()->icon().cacheKey(), given);
    QApplication::setPalette(before);
}

TEST(MakerMark, CentresTheLogoAndScalesItsLine)
{
    EXPECT_EQ(MirvekMark::layout({200, 100}).square, QRectF(50, 0, 100, 100));
    EXPECT_DOUBLE_EQ(MirvekMark::layout({200, 100}).lineWidth, 6.0);
    EXPECT_DOUBLE_EQ(MirvekMark::layout({20, 20}).lineWidth, 1.2);
    MirvekMark mark;
    mark.resize(200, 100);
    QImage image(200, 100, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    mark.render(&image, {}, {}, QWidget::DrawChildren);
    // The cell's left side runs at x 11.46 of the square, 6 wide: 58.5 to 64.5;
    // the letter's left stroke at 83.
    for (const auto& [x, alpha] : {std::pair{61, 255}, {56, 0}, {67, 0}, {25, 0}, {83, 255}})
        EXPECT_EQ(qAlpha(image.pixel(x, 50)), alpha) << x;
}

TEST(AboutPanel, ShowsTheYearAndTheMaker)
{
    QDialog* panel = Mirvek::showAboutPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(Mirvek::showAboutPanel(), panel); // one panel
    EXPECT_EQ(panel->findChild<QLabel*>(u"copyright"_s)->text(), u"© %1 MIRVEK"_s.arg(QDate::currentDate().year()));
    EXPECT_EQ(panel->findChild<QLabel*>(u"madeBy"_s)->accessibleName(), u"Made by MIRVEK"_s);
    panel->close();
}

TEST(ApplicationStart, MakesItsOwnSettingsWhenNoneAreGivenWhateverItsMemoryHeld)
{
    // main() builds the application in a stack frame that earlier calls
    // have used: nothing of it may be read before it is made.
    static QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home.path());
    alignas(VantelorquistApp) unsigned char storage[sizeof(VantelorquistApp)];
    std::memset(storage, 0xA5, sizeof storage);
    asm volatile("" : : "r"(storage) : "memory");
    auto* app = new (storage) VantelorquistApp(VantelorquistApp::Options{});
    app->setShowMenuBarIcon(false);
    EXPECT_FALSE(app->showMenuBarIcon());
    app->setShowMenuBarIcon(true);
    EXPECT_TRUE(app->showMenuBarIcon());
    app->~VantelorquistApp();
}

// The application keeps the focus of a control disabled under it on the
// window: the main window's Capture tool, dimmed by its screenshot, hands
// nothing to Record beside it.
TEST_F(ShellTest, AControlDisabledUnderTheFocusLeavesItOnItsWindow)
{
    VantelorquistApp::Options options;
    options.settings = &settings();
    options.makeModel = [this] { return makeModel(settings()); };
    options.trayShown = [] { return true; };
    VantelorquistApp app(std::move(options));
    app.willFinishLaunching();
    adb->setDevices({adbPhone(u"A1"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {});
    app.didFinishLaunching();
    bool done = false;
    app.model().refreshDevices([&done] { done = true; });
    ASSERT_TRUE(waitUntil([&done] { return done; }));
    settle();
    app.model().setAskWhereToSave(false);
    app.model().setSaveFolder(m_folder.path());
    QWidget* main = app.windows().window(u"main"_s);
    ASSERT_TRUE(main);
    main->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(main));
    auto* capture = main->findChild<QWidget*>(u"toolCapture"_s);
    ASSERT_TRUE(capture && capture->isVisible());
    capture->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), capture);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    ASSERT_TRUE(app.model().job());
    EXPECT_EQ(QApplication::focusWidget(), main);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    EXPECT_FALSE(app.model().recordingStarted());
    ASSERT_TRUE(waitUntil([&] { return !app.model().job(); }));
    settle();
    EXPECT_EQ(QApplication::focusWidget(), capture) << "back once it can act again";
}

// Mended: a left click on the tray icon did nothing; only a right click
// opened its menu. Both open the same menu; a double or middle click doesn't.
TEST_F(ShellTest, ALeftClickOnTheTrayIconOpensItsMenu)
{
    MenuBarContent::Hooks hooks;
    MenuBarItem item(fullEnvironment(), std::move(hooks), nullptr, [] { return true; });
    item.setShown(true);
    QMenu* menu = item.trayIcon()->contextMenu();
    ASSERT_TRUE(menu);
    EXPECT_EQ(menu, item.content().menu());
    const std::pair<QSystemTrayIcon::ActivationReason, bool> cases[] = {
        {QSystemTrayIcon::DoubleClick, false}, {QSystemTrayIcon::MiddleClick, false}, {QSystemTrayIcon::Trigger, true}};
    for (const auto& [reason, opens] : cases) {
        Q_EMIT item.trayIcon()->activated(reason);
        EXPECT_EQ(menu->isVisible(), opens) << reason;
        menu->close();
    }
}
