#pragma once

#include "Environment.h"

#include <QWidget>

class EmptyStateView;
class QPushButton;

// The chosen phone is held by another application on the computer: which
// phone, which applications usually take it, and a button that quits the
// ones that run.
class BusyPhoneView : public QWidget {
    Q_OBJECT
public:
    BusyPhoneView(const Environment& env, const Device& device, QWidget* parent = nullptr);

    EmptyStateView* message() const { return m_message; }
    // Hidden while no such application runs.
    QPushButton* quitButton() const { return m_quit; }

    // What to quit so that the phone connects: the names, or the usual one.
    static QString detailText(const QStringList& names);
    // "Quit " and the names joined by " and ".
    static QString quitTitle(const QStringList& names);

    // Reads the running applications again.
    void refresh();

private:
    Environment m_env;
    EmptyStateView* m_message;
    QPushButton* m_quit;
};
