#pragma once

#include "FilePlaces.h"
#include "ProcessIdentity.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
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

// Where a phone item handed to other programs is staged inside `folder`:
// under its name as a person reads it (U+FFFD for each byte that isn't
// text), since other programs take items by URLs of text. Such a name goes
// into a new private folder of its own, as its shown form may be another
// item's name.
QString stagedPath(const QString& folder, const QString& name);

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
// it takes the item's place: ".NAME.<owner>-<copy>.vantelorquist-copy",
// NAME cut so the whole fits every transport (nameLimit bytes, and the 254
// UTF-16 units an MTP string carries). Own to this copy: with the owner
// mark (workingnames::ownerMark()) and a fresh copy id, so no other copy,
// of this process or another, ever makes or removes it. Else the fixed
// ".NAME.vantelorquist-copy" earlier versions made.
QString temporaryName(const QString& name, bool ownToThisCopy = false);
// The same with the mark of another owner.
QString temporaryName(const QString& name, const QString& mark);
// The most UTF-16 units a name may hold: what an MTP string carries.
constexpr qsizetype nameUnits = 254;

// Whether the name is one temporaryName() makes for a copy of its own,
// whatever item it was made for and whoever made it (earlier versions made
// them without an owner mark).
bool isWorkingName(const QString& name);

// Working names: whose they are, which this process's copies use now,
// which are kept, and the records of working items that outlive the
// process. Safe from any thread.
namespace workingnames {
// The mark of this computer and person: a hash of the machine's id (or its
// name), the user and `owner` (the settings file: one running process per
// settings file). Set once the settings are known.
void setOwner(const QString& owner);
QString ownerMark();
QString markFor(const QString& owner);
// The owner mark a working name carries; empty for none (an earlier
// version's name, or no working name).
QString ownerOf(const QString& name);
// A working name carrying this process's mark: no other running process
// makes or uses it.
bool isOurs(const QString& name);

void hold(const QString& name);
void release(const QString& name);
bool isHeld(const QString& name);
// The item at `path` (or a bare name) held from now on. With the phone
// (leftoverKey()) it is among records(), so it can stay kept after a restart.
void keep(const QString& path, const QString& phone = {});
// A working item (full phone path) our records hold, whose maker is
// provably gone (or is this process and no copy of it uses the item), not
// kept: left by a copy the phone or a process cut short. One we hold no
// record of is never stale, whoever's mark it carries.
bool isStale(const QString& path);
// Whether a listing leaves the name out: a working name not kept, of
// whichever owner.
bool isHidden(const QString& name);

// Working items (full phone paths) recorded before they are made and until
// they are known gone, per phone (leftoverKey()); what a stopped, failed or
// killed copy left is removed when that phone is next reachable. Only an
// item under a working name is recorded.
struct Leftover {
    QString path;
    // The item a new copy kept under its working name was to replace, when
    // the phone couldn't tell whether that item is still there: the copy
    // goes only once it is found there, else it is the person's.
    QString replacing;
};
void leave(const QString& phone, const Leftover& item);
// No longer recorded: the item is gone, or took its place.
void forget(const QString& phone, const QString& path);
// The process a record names as its maker. A record is acted on only once
// that process is provably no longer running (this process: once no copy
// of it uses the item); one without a maker (an earlier version's) only
// when it carries our mark or none.
ProcessIdentity thisMaker();
bool makerGone(const ProcessIdentity& maker, const QString& name);
// The phone's recorded items, no longer recorded.
std::vector<Leftover> takeLeft(const QString& phone);
// Whether a removal pass has work on the phone: a record of ours (or of an
// earlier version) no copy of this process uses now.
bool hasLeft(const QString& phone);
// The phone's records a removal pass may act on (see hasLeft()); they stay
// recorded meanwhile, so a crash keeps them. endRemoval() drops those not
// `still` to be removed later.
std::vector<Leftover> beginRemoval(const QString& phone);
void endRemoval(const QString& phone, const std::vector<Leftover>& still);
// No longer kept: the kept copy was removed.
void unkeep(const QString& name);

// Working items of copies to the computer (full paths), recorded before
// they are made and until they are gone: what a killed process left is
// removed at the next start (removeLocalLeftovers()).
void recordLocal(const QString& path);
void forgetLocal(const QString& path);
// Forgets the record only when the item provably is not there: its folder
// is, and nothing is at its name. A folder away (a drive unmounted or
// unplugged) proves nothing. Whether it was forgotten.
bool forgetLocalIfGone(const QString& path);
// Whether a computer item is provably not there (see forgetLocalIfGone()).
bool goneLocally(const QString& path);
// A file of the person's about to be moved to the working item `path` (on
// a disk that can't exchange two names, while a copy replaces it): a record
// of its own kind, stored before the move, so that a killed process's is
// given back to `name` at the next start, never removed. `ours`: the new
// copy that is to take the name, which a giving back may replace.
void recordGiveBack(const QString& path, const QString& name, const std::optional<fileplaces::Identity>& ours);

// What the process knows that must outlive it: the kept copies and the
// recorded working items of each phone, oldest first, and those of the
// computer.
struct Kept {
    QString phone;
    QString path;
};
struct Recorded {
    QString phone;
    Leftover item;
    ProcessIdentity maker;
};
struct GiveBack {
    QString name; // full path
    std::optional<fileplaces::Identity> ours;
    bool operator==(const GiveBack&) const = default;
};
struct LocalRecord {
    QString path;
    ProcessIdentity maker;
    // The person's file, to be given back; none: a working item of ours.
    std::optional<GiveBack> giveBack = std::nullopt;
    bool operator==(const LocalRecord&) const = default;
};
struct Records {
    std::vector<Kept> kept;
    std::vector<Recorded> left;
    std::vector<LocalRecord> local;
};
Records records();
// The computer's recorded paths.
std::vector<QString> localPaths();
// `ours` and, of `stored` (what another process on the same settings may
// have written meanwhile), the records of other makers that `ours` lacks
// and this process didn't drop: a write keeps what another process recorded.
Records withOthers(const Records& ours, const Records& stored);
// Taken back, as from an earlier run: kept, recorded.
void restore(const Records& records);
// Moves with every change of records().
uint64_t changes();
// Whether a record read back from storage may be acted on: full phone paths
// without "." or ".." steps, the item under a working name, and the item a
// kept copy was to replace beside it, under the name its working name was
// made from. Anything else could lead a clean-up to another item.
bool isSound(const Leftover& item);
// The same for a computer path: absolute, no "." or ".." step, the item
// under a working name with an owner mark (any: the settings, and with them
// the mark, may have moved since).
bool isSoundLocal(const QString& path);
// The same for a file to give back: its name beside it, the one its working
// name was made from.
bool isSoundGiveBack(const QString& path, const QString& name);

// Where records() go so that they outlive a crash: set by whoever holds the
// settings; `token` (from setStore()) ends it only while it is the one set.
uint64_t setStore(std::function<void(const Records&)> write);
void endStore(uint64_t token);
// Writes records() now, in order with every other write.
void store();

// Removes the computer's recorded working items whose maker is gone (or is
// this process, no copy of it using them): each only while it still looks
// as a copy made it (a working name, a file or folder, not a link; nothing
// inside followed), then no longer recorded; one whose folder is away
// stays recorded. A file to give back goes back to its name when that is
// free or holds only the new copy recorded with it, else stays where it is
// and is told of. Blocking; local disk only. What the person is to be told.
QStringList removeLocalLeftovers(const std::vector<LocalRecord>& recorded);
// The computer's records removeLocalLeftovers() would act on now.
std::vector<LocalRecord> localLeft();

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
    // Records it and stores the record before the item is made.
    static void recordMaking(const QString& path);
    // The item is gone, or took its place.
    static void forget(const QString& path);
    // Keeps the item (keep()) for the phone named on this thread, stored at once.
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
