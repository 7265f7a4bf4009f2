#pragma once

#include "BrowserTypes.h"
#include "Models.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QUrl>

#include <optional>

// The decisions of the main window that depend only on the model's state,
// kept apart from the widgets so each can be checked on its own.
namespace WindowRules {

// The chosen phone's state is exactly "device", on either transport.
bool isReady(const std::optional<Device>& device);
// Ready over adb: mirroring, apps, log, screen captures and installs.
bool isReadyOverADB(const std::optional<Device>& device);

// The last crumb's name; "Internal Storage" when there is none.
QString currentFolderName(const QList<PathComponent>& components);
// The folder's name for a ready phone, else the product name.
QString windowTitle(const std::optional<Device>& selected, const QList<PathComponent>& components);

// What the toolbar allows, by the model's state.
struct ToolbarInput {
    std::optional<Device> selected;
    bool hasJob = false;
    bool hasSelection = false;
    bool canGoBack = false;
    bool canGoForward = false;
    bool recording = false;
};
struct ToolbarState {
    bool back = false;
    bool forward = false;
    bool newFolder = false;
    bool copyToPhone = false;
    bool copyToMac = false;
    // Mirror, Apps, Logcat, screenshot, recording and install, as one group.
    bool phoneTools = false;
    QString recordTitle;
};
ToolbarState toolbar(const ToolbarInput& input);

// What the detail pane shows instead of, or as, the browser.
// A phone adb lists with "no permissions" is one this computer's USB access
// rights keep from the app; an "offline" one is still connecting.
enum class DetailCase { installTools, browser, unauthorized, locked, busy, noPermissions, connecting, connectGuide };
DetailCase detailCase(bool adbMissing, bool noPhones, const std::optional<Device>& selected);

// The symbol of a phone row: Wi-Fi first, then file transfer, else the cable.
QString transportSymbol(const Device& device);

// The context menu of phone items, in display order.
struct MenuItem {
    enum class Action { newFolder, copyToPhone, open, openOnMac, copyToMac, copyPaths, separator, rename, remove };
    Action action;
    QString title;
};
QList<MenuItem> entryMenu(const QList<RemoteEntry>& items);

// The entries of the whole listing whose names are in `names`, in listing order.
QList<RemoteEntry> entriesNamed(const QList<RemoteEntry>& listing, const QSet<QString>& names);

// What a double-click or Return does with a set of row names: open one
// folder or file, or open the files among several on the computer.
struct PrimaryAction {
    std::optional<RemoteEntry> open;
    QList<RemoteEntry> openOnMac;
};
PrimaryAction primaryAction(const QList<RemoteEntry>& listing, const QSet<QString>& names);

// The location of Place::all whose path is exactly `path`, if any.
std::optional<QString> selectedLocation(const QString& path);

// The file URLs among dropped URLs, in their order.
QList<QUrl> fileUrls(const QList<QUrl>& urls);

} // namespace WindowRules
