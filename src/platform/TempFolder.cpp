#include "TempFolder.h"

#include "Error.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

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

// Makes `path` a private folder of ours, or fails: it must be a real folder
// (no link), owned by us, and ends up with mode 0700.
void ensurePrivateFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create the folder ") + path, errno);
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't read the folder ") + path, errno);
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw SystemError(QStringLiteral("The temporary folder ") + path +
                          QStringLiteral(" belongs to someone else or isn't a folder."));
    if ((st.st_mode & 0777) != 0700 && ::chmod(native.constData(), 0700) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't protect the folder ") + path, errno);
}

} // namespace

namespace TempFolder {

QString path()
{
    const QString base = baseFolder();
    ensurePrivateFolder(base);
    const QString folder = base + QStringLiteral("/Vantelorquist");
    ensurePrivateFolder(folder);
    return folder;
}

void removeAll()
{
    const QString folder = baseFolder() + QStringLiteral("/Vantelorquist");
    QFileInfo info(folder);
    if (info.isDir() && !info.isSymLink())
        QDir(folder).removeRecursively();
}

} // namespace TempFolder
