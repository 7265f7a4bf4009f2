#pragma once

#include <QString>

#include <optional>

// Names joined to folders, on the phone and on the computer (joining itself
// is paths::joined).
namespace browserpaths {

// None when the name can name an item inside a folder; else the sentence
// refusing to `verb` it ("copied", "deleted"): an empty name, ".", "..", or
// one holding "/" or NUL would, joined to a folder, name another place.
std::optional<QString> refusal(const QString& name, const QString& verb);

// A new, empty folder of the application's own; throws SystemError when it
// can't be made.
QString newPrivateFolder();

// Whether anything is at a path on the computer, a dangling symbolic link
// included.
bool existsLocally(const QString& path);

// The most bytes a file name may hold, on the computer and on the phone.
constexpr qsizetype nameLimit = 255;
// The bytes of a name as the file system stores it.
qsizetype nameBytes(const QString& name);
// The name with whole characters cut off its end until it holds at most
// `limit` bytes.
QString cutToBytes(const QString& name, qsizetype limit);

// One file name on the computer made of text the phone sends (its name, a
// package, a version, a label) and our own `ending` (" logcat.txt"): what
// would make it another place or no name at all ("/", NUL, control
// characters), a hidden or climbing start (leading dots) and surrounding
// spaces go, and the phone's part is cut so the whole stays within
// nameLimit. Text with nothing usable left reads as `fallback`.
QString nameFromPhone(const QString& text, const QString& ending = {},
                      const QString& fallback = QStringLiteral("Phone"));

// What a name is compared by when it must not meet another: letter case
// and the composition of accented letters left out, as a phone's shared
// storage (and many a disk) treats them as one name.
QString nameKey(const QString& name);

// The hidden name beside an item under which its new copy is made before
// it takes the item's place; within the name length limit. A name of this
// copy's own is never met by another copy's clean-up: a phone may remove a
// stopped copy's file only after the next copy of the item has begun.
QString temporaryName(const QString& name, bool ownToThisCopy = false);

} // namespace browserpaths
