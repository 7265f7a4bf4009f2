#pragma once

#include "BrowserTypes.h"
#include "Environment.h"

#include <QElapsedTimer>
#include <QIcon>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <array>
#include <chrono>
#include <functional>
#include <utility>
#include <optional>

class QAction;
class QActionGroup;
class QMenu;
class QSettings;
class QSystemTrayIcon;

// The tray icon's picture: a phone body with two arrows cut out of it and
// two antennas, drawn at whatever size is asked for.
namespace MenuBarGlyph {
// Paints the glyph into `rect` (square) in `colour`, ringed by `outline`
// (around it and inside the arrows) when that is valid.
void paint(QPainter& painter, const QRectF& rect, const QColor& colour, const QColor& outline = QColor());
QImage image(int side, const QColor& colour);
// The tray's ink and outline. Nothing tells a tray's background on Linux, so
// the glyph is drawn in the palette's text colour with an outline of the
// opposite lightness: either half stands out on a light or a dark panel.
std::pair<QColor, QColor> inks(const QPalette& palette);
// An icon that draws itself at each requested size in those inks.
QIcon icon();
} // namespace MenuBarGlyph

// The tray menu, filled into a plain QMenu from the model's change signals
// (not from aboutToShow, which trays that mirror the menu over D-Bus do not
// send reliably). Each change is an update on such trays, so the job line
// changes at most about twice a second.
class MenuBarContent : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        // Opens a window by identifier and brings it to the front.
        std::function<void(const QString& identifier)> bringUp;
        std::function<bool(const QString& identifier)> canOpen;
        std::function<void()> openSettings;
        std::function<void()> quit;
        // Brings the application to the front without opening a window,
        // so that a panel it opens next comes up in front and focused.
        std::function<void()> activate;
    };

    // Each command's own identity, whatever its title or place.
    enum class Item { stop, openApp, sendFiles, mirror, screenshot, install, camera, wireless, settings, quit };
    static constexpr int itemCount = int(Item::quit) + 1;

    MenuBarContent(const Environment& env, Hooks hooks, QMenu* menu);

    // The status line for the chosen phone.
    static QString status(const Device& device, const std::optional<DeviceInfo>& info);
    // The job's message and its whole percent: 0.999 reads 99%.
    static QString jobLine(const Job& job);

    QMenu* menu() const { return m_menu; }
    QMenu* picker() const { return m_picker; }
    QAction* item(Item which) const { return m_items[size_t(which)]; }
    // The item with this title among the visible ones, or nullptr.
    QAction* action(const QString& title) const;
    // The visible texts top to bottom; "-" for a separator.
    QStringList lines() const;
    // How many changes of the job line reached the menu.
    int jobLineUpdates() const { return m_jobLineUpdates; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAction* add(Item which, const QString& title, std::function<void()> act);
    void activate();
    void update();
    void updateJob();
    void updatePicker();

    Environment m_env;
    Hooks m_hooks;
    QMenu* m_menu;
    QList<QAction*> m_header;
    QAction* m_jobSeparator;
    QAction* m_jobLine;
    std::array<QAction*, itemCount> m_items{};
    QMenu* m_picker;
    QActionGroup* m_pickerGroup;
    QElapsedTimer m_jobShown;
    QTimer m_jobTimer;
    int m_jobLineUpdates = 0;
};

// The tray icon with its menu, shown while "showMenuBarIcon" is on and the
// desktop has a tray. A tray that comes later (a panel that starts after the
// application) gets the icon when it comes; a change of the desktop's
// colours draws the glyph anew.
class MenuBarItem : public QObject {
    Q_OBJECT
public:
    // `trayAvailable` tells whether the desktop has a tray now; Qt's own
    // answer when none.
    MenuBarItem(const Environment& env, MenuBarContent::Hooks hooks, QObject* parent = nullptr,
                std::function<bool()> trayAvailable = {});
    ~MenuBarItem() override;

    // Shows or hides the icon at once, or as soon as a tray is there.
    void setShown(bool shown);
    bool isShown() const;
    MenuBarContent& content() { return *m_content; }
    QSystemTrayIcon* trayIcon() const { return m_tray; }

    // How often a wanted icon looks for a tray that isn't there yet.
    static constexpr std::chrono::milliseconds trayRecheck {2000};

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow();

    std::unique_ptr<QMenu> m_menu;
    MenuBarContent* m_content;
    QSystemTrayIcon* m_tray;
    std::function<bool()> m_trayAvailable;
    bool m_wanted = false;
    QTimer m_recheck;
};
