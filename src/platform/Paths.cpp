#include "Paths.h"

namespace paths {

QString joined(const QString& folder, const QString& name)
{
    QString base = folder;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1Char('/') + name;
}

} // namespace paths
