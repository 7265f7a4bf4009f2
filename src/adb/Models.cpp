#include "ADBError.h"
#include "ADBParsing.h"
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
    return adbparse::capitalizeWords(state);
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

ADBError::ADBError(Kind kind, QString description, QString message, std::optional<PairingFailure> pairing)
    : Error(std::move(description)), m_kind(kind), m_message(std::move(message)), m_pairing(std::move(pairing))
{
}

ADBError ADBError::failed(const QString& message)
{
    return ADBError(Kind::failed,
                    message.isEmpty() ? QStringLiteral("adb failed without an error message.") : message, message,
                    std::nullopt);
}

ADBError ADBError::notFound()
{
    return ADBError(Kind::notFound,
                    QStringLiteral("adb not found. Install Google's platform tools with: brew install --cask "
                                   "android-platform-tools"),
                    {}, std::nullopt);
}

ADBError ADBError::pairing(const PairingFailure& failure)
{
    QString sentence;
    switch (failure.kind()) {
    case PairingFailure::Kind::unreachable:
        sentence = QStringLiteral("Couldn’t reach the phone at ") + failure.text() +
                   QStringLiteral(". Make sure the phone and this Mac are on the same Wi-Fi network, then try again.");
        break;
    case PairingFailure::Kind::rejected:
        sentence = QStringLiteral("The phone turned the pairing down. Check the code, make sure both are on the "
                                  "same Wi-Fi network, then try again.");
        break;
    case PairingFailure::Kind::other:
        sentence = failure.text();
        sentence.remove(QStringLiteral("Failed: "));
        break;
    }
    return ADBError(Kind::pairing, sentence, {}, failure);
}
