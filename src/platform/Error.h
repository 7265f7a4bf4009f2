#pragma once

#include <QByteArray>
#include <QString>
#include <exception>
#include <optional>

// Base of every failure this application reports. The description is the
// finished sentence a window shows; nothing else of an error reaches the user.
class Error : public std::exception {
public:
    explicit Error(QString description);

    const QString& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_description;
    QByteArray m_utf8;
};

// The work was cancelled by its caller. Callers pass it on; it is never shown.
class Cancelled : public Error {
public:
    Cancelled();
};

// The platform itself failed: a process that cannot start, a file that cannot
// be written, a thread that cannot be created.
class SystemError : public Error {
public:
    explicit SystemError(QString description, int errorNumber = 0);

    // A sentence followed by strerror of the error number, e.g.
    // "Couldn't start /x: No such file or directory."
    static SystemError fromErrno(const QString& what, int errorNumber);

    int errorNumber() const noexcept { return m_errno; }

private:
    int m_errno;
};

// No thread could be made for background work. Task delivers it as the
// task's own failure; work that keeps its other failures quiet still shows
// this one, since nothing of it ran.
class NoThreadError : public SystemError {
public:
    explicit NoThreadError(int errorNumber);

    static bool matches(const std::exception_ptr& error);
};

// The user sentence for any exception coming out of background work; nothing
// for a cancellation, which is not a failure.
std::optional<QString> failureText(const std::exception_ptr& error);
