#pragma once

#include "ActivationToken.h"
#include "AppShell.h"
#include "WindowRegistry.h"

#include <QObject>
#include <QSettings>

#include <functional>
#include <memory>

class BrowserModel;
class MainMenu;
class MenuBarItem;
class SettingsView;
struct Environment;

// The application: its one browser model, its windows by identifier, and
// what happens at launch, when windows close and when the process ends.
class VantelorquistApp : public QObject {
    Q_OBJECT
public:
    struct Options {
        // The application's own settings when none.
        QSettings* settings = nullptr;
        // Makes the one model, on first use; the real one when none.
        std::function<std::unique_ptr<BrowserModel>()> makeModel;
        // Whether a tray icon is showing; the process stays behind one only.
        std::function<bool()> trayShown;
        // Ends the application; QCoreApplication::quit, queued, when none.
        std::function<void()> quit;
    };

    explicit VantelorquistApp(QObject* parent = nullptr);
    explicit VantelorquistApp(Options options, QObject* parent = nullptr);
    ~VantelorquistApp() override;

    // The two launch steps, in this order: the window-closing rule and the
    // windows; then the main window opens in front, with the launcher's
    // `token` where it gave one. `later` runs once the main window has
    // drawn its first picture, with the rest that can wait for it.
    void willFinishLaunching();
    void didFinishLaunching(const ActivationToken& token = {}, std::function<void()> later = {});

    // Made on first use and kept for the life of the application.
    BrowserModel& model();
    WindowRegistry& windows() { return m_windows; }
    AppShell& shell() { return m_shell; }

    // The stored "showMenuBarIcon", true while nothing is stored. Writing
    // it shows or hides the tray icon at once.
    bool showMenuBarIcon() const;
    void setShowMenuBarIcon(bool show);
    // The tray icon with its menu, once the main window is on screen.
    MenuBarItem* menuBarItem() const { return m_menuBarItem.get(); }
    // The commands of every window, once launched.
    MainMenu* mainMenu() const { return m_mainMenu.get(); }

    // Quit from the menus, the last window or a quit signal: recordings
    // under way are copied first, unless a quit is asked for again meanwhile.
    void quit();

    // Opens the window (or brings it forward) and activates it.
    QWidget* bringUp(const QString& identifier);

    // What the main window's views are given.
    Environment environment();

private:
    void makeMenuBarItem();

    // Declared first: the settings in use may be these.
    std::unique_ptr<QSettings> m_ownSettings;
    QSettings* m_settings;
    std::function<std::unique_ptr<BrowserModel>()> m_makeModel;
    std::unique_ptr<BrowserModel> m_model;
    WindowRegistry m_windows;
    AppShell m_shell;
    std::unique_ptr<MenuBarItem> m_menuBarItem;
    std::function<void()> m_quit;
    std::unique_ptr<MainMenu> m_mainMenu;
};
