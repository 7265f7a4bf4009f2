#pragma once

#include "Error.h"

#include <QString>

#include <optional>

// Why a wireless pairing failed.
class PairingFailure {
public:
    enum class Kind { unreachable, other, rejected };

    static PairingFailure unreachable(QString address) { return {Kind::unreachable, std::move(address)}; }
    static PairingFailure other(QString message) { return {Kind::other, std::move(message)}; }
    static PairingFailure rejected() { return {Kind::rejected, {}}; }

    Kind kind() const { return m_kind; }
    // The address for `unreachable`, the server's text for `other`.
    const QString& text() const { return m_text; }

    friend bool operator==(const PairingFailure&, const PairingFailure&) = default;

private:
    PairingFailure(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}
    Kind m_kind;
    QString m_text;
};

// The error of adb work and of everything built on it.
class ADBError : public Error {
public:
    // `stopped`: adb was ended by a signal this application did not send
    // (killed from a terminal, by the out-of-memory killer, a server
    // restart). Unlike Cancelled, which only our own Stop makes, it is a
    // failure the person is told, and whatever adb was doing may or may not
    // have happened.
    enum class Kind { failed, pairing, notFound, stopped };

    static ADBError failed(const QString& message);
    // A file adb couldn't copy, for the system's reason `errorNumber` (the
    // computer's or the phone's: adb prints either as strerror does).
    static ADBError failed(const QString& message, int errorNumber);
    static ADBError pairing(const PairingFailure& failure);
    static ADBError notFound();
    // "adb was stopped before it answered."
    static ADBError stopped();

    Kind kind() const { return m_kind; }
    // The carried message of `failed` (as given, before the empty-text sentence).
    const QString& message() const { return m_message; }
    // The carried failure of `pairing`.
    const std::optional<PairingFailure>& pairingFailure() const { return m_pairing; }
    // The system's reason of a file adb couldn't copy; 0 when none is known.
    int errorNumber() const { return m_errno; }

private:
    ADBError(Kind kind, QString description, QString message, std::optional<PairingFailure> pairing);
    Kind m_kind;
    QString m_message;
    std::optional<PairingFailure> m_pairing;
    int m_errno = 0;
};
