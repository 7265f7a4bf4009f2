#include "ADBError.h"

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

ADBError ADBError::failed(const QString& message, int errorNumber)
{
    ADBError error = failed(message);
    error.m_errno = errorNumber;
    return error;
}

ADBError ADBError::notFound()
{
    return ADBError(Kind::notFound,
                    QStringLiteral("adb not found. Install Google's platform tools with: sudo apt install adb"),
                    {}, std::nullopt);
}

ADBError ADBError::stopped()
{
    return ADBError(Kind::stopped, QStringLiteral("adb was stopped before it answered."), {}, std::nullopt);
}

ADBError ADBError::pairing(const PairingFailure& failure)
{
    QString sentence;
    switch (failure.kind()) {
    case PairingFailure::Kind::unreachable:
        sentence = QStringLiteral("Couldn’t reach the phone at ") + failure.text() +
                   QStringLiteral(". Make sure the phone and this computer are on the same Wi-Fi network, then try again.");
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
