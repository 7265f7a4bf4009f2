#include "BrowserSettings.h"

#include "StoredValue.h"

#include <QDir>
#include <QStandardPaths>
#include <QUrl>
#include <QVariantMap>

#include <algorithm>
#include <iterator>

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

// Stored texts: a list of texts only.
std::optional<QStringList> texts(const QVariant& value)
{
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() != QMetaType::QVariantList)
        return std::nullopt;
    QStringList all;
    for (const QVariant& one : value.toList()) {
        if (one.typeId() != QMetaType::QString)
            return std::nullopt;
        all.append(one.toString());
    }
    return all;
}

// A phone as leftoverKey() names it.
bool isPhoneKey(const QString& key)
{
    return (key.startsWith(QStringLiteral("adb:")) || key.startsWith(QStringLiteral("mtp:"))) && key.size() > 4
           && key.size() <= 300;
}

// Longer paths are not stored: no phone's folders go that deep. A kept
// copy's may go as deep as a phone allows.
constexpr qsizetype longestPath = 1024;
constexpr qsizetype longestKeptPath = 4096;

const QString keptField = QStringLiteral("kept");
const QString leftField = QStringLiteral("left");
// Beside the phones: the computer's working items, as full paths.
const QString computerKey = QStringLiteral("computer");
// The person's files set aside there, to be given back.
const QString giveBackField = QStringLiteral("giveBack");

// A file as fileplaces::Identity tells it, in one line of numbers.
QString identityText(const fileplaces::Identity& identity)
{
    QStringList parts{QString::number(identity.device),
                      QString::number(identity.inode),
                      QString::number(identity.folder ? 1 : 0),
                      QString::number(identity.size),
                      QString::number(identity.modifiedSeconds),
                      QString::number(identity.modifiedNanoseconds),
                      identity.born ? QString::number(identity.born->first) + QLatin1Char(':')
                                          + QString::number(identity.born->second)
                                    : QStringLiteral("-"),
                      identity.generation ? QString::number(*identity.generation) : QStringLiteral("-")};
    return parts.join(QLatin1Char(' '));
}

std::optional<fileplaces::Identity> identityFromText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 8)
        return std::nullopt;
    bool ok[8] = {};
    fileplaces::Identity identity;
    identity.device = parts[0].toULongLong(&ok[0]);
    identity.inode = parts[1].toULongLong(&ok[1]);
    identity.folder = parts[2].toInt(&ok[2]) != 0;
    identity.size = parts[3].toLongLong(&ok[3]);
    identity.modifiedSeconds = parts[4].toLongLong(&ok[4]);
    identity.modifiedNanoseconds = parts[5].toUInt(&ok[5]);
    ok[6] = ok[7] = true;
    if (parts[6] != QStringLiteral("-")) {
        const QStringList born = parts[6].split(QLatin1Char(':'));
        bool seconds = false;
        bool nanoseconds = false;
        if (born.size() == 2)
            identity.born = std::pair<int64_t, uint32_t>(born[0].toLongLong(&seconds), born[1].toUInt(&nanoseconds));
        ok[6] = seconds && nanoseconds;
    }
    if (parts[7] != QStringLiteral("-"))
        identity.generation = parts[7].toUInt(&ok[7]);
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool one) { return one; }))
        return std::nullopt;
    return identity;
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

browserpaths::workingnames::Records BrowserSettings::workingItems(const QString& key) const
{
    namespace names = browserpaths::workingnames;
    names::Records records;
    const QVariant value = m_store.value(key);
    if (value.typeId() != QMetaType::QVariantMap)
        return records;
    const QVariantMap phones = value.toMap();
    qsizetype count = 0;
    // Each as [path, maker], or an earlier version's bare path.
    const QVariant local = phones.value(computerKey).toMap().value(leftField);
    for (const QVariant& one : local.typeId() == QMetaType::QVariantList ? local.toList() : QVariantList()) {
        const std::optional<QStringList> pair =
            one.typeId() == QMetaType::QString ? std::optional(QStringList{one.toString()}) : texts(one);
        if (!pair || pair->isEmpty() || pair->size() > 2)
            continue;
        const QString& path = pair->at(0);
        const std::optional<ProcessIdentity> maker =
            pair->size() == 2 ? ProcessIdentity::fromText(pair->at(1)) : ProcessIdentity{};
        if (qsizetype(records.local.size()) < storedRecords && path.size() <= longestPath && maker
            && names::isSoundLocal(path))
            records.local.push_back({path, *maker});
    }
    // Each as [path, name, maker, the new copy's identity or ""].
    qsizetype giveBacks = 0;
    const QVariant aside = phones.value(computerKey).toMap().value(giveBackField);
    for (const QVariant& one : aside.typeId() == QMetaType::QVariantList ? aside.toList() : QVariantList()) {
        const std::optional<QStringList> fields = texts(one);
        if (!fields || fields->size() != 4 || giveBacks >= storedRecords)
            continue;
        const std::optional<ProcessIdentity> maker = ProcessIdentity::fromText(fields->at(2));
        const std::optional<fileplaces::Identity> ours = identityFromText(fields->at(3));
        if (maker && (ours || fields->at(3).isEmpty()) && fields->at(0).size() <= longestPath
            && fields->at(1).size() <= longestPath && names::isSoundGiveBack(fields->at(0), fields->at(1))) {
            records.local.push_back({fields->at(0), *maker, names::GiveBack{fields->at(1), ours}});
            ++giveBacks;
        }
    }
    for (auto phone = phones.cbegin(); phone != phones.cend(); ++phone) {
        if (!isPhoneKey(phone.key()) || phone.value().typeId() != QMetaType::QVariantMap)
            continue;
        const QVariantMap fields = phone.value().toMap();
        for (const QString& path : texts(fields.value(keptField)).value_or(QStringList())) {
            if (qsizetype(records.kept.size()) < keptRecords && path.size() <= longestKeptPath
                && names::isSound({path, {}}))
                records.kept.push_back({phone.key(), path});
        }
        // Each as [path, the item it was to replace or "", maker]; an
        // earlier version's without its maker.
        const QVariant left = fields.value(leftField);
        for (const QVariant& one : left.typeId() == QMetaType::QVariantList ? left.toList() : QVariantList()) {
            const std::optional<QStringList> pair = texts(one);
            if (count >= storedRecords || !pair || pair->size() < 2 || pair->size() > 3)
                continue;
            const names::Leftover item{pair->at(0), pair->at(1)};
            const std::optional<ProcessIdentity> maker =
                pair->size() == 3 ? ProcessIdentity::fromText(pair->at(2)) : ProcessIdentity{};
            if (maker && item.path.size() <= longestPath && item.replacing.size() <= longestPath
                && names::isSound(item)) {
                records.left.push_back({phone.key(), item, *maker});
                ++count;
            }
        }
    }
    return records;
}

void BrowserSettings::setWorkingItems(const QString& key, const browserpaths::workingnames::Records& records)
{
    QHash<QString, QStringList> kept;
    QHash<QString, QVariantList> left;
    qsizetype keptRoom = keptRecords;
    for (auto one = records.kept.rbegin(); one != records.kept.rend() && keptRoom > 0; ++one) {
        if (one->path.size() <= longestKeptPath) {
            kept[one->phone].prepend(one->path);
            --keptRoom;
        }
    }
    qsizetype room = storedRecords;
    for (auto one = records.left.rbegin(); one != records.left.rend() && room > 0; ++one) {
        if (one->item.path.size() <= longestPath && one->item.replacing.size() <= longestPath) {
            QStringList fields{one->item.path, one->item.replacing};
            if (!one->maker.isEmpty())
                fields.append(one->maker.text());
            left[one->phone].prepend(fields);
            --room;
        }
    }
    QVariantMap phones;
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
        QVariantMap fields = phones.value(it.key()).toMap();
        fields.insert(keptField, it.value());
        phones.insert(it.key(), fields);
    }
    for (auto it = left.cbegin(); it != left.cend(); ++it) {
        QVariantMap fields = phones.value(it.key()).toMap();
        fields.insert(leftField, it.value());
        phones.insert(it.key(), fields);
    }
    QVariantList local;
    QVariantList aside;
    for (auto one = records.local.rbegin(); one != records.local.rend(); ++one) {
        if (one->path.size() > longestPath)
            continue;
        if (one->giveBack && aside.size() < storedRecords && one->giveBack->name.size() <= longestPath)
            aside.prepend(QStringList{one->path, one->giveBack->name, one->maker.text(),
                                      one->giveBack->ours ? identityText(*one->giveBack->ours) : QString()});
        else if (!one->giveBack && local.size() < storedRecords)
            local.prepend(one->maker.isEmpty() ? QVariant(one->path) : QVariant(QStringList{one->path, one->maker.text()}));
    }
    QVariantMap computer;
    if (!local.isEmpty())
        computer.insert(leftField, local);
    if (!aside.isEmpty())
        computer.insert(giveBackField, aside);
    if (!computer.isEmpty())
        phones.insert(computerKey, computer);
    if (phones.isEmpty())
        m_store.remove(key);
    else
        m_store.setValue(key, phones);
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
