#include "Error.h"

#include <cstring>

Error::Error(QString description)
    : m_description(std::move(description)), m_utf8(m_description.toUtf8()) {}

Cancelled::Cancelled() : Error(QStringLiteral("The operation was cancelled.")) {}

SystemError::SystemError(QString description, int errorNumber)
    : Error(std::move(description)), m_errno(errorNumber) {}

SystemError SystemError::fromErrno(const QString& what, int errorNumber)
{
    QString reason = QString::fromLocal8Bit(std::strerror(errorNumber));
    return SystemError(what + QStringLiteral(": ") + reason + QLatin1Char('.'), errorNumber);
}

NoThreadError::NoThreadError(int errorNumber)
    : SystemError(fromErrno(QStringLiteral("Couldn't start a worker thread"), errorNumber))
{
}

bool NoThreadError::matches(const std::exception_ptr& error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const NoThreadError&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::optional<QString> failureText(const std::exception_ptr& error)
{
    if (!error)
        return std::nullopt;
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled&) {
        return std::nullopt;
    } catch (const Error& e) {
        return e.description();
    } catch (const std::bad_alloc&) {
        return QStringLiteral("There isn't enough memory to finish.");
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("Something unexpected went wrong.");
    }
}
