#pragma once

#include <QString>

// Names joined to folders, on the phone and on the computer (joining itself
// is paths::joined).
namespace browserpaths {

// The name itself when it can name an item inside a folder; throws Error
// with a sentence naming it when it is empty, ".", "..", or holds "/" or NUL,
// since joined to a folder it would name another place.
const QString& usable(const QString& name);

// Whether anything is at a path on the computer, a dangling symbolic link
// included.
bool existsLocally(const QString& path);

} // namespace browserpaths
