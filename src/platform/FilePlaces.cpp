#include "FilePlaces.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fileplaces {

bool Identity::operator==(const Identity& other) const
{
    // A disk gives birth times for all its files or for none.
    return sameFile(other) && folder == other.folder && size == other.size && modifiedSeconds == other.modifiedSeconds
           && modifiedNanoseconds == other.modifiedNanoseconds && (!born || !other.born || *born == *other.born)
           && (!generation || !other.generation || *generation == *other.generation);
}

std::optional<Identity> identityOf(const QByteArray& path)
{
    struct statx facts {};
    if (::statx(AT_FDCWD, path.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &facts) != 0)
        return std::nullopt;
    Identity identity;
    identity.device = makedev(facts.stx_dev_major, facts.stx_dev_minor);
    identity.inode = facts.stx_ino;
    identity.folder = S_ISDIR(facts.stx_mode);
    identity.size = int64_t(facts.stx_size);
    identity.modifiedSeconds = facts.stx_mtime.tv_sec;
    identity.modifiedNanoseconds = facts.stx_mtime.tv_nsec;
    if (facts.stx_mask & STATX_BTIME) {
        identity.born = std::pair<int64_t, uint32_t>(facts.stx_btime.tv_sec, facts.stx_btime.tv_nsec);
    } else if (S_ISREG(facts.stx_mode)) {
        // Never blocks, nor follows a link put there since.
        const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            unsigned int generation = 0;
            if (::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0)
                identity.generation = generation;
            ::close(fd);
        }
    }
    return identity;
}

namespace {

// The disk has no such rename: vfat, exfat, FUSE and network mounts say
// EINVAL.
bool unsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

Placing placed(QByteArray replaced = {})
{
    return {Placed::done, 0, std::move(replaced)};
}

Placing outcome(Placed result)
{
    return {result, 0, {}};
}

Placing failure(int error)
{
    return {error == EEXIST ? Placed::taken : Placed::failed, error, {}};
}

// What keeps the name when an item other than the one meant is there.
Placing keptBy(const std::optional<Identity>& there)
{
    return outcome(there && there->folder ? Placed::folderThere : Placed::taken);
}

} // namespace

Placing takeFreeName(const QByteArray& from, const QByteArray& to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return placed();
    if (!unsupported(errno))
        return failure(errno);
    // A disk without it: a link claims a name only where none is.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return placed();
    }
    if (errno == EEXIST)
        return failure(EEXIST);
    // Nor links: the name looked at just before.
    struct stat there {};
    if (::lstat(to.constData(), &there) == 0)
        return keptBy(identityOf(to));
    if (errno != ENOENT)
        return failure(errno);
    if (std::rename(from.constData(), to.constData()) != 0)
        return failure(errno);
    return placed();
}

Placing replaceFile(const QByteArray& from, const QByteArray& to, const Identity& covered,
                    const std::function<QByteArray()>& aside)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        // What had the name is at `from` now; anything but the file meant gets it back.
        const std::optional<Identity> old = identityOf(from);
        if (old && !old->folder && *old == covered)
            return placed(from);
        ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
        return keptBy(old);
    }
    if (errno == ENOENT)
        return takeFreeName(from, to);
    if (!unsupported(errno))
        return failure(errno);

    // A disk that can't exchange names: the file there is moved aside and
    // looked at again there, so that nothing that came or changed after the
    // first look is ever replaced.
    const std::optional<Identity> there = identityOf(to);
    if (!there)
        return errno == ENOENT ? takeFreeName(from, to) : failure(errno);
    if (there->folder || !(*there == covered))
        return keptBy(there);
    if (!aside)
        return failure(EINVAL);
    const QByteArray away = aside();
    // `away` is the caller's own and free.
    if (std::rename(to.constData(), away.constData()) != 0)
        return errno == ENOENT ? takeFreeName(from, to) : failure(errno);
    const std::optional<Identity> moved = identityOf(away);
    Placing result = keptBy(moved);
    if (moved && !moved->folder && *moved == covered) {
        result = takeFreeName(from, to);
        if (result.result == Placed::done)
            return placed(away);
    }
    // The item goes back to its name, unless another took it meanwhile.
    if (takeFreeName(away, to).result != Placed::done)
        return outcome(Placed::stranded);
    return result;
}

} // namespace fileplaces
