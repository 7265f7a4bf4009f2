#pragma once

#include <QString>

// The application's private temporary folder: "<runtime or temp dir>/Vantelorquist"
// made by us with mode 0700, never reached through a symbolic link, since the
// system-wide temporary directory is shared between users.
namespace TempFolder {

// The folder's path, created when missing. Throws SystemError when it cannot
// be made safely (for example another user owns it).
QString path();

// Removes the folder with everything in it; used when the application quits.
void removeAll();

} // namespace TempFolder
