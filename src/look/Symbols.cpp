#include "Symbols.h"

#include <QDir>
#include <QFile>
#include <QHash>

// The icons live in a static library: its resources must be registered by hand.
static void registerBundledSymbols()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(symbols);
        return true;
    }();
    (void)done;
}

namespace Symbols {

namespace {

// Symbol name → freedesktop icon name.
const QHash<QString, QString>& table()
{
    static const QHash<QString, QString> names {
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("doc"), QStringLiteral("x-office-document")},
        {QStringLiteral("internaldrive"), QStringLiteral("drive-harddisk")},
        {QStringLiteral("camera"), QStringLiteral("camera-photo")},
        {QStringLiteral("camera.viewfinder"), QStringLiteral("applets-screenshooter")},
        {QStringLiteral("photo.on.rectangle"), QStringLiteral("image-x-generic")},
        {QStringLiteral("arrow.down.circle"), QStringLiteral("folder-download")},
        {QStringLiteral("music.note"), QStringLiteral("audio-x-generic")},
        {QStringLiteral("film"), QStringLiteral("video-x-generic")},
        {QStringLiteral("smartphone"), QStringLiteral("phone")},
        {QStringLiteral("iphone"), QStringLiteral("phone")},
        {QStringLiteral("wifi"), QStringLiteral("network-wireless")},
        {QStringLiteral("lock.fill"), QStringLiteral("changes-prevent")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("edit-find")},
        {QStringLiteral("xmark"), QStringLiteral("window-close")},
        {QStringLiteral("xmark.circle"), QStringLiteral("process-stop")},
        {QStringLiteral("checkmark"), QStringLiteral("object-select")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("emblem-ok")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("dialog-warning")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("dialog-warning")},
        {QStringLiteral("exclamationmark.circle"), QStringLiteral("dialog-error")},
        {QStringLiteral("info.circle"), QStringLiteral("dialog-information")},
        {QStringLiteral("terminal"), QStringLiteral("utilities-terminal")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("edit-copy")},
        {QStringLiteral("doc.on.clipboard"), QStringLiteral("edit-paste")},
        {QStringLiteral("chevron.right"), QStringLiteral("go-next")},
        {QStringLiteral("chevron.compact.right"), QStringLiteral("go-next")},
        {QStringLiteral("chevron.left"), QStringLiteral("go-previous")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("view-refresh")},
        {QStringLiteral("trash"), QStringLiteral("user-trash")},
        {QStringLiteral("folder.badge.plus"), QStringLiteral("folder-new")},
        {QStringLiteral("square.grid.2x2"), QStringLiteral("view-grid")},
        {QStringLiteral("list.bullet"), QStringLiteral("view-list")},
        {QStringLiteral("tray"), QStringLiteral("mail-inbox")},
        {QStringLiteral("arrow.down.to.line"), QStringLiteral("document-save")},
    };
    return names;
}

} // namespace

void ensureIconTheme()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == QStringLiteral("hicolor")) {
        for (const QString& theme : {QStringLiteral("Adwaita"), QStringLiteral("breeze")}) {
            if (QDir(QStringLiteral("/usr/share/icons/") + theme).exists()) {
                QIcon::setThemeName(theme);
                break;
            }
        }
    }
}

QString themeName(const QString& symbol)
{
    return table().value(symbol);
}

QString bundledFile(const QString& name)
{
    registerBundledSymbols();
    QString file = QStringLiteral(":/symbols/") + name + QStringLiteral(".svg");
    return QFile::exists(file) ? file : QString();
}

QIcon icon(const QString& name)
{
    static QHash<QString, QIcon> cache;
    auto found = cache.constFind(name);
    if (found != cache.constEnd())
        return *found;
    QIcon result;
    const QString bundled = bundledFile(name);
    if (!bundled.isEmpty()) {
        result = QIcon(bundled);
    } else {
        ensureIconTheme();
        const QString themed = themeName(name);
        if (!themed.isEmpty())
            result = QIcon::fromTheme(themed);
        if (result.isNull())
            result = QIcon(QStringLiteral(":/symbols/fallback.svg"));
    }
    cache.insert(name, result);
    return result;
}

} // namespace Symbols
