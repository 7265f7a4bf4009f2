#pragma once

#include <QString>

// Text rules for the paths and names the MTP client handles: phone paths,
// names as the phone reports them, and the local files they become.
namespace mtppaths {

// The path without its last component: "/sdcard/a/b" and "/sdcard/a/b/" give
// "/sdcard/a", "/a" gives "/", a path without "/" gives the empty text.
QString parentPath(const QString& path);
// The last component: "/sdcard/a/b/" gives "b"; "/" stays "/".
QString lastComponent(const QString& path);

// Names are the same text when they are canonically equivalent.
bool sameName(const QString& a, const QString& b);
bool sameNameIgnoringCase(const QString& a, const QString& b);

// A name from the phone as a local file name; throws MTPError for a name that
// would leave the folder it is meant for (empty, ".", "..", "/" or NUL).
QString localName(const QString& name);

// The hidden file a download is written to before it replaces `target`:
// "." + name + ".vantelorquist" beside it, its name cut to stay within the
// file-name length limit.
QString temporaryPath(const QString& target);

} // namespace mtppaths
