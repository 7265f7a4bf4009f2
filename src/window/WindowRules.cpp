#include "WindowRules.h"

namespace WindowRules {

bool isReady(const std::optional<Device>& device)
{
    return device && device->isReady();
}

bool isReadyOverADB(const std::optional<Device>& device)
{
    return isReady(device) && device->transport == Device::Transport::adb;
}

QString currentFolderName(const QList<PathComponent>& components)
{
    return components.isEmpty() ? QStringLiteral("Internal Storage") : components.last().name;
}

QString windowTitle(const std::optional<Device>& selected, const QList<PathComponent>& components)
{
    return isReady(selected) ? currentFolderName(components) : QStringLiteral("Vantelorquist");
}

ToolbarState toolbar(const ToolbarInput& input)
{
    ToolbarState state;
    const bool phoneReady = isReady(input.selected);
    state.back = input.canGoBack;
    state.forward = input.canGoForward;
    state.newFolder = phoneReady && !input.hasJob;
    state.copyToPhone = phoneReady && !input.hasJob;
    state.copyToMac = input.hasSelection && !input.hasJob;
    state.phoneTools = isReadyOverADB(input.selected) && !input.hasJob;
    state.recordTitle = input.recording ? QStringLiteral("Stop Recording") : QStringLiteral("Record Screen");
    return state;
}

DetailCase detailCase(bool adbMissing, bool noPhones, const std::optional<Device>& selected)
{
    if (adbMissing && noPhones)
        return DetailCase::installTools;
    if (isReady(selected))
        return DetailCase::browser;
    if (selected) {
        if (selected->state == QStringLiteral("unauthorized"))
            return DetailCase::unauthorized;
        if (selected->state == QStringLiteral("locked"))
            return DetailCase::locked;
        if (selected->state == QStringLiteral("busy"))
            return DetailCase::busy;
        if (selected->state == QStringLiteral("no permissions"))
            return DetailCase::noPermissions;
        if (selected->state == QStringLiteral("offline"))
            return DetailCase::connecting;
    }
    return DetailCase::connectGuide;
}

QString transportSymbol(const Device& device)
{
    if (device.isWireless())
        return QStringLiteral("wifi");
    if (device.transport == Device::Transport::mtp)
        return QStringLiteral("folder");
    return QStringLiteral("cable.connector");
}

QList<MenuItem> entryMenu(const QList<RemoteEntry>& items)
{
    using Action = MenuItem::Action;
    QList<MenuItem> menu;
    const qsizetype n = items.size();
    if (n == 0) {
        menu.append({Action::newFolder, QStringLiteral("New Folder")});
        menu.append({Action::copyToPhone, QStringLiteral("Copy to Phone…")});
        return menu;
    }
    bool anyFolder = false;
    for (const RemoteEntry& entry : items)
        anyFolder = anyFolder || entry.isDirectory;
    // One slot: "Open" for a single folder, "Open on Computer" for files only.
    if (n == 1 && items.first().isDirectory)
        menu.append({Action::open, QStringLiteral("Open")});
    else if (!anyFolder)
        menu.append({Action::openOnMac, QStringLiteral("Open on Computer")});
    menu.append({Action::copyToMac, QStringLiteral("Copy to Computer…")});
    menu.append({Action::copyPaths, n == 1 ? QStringLiteral("Copy Path") : QStringLiteral("Copy Paths")});
    menu.append({Action::separator, QString()});
    if (n == 1)
        menu.append({Action::rename, QStringLiteral("Rename…")});
    menu.append({Action::remove, QStringLiteral("Delete…")});
    return menu;
}

QList<RemoteEntry> entriesNamed(const QList<RemoteEntry>& listing, const QSet<QString>& names)
{
    QList<RemoteEntry> chosen;
    if (names.isEmpty())
        return chosen;
    for (const RemoteEntry& entry : listing) {
        if (names.contains(entry.name))
            chosen.append(entry);
    }
    return chosen;
}

PrimaryAction primaryAction(const QList<RemoteEntry>& listing, const QSet<QString>& names)
{
    PrimaryAction action;
    if (names.size() == 1) {
        const QString& name = *names.cbegin();
        for (const RemoteEntry& entry : listing) {
            if (entry.name == name) {
                action.open = entry;
                return action;
            }
        }
    }
    for (const RemoteEntry& entry : entriesNamed(listing, names)) {
        if (!entry.isDirectory)
            action.openOnMac.append(entry);
    }
    return action;
}

std::optional<QString> selectedLocation(const QString& path)
{
    for (const Place& place : Place::all()) {
        if (place.path == path)
            return place.path;
    }
    return std::nullopt;
}

QList<QUrl> fileUrls(const QList<QUrl>& urls)
{
    QList<QUrl> files;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            files.append(url);
    }
    return files;
}

} // namespace WindowRules
