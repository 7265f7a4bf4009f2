#include "TempFolder.h"

#include "Error.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString folderName = QStringLiteral("Vantelorquist");

// A per-user base: $XDG_RUNTIME_DIR is private already; otherwise a folder of
// our own under the system temporary directory, named after the user id.
QString baseFolder()
{
    QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        struct stat st {};
        if (::lstat(runtime.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid())
            return QString::fromLocal8Bit(runtime);
    }
    return QDir::tempPath() + QStringLiteral("/vantelorquist-") + QString::number(::getuid());
}

// An open folder descriptor, closed on every way out.
struct Folder {
    int fd = -1;
    ~Folder()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Opens `name` under `parent` as a private folder of ours, or fails: a real
// folder (never through a link), owned by us. Creating also makes it 0700.
// The checks go by the open descriptor, so the name can't be swapped after.
void openPrivate(int parent, const QString& path, const QString& name, bool create, Folder& folder)
{
    const QByteArray native = QFile::encodeName(parent == AT_FDCWD ? path : name);
    if (create && ::mkdirat(parent, native.constData(), 0700) != 0 && errno != EEXIST)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create the folder ") + path, errno);
    folder.fd = ::openat(parent, native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (folder.fd < 0 || ::fstat(folder.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw SystemError(QStringLiteral("The temporary folder ") + path +
                          QStringLiteral(" belongs to someone else or isn't a folder."));
    if (create && (st.st_mode & 0777) != 0700 && ::fchmod(folder.fd, 0700) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't protect the folder ") + path, errno);
}

// Both levels, checked the same way for making and for removing; returns the
// folder's path.
QString openBoth(bool create, Folder& base, Folder& folder)
{
    const QString basePath = baseFolder();
    const QString path = basePath + QLatin1Char('/') + folderName;
    openPrivate(AT_FDCWD, basePath, basePath, create, base);
    openPrivate(base.fd, path, folderName, create, folder);
    return path;
}

// Empties the folder open at `fd`; links are removed, never followed.
void removeContents(int fd)
{
    DIR* listing = ::fdopendir(::dup(fd));
    if (!listing)
        return;
    while (const dirent* entry = ::readdir(listing)) {
        const char* name = entry->d_name;
        if (qstrcmp(name, ".") == 0 || qstrcmp(name, "..") == 0)
            continue;
        if (::unlinkat(fd, name, 0) == 0)
            continue;
        Folder child;
        child.fd = ::openat(fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (child.fd < 0)
            continue;
        removeContents(child.fd);
        ::unlinkat(fd, name, AT_REMOVEDIR);
    }
    ::closedir(listing);
}

} // namespace

namespace TempFolder {

QString path()
{
    Folder base, folder;
    return openBoth(true, base, folder);
}

void removeAll()
{
    Folder base, folder;
    try {
        openBoth(false, base, folder);
    } catch (const SystemError&) {
        return; // missing, or not ours: nothing to remove
    }
    removeContents(folder.fd);
    ::unlinkat(base.fd, QFile::encodeName(folderName).constData(), AT_REMOVEDIR);
}

} // namespace TempFolder
