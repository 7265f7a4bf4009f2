#include "MTPError.h"

#include "MTPCodes.h"

MTPError::MTPError(Kind kind, QString text, QString description)
    : Error(std::move(description)), m_kind(kind), m_text(std::move(text)) {}

MTPError MTPError::notFound(const QString& name)
{
    return {Kind::notFound, name, QStringLiteral("“") + name + QStringLiteral("” isn't on the phone any more.")};
}

MTPError MTPError::unsupported(const QString& phrase)
{
    return {Kind::unsupported, phrase,
            QStringLiteral("This phone can't ") + phrase
                + QStringLiteral(" over file transfer. Turn on USB debugging to do it.")};
}

MTPError MTPError::failed(const QString& sentence)
{
    return {Kind::failed, sentence, sentence};
}

MTPError MTPError::busy()
{
    return {Kind::busy, {},
            QStringLiteral("Another app, such as the file manager, is using the phone's file transfer. Quit it and "
                           "try again.")};
}

MTPError MTPError::locked()
{
    return {Kind::locked, {}, QStringLiteral("Unlock your phone to see its files.")};
}

MTPError MTPError::gone()
{
    return {Kind::gone, {}, QStringLiteral("The phone was disconnected.")};
}

MTPError MTPError::stale()
{
    const QString sentence = QStringLiteral("The file is no longer on the phone. Refresh and try again.");
    return {Kind::stale, sentence, sentence};
}

MTPError MTPError::response(uint16_t code, const QString& what)
{
    using namespace mtp;
    switch (code) {
    case Response::operationNotSupported:
        return unsupported(what);
    case Response::invalidObjectHandle:
    case Response::devicePropNotSupported:
        return stale();
    case Response::storeFull:
        return failed(QStringLiteral("The phone is full."));
    case Response::objectWriteProtected:
    case Response::storeReadOnly:
    case Response::invalidParameter:
        return failed(QStringLiteral("The phone didn't allow that (read-only location)."));
    case Response::deviceBusy:
        return failed(QStringLiteral("The phone is busy. Try again in a moment."));
    default:
        return failed(QStringLiteral("The phone couldn't ") + what + QStringLiteral(" (MTP error 0x")
                      + QStringLiteral("%1").arg(code, 4, 16, QLatin1Char('0')).toUpper() + QStringLiteral(")."));
    }
}
