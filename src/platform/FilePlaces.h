#pragma once

// Giving a computer file its name in place of another, on any Linux disk:
// which file is which, and renames that replace only the file meant.

#include <QByteArray>

#include <cstdint>
#include <functional>
#include <optional>

namespace fileplaces {

// One file as it is: what a rename or an exchange of names leaves as it
// was and a write changes. Never the change time, which a rename sets.
struct Identity {
    uint64_t device = 0;
    uint64_t inode = 0;
    bool folder = false;
    int64_t size = 0;
    int64_t modifiedSeconds = 0;
    uint32_t modifiedNanoseconds = 0;
    // Where the disk keeps birth times: a file made in the place of a
    // removed one may get its inode.
    std::optional<std::pair<int64_t, uint32_t>> born;
    // Else the inode's generation, where the disk has one (ext4 with
    // 128-byte inodes, which keeps times to the second only).
    std::optional<uint32_t> generation;

    // The same file, whatever was written to it.
    bool sameFile(const Identity& other) const { return device == other.device && inode == other.inode; }
    // The same file, unchanged.
    bool operator==(const Identity& other) const;
};

// What is at `path`, a link as a link; none when nothing is (errno says why).
std::optional<Identity> identityOf(const QByteArray& path);

enum class Placed {
    done,        // the new file has the name
    taken,       // another item has it, and keeps it
    folderThere, // a folder has it, and keeps it
    // The item at the name was moved aside to be looked at, and another came
    // to the name meanwhile: it is still at the aside path, for the caller
    // to keep and name.
    stranded,
    failed, // the system's error
};

struct Placing {
    Placed result = Placed::failed;
    int error = 0; // failed: the system's errno
    // done: where the file replaced now is, for the caller to remove;
    // empty where none was replaced.
    QByteArray replaced;
};

// Gives `to` the item at `from` only while nothing holds that name.
Placing takeFreeName(const QByteArray& from, const QByteArray& to);

// Gives `to` the file at `from` in place of `covered`, only while `covered`
// is there as it was; anything else there (another file, one written to
// since, a folder, even the one `covered` stands for) keeps the name, and with nothing there the name is
// taken only while free. `aside` gives a free path of the caller's own on
// the same disk, asked for only where the disk can't exchange two names
// (vfat, exfat, many FUSE and network mounts): the file at `to` is moved
// there to be looked at; without `aside` such a disk fails with EINVAL.
Placing replaceFile(const QByteArray& from, const QByteArray& to, const Identity& covered,
                    const std::function<QByteArray()>& aside = {});

} // namespace fileplaces
