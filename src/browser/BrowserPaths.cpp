#include "BrowserPaths.h"

#include "Error.h"

#include <QFile>

#include <sys/stat.h>

namespace browserpaths {

const QString& usable(const QString& name)
{
    if (name.isEmpty())
        throw Error(QStringLiteral("An item without a name can't be copied."));
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..") || name.contains(QLatin1Char('/'))
        || name.contains(QChar(0))) {
        QString shown = name;
        shown.replace(QChar(0), QChar(QChar::ReplacementCharacter));
        throw Error(QStringLiteral("“") + shown + QStringLiteral("” can't be copied: it isn't a usable file name."));
    }
    return name;
}

bool existsLocally(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace browserpaths
