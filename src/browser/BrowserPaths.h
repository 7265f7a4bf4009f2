#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

// Names joined to folders, on the phone and on the computer (joining itself
// is paths::joined).
namespace browserpaths {

// None when the name can name an item inside a folder; else the sentence
// refusing to `verb` it ("copied", "deleted"): an empty name, ".", "..", or
// one holding "/" or NUL would, joined to a folder, name another place.
std::optional<QString> refusal(const QString& name, const QString& verb);

// A new, empty folder of the application's own; throws SystemError when it
// can't be made.
QString newPrivateFolder();

// "/sdcard/DCIM/Camera/" gives "Camera".
QString lastName(const QString& path);
// "/sdcard/DCIM/Camera" gives "/sdcard/DCIM", "/sdcard" gives "/".
QString parentOf(const QString& path);

// Whether anything is at a path on the computer, a dangling symbolic link
// included.
bool existsLocally(const QString& path);

// The most bytes a file name may hold, on the computer and on the phone.
constexpr qsizetype nameLimit = 255;
// The bytes of a name as the file system stores it.
qsizetype nameBytes(const QString& name);
// The name with whole characters cut off its end until it holds at most
// `limit` bytes.
QString cutToBytes(const QString& name, qsizetype limit);

// One file name on the computer made of text the phone sends (its name, a
// package, a version, a label) and our own `ending` (" logcat.txt"): what
// would make it another place or no name at all ("/", NUL, control
// characters), a hidden or climbing start (leading dots) and surrounding
// spaces go, and the phone's part is cut so the whole stays within
// nameLimit. Text with nothing usable left reads as `fallback`.
QString nameFromPhone(const QString& text, const QString& ending = {},
                      const QString& fallback = QStringLiteral("Phone"));

// What a name is compared by when it must not meet another: letter case
// and the composition of accented letters left out, as a phone's shared
// storage (and many a disk) treats them as one name.
QString nameKey(const QString& name);

// The hidden name beside an item under which its new copy is made before
// it takes the item's place; within the name length limit. A name of this
// copy's own is never met by another copy's clean-up: a phone may remove a
// stopped copy's file only after the next copy of the item has begun.
QString temporaryName(const QString& name, bool ownToThisCopy = false);

// Whether the name is one temporaryName() makes for a copy to the phone (a
// name of the copy's own), whatever item it was made for.
bool isWorkingName(const QString& name);

// The working names this process's copies to the phone use now, and those
// kept because a new copy could not take its name: never removed as stale,
// and a kept one still shows. Safe from any thread.
namespace workingnames {
void hold(const QString& name);
void release(const QString& name);
// The item at `path` (or a bare name) held from now on. With the phone
// (leftoverKey()) it is among records(), so it can stay kept after a restart.
void keep(const QString& path, const QString& phone = {});
// A working name no copy of this process uses or keeps: left by a copy the
// phone or the process cut short.
bool isStale(const QString& name);
// Whether a listing leaves the name out: a working name not kept.
bool isHidden(const QString& name);

// Working items (full phone paths) a stopped or failed copy could not
// remove, per phone (leftoverKey()), removed when that phone is next
// reachable. Only an item under a working name is recorded.
struct Leftover {
    QString path;
    // The item a new copy kept under its working name was to replace, when
    // the phone couldn't tell whether that item is still there: the copy
    // goes only once it is found there, else it is the person's.
    QString replacing;
};
void leave(const QString& phone, const Leftover& item);
// The phone's recorded items, no longer recorded: what can't be removed now
// is left again.
std::vector<Leftover> takeLeft(const QString& phone);
bool hasLeft(const QString& phone);
// No longer kept: the kept copy was removed.
void unkeep(const QString& name);

// What the process knows that must outlive it: the kept copies and the
// recorded working items of each phone, oldest first.
struct Kept {
    QString phone;
    QString path;
};
struct Recorded {
    QString phone;
    Leftover item;
};
struct Records {
    std::vector<Kept> kept;
    std::vector<Recorded> left;
};
Records records();
// Taken back, as from an earlier run: kept, recorded.
void restore(const Records& records);
// Moves with every change of records().
uint64_t changes();
// Whether a record read back from storage may be acted on: full phone paths
// without "." or ".." steps, the item under a working name, and the item a
// kept copy was to replace beside it, under the name its working name was
// made from. Anything else could lead a clean-up to another item.
bool isSound(const Leftover& item);

// Names the phone whose working items this thread's clean-ups record, for
// its lifetime (a copy's job): the clean-up steps reach the phone only
// through its PhoneFiles, which don't know which phone they are.
class RecordingLeftovers {
public:
    explicit RecordingLeftovers(const QString& phone);
    ~RecordingLeftovers();
    RecordingLeftovers(const RecordingLeftovers&) = delete;
    RecordingLeftovers& operator=(const RecordingLeftovers&) = delete;
    // Records the item for the phone named on this thread, if any.
    static void record(const QString& path, const QString& replacing = {});
    // Keeps the item (keep()) for the phone named on this thread.
    static void keep(const QString& path);

private:
    QString m_previous;
};
} // namespace workingnames

// Holds a working name for its lifetime.
class HeldWorkingName {
public:
    explicit HeldWorkingName(QString name) : m_name(std::move(name)) { workingnames::hold(m_name); }
    ~HeldWorkingName() { workingnames::release(m_name); }
    HeldWorkingName(const HeldWorkingName&) = delete;
    HeldWorkingName& operator=(const HeldWorkingName&) = delete;
    const QString& name() const { return m_name; }

private:
    QString m_name;
};

} // namespace browserpaths
