#include "Paths.h"

#include <QDir>
#include <QFileInfo>

namespace paths {

QString joined(const QString& folder, const QString& name)
{
    QString base = folder;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1Char('/') + name;
}

int64_t localSize(const QString& path)
{
    const QFileInfo info(path);
    if (!info.isDir())
        return info.size();
    int64_t total = 0;
    const QDir folder(path);
    for (const QFileInfo& item :
         folder.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        if (!(item.isSymLink() && item.isDir()))
            total += localSize(item.filePath());
    }
    return total;
}

} // namespace paths
