#pragma once

#include "Error.h"

#include <QString>

#include <cstdint>

// The error of all MTP work; its description is the sentence the user sees.
class MTPError : public Error {
public:
    // stale: the object a handle stood for is no longer on the phone.
    enum class Kind { notFound, unsupported, failed, busy, locked, gone, stale };

    // An item (one path component) that is not on the phone.
    static MTPError notFound(const QString& name);
    // What the phone can't do, as a short verb phrase ("move files").
    static MTPError unsupported(const QString& phrase);
    // A finished sentence.
    static MTPError failed(const QString& sentence);
    static MTPError busy();
    static MTPError locked();
    static MTPError gone();
    static MTPError stale();

    // The error for a failed response code; `what` completes "The phone couldn't …".
    static MTPError response(uint16_t code, const QString& what);

    Kind kind() const { return m_kind; }
    // The name, phrase or sentence the error carries; empty for the others.
    const QString& text() const { return m_text; }

private:
    MTPError(Kind kind, QString text, QString description);
    Kind m_kind;
    QString m_text;
};
