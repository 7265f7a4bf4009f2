#include "TempFolder.h"

#include "Error.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QString folderName = QStringLiteral("Vantelorquist");
const QString lockSuffix = QStringLiteral(".lock");

// An open descriptor, closed on every way out.
struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    explicit Descriptor(int opened) : fd(opened) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};
using Folder = Descriptor;

QByteArray native(const QString& name)
{
    return QFile::encodeName(name);
}

bool isOurFolder(const QString& path)
{
    struct stat st {};
    return ::lstat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// The user's own cache folder ($XDG_CACHE_HOME, else ~/.cache), made when
// missing as the base directory rules ask; none when it is not a real folder
// of ours.
std::optional<QString> cacheFolder(bool create)
{
    QString cache = QString::fromLocal8Bit(qgetenv("XDG_CACHE_HOME"));
    if (!QDir::isAbsolutePath(cache)) {
        const QString home = QString::fromLocal8Bit(qgetenv("HOME"));
        if (!QDir::isAbsolutePath(home))
            return std::nullopt;
        cache = home + QStringLiteral("/.cache");
    }
    if (create)
        ::mkdir(native(cache).constData(), 0700);
    return isOurFolder(cache) ? std::optional(cache) : std::nullopt;
}

// Opens `name` under `parent` as a private folder of ours, or fails: a real
// folder (never through a link), owned by us. Creating also makes it 0700.
// The checks go by the open descriptor, so the name can't be swapped after.
void openPrivate(int parent, const QString& path, const QString& name, bool create, Folder& folder)
{
    const QByteArray nativeName = native(parent == AT_FDCWD ? path : name);
    if (create && ::mkdirat(parent, nativeName.constData(), 0700) != 0 && errno != EEXIST)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create the folder ") + path, errno);
    folder.fd = ::openat(parent, nativeName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    if (folder.fd < 0 || ::fstat(folder.fd, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw SystemError(QStringLiteral("The temporary folder ") + path +
                          QStringLiteral(" belongs to someone else or isn't a folder."));
    if (create && (st.st_mode & 0777) != 0700 && ::fchmod(folder.fd, 0700) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't protect the folder ") + path, errno);
}

// "<base>/Vantelorquist" opened into `root`; returns its path. The cache
// folder is the user's own and used as it is; the fallback under the shared
// temporary directory is a folder of our own, checked like the rest.
QString openRoot(bool create, Folder& base, Folder& root)
{
    QString basePath;
    if (const std::optional<QString> cache = cacheFolder(create)) {
        basePath = *cache;
        base.fd = ::open(native(basePath).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (base.fd < 0)
            throw SystemError::fromErrno(QStringLiteral("Couldn't open the folder ") + basePath, errno);
    } else {
        QString shared = QString::fromLocal8Bit(qgetenv("TMPDIR"));
        if (!QDir::isAbsolutePath(shared))
            shared = QStringLiteral("/var/tmp");
        basePath = shared + QStringLiteral("/vantelorquist-") + QString::number(::getuid());
        openPrivate(AT_FDCWD, basePath, basePath, create, base);
    }
    const QString path = basePath + QLatin1Char('/') + folderName;
    openPrivate(base.fd, path, folderName, create, root);
    return path;
}

std::vector<QByteArray> namesIn(int fd)
{
    std::vector<QByteArray> names;
    DIR* listing = ::fdopendir(::dup(fd));
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing)) {
        if (qstrcmp(entry->d_name, ".") != 0 && qstrcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    return names;
}

void removeItem(int parent, const QByteArray& name);

// Empties the folder open at `fd`; links are removed, never followed.
void removeContents(int fd)
{
    for (const QByteArray& name : namesIn(fd))
        removeItem(fd, name);
}

// Removes `name` under `parent`: a file or link itself, a folder with what
// it holds.
void removeItem(int parent, const QByteArray& name)
{
    if (::unlinkat(parent, name.constData(), 0) == 0)
        return;
    Folder folder(::openat(parent, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder.fd < 0)
        return;
    removeContents(folder.fd);
    ::unlinkat(parent, name.constData(), AT_REMOVEDIR);
}

bool sameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// This process's folder. The lock on "<id>.lock" lives as long as the
// process (the descriptor is not inherited by children), so a lock that can
// be taken means its instance is gone. The lock file is made and locked
// before the folder, so a folder without its lock file is never a running
// instance's.
struct Instance {
    QString rootPath;
    struct stat root {};
    QString id;
    int lockFd = -1;

    bool isIn(int rootFd) const
    {
        struct stat st {};
        return lockFd >= 0 && ::fstat(rootFd, &st) == 0 && sameFile(st, root) && holdsLock(rootFd);
    }
    bool holdsLock(int rootFd) const
    {
        struct stat named {}, held {};
        return ::fstatat(rootFd, native(id + lockSuffix).constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
               && ::fstat(lockFd, &held) == 0 && sameFile(named, held);
    }
    void release()
    {
        if (lockFd >= 0)
            ::close(lockFd);
        lockFd = -1;
        id.clear();
    }
};

std::mutex instanceMutex;
Instance instance;

// Takes a fresh name in the open root and holds its lock; the folder itself
// is made by the caller.
void claim(int rootFd, const QString& rootPath)
{
    instance.release();
    for (int attempt = 0; attempt < 8; ++attempt) {
        const QString id = QString::number(::getpid()) + QLatin1Char('-')
                           + QString::number(QRandomGenerator::system()->generate(), 16);
        Descriptor lock(::openat(rootFd, native(id + lockSuffix).constData(),
                                 O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (lock.fd < 0) {
            if (errno == EEXIST)
                continue;
            throw SystemError::fromErrno(QStringLiteral("Couldn't create a file in ") + rootPath, errno);
        }
        // Another instance's clean-up may have taken the new file for a dead
        // one's before we locked it, and removed it: then try another name.
        if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0)
            continue;
        instance.id = id;
        instance.lockFd = lock.fd;
        if (!instance.holdsLock(rootFd)) {
            instance.lockFd = -1;
            instance.id.clear();
            continue;
        }
        lock.fd = -1;
        instance.rootPath = rootPath;
        ::fstat(rootFd, &instance.root);
        return;
    }
    throw SystemError(QStringLiteral("Couldn't make a temporary folder in ") + rootPath + QLatin1Char('.'));
}

// Removes from the open root what no running instance holds, but `keep`.
void sweep(int rootFd, const QString& keep)
{
    const QByteArray kept = native(keep);
    const QByteArray keptLock = native(keep + lockSuffix);
    const QByteArray suffix = native(lockSuffix);
    for (const QByteArray& name : namesIn(rootFd)) {
        if (!keep.isEmpty() && (name == kept || name == keptLock))
            continue;
        if (name.endsWith(suffix) && name.size() > suffix.size()) {
            Descriptor lock(::openat(rootFd, name.constData(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
            struct stat st {};
            if (lock.fd < 0 || ::fstat(lock.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
                // Not a lock of ours (a link, say): nothing can hold it.
                if (lock.fd < 0 && errno == ELOOP)
                    ::unlinkat(rootFd, name.constData(), 0);
                continue;
            }
            if (::flock(lock.fd, LOCK_EX | LOCK_NB) != 0)
                continue; // its instance runs
            // Its folder first, so that a folder is never left without its lock.
            removeItem(rootFd, name.left(name.size() - suffix.size()));
            ::unlinkat(rootFd, name.constData(), 0);
            continue;
        }
        struct stat st {};
        if (::fstatat(rootFd, (name + suffix).constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            continue; // its lock decides
        removeItem(rootFd, name);
    }
}

} // namespace

namespace TempFolder {

QString path()
{
    const std::lock_guard guard(instanceMutex);
    Folder base, root;
    const QString rootPath = openRoot(true, base, root);
    const bool fresh = !instance.isIn(root.fd);
    if (fresh)
        claim(root.fd, rootPath);
    const QString path = rootPath + QLatin1Char('/') + instance.id;
    Folder folder;
    openPrivate(root.fd, path, instance.id, true, folder);
    if (fresh)
        sweep(root.fd, instance.id);
    return path;
}

void removeLeftovers()
{
    const std::lock_guard guard(instanceMutex);
    Folder base, root;
    try {
        openRoot(false, base, root);
    } catch (const SystemError&) {
        return; // missing, or not ours: nothing to remove
    }
    sweep(root.fd, instance.isIn(root.fd) ? instance.id : QString());
}

void removeAll()
{
    const std::lock_guard guard(instanceMutex);
    Folder base, root;
    try {
        openRoot(false, base, root);
    } catch (const SystemError&) {
        instance.release();
        return; // missing, or not ours: nothing to remove
    }
    if (instance.isIn(root.fd)) {
        removeItem(root.fd, native(instance.id));
        ::unlinkat(root.fd, native(instance.id + lockSuffix).constData(), 0);
    }
    instance.release();
    // Only when no other instance keeps files there.
    ::unlinkat(base.fd, native(folderName).constData(), AT_REMOVEDIR);
}

} // namespace TempFolder
