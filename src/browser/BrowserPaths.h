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

} // namespace browserpaths
