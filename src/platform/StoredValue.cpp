#include "StoredValue.h"

std::optional<bool> storedBool(const QSettings& settings, const QString& key)
{
    const QVariant value = settings.value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QStringLiteral("true"))
            return true;
        if (text == QStringLiteral("false"))
            return false;
    }
    return std::nullopt;
}
