#include "FileIcons.h"

#include "Models.h"
#include "Symbols.h"

#include <QHash>
#include <QMimeDatabase>

namespace FileIcons {

QString key(const RemoteEntry& entry)
{
    if (entry.isDirectory)
        return QStringLiteral("/folder");
    const qsizetype dot = entry.name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || dot == entry.name.size() - 1)
        return QString();
    return entry.name.mid(dot + 1).toLower();
}

QIcon icon(const RemoteEntry& entry)
{
    static QHash<QString, QIcon> cache;
    const QString k = key(entry);
    auto found = cache.constFind(k);
    if (found != cache.constEnd())
        return *found;

    Symbols::ensureIconTheme();
    QIcon result;
    if (entry.isDirectory) {
        result = QIcon::fromTheme(QStringLiteral("folder"));
        if (result.isNull())
            result = Symbols::icon(QStringLiteral("folder"));
    } else {
        static const QMimeDatabase database;
        const QMimeType type = k.isEmpty() ? database.mimeTypeForName(QStringLiteral("application/octet-stream"))
                                           : database.mimeTypeForFile(QStringLiteral("x.") + k,
                                                                      QMimeDatabase::MatchExtension);
        result = QIcon::fromTheme(type.iconName());
        if (result.isNull())
            result = QIcon::fromTheme(type.genericIconName());
        if (result.isNull())
            result = QIcon::fromTheme(QStringLiteral("text-x-generic"));
        if (result.isNull())
            result = Symbols::icon(QStringLiteral("doc"));
    }
    cache.insert(k, result);
    return result;
}

} // namespace FileIcons
