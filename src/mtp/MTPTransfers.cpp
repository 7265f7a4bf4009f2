// Copies between the computer and the phone: files and folder trees, streamed
// through the transaction engine one transfer unit at a time.
#include "MTPConnection.h"

#include "MTPCodes.h"
#include "MTPPaths.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace mtp;

namespace {

// A computer path's bytes, a name that isn't text included.
QByteArray native(const QString& path)
{
    return paths::bytes(path);
}

QString quoted(const QString& path)
{
    return QStringLiteral("“") + paths::shown(path) + QStringLiteral("”");
}

using paths::joined;

// An open descriptor, closed on every way out.
class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return m_fd; }
    // Closes now, reporting what close says (a write that failed late shows here).
    int close()
    {
        const int result = ::close(m_fd);
        m_fd = -1;
        return result;
    }

private:
    int m_fd;
};

bool isLocalFolder(const QString& path)
{
    struct stat info {};
    return ::stat(native(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes the folder and its missing parents; an existing folder will do.
void makeLocalFolders(const QString& path)
{
    const QByteArray name = native(path);
    if (::mkdir(name.constData(), 0777) == 0 || (errno == EEXIST && isLocalFolder(path)))
        return;
    int error = errno;
    if (error == ENOENT) {
        const QString parent = mtppaths::parentPath(path);
        if (!parent.isEmpty() && parent != path) {
            makeLocalFolders(parent);
            if (::mkdir(name.constData(), 0777) == 0 || (errno == EEXIST && isLocalFolder(path)))
                return;
            error = errno;
        }
    }
    throw SystemError::fromErrno(QStringLiteral("Couldn't create the folder ") + quoted(path), error);
}

void writeAll(int fd, QByteArrayView bytes, const QString& path)
{
    const char* at = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError::fromErrno(QStringLiteral("Couldn't write ") + quoted(path), errno);
        }
        at += n;
        left -= n;
    }
}

qsizetype readSome(int fd, char* buffer, qsizetype capacity, const QString& path)
{
    for (;;) {
        const ssize_t n = ::read(fd, buffer, size_t(capacity));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            throw SystemError::fromErrno(QStringLiteral("Couldn't read ") + quoted(path), errno);
    }
}

void setModified(int fd, const QDateTime& modified)
{
    if (!modified.isValid())
        return;
    const qint64 ms = modified.toMSecsSinceEpoch();
    timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT; // the access time stays
    times[1].tv_sec = static_cast<time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    times[1].tv_nsec = static_cast<long>(((ms % 1000) + 1000) % 1000 * 1000000);
    ::futimens(fd, times); // the copy is good without its date
}

// Puts the finished download in place of whatever stands at the target. A
// file there is replaced in one step by the rename; a folder has to go first.
void replace(const QString& temporary, const QString& target)
{
    struct stat info {};
    if (::lstat(native(target).constData(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (!paths::removeLocalTree(target))
            throw SystemError(QStringLiteral("Couldn't replace the folder ") + quoted(target)
                              + QStringLiteral(" with the downloaded file."));
    }
    if (::rename(native(temporary).constData(), native(target).constData()) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't move the downloaded file to ") + quoted(target), errno);
}

// The names in a local folder, hidden ones included, in the order the file
// system gives them.
QStringList folderEntries(const QString& path)
{
    DIR* dir = ::opendir(native(path).constData());
    if (!dir)
        throw SystemError::fromErrno(QStringLiteral("Couldn't read the folder ") + quoted(path), errno);
    QStringList names;
    errno = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names.append(paths::text(name));
        errno = 0;
    }
    const int error = errno;
    ::closedir(dir);
    if (error)
        throw SystemError::fromErrno(QStringLiteral("Couldn't read the folder ") + quoted(path), error);
    return names;
}

// Every name a copy of the computer item `source` gives on the phone,
// checked before anything is sent: a name the phone would cut fails it.
void checkNamesBelow(const QString& source)
{
    if (!isLocalFolder(source))
        return;
    for (const QString& entry : folderEntries(source)) {
        mtppaths::checkStorable(entry);
        const QString item = joined(source, entry);
        struct stat link {};
        // A link to a folder is left out by the copy, its contents with it.
        if (::lstat(native(item).constData(), &link) == 0 && !S_ISLNK(link.st_mode))
            checkNamesBelow(item);
    }
}

SystemError changedWhileCopying(const QString& path)
{
    return SystemError(quoted(QFileInfo(path).fileName())
                       + QStringLiteral(" changed size while it was being copied to the phone. Try again once it has "
                                        "finished changing."));
}

} // namespace

void MTPConnection::deleteQuietly(uint32_t handle)
{
    try {
        transact(Operation::deleteObject, {handle, 0}, {}, 0, {}, QStringLiteral("do that"));
    } catch (const std::exception&) {
        // What is left of it shows on the phone; the first failure is the one that counts.
    }
}

// ---- from the phone -----------------------------------------------------------------------

void MTPConnection::pull(const QString& path, const QString& destination, const Progress& progress,
                         const Cancel& cancel)
{
    mtppaths::checkUsable(path);
    withPaths(
        [&] {
            const MTPObject object = this->object(path);
            const QString target =
                isLocalFolder(destination) ? joined(destination, mtppaths::localName(object.name)) : destination;
            int64_t done = 0;
            const int64_t total = object.isDirectory ? std::max<int64_t>(folderSize(object), 1) : object.size;
            QSet<uint32_t> visited;
            download(
                object, target,
                [&](int64_t bytes) {
                    done += bytes;
                    if (progress)
                        progress(total > 0 ? std::min(double(done) / double(total), 1.0) : 0.0);
                },
                visited);
        },
        cancel);
}

int64_t MTPConnection::folderSize(const MTPObject& object)
{
    if (!object.isDirectory)
        return object.size;
    const uint32_t storage = requireStorage();
    int64_t total = 0;
    QSet<uint32_t> visited{object.handle};
    std::vector<uint32_t> folders{object.handle};
    while (!folders.empty()) {
        const uint32_t folder = folders.back();
        folders.pop_back();
        for (const MTPObject& child : children(folder, storage)) {
            if (visited.contains(child.handle))
                continue;
            visited.insert(child.handle);
            if (child.isDirectory)
                folders.push_back(child.handle);
            else
                total = child.size > INT64_MAX - total ? INT64_MAX : total + child.size; // sizes may be absurd
        }
    }
    return total;
}

void MTPConnection::download(const MTPObject& object, const QString& target, const ByteCount& progress,
                             QSet<uint32_t>& visited)
{
    checkCancel();
    if (visited.contains(object.handle))
        return;
    visited.insert(object.handle);
    if (object.isDirectory) {
        makeLocalFolders(target);
        const uint32_t storage = requireStorage();
        int undescribed = 0;
        const std::vector<MTPObject> held = children(object.handle, storage, &undescribed);
        // A copy of a folder without one of its items is no copy of it.
        if (undescribed > 0)
            throw MTPError::failed(undescribedIn({object.name}));
        for (const MTPObject& child : held)
            download(child, joined(target, mtppaths::localName(child.name)), progress, visited);
        return;
    }

    const QString temporary = mtppaths::temporaryPath(target);
    // Never through a link someone left under the temporary name. Its
    // failures name the file it becomes: the partial one is hidden and ours.
    Descriptor file(::open(native(temporary).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666));
    if (file.get() < 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create ") + quoted(target), errno);
    // Reserving the space up front spares the file system growing the file
    // piece by piece.
    if (object.size > 0)
        (void)::fallocate(file.get(), FALLOC_FL_KEEP_SIZE, 0, off_t(object.size));
    // A data phase that states its length arrives whole or fails in the
    // engine, so it is trusted over the listing, which lags a file still being
    // written. Only a phase without a length can end short unnoticed: then the
    // listed size is the check (0xFFFFFFFF there says "at least that much").
    try {
        int64_t written = 0;
        transact(
            Operation::getObject, {object.handle}, {}, 0,
            [&](QByteArrayView piece) {
                writeAll(file.get(), piece, target);
                written += piece.size();
                progress(piece.size());
            },
            QStringLiteral("copy that file"));
        const std::optional<int64_t> stated = statedDataLength();
        if (stated ? written != *stated : written < object.size)
            throw MTPError::failed(quoted(object.name)
                                   + QStringLiteral(" didn't arrive as the phone listed it. Refresh and try again."));
        setModified(file.get(), object.modified);
        if (file.close() != 0)
            throw SystemError::fromErrno(QStringLiteral("Couldn't write ") + quoted(target), errno);
        replace(temporary, target);
    } catch (...) {
        ::unlink(native(temporary).constData());
        throw;
    }
}

// ---- to the phone -------------------------------------------------------------------------

void MTPConnection::push(const QString& source, const QString& destination, const Progress& progress,
                         const Cancel& cancel)
{
    mtppaths::checkUsable(destination);
    QString parent, name;
    if (destination.endsWith(QLatin1Char('/'))) {
        parent = destination.chopped(1);
        name = mtppaths::lastComponent(source);
    } else {
        parent = mtppaths::parentPath(destination);
        name = mtppaths::lastComponent(destination);
    }
    mtppaths::checkStorable(name);
    checkNamesBelow(source);
    changing(
        [&] {
            const uint32_t folder = makeFolders(parent);
            const int64_t total = std::max<int64_t>(paths::localSize(source), 1);
            int64_t done = 0;
            QStringList skipped;
            upload(
                source, name, folder, parent,
                [&](int64_t bytes) {
                    done += bytes;
                    if (progress)
                        progress(std::min(double(done) / double(total), 1.0));
                },
                skipped);
            if (skipped.isEmpty())
                return;
            // Like adb push, the rest is copied; unlike a quiet skip, the user hears of it.
            const QDir above = QFileInfo(source).absoluteDir();
            const QString first = quoted(above.relativeFilePath(skipped.first()));
            throw SystemError(skipped.size() == 1
                                  ? first + QStringLiteral(" was left out: it isn't a regular file or folder.")
                                  : first + QStringLiteral(" and %1 more items were left out: they aren't regular "
                                                           "files or folders.")
                                                .arg(skipped.size() - 1));
        },
        cancel);
}

void MTPConnection::upload(const QString& source, const QString& name, uint32_t parent, const QString& parentPath,
                           const ByteCount& progress, QStringList& skipped)
{
    checkCancel();
    // MTP names are text: a byte that isn't would reach the phone as another name.
    if (!name.isValidUtf16())
        throw MTPError::failed(quoted(name)
                               + QStringLiteral(" has a name that isn't valid UTF-8, so it can't be copied to the phone "
                                                "over USB. Rename it first."));
    struct stat facts {};
    if (::stat(native(source).constData(), &facts) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't read ") + quoted(source), errno);
    if (!S_ISDIR(facts.st_mode) && !S_ISREG(facts.st_mode)) {
        skipped.append(source); // a pipe, socket or device has no file contents to send
        return;
    }
    const uint32_t storage = requireStorage();
    // Asked of the phone for each item; the cache learns only what is made.
    const std::vector<MTPObject> siblings = children(parent, storage);
    const MTPObject* existing = findNamed(siblings, name, NameMatch::canonical);
    const bool exists = existing != nullptr;
    const QString childPath = joined(parentPath, name);

    if (S_ISDIR(facts.st_mode)) {
        uint32_t folder;
        if (exists && existing->isDirectory) {
            folder = existing->handle; // merged into
        } else {
            if (exists)
                transact(Operation::deleteObject, {existing->handle, 0}, {}, 0, {}, QStringLiteral("replace that"));
            folder = createFolder(name, parent);
            madeHere(childPath, folder, parent, true, 0);
        }
        m_handles.insert(parts(childPath).join(QLatin1Char('/')), folder);
        for (const QString& entry : folderEntries(source)) {
            const QString item = joined(source, entry);
            struct stat link {};
            // A link to a folder could lead back up the tree: left out and
            // named like a pipe. Links to files are copied.
            if (::lstat(native(item).constData(), &link) == 0 && S_ISLNK(link.st_mode) && isLocalFolder(item)) {
                skipped.append(item);
                continue;
            }
            upload(item, entry, folder, childPath, progress, skipped);
        }
        return;
    }

    // Opened before anything goes to the phone, without waiting: what turned
    // into a pipe since the check above would block the phone's queue.
    Descriptor file(::open(native(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() < 0 || ::fstat(file.get(), &facts) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't read ") + quoted(source), errno);
    if (!S_ISREG(facts.st_mode)) {
        skipped.append(source);
        return;
    }
    if (exists)
        transact(Operation::deleteObject, {existing->handle, 0}, {}, 0, {}, QStringLiteral("replace that"));
    const int64_t size = facts.st_size;
    const QDateTime modified =
        QDateTime::fromMSecsSinceEpoch(int64_t(facts.st_mtim.tv_sec) * 1000 + facts.st_mtim.tv_nsec / 1000000, Qt::UTC);
    const QByteArray info = objectInfo(name, Format::undefined, size, modified);
    requireStorage();
    const std::vector<uint32_t> response = transact(
        Operation::sendObjectInfo, {*m_storageID, parent}, [&](const Emit& emit) { emit(info); }, info.size(), {},
        QStringLiteral("copy files to it"));
    // No handle, or one that names no single object (0xFFFFFFFF is "all of
    // them"): nothing can be sent to it, and nothing is to be deleted by it.
    if (response.size() < 3 || !isObjectHandle(response[2]))
        throw MTPError::failed(QStringLiteral("The phone didn't accept the file."));
    const uint32_t handle = response[2];
    madeHere(childPath, handle, parent, false, size);

    try {
        const auto buffer = std::make_unique<char[]>(size_t(transferUnit));
        transact(
            Operation::sendObject, {},
            [&](const Emit& emit) {
                // Exactly the announced bytes: the phone counts them to find the
                // end of the object, so a file that changed meanwhile fails here
                // instead of sending it too little or too much.
                int64_t left = size;
                for (;;) {
                    const qsizetype want = left > 0 ? qsizetype(std::min<int64_t>(left, transferUnit)) : 1;
                    const qsizetype n = readSome(file.get(), buffer.get(), want, source);
                    if (n == 0) {
                        if (left > 0)
                            throw changedWhileCopying(source);
                        return;
                    }
                    if (left == 0)
                        throw changedWhileCopying(source);
                    emit(QByteArrayView(buffer.get(), n));
                    left -= n;
                    progress(n);
                }
            },
            size, {}, QStringLiteral("copy files to it"));
    } catch (...) {
        deleteQuietly(handle);
        throw;
    }
    m_handles.insert(parts(childPath).join(QLatin1Char('/')), handle);
}
