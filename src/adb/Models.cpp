#include "Models.h"

#include <QLocale>

bool Device::isWireless() const
{
    return serial.contains(QLatin1Char(':')) || serial.contains(QStringLiteral("._adb-tls-connect"));
}

QString Device::stateDescription() const
{
    if (state == QStringLiteral("unauthorized"))
        return QStringLiteral("Waiting for permission");
    if (state == QStringLiteral("locked"))
        return QStringLiteral("Unlock the phone");
    if (state == QStringLiteral("busy"))
        return QStringLiteral("In use by another app");
    if (state == QStringLiteral("offline"))
        return QStringLiteral("Connecting…");
    return capitalizedWords(state);
}

size_t qHash(const Device& device, size_t seed)
{
    return qHashMulti(seed, device.serial, device.state, device.model, static_cast<int>(device.transport));
}

QString RemoteEntry::kind() const
{
    if (isDirectory)
        return QStringLiteral("Folder");
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts no extension, and a trailing one leaves none.
    if (dot <= 0 || dot == name.size() - 1)
        return QStringLiteral("Document");
    return name.mid(dot + 1).toUpper() + QStringLiteral(" file");
}

size_t qHash(const RemoteEntry& entry, size_t seed)
{
    return qHashMulti(seed, entry.name, entry.isDirectory, entry.size, entry.modified);
}

DeviceInfo DeviceInfo::possible() const
{
    DeviceInfo facts = *this;
    if (facts.battery && (*facts.battery < 0 || *facts.battery > 100))
        facts.battery.reset();
    if (facts.storageTotal && *facts.storageTotal < 0)
        facts.storageTotal.reset();
    if (facts.storageFree && (*facts.storageFree < 0 || (facts.storageTotal && *facts.storageFree > *facts.storageTotal)))
        facts.storageFree.reset();
    return facts;
}

QString capitalizedWords(const QString& text)
{
    auto separates = [](QChar c) {
        switch (c.unicode()) {
        case u' ': case u'\t': case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
            return true;
        default:
            return false;
        }
    };
    QString result;
    result.reserve(text.size());
    bool wordStart = true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (separates(c)) {
            result += c;
            wordStart = true;
            continue;
        }
        // A character beyond the BMP is a surrogate pair, cased as one.
        const qsizetype width = c.isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, width);
        result += wordStart ? character.toUpper() : character.toLower();
        i += width - 1;
        wordStart = false;
    }
    return result;
}
