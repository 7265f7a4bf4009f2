// The shell over a model fed by fakes: the main menu's states and keys, the
// tray menu, the window requests, Settings, the tray glyph, the logo and the
// About panel.

#include "ContentView.h"
#include "MainMenu.h"
#include "MenuBarItem.h"
#include "Mirvek.h"
#include "SettingsView.h"
#include "TestSupport.h"
#include "VantelorquistApp.h"
#include "WindowFixture.h"

#include <QCheckBox>
#include <QDate>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QMenuBar>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QPushButton>

#include <functional>
#include <map>

using namespace windowtest;

namespace {

class ShellTest : public WindowTest {
protected:
    MainMenu& mainMenu()
    {
        m_window = std::make_unique<QMainWindow>();
        return *new MainMenu(fullEnvironment(), m_window.get(), [this] { calls.append(QStringLiteral("settings")); });
    }
    MenuBarContent& trayMenu()
    {
        m_menu = std::make_unique<QMenu>();
        MenuBarContent::Hooks hooks;
        hooks.bringUp = [this](const QString& identifier) { openedWindows.append(identifier); };
        hooks.canOpen = [](const QString& identifier) { return identifier == QStringLiteral("mirror"); };
        hooks.openSettings = [] {};
        hooks.quit = [] {};
        return *new MenuBarContent(fullEnvironment(), std::move(hooks), m_menu.get());
    }
    // A copy to the computer that waits until the test ends, reporting `progress`.
    void runJob(double progress)
    {
        model().setAskWhereToSave(false);
        model().setSaveFolder(m_folder.path());
        auto gate = std::make_shared<browsertest::Gate>();
        gates.push_back(gate);
        adb->phone(QStringLiteral("A1"))->onTransfer([gate, progress](const QString&, const Progress& report, const Cancel&) {
            report(progress);
            gate->wait();
        });
        model().download({file(QStringLiteral("a.jpg"))});
        testsupport::waitUntil([this] { return model().job() && model().job()->progress; }, std::chrono::seconds(5));
    }
    void twoReadyPhones(const QString& secondName = QStringLiteral("Galaxy"))
    {
        mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("device"), secondName)});
        mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), {});
        adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"))});
    }

    std::unique_ptr<QMainWindow> m_window;
    std::unique_ptr<QMenu> m_menu;
};

using Setup = std::function<void()>;
struct MenuCase {
    const char* name;
    Setup setup;
    std::map<QString, bool> enabled;
};

} // namespace

TEST_F(ShellTest, MainMenuItemsFollowThePhoneTheSelectionAndTheJob)
{
    const std::vector<MenuCase> cases{
        {"no phone", [] {},
         {{"New Folder", false}, {"Copy to Phone…", false}, {"Open", false}, {"Copy to Mac…", false},
          {"Internal Storage", false}, {"Mirror Screen", false}, {"Record Screen", false}, {"Refresh", true},
          {"Show Hidden Files", true}, {"as List", true}, {"Connect over Wi-Fi…", true}}},
        {"ready MTP phone", [this] { readyMtpPhone(); },
         {{"New Folder", true}, {"Copy to Phone…", true}, {"Internal Storage", true}, {"Mirror Screen", false},
          {"Apps", false}, {"Logcat", false}, {"Take Screenshot", false}, {"Record Screen", false},
          {"Install APK…", false}}},
        {"two names selected",
         [this] {
             adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg")), file(QStringLiteral("b.jpg"))});
             model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.jpg")});
         },
         {{"Open", true}, {"Rename…", false}, {"Delete…", true}, {"Copy to Mac…", true}, {"Mirror Screen", true}}},
        {"a job runs",
         [this] {
             adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"))});
             model().setSelection({QStringLiteral("a.jpg")});
             runJob(0.5);
         },
         {{"Copy to Phone…", false}, {"Copy to Mac…", false}, {"Delete…", false}, {"Take Screenshot", false},
          {"Install APK…", false}, {"New Folder", true}, {"Open", true}, {"Rename…", true}, {"Mirror Screen", true},
          {"Apps", true}, {"Record Screen", true}, {"Internal Storage", true}}},
    };
    for (const MenuCase& c : cases) {
        SCOPED_TRACE(c.name);
        c.setup();
        MainMenu& menu = mainMenu();
        for (const auto& [title, enabled] : c.enabled) {
            ASSERT_TRUE(menu.action(title)) << title.toStdString();
            EXPECT_EQ(menu.action(title)->isEnabled(), enabled) << title.toStdString();
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

TEST_F(ShellTest, MainMenuListsReadyPhonesByNameOnlyFromTwoOn)
{
    adbPhoneIn(QStringLiteral("device"));
    MainMenu& menu = mainMenu();
    EXPECT_TRUE(menu.phoneItems().isEmpty());
    EXPECT_EQ(menu.menu(QStringLiteral("Phone"))->actions().last()->isVisible(), false); // the separator

    twoReadyPhones(QStringLiteral("Tom & Jerry"));
    QStringList titles;
    for (QAction* item : menu.phoneItems())
        titles.append(item->text());
    EXPECT_EQ(titles, (QStringList{QStringLiteral("Pixel 7"), QStringLiteral("Tom && Jerry")}));
    menu.phoneItems().last()->trigger();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("M1"));
}

TEST_F(ShellTest, MainMenuShortcutsAreDistinctAndReachTheirItems)
{
    adbPhoneIn(QStringLiteral("device"));
    MainMenu& menu = mainMenu();
    QStringList keys;
    for (QMenu* sub : m_window->findChildren<QMenu*>()) {
        for (QAction* item : sub->actions()) {
            if (!item->shortcut().isEmpty())
                keys.append(item->shortcut().toString());
        }
    }
    const QStringList distinct(QSet<QString>(keys.begin(), keys.end()).values());
    EXPECT_EQ(keys.size(), distinct.size()) << keys.join(QLatin1Char(' ')).toStdString();
    for (const auto& [title, key] : std::map<QString, QString>{
             {"New Folder", "Ctrl+Shift+N"}, {"Copy to Phone…", "Ctrl+I"}, {"Install APK…", "Ctrl+Shift+I"},
             {"Refresh", "Ctrl+R"}, {"Record Screen", "Ctrl+Alt+R"}, {"Logcat", "Ctrl+Shift+L"},
             {"Delete…", "Del"}, {"Back", "Ctrl+["}, {"Enclosing Folder", "Ctrl+Up"}, {"as Icons", "Ctrl+2"}})
        EXPECT_EQ(menu.action(title)->shortcut().toString(), key) << title.toStdString();

    m_window->show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    QTest::keyClick(m_window.get(), Qt::Key_Period, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(model().showHidden());
    QTest::keyClick(m_window.get(), Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(model().viewMode(), ViewMode::grid);
}

TEST_F(ShellTest, TrayHeaderReadsTheToolsThePhoneAndItsState)
{
    adb->setInstalled(false);
    pass();
    EXPECT_EQ(trayMenu().lines().first(), QStringLiteral("Android platform tools not installed"));

    adb->setInstalled(true);
    std::unique_ptr<BrowserModel> withTools = makeModel(settings());
    adbPhoneIn(QStringLiteral("unauthorized"));
    const QStringList lines = trayMenu().lines();
    EXPECT_EQ(lines.mid(0, 3), (QStringList{QStringLiteral("Pixel 7"), QStringLiteral("Allow USB debugging on the phone"),
                                            QStringLiteral("-")}));
    EXPECT_FALSE(trayMenu().action(QStringLiteral("Send Files to Downloads…"))->isEnabled());
}

TEST(TrayStatus, SaysHowThePhoneIsConnectedAndItsBattery)
{
    DeviceInfo full;
    full.battery = 100;
    full.charging = true;
    DeviceInfo chargingOnly;
    chargingOnly.charging = true;
    const struct {
        Device device;
        std::optional<DeviceInfo> info;
        const char* expected;
    } cases[] = {
        {adbPhone(QStringLiteral("A1")), full, "Connected over USB, battery 100% (charging)"},
        {adbPhone(QStringLiteral("A1")), chargingOnly, "Connected over USB"},
        {adbPhone(QStringLiteral("192.168.1.20:5555")), std::nullopt, "Connected over Wi-Fi"},
        {mtpPhone(QStringLiteral("M1")), std::nullopt, "Connected for file transfer"},
        {adbPhone(QStringLiteral("A1"), QStringLiteral("offline")), std::nullopt, "Connecting…"},
        {adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized")), full, "Allow USB debugging on the phone"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MenuBarContent::status(c.device, c.info), QString::fromUtf8(c.expected)) << c.expected;
    EXPECT_EQ(MenuBarContent::jobLine({QStringLiteral("Copying…"), 0.999, true}), QStringLiteral("Copying… 99%"));
    EXPECT_EQ(MenuBarContent::jobLine({QStringLiteral("Copying…"), std::nullopt, true}), QStringLiteral("Copying…"));
}

TEST_F(ShellTest, TrayMenuShowsTheJobAndEnablesTheGroupsByTransport)
{
    readyMtpPhone();
    MenuBarContent& tray = trayMenu();
    EXPECT_TRUE(tray.action(QStringLiteral("Send Files to Downloads…"))->isEnabled());
    EXPECT_TRUE(tray.action(QStringLiteral("Browse Camera Photos"))->isEnabled());
    for (const char* title : {"Mirror Screen", "Take Screenshot of Phone", "Install APK…"})
        EXPECT_FALSE(tray.action(QString::fromUtf8(title))->isEnabled()) << title;
    EXPECT_FALSE(tray.menu()->findChild<QMenu*>()->menuAction()->isVisible()); // one phone: no picker
    EXPECT_FALSE(tray.action(QStringLiteral("Stop")));

    mtp->setDevices({});
    adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"))});
    EXPECT_TRUE(tray.action(QStringLiteral("Mirror Screen"))->isEnabled());
    runJob(0.999);
    // The job line changes at most twice a second: it gets there.
    const QString line = QStringLiteral("Copying “a.jpg” to Mac (1 of 1)… 99%");
    EXPECT_TRUE(testsupport::waitUntil([&] { QCoreApplication::processEvents(); return tray.lines().contains(line); }))
        << tray.lines().join('|').toStdString();
    EXPECT_TRUE(tray.action(QStringLiteral("Stop")));
    EXPECT_FALSE(tray.action(QStringLiteral("Mirror Screen"))->isEnabled());
}

TEST_F(ShellTest, TrayShortcutsActWhileTheMenuIsOpen)
{
    QMainWindow main;
    new MainMenu(fullEnvironment(), &main, [] {});
    int quits = 0;
    m_menu = std::make_unique<QMenu>();
    MenuBarContent::Hooks hooks{[this](const QString& identifier) { openedWindows.append(identifier); },
                                [](const QString&) { return true; }, [] {}, [&quits] { ++quits; }};
    new MenuBarContent(fullEnvironment(), std::move(hooks), m_menu.get());
    m_menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_menu.get()));
    QTest::keyClick(m_menu.get(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(openedWindows, QStringList{QStringLiteral("main")});
    m_menu->popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_menu.get()));
    QTest::keyClick(m_menu.get(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
}

TEST_F(ShellTest, TrayPickerOffersTheReadyPhonesWithTheChosenOneMarked)
{
    twoReadyPhones();
    MenuBarContent& tray = trayMenu();
    ASSERT_TRUE(tray.picker()->menuAction()->isVisible());
    QStringList options;
    for (QAction* option : tray.picker()->actions())
        options.append(option->text() + (option->isChecked() ? QStringLiteral("*") : QString()));
    EXPECT_EQ(options, (QStringList{QStringLiteral("Pixel 7*"), QStringLiteral("Galaxy")}));
    tray.picker()->actions().last()->trigger();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("M1"));
}

TEST_F(ShellTest, AWindowRequestBringsUpTheMainWindowOrOpensItAgain)
{
    VantelorquistApp::Options options;
    options.settings = &settings();
    options.makeModel = [this] { return makeModel(settings()); };
    VantelorquistApp app(std::move(options));
    app.willFinishLaunching();
    app.didFinishLaunching();
    BrowserModel& appModel = app.model();
    auto passOf = [&] {
        bool done = false;
        appModel.refreshDevices([&done] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
        settle();
    };
    passOf();
    QPointer<QWidget> main = app.windows().window(QStringLiteral("main"));
    ASSERT_TRUE(main);
    main->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(main);
    // A newly plugged phone asks for the window.
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    passOf();
    ASSERT_TRUE(app.windows().window(QStringLiteral("main")));
    EXPECT_TRUE(app.windows().window(QStringLiteral("main"))->isVisible());
}

TEST_F(ShellTest, SettingsShowDefaultsAndFollowTheirRules)
{
    bool menuBar = true;
    SettingsView view(model(), desktop, {[&] { return menuBar; }, [&](bool on) { menuBar = on; }});
    EXPECT_EQ(view.width(), 460);
    for (const auto& [label, on] : std::map<QString, bool>{
             {"Ask where to save each time", true}, {"Show copied files in Finder", true},
             {"Open Vantelorquist when a phone is plugged in", true},
             {"Reconnect to paired phones over Wi-Fi automatically", true},
             {"Show Vantelorquist in the menu bar", true},
             {"Keep running in the menu bar when the window is closed", true}, {"Show hidden files", false}})
        EXPECT_EQ(view.toggle(label)->isChecked(), on) << label.toStdString();
    EXPECT_EQ(view.folderText(), QStringLiteral("~/Downloads"));

    // Off for the tray disables "Keep running…" but keeps what it holds.
    view.toggle(QStringLiteral("Show Vantelorquist in the menu bar"))->click();
    EXPECT_FALSE(menuBar);
    QCheckBox* keep = view.toggle(QStringLiteral("Keep running in the menu bar when the window is closed"));
    EXPECT_FALSE(keep->isEnabled());
    EXPECT_TRUE(keep->isChecked());
    EXPECT_TRUE(model().keepRunningInMenuBar());

    // A cancelled folder dialog changes nothing; a chosen folder is stored.
    model().setSaveFolder(QStringLiteral("/srv/photos"));
    desktop->folder = std::nullopt;
    view.findChild<QPushButton*>(QStringLiteral("choose"))->click();
    EXPECT_EQ(model().saveFolder(), QStringLiteral("/srv/photos"));
    EXPECT_EQ(desktop->panels.last().folder, QStringLiteral("/srv/photos"));
    desktop->folder = QStringLiteral("/srv/music");
    view.findChild<QPushButton*>(QStringLiteral("choose"))->click();
    EXPECT_EQ(view.folderText(), QStringLiteral("/srv/music"));
}

TEST_F(ShellTest, SettingsReconnectToggleIsDisabledWithoutAdb)
{
    adb->setInstalled(false);
    pass();
    SettingsView view(model(), desktop, {[] { return true; }, [](bool) {}});
    EXPECT_FALSE(view.toggle(QStringLiteral("Reconnect to paired phones over Wi-Fi automatically"))->isEnabled());
}

TEST(SettingsPath, OnlyALeadingWholeHomeFolderBecomesTilde)
{
    const struct {
        const char* path;
        const char* shown;
    } cases[] = {
        {"/home/al/Downloads", "~/Downloads"}, {"/home/al", "~"},           {"/home/alice/x", "/home/alice/x"},
        {"/srv/home/al/x", "/srv/home/al/x"},  {"/media/disk", "/media/disk"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SettingsView::displayPath(QString::fromUtf8(c.path), QStringLiteral("/home/al")),
                  QString::fromUtf8(c.shown))
            << c.path;
    EXPECT_EQ(SettingsView::displayPath(QStringLiteral("/home/al/x"), QStringLiteral("/home/al/")), QStringLiteral("~/x"));
}

TEST(TrayGlyph, BodyIsSolidArrowsAreHolesAndAntennasShow)
{
    // Design points mapped as the glyph maps them onto its 18-point square.
    auto at = [](const QImage& image, double x, double y) {
        const double scale = image.width() / 18.0;
        return qAlpha(image.pixel(int(((16 * x - 203) / 205) * scale), int(((16 * y - 163) / 205) * scale)));
    };
    for (int side : {18, 36}) {
        const QImage image = MenuBarGlyph::image(side, Qt::black);
        EXPECT_EQ(at(image, 96, 210), 255) << side;  // body, below the arrows
        // The shafts are 16 units, under 1.3 pixels at 18: nearly clear.
        EXPECT_LT(at(image, 125, 120), 40) << side;  // the upper arrow's shaft
        EXPECT_LT(at(image, 130, 168), 40) << side;  // the lower arrow's shaft
        EXPECT_GT(at(image, 94, 27), 100) << side;   // near the left antenna's tip
        EXPECT_GT(at(image, 162, 27), 100) << side;  // and the right one's
        EXPECT_EQ(at(image, 128, 24), 0) << side;    // between the antennas
    }
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
    // The cell's left side runs at x 11.46 of the square, 6 wide: 58.5 to 64.5.
    EXPECT_EQ(qAlpha(image.pixel(61, 50)), 255);
    EXPECT_EQ(qAlpha(image.pixel(56, 50)), 0);
    EXPECT_EQ(qAlpha(image.pixel(67, 50)), 0);
    EXPECT_EQ(qAlpha(image.pixel(25, 50)), 0);
    EXPECT_EQ(qAlpha(image.pixel(83, 50)), 255); // the letter's left stroke
}

TEST(AboutPanel, ShowsTheYearAndTheMaker)
{
    QDialog* panel = Mirvek::showAboutPanel();
    ASSERT_TRUE(panel);
    EXPECT_EQ(Mirvek::showAboutPanel(), panel); // one panel
    EXPECT_EQ(panel->findChild<QLabel*>(QStringLiteral("copyright"))->text(),
              QStringLiteral("© %1 MIRVEK").arg(QDate::currentDate().year()));
    EXPECT_EQ(panel->findChild<QLabel*>(QStringLiteral("madeBy"))->accessibleName(), QStringLiteral("Made by MIRVEK"));
    EXPECT_TRUE(panel->findChild<QLabel*>(QStringLiteral("siteLink"))->text().contains(QStringLiteral("mirvek.example")));
    panel->close();
}

// Not a check: with SHELL_SCREENSHOTS set to a folder (under a real display),
// saves the Settings window, the About panel, the main window with its Phone
// menu open and, when a tray runs, the tray icon with its menu.
TEST_F(ShellTest, Screenshots)
{
    const QString target = qEnvironmentVariable("SHELL_SCREENSHOTS");
    if (target.isEmpty())
        GTEST_SKIP() << "SHELL_SCREENSHOTS not set";
    auto grab = [&](const QString& name) {
        QTest::qWait(400);
        QGuiApplication::primaryScreen()->grabWindow(0).save(target + QLatin1Char('/') + name);
    };
    twoReadyPhones(QStringLiteral("Tom & Jerry"));
    SettingsView settingsView(model(), desktop, {[] { return true; }, [](bool) {}});
    settingsView.show();
    grab(QStringLiteral("settings.png"));
    settingsView.hide();
    QDialog* about = Mirvek::showAboutPanel();
    grab(QStringLiteral("about.png"));
    about->close();

    ContentView& main = window(fullEnvironment());
    new MainMenu(fullEnvironment(), &main, [] {});
    main.move(0, 0);
    QTest::qWait(200);
    QMenuBar* bar = main.menuBar();
    for (QAction* item : bar->actions()) {
        if (item->text() == QStringLiteral("&Phone"))
            bar->setActiveAction(item);
    }
    grab(QStringLiteral("main-phone-menu.png"));
    bar->setActiveAction(nullptr);
    // The real keyboard: on a US layout Shift+. types ">".
    main.activateWindow();
    QTest::qWait(300);
    const bool hiddenBefore = model().showHidden();
    QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("ctrl+shift+period")});
    testsupport::waitUntil([&] { QCoreApplication::processEvents(); return model().showHidden() != hiddenBefore; },
                           std::chrono::seconds(2));
    std::printf("Ctrl+Shift+. through xdotool toggled Show Hidden Files: %s\n",
                model().showHidden() != hiddenBefore ? "yes" : "no");
    main.hide();

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        MenuBarContent::Hooks hooks{[](const QString&) {}, [](const QString&) { return true; }, [] {}, [] {}};
        MenuBarItem item(fullEnvironment(), hooks);
        item.setShown(true);
        QTest::qWait(500);
        grab(QStringLiteral("tray.png"));
        item.content().menu()->popup(QPoint(200, 40));
        grab(QStringLiteral("tray-menu.png"));
        item.content().menu()->hide();
    }
}
