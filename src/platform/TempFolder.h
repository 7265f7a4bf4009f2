#pragma once

#include <QString>

// The application's private staging folder for files opened or dragged out:
// "<cache>/Vantelorquist/<this process>", where <cache> is $XDG_CACHE_HOME or
// ~/.cache, else a folder of our own under $TMPDIR or /var/tmp. Staged files
// can be gigabytes, so it lives on disk, never in $XDG_RUNTIME_DIR (memory).
// Every level is made by us with mode 0700 and never reached through a
// symbolic link. Each running instance has a folder of its own, held by a
// lock on "<this process>.lock" beside it, so that one instance never
// removes another's files.
namespace TempFolder {

// This process's folder, created when missing. Creating it first removes
// what dead instances left. Throws SystemError when it cannot be made safely
// (for example another user owns a level of it).
QString path();

// Removes what instances that are no longer running left behind: their
// folders, and anything else in "Vantelorquist" that no running instance
// holds. Failures are ignored.
void removeLeftovers();

// Removes this process's folder with everything in it, and "Vantelorquist"
// when nothing else is left in it; used when the application quits.
void removeAll();

} // namespace TempFolder
