#pragma once

#include "Environment.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;

// The main window's menu bar: File, View, Go and Phone. Every item is a thin
// command on the model; titles and enabled states follow its change signals.
// A command whose operation is absent stays disabled.
class MainMenu : public QObject {
    Q_OBJECT
public:
    // `openSettings` opens the Settings window. The menu fills the window's
    // menu bar and takes over its "Close Window" and "Quit" actions.
    MainMenu(const Environment& env, QMainWindow* window, std::function<void()> openSettings);

    // The item with this title (as shown, "&&" for "&"), or nullptr.
    QAction* action(const QString& title) const;
    QMenu* menu(const QString& title) const;
    // The per-phone items at the end of the Phone menu, in order.
    const QList<QAction*>& phoneItems() const { return m_phoneItems; }

    // "&" shows as itself in a menu title.
    static QString menuText(const QString& plain);

private:
    QAction* add(QMenu* menu, const QString& title, const QKeySequence& shortcut, std::function<void()> act);
    void update();
    void updatePhones();

    Environment m_env;
    QMainWindow* m_window;
    QList<QMenu*> m_menus;
    QList<QAction*> m_items;
    QMenu* m_phone = nullptr;
    QAction* m_record = nullptr;
    QAction* m_phonesSeparator = nullptr;
    QList<QAction*> m_phoneItems;
    QList<QAction*> m_places;
};
