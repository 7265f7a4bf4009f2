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

// The most UTF-16 units an MTP string carries: a longer name would be stored cut.
constexpr qsizetype nameUnits = 254;
// Throws MTPError for a name the phone can't store as given, before
// anything is sent under it.
void checkStorable(const QString& name);

// A name from the phone as it is listed: a "/" in it is shown by the lone
// surrogate U+DC2F, which no name read from the phone holds, so that the name
// joined to its folder's path can't make the path of another item.
QString listedName(const QString& name);
// Throws MTPError for a path through a name listed with such a mark: the
// phone's paths can't reach that item.
void checkUsable(const QString& path);

// A name from the phone as a local file name; throws MTPError for a name that
// would leave the folder it is meant for (empty, ".", "..", "/" or NUL).
QString localName(const QString& name);

// The hidden file a download is written to before it replaces `target`:
// "." + name + ".vantelorquist" beside it, its name cut to stay within the
// file-name length limit.
QString temporaryPath(const QString& target);

} // namespace mtppaths
