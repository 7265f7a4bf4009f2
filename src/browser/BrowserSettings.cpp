#include "BrowserSettings.h"

#include "StoredValue.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

namespace {

bool startsTrue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text.at(i).isSpace())
        ++i;
    if (i < text.size() && (text.at(i) == QLatin1Char('+') || text.at(i) == QLatin1Char('-')))
        ++i;
    while (i < text.size() && text.at(i) == QLatin1Char('0'))
        ++i;
    if (i == text.size())
        return false;
    const QChar c = text.at(i);
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t')
           || (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}

QString localFolder(const QVariant& value)
{
    if (value.typeId() == QMetaType::QUrl) {
        const QUrl url = value.toUrl();
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (value.typeId() != QMetaType::QString)
        return {};
    const QString text = value.toString();
    if (text.startsWith(QStringLiteral("file:"))) {
        const QUrl url(text);
        return url.isLocalFile() ? url.toLocalFile() : QString();
    }
    if (text == QStringLiteral("~") || text.startsWith(QStringLiteral("~/")))
        return QDir::homePath() + text.mid(1);
    return text;
}

} // namespace

bool BrowserSettings::lenientFlag(const QString& key) const
{
    const QVariant value = m_store.value(key);
    switch (value.typeId()) {
    case QMetaType::Bool:
        return value.toBool();
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
        return value.toDouble() != 0;
    case QMetaType::QString:
        return startsTrue(value.toString());
    default:
        return false;
    }
}

bool BrowserSettings::flag(const QString& key, bool whenAbsent) const
{
    return storedBool(m_store, key).value_or(whenAbsent);
}

PhoneNames BrowserSettings::phoneNames(const QString& key) const
{
    const QVariant value = m_store.value(key);
    if (value.typeId() != QMetaType::QVariantMap)
        return {};
    const QVariantMap map = value.toMap();
    PhoneNames names;
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        if (it.value().typeId() != QMetaType::QString)
            return {};
        names.insert(it.key(), it.value().toString());
    }
    return names;
}

ViewMode BrowserSettings::viewMode(const QString& key) const
{
    const QVariant value = m_store.value(key);
    if (value.typeId() != QMetaType::QString)
        return ViewMode::list;
    return viewModeFromText(value.toString()).value_or(ViewMode::list);
}

QString BrowserSettings::folder(const QString& key) const
{
    const QString path = localFolder(m_store.value(key));
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return downloadsFolder();
    return QDir::cleanPath(path);
}

std::optional<QString> BrowserSettings::text(const QString& key) const
{
    const QVariant value = m_store.value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void BrowserSettings::setFlag(const QString& key, bool value)
{
    m_store.setValue(key, value);
}

void BrowserSettings::setPhoneNames(const QString& key, const PhoneNames& names)
{
    QVariantMap map;
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        map.insert(it.key(), it.value());
    m_store.setValue(key, map);
}

void BrowserSettings::setText(const QString& key, const QString& value)
{
    m_store.setValue(key, value);
}

QString BrowserSettings::downloadsFolder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return folder.isEmpty() ? QDir::homePath() + QStringLiteral("/Downloads") : folder;
}
