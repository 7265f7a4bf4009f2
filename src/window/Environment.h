#pragma once

#include "Models.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class BrowserModel;
class QWidget;

// Operations that the views offer but that live outside the model (the Wi-Fi
// sheet, the About panel). A command whose operation is absent is shown
// disabled, so nothing offers work that cannot happen.
struct BrowserCommands {
    // The Wi-Fi connection sheet, made for the window that presents it.
    std::function<QWidget*(QWidget* parent)> wirelessSheet;
    std::function<void()> showAboutPanel;
};

// What every view of the main window is given: the one model, the windows
// of the application by identifier, and the commands above.
struct Environment {
    BrowserModel* model = nullptr;
    std::function<bool(const QString& identifier)> canOpenWindow;
    std::function<void(const QString& identifier)> openWindow;
    // The maker's web site, linked from the sidebar footer.
    QUrl makerSite;
    BrowserCommands commands;

    bool canOpen(const QString& identifier) const { return canOpenWindow && openWindow && canOpenWindow(identifier); }
};
