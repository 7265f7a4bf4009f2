#pragma once

#include "Environment.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>

class QAction;
class QKeySequence;
class QMainWindow;
class QMenu;

// The application's commands: File, View, Go and Phone. Every item is a
// thin command on the model; titles and enabled states follow its change
// signals. A command whose operation is absent stays disabled. The menus
// show in the main window's menu bar; the commands' keys act in every
// window they are attached to.
class MainMenu : public QObject {
    Q_OBJECT
public:
    struct Hooks {
        std::function<void()> openSettings;
        // Ends the application; QCoreApplication::quit, queued, when none.
        std::function<void()> quit;
    };

    // Each item's own identity; its title may change (Record Screen, Stop
    // Recording) or be spelled anew without the menu losing it.
    enum class Command {
        newFolder, open, copyToPhone, copyToComputer, rename, remove, settings, closeWindow, quit,
        asList, asIcons, showHidden, refresh,
        back, forward, enclosingFolder,
        mirror, apps, logcat, screenshot, record, installAPK, wireless,
    };
    static constexpr int commandCount = int(Command::wireless) + 1;

    MainMenu(const Environment& env, Hooks hooks, QObject* parent = nullptr);

    // Fills the main window's menu bar and gives it every command's key.
    void install(QMainWindow* window);
    // Gives another window the commands' keys. Keys without Ctrl, Alt or
    // Meta stay with the main window (elsewhere they belong to the window's
    // own controls), and a key the window binds itself stays the window's.
    void attach(QWidget* window);

    QAction* command(Command which) const { return m_commands[size_t(which)]; }
    // The item with this title (as shown, "&&" for "&"), or nullptr.
    QAction* action(const QString& title) const;
    // The menu of the window installed last, or nullptr.
    QMenu* menu(const QString& title) const;
    // The per-phone items at the end of the Phone menu, in order.
    const QList<QAction*>& phoneItems() const { return m_phoneItems; }

    // "&" shows as itself in a menu title.
    static QString menuText(const QString& plain);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Group {
        QString title;
        QList<QAction*> items;
    };

    QAction* add(Group& group, const QString& title, const QKeySequence& shortcut, std::function<void()> act);
    QAction* add(Group& group, Command which, const QString& title, const QKeySequence& shortcut,
                 std::function<void()> act);
    QAction* separator(Group& group, const QString& title = {});
    void update();
    void updatePhones();
    // Leaves the window's own binding of `pressed` alone: the command with
    // that key acts there only while the window binds it to nothing else.
    void yieldOwnKey(QWidget* window, const QKeySequence& pressed);
    static bool bindsItself(const QWidget* window, const QKeySequence& key, const QList<QAction*>& commands);

    Environment m_env;
    Hooks m_hooks;
    QList<Group> m_groups;
    QList<QAction*> m_items;
    QList<QPointer<QMenu>> m_menus;
    QList<QPointer<QMenu>> m_phoneMenus;
    QList<QPointer<QWidget>> m_attached;
    std::array<QAction*, commandCount> m_commands{};
    QAction* m_phonesSeparator = nullptr;
    QList<QAction*> m_phoneItems;
    QList<QAction*> m_places;
};
