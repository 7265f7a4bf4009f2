#pragma once

#include "BrowserPaths.h"
#include "BrowserTypes.h"

#include <QSettings>
#include <QString>

#include <optional>

namespace settingkeys {
inline const QString showHidden = QStringLiteral("showHidden");
inline const QString askWhereToSave = QStringLiteral("askWhereToSave");
inline const QString revealAfterCopy = QStringLiteral("revealAfterCopy");
inline const QString keepRunningInMenuBar = QStringLiteral("keepRunningInMenuBar");
inline const QString openWhenConnected = QStringLiteral("openWhenConnected");
inline const QString autoReconnectWireless = QStringLiteral("autoReconnectWireless");
inline const QString pairedPhones = QStringLiteral("pairedPhones");
inline const QString viewMode = QStringLiteral("viewMode");
inline const QString saveFolder = QStringLiteral("saveFolder");
inline const QString lastSerial = QStringLiteral("lastSerial");
// Followed by a phone's serial: the last folder shown for that phone.
inline const QString lastPathPrefix = QStringLiteral("lastPath.");
// What copies left for a later run to finish: by phone, the kept copies and
// the working items to remove; and the computer's working items.
inline const QString workingItems = QStringLiteral("workingItems");
} // namespace settingkeys

// The browser's keys in the settings store, read with the types they are
// written with. A text backend (an INI file) gives every value back as text,
// so a boolean is also taken from the texts "true" and "false".
class BrowserSettings {
public:
    explicit BrowserSettings(QSettings& store) : m_store(store) {}

    // A boolean the lenient way: false when absent; numbers and texts count
    // as true when they start with Y, y, T, t or a digit 1 to 9.
    bool lenientFlag(const QString& key) const;
    // A boolean only when a boolean is stored; anything else is `whenAbsent`.
    bool flag(const QString& key, bool whenAbsent) const;
    // Text to text, taken only when every value is text.
    PhoneNames phoneNames(const QString& key) const;
    // Exactly "list" or "grid"; anything else is the list.
    ViewMode viewMode(const QString& key) const;
    // An absolute local folder stored as a path or a file URL; the user's
    // Downloads folder otherwise.
    QString folder(const QString& key) const;
    // Stored text, if text is stored.
    std::optional<QString> text(const QString& key) const;
    // Only sound records (workingnames::isSound(), isSoundLocal()) of phones
    // named as leftoverKey() names them and of the computer, each with the
    // process that made it (none for an earlier version's), at most
    // keptRecords kept copies and storedRecords recorded items of each kind.
    browserpaths::workingnames::Records workingItems(const QString& key) const;
    // The newest of each when there are more. A kept copy may be the only
    // copy of the person's file, and one not stored would be taken for a
    // stale working file after a restart, so far more of those are stored.
    void setWorkingItems(const QString& key, const browserpaths::workingnames::Records& records);
    static constexpr qsizetype storedRecords = 64;
    static constexpr qsizetype keptRecords = 4096;

    void setFlag(const QString& key, bool value);
    void setPhoneNames(const QString& key, const PhoneNames& names);
    void setText(const QString& key, const QString& value);

    static QString downloadsFolder();

private:
    QSettings& m_store;
};
