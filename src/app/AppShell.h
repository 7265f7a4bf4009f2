#pragma once

#include <QObject>
#include <QSettings>

#include <functional>

class QWidget;

// The application's start and end: whether closing the main window keeps the
// process running behind its tray icon, quitting on the last window, and the
// clean-up when the process ends.
class AppShell : public QObject {
    Q_OBJECT
public:
    // `settings` is read afresh on each question; `trayAvailable` tells
    // whether a tray icon can keep the process reachable without a window.
    AppShell(QSettings* settings, std::function<bool()> trayAvailable, QObject* parent = nullptr);

    // Closing the main window keeps the process running in the tray.
    static bool staysInMenuBar(const QSettings& settings, bool trayAvailable);
    bool staysInMenuBar() const;

    // Whether the process should end now that its last window closed.
    bool shouldQuitAfterLastWindowClosed() const { return !staysInMenuBar(); }
    // How the shell quits when the last window closes or a quit signal
    // arrives; QCoreApplication::quit unless set.
    void setQuit(std::function<void()> quit) { m_quit = std::move(quit); }

    // Steps run once when the application quits (closing USB connections,
    // removing the temporary folder); failures are ignored.
    void addCleanUp(std::function<void()> step);
    void cleanUp();

    // Connects to the application: quits on the last closed window unless the
    // process stays in the tray, and on SIGTERM, SIGINT and SIGHUP, and runs
    // the clean-up when it quits; a control disabled under the focus leaves
    // it on its window.
    void install();

    // Brings the application forward without opening a window: its window in
    // front is raised and made active, and the next window it shows (the
    // panel an action is about to open) comes up in front with the focus.
    void activateApplication();

Q_SIGNALS:
    // The main window closed while the process stays in the tray.
    void enteredMenuBarMode();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QSettings* m_settings;
    std::function<bool()> m_trayAvailable;
    std::function<void()> m_quit;
    std::vector<std::function<void()>> m_cleanUp;
    bool m_cleanedUp = false;
    bool m_activateNextWindow = false;
};
