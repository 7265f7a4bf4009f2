#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "CopyParts.h"
#include "Paths.h"
#include "Error.h"
#include "FilePlaces.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <set>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <dirent.h>

using browserpaths::nameKey;
using paths::joined;
using paths::localSize;

using namespace copyparts;
using browserpaths::lastName;
using browserpaths::parentOf;

namespace {

// By bytes: QDir can't name an item whose name isn't text, so a working
// folder holding one would stay.
bool removeLocally(const QString& path)
{
    return paths::removeLocalTree(path);
}

// What is at a computer path, links not followed: a link, to whatever it
// leads, is a file here, replaced as one and never merged into.
enum class Local { nothing, file, folder };

Local localKind(const QString& path)
{
    switch (paths::kindOf(path)) {
    case paths::Kind::nothing: return Local::nothing;
    case paths::Kind::folder: return Local::folder;
    default: return Local::file;
    }
}

// Removes the files a copy replaced, on threads of its own: on ext4 each
// costs about 100 µs to free, which then overlaps the transfer and each
// other. Without a thread, each goes at once.
class Discards {
public:
    Discards()
    {
        for (int count = 0; count < 3; ++count) {
            try {
                m_threads.push_back(WorkerPool::shared().ownThread([this] { run(); }));
            } catch (...) {
                break;
            }
        }
    }
    ~Discards() { finish(); }
    Discards(const Discards&) = delete;
    Discards& operator=(const Discards&) = delete;

    void add(QByteArray path)
    {
        if (m_threads.empty()) {
            ::unlink(path.constData());
            return;
        }
        {
            const std::lock_guard guard(m_lock);
            m_paths.push_back(std::move(path));
        }
        m_wake.notify_one();
    }

    // Waits until every file handed over is gone.
    void finish()
    {
        {
            const std::lock_guard guard(m_lock);
            m_ending = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads)
            thread.join();
        m_threads.clear();
    }

private:
    void run()
    {
        std::unique_lock guard(m_lock);
        for (;;) {
            m_wake.wait(guard, [this] { return m_ending || !m_paths.empty(); });
            if (m_paths.empty())
                return;
            const QByteArray path = std::move(m_paths.front());
            m_paths.pop_front();
            guard.unlock();
            ::unlink(path.constData());
            guard.lock();
        }
    }

    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<QByteArray> m_paths;
    bool m_ending = false;
    std::vector<std::thread> m_threads;
};

using fileplaces::Identity;
using fileplaces::identityOf;
using fileplaces::Placed;
using fileplaces::Placing;

// The copy of a computer item whose name something took after the copy
// had looked (another program, another copy): never overwritten unasked.
LeftOutError cameMeanwhile(const QString& name)
{
    return LeftOutError(quoted(name)
                       + QStringLiteral(" wasn't copied: an item of that name came into the folder meanwhile."));
}

// A working item of this copy's own beside `target`: our mark and a fresh
// copy id, so nothing another copy (of ours or another process's) uses is
// ever at it; recorded before it is made, so that a killed process's is
// removed at the next start. Until it is gone it stays held, and recorded.
class LocalWorkingItem {
public:
    // The place the person's own file waits in while it is looked at.
    struct ForPersonsFile {
        // The new copy to take its name, as it is now.
        std::optional<Identity> newCopy;
    };

    explicit LocalWorkingItem(const QString& target) : LocalWorkingItem(target, std::nullopt) {}
    // Recorded as the person's, to give back: a killed run's goes back to
    // its name at the next start rather than stay hidden or be removed.
    LocalWorkingItem(const QString& target, const ForPersonsFile& aside) : LocalWorkingItem(target, std::optional(aside)) {}
    // What this copy made there goes; no longer recorded once gone.
    ~LocalWorkingItem()
    {
        if (!m_kept)
            removeLocally(m_path);
        // Its folder away (a drive gone) keeps the record for later.
        if (m_kept)
            browserpaths::workingnames::forgetLocal(m_path);
        else
            browserpaths::workingnames::forgetLocalIfGone(m_path);
    }
    LocalWorkingItem(const LocalWorkingItem&) = delete;
    LocalWorkingItem& operator=(const LocalWorkingItem&) = delete;
    const QString& path() const { return m_path; }
    const QString& name() const { return m_name.name(); }
    // What is there now is the person's: it stays, and is no longer ours to remove.
    void keep() { m_kept = true; }

private:
    LocalWorkingItem(const QString& target, const std::optional<ForPersonsFile>& aside)
        : m_name(browserpaths::temporaryName(lastName(target), true)), m_path(joined(parentOf(target), m_name.name()))
    {
        // Not made by this copy, so never removed by it.
        if (browserpaths::existsLocally(m_path))
            throw LeftOutError(quoted(lastName(target)) + QStringLiteral(" wasn't copied: its working name is taken."));
        if (aside)
            browserpaths::workingnames::recordGiveBack(m_path, target, aside->newCopy);
        else
            browserpaths::workingnames::recordLocal(m_path);
    }

    browserpaths::HeldWorkingName m_name;
    QString m_path;
    bool m_kept = false;
};

// Gives `target` the file at `from`: in place of `covered` (the file there
// the person's answer covers) only while it is there unchanged, else only
// while the name is free. A file replaced goes, to `discards` if given:
// ext4 writes a file renamed over another back to the disk at once, which
// made replacing many small files cost several times their transfer.
void putInPlace(const QString& from, const QString& target, const std::optional<Identity>& covered,
                Discards* discards = nullptr)
{
    const QByteArray source = paths::bytes(from);
    const QByteArray name = paths::bytes(target);
    // Only on a disk that can't exchange two names: the old file waits there
    // while it is looked at.
    std::optional<LocalWorkingItem> aside;
    const Placing placing = covered ? fileplaces::replaceFile(source, name, *covered,
                                                              [&] {
                                                                  aside.emplace(target, LocalWorkingItem::ForPersonsFile{
                                                                                            identityOf(source)});
                                                                  return paths::bytes(aside->path());
                                                              })
                                    : fileplaces::takeFreeName(source, name);
    switch (placing.result) {
    case Placed::done:
        // One set aside goes with its working name.
        if (!placing.replaced.isEmpty() && !aside) {
            if (discards)
                discards->add(placing.replaced);
            else
                ::unlink(placing.replaced.constData());
        }
        return;
    case Placed::taken: throw cameMeanwhile(lastName(target));
    case Placed::folderThere: throw inTheWay(lastName(target), true);
    case Placed::stranded:
        aside->keep();
        // Left out as any clash is: the copy goes on, and its account names it.
        throw LeftOutError(quoted(lastName(target))
                           + QStringLiteral(" wasn't copied: an item of that name came into the folder meanwhile. "
                                            "The file that was there is in ")
                           + paths::shown(parentOf(target)) + QStringLiteral(" as the hidden item ")
                           + quoted(aside->name()) + QStringLiteral("."));
    case Placed::failed: break;
    }
    throw SystemError::fromErrno(QStringLiteral("Couldn't put the copy of ") + quoted(lastName(target))
                                     + QStringLiteral(" in its place"),
                                 placing.error);
}

// One phone file to `target`: copied under a hidden name beside it and put
// in place only once whole, so a file it replaces stays as it was until then
// and a stopped or failed copy leaves nothing under the name. `covered`:
// the file at `target` the person's answer covers.
void receiveFile(PhoneFiles& phone, const QString& from, const QString& target,
                 const std::optional<Identity>& covered, const Progress& progress, const Cancel& cancel)
{
    if (localKind(target) == Local::folder)
        throw inTheWay(lastName(target), true);
    LocalWorkingItem working(target);
    try {
        phone.pull(from, working.path(), progress, cancel);
    } catch (const NoThreadError&) {
        throw;
    } catch (const SystemError& error) {
        // The computer's own failure names our hidden working item, or the
        // transport's partial file beside it; the person knows the item by
        // its name, as adb's failures say it.
        if (error.errorNumber() != 0)
            throw SystemError::fromErrno(QStringLiteral("Copying ") + quoted(lastName(target)) + QStringLiteral(" failed"),
                                         error.errorNumber());
        if (!error.description().contains(working.path()))
            throw;
        throw SystemError(QString(error.description()).replace(working.path(), target), error.errorNumber());
    }
    putInPlace(working.path(), target, covered);
}

void makeLocalFolder(const QString& path)
{
    switch (localKind(path)) {
    case Local::folder:
        return;
    case Local::file:
        throw inTheWay(lastName(path), false);
    case Local::nothing:
        break;
    }
    if (::mkdir(paths::bytes(path).constData(), 0777) != 0)
        throw SystemError::fromErrno(QStringLiteral("Couldn't create the folder ") + quoted(lastName(path)), errno);
}

struct PhoneItem {
    QString relative;
    bool isFolder;
    int64_t size;
    int64_t modified; // seconds since 1970; -1 when not known
    // The file of that name the target held when the person answered,
    // which the answer covers; anything else there later stays.
    std::optional<Identity> covered;
    // Left out, or below a folder left out: the copy goes on without it.
    bool leftOut = false;
    // In its place on the computer: a whole file, or a folder made.
    bool done = false;
    // Its failure ended the copy, and names it.
    bool ended = false;
};

// Leaves out the item at `index` of a folder's copy, and all below it,
// into the copy's account: the rest goes on.
void leaveOut(std::vector<PhoneItem>& items, size_t index, const QString& sentence, CopyAccount& account)
{
    const QString below = items[index].relative + QLatin1Char('/');
    items[index].leftOut = true;
    for (size_t next = index + 1; next < items.size() && items[next].relative.startsWith(below); ++next)
        items[next].leftOut = true;
    account.leftOut(lastName(items[index].relative), sentence);
}

// The sentence of a failure that is the item's own, naming it. A name the
// computer's disk can't hold says so: the system's words ("Invalid
// argument") don't.
QString itemSentence(const QString& name, const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const LeftOutError& left) {
        return left.description();
    } catch (...) {
    }
    switch (errorNumberOf(error)) {
    case ENAMETOOLONG:
        return quoted(name) + QStringLiteral(" wasn't copied: its name is too long for the computer's disk.");
    case EILSEQ:
    case EINVAL:
        return quoted(name) + QStringLiteral(" wasn't copied: the computer's disk can't hold its name.");
    default:
        break;
    }
    const QString text = failureText(error).value_or(QString());
    return text.contains(quoted(name)) ? text : quoted(name) + QStringLiteral(" wasn't copied: ") + text;
}

// The failure being handled, met at the item at `index` of a folder's copy:
// the item's own leaves out that item and what it holds, and the copy goes
// on; any other ends the copy, and is thrown on.
void leaveOutOrEnd(std::vector<PhoneItem>& items, size_t index, CopyAccount& account)
{
    const std::exception_ptr error = std::current_exception();
    if (reachOf(error) == Reach::copy) {
        // A folder's files are counted, or its pull's words name the one.
        items[index].ended = !items[index].isFolder;
        std::rethrow_exception(error);
    }
    leaveOut(items, index, itemSentence(lastName(items[index].relative), error), account);
}

// After a failure that ended the copy (`failure` says it): every item of the
// folder it never came to is counted, each file and each empty folder; a
// folder's files stand for it.
void countNotReached(const std::vector<PhoneItem>& items, const QString& failure, CopyAccount& account)
{
    // The item whose failure it was is told by it; where the transport's
    // words name it, by them.
    bool named = std::any_of(items.begin(), items.end(), [](const PhoneItem& item) { return item.ended; });
    for (size_t index = 0; index < items.size(); ++index) {
        const PhoneItem& item = items[index];
        // A failure that names no item ("The phone was disconnected.") is
        // told as the failure of the item it ended.
        if (item.ended && !failure.contains(QStringLiteral("“")))
            account.failedInside(lastName(item.relative), failure);
        if (item.leftOut || item.done || item.ended)
            continue;
        if (item.isFolder && index + 1 < items.size()
            && items[index + 1].relative.startsWith(item.relative + QLatin1Char('/')))
            continue;
        if (!named && failure.contains(quoted(lastName(item.relative)))) {
            named = true;
            continue;
        }
        account.notReached(lastName(item.relative));
    }
}

LeftOutError takenForOne(const QString& item, const QString& other)
{
    return LeftOutError(quoted(lastName(item)) + QStringLiteral(" wasn't copied: the computer's disk takes its name and ")
                        + quoted(lastName(other)) + QStringLiteral(" for one."));
}

// Deeper than this is a folder linked into itself.
constexpr int deepest = 100;

// The items below a phone folder, each folder before what it holds.
void collect(PhoneFiles& phone, const QString& root, const QString& relative, int depth, std::vector<PhoneItem>& items,
             const Cancel& cancel)
{
    if (depth > deepest)
        throw SystemError(quoted(lastName(root)) + QStringLiteral(" holds folders too deep to copy."));
    for (const RemoteEntry& entry : phone.listAll(relative.isEmpty() ? root : joined(root, relative), cancel)) {
        // A name from the phone must not lead out of the folder it is copied to.
        if (const std::optional<QString> text = browserpaths::refusal(entry.name, QStringLiteral("copied")))
            throw SystemError(*text);
        const QString path = relative.isEmpty() ? entry.name : relative + QLatin1Char('/') + entry.name;
        items.push_back({path, entry.isDirectory, entry.isDirectory ? 0 : std::max<int64_t>(entry.size, 0),
                         entry.modified.isValid() ? entry.modified.toSecsSinceEpoch() : -1});
        if (entry.isDirectory)
            collect(phone, root, path, depth + 1, items, cancel);
    }
}

// The files below a computer folder as they are when the person answers,
// each as it is then: what the answer covers. Found again by the file the
// disk finds at a name, not by the name's bytes: on a disk that ignores
// letter case the phone's "IMG_1.JPG" is the computer's "img_1.jpg". A link
// is a file here and never followed.
struct FileKey {
    uint64_t device;
    uint64_t inode;
    friend bool operator==(const FileKey&, const FileKey&) = default;
};

struct FileKeyHash {
    size_t operator()(const FileKey& key) const { return std::hash<uint64_t>()(key.inode * 31 + key.device); }
};

using LocalFiles = std::unordered_map<FileKey, Identity, FileKeyHash>;

// What a merge's answer covers, looked at when the person answered: each
// file by the file the disk finds at its listed name, and by that name's
// key (nameKey() of its path below the folder).
struct AnsweredFiles {
    struct Listed {
        QByteArray path;
        QString relative;
        Identity identity;
    };
    LocalFiles byFile;
    std::vector<Listed> listed;

    // The files listed under names alike to the key. Keyed only once asked:
    // most copies find every file by its number, and a key per file costs.
    const std::vector<Listed>* alike(const QString& key) const
    {
        if (!m_byKey) {
            m_byKey.emplace();
            for (const Listed& file : listed)
                (*m_byKey)[nameKey(file.relative)].push_back(file);
        }
        const auto found = m_byKey->constFind(key);
        return found == m_byKey->constEnd() ? nullptr : &*found;
    }

private:
    mutable std::optional<QHash<QString, std::vector<Listed>>> m_byKey;
};

void filesBelow(const QByteArray& folder, const QString& relative, int depth, AnsweredFiles& files)
{
    if (depth > deepest)
        return;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        const QString below = relative.isEmpty() ? paths::text(name) : relative + QLatin1Char('/') + paths::text(name);
        const std::optional<Identity> identity = identityOf(path);
        if (!identity)
            continue;
        if (identity->folder) {
            filesBelow(path, below, depth + 1, files);
        } else {
            files.byFile.insert_or_assign(FileKey{identity->device, identity->inode}, *identity);
            files.listed.push_back({path, below, *identity});
        }
    }
    ::closedir(dir);
}

AnsweredFiles filesBelow(const QString& folder)
{
    AnsweredFiles files;
    filesBelow(paths::bytes(folder), {}, 0, files);
    return files;
}

// Whether a folder lists an entry of exactly this name.
class Listings {
public:
    bool lists(const QByteArray& folder, const QByteArray& name)
    {
        auto found = m_names.find(folder);
        if (found == m_names.end()) {
            QSet<QByteArray> names;
            if (DIR* dir = ::opendir(folder.constData())) {
                while (const dirent* entry = ::readdir(dir))
                    names.insert(QByteArray(entry->d_name));
                ::closedir(dir);
            }
            found = m_names.insert(folder, names);
        }
        return found->contains(name);
    }

private:
    QHash<QByteArray, QSet<QByteArray>> m_names;
};

// The same content as it was: what a rename keeps, the file's number aside.
bool sameState(const Identity& one, const Identity& other)
{
    Identity renumbered = other;
    renumbered.device = one.device;
    renumbered.inode = one.inode;
    return one == renumbered;
}

// The file the answer covers at `relative` below `target`, found at the
// spelling the copy will write. Most disks give a file one number however
// its name is spelled; a FUSE disk that ignores letter case may number its
// nodes per spelling looked up (exfat-fuse: "img_1.jpg" 2, "IMG_1.JPG" 3).
// There the file found is the answered one when the folder lists no entry
// of that spelling (so the disk took it for another), exactly one answered
// file has a name alike, that file is still as answered, and what is found
// is in the same state.
// `found`: what is at that path now.
std::optional<Identity> coveredAt(const QByteArray& path, const QString& relative, const Identity& found,
                                  const AnsweredFiles& answered, Listings& listings)
{
    if (found.folder)
        return std::nullopt;
    if (const auto known = answered.byFile.find(FileKey{found.device, found.inode}); known != answered.byFile.end())
        return known->second;
    const std::vector<AnsweredFiles::Listed>* alike = answered.alike(nameKey(relative));
    if (!alike || alike->size() != 1)
        return std::nullopt;
    const qsizetype slash = path.lastIndexOf('/');
    if (listings.lists(path.left(slash), path.mid(slash + 1)))
        return std::nullopt;
    const AnsweredFiles::Listed& listed = alike->front();
    const std::optional<Identity> now = identityOf(listed.path);
    if (!now || !(*now == listed.identity) || !sameState(found, listed.identity))
        return std::nullopt;
    return found;
}

// What a merge into the computer folder `target` looks at before any file
// takes its place there: `answered`, what the folder held when the person
// answered.
struct Merging {
    QString target;
    const AnsweredFiles& answered;
    CopyAccount& account;
};

// Whether the copy of a folder to `target` merges into one there, which
// checkPlaces() then looks at: only where the answer covers the folder
// there (`answered`, none where it covers none).
bool mergesInto(const QString& target, const AnsweredFiles* answered)
{
    const Local top = localKind(target);
    if (top == Local::file)
        throw inTheWay(lastName(target), false);
    if (top == Local::nothing)
        return false;
    if (!answered)
        throw cameMeanwhile(lastName(target));
    return true;
}

// A file where a folder of the copy goes, or a folder where a file goes,
// anywhere in the merge: found before any file takes its place, each left
// out with what it holds. Notes which files are there to replace. What it
// finds needn't be as the person answered: a file is replaced only while
// it is as answered, which its placing checks.
void checkPlaces(const Merging& merging, std::vector<PhoneItem>& items)
{
    const QString& target = merging.target;
    const AnsweredFiles* answered = &merging.answered;
    CopyAccount& account = merging.account;
    Listings listings;
    for (size_t index = 0; index < items.size(); ++index) {
        PhoneItem& item = items[index];
        if (item.leftOut)
            continue;
        // One look tells the kind and, for a file, which file it is.
        const QByteArray path = paths::bytes(joined(target, item.relative));
        const std::optional<Identity> found = identityOf(path);
        const Local there = !found ? Local::nothing : found->folder ? Local::folder : Local::file;
        if (item.isFolder ? there == Local::file : there == Local::folder) {
            leaveOut(items, index, inTheWay(lastName(item.relative), there == Local::folder).description(), account);
            continue;
        }
        if (item.isFolder || there != Local::file)
            continue;
        // As it was when answered for: one written to since is found so
        // as it is put in place, and stays.
        item.covered = coveredAt(path, item.relative, *found, *answered, listings);
    }
}

// The part of a whole-folder copy's progress that is the pull; the rest
// moves with the files put in place, which takes a while where each
// replaces a file already on the disk.
constexpr double pullShare = 0.95;

// Files of the pull that the disk took for one, as one that ignores letter
// case takes "IMG_1.JPG" and "img_1.jpg": one file arrived for them, with
// either's bytes, so none of them is put in place; each is named.
void leaveOutTakenForOne(const QString& work, std::vector<PhoneItem>& items, CopyAccount& account)
{
    std::unordered_map<FileKey, size_t, FileKeyHash> first;
    std::vector<std::pair<size_t, size_t>> alike; // an item, and the first it was taken for
    for (size_t index = 0; index < items.size(); ++index) {
        const PhoneItem& item = items[index];
        if (item.isFolder || item.leftOut || item.done)
            continue;
        struct stat arrived {};
        if (::lstat(paths::bytes(joined(work, item.relative)).constData(), &arrived) != 0)
            continue;
        const auto [known, added] = first.try_emplace(FileKey{uint64_t(arrived.st_dev), uint64_t(arrived.st_ino)}, index);
        if (!added)
            alike.emplace_back(index, known->second);
    }
    std::set<size_t> firsts;
    for (const auto& [index, earlier] : alike) {
        if (firsts.insert(earlier).second)
            leaveOut(items, earlier, takenForOne(items[earlier].relative, items[index].relative).description(), account);
        leaveOut(items, index, takenForOne(items[index].relative, items[earlier].relative).description(), account);
    }
}

// Puts what arrived in the working folder `work` in its place under
// `target`, each folder made as it arrived. After a whole pull every file
// there is complete; after a stopped or failed one only a file of the listed
// size and time is known to be (adb sets the time once a file is whole), and
// the rest is left to go with the working folder.
// Items marked done took their places during the pull already. A file the
// whole pull didn't bring is left out and named.
void settle(const QString& work, const QString& target, std::vector<PhoneItem>& items, bool pullEnded,
            Discards& discards, CopyAccount& account, const Progress& progress = {})
{
    if (localKind(work) != Local::folder)
        return;
    leaveOutTakenForOne(work, items, account);
    makeLocalFolder(target);
    const double count = double(std::max<size_t>(items.size(), 1));
    double seen = 0;
    for (size_t index = 0; index < items.size(); ++index) {
        PhoneItem& item = items[index];
        if (progress)
            progress(pullShare + (1 - pullShare) * (seen++ / count));
        if (item.leftOut || item.done)
            continue;
        const QString from = joined(work, item.relative);
        struct stat arrived {};
        const bool there = ::lstat(paths::bytes(from).constData(), &arrived) == 0;
        if (pullEnded && !item.isFolder && (!there || !S_ISREG(arrived.st_mode))) {
            leaveOut(items, index, quoted(lastName(item.relative)) + QStringLiteral(" wasn't copied: it didn't arrive from the phone."),
                     account);
            continue;
        }
        if (!there)
            continue;
        const QString to = joined(target, item.relative);
        try {
            if (item.isFolder) {
                if (S_ISDIR(arrived.st_mode)) {
                    makeLocalFolder(to);
                    item.done = true;
                }
                continue;
            }
            if (!S_ISREG(arrived.st_mode))
                continue;
            if (!pullEnded && (arrived.st_size != item.size || arrived.st_mtime != item.modified))
                continue;
            if (localKind(to) == Local::folder)
                throw inTheWay(lastName(to), true);
            putInPlace(from, to, item.covered, &discards);
            item.done = true;
        } catch (...) {
            // Only this item, and what it holds, stays out; it goes with the working folder.
            leaveOutOrEnd(items, index, account);
        }
    }
}

// Puts pulled files in their places while the pull goes on, so that the
// work of the renames (freeing each file replaced) overlaps the transfer
// instead of following it. A file goes once adb is done with it: of the
// listed size and time (adb sets the time once the file is written; a time
// close to now could be a file's still being written, so such files wait for
// the pull's end), and with a file made after it in the working folder, as
// adb makes the next file only once it has set this one's time and mode.
// Where the disk keeps no birth times, everything waits for the pull's end.
// It tells the pull's progress from what has arrived.
class SettleWhilePulling {
public:
    // `progress` hears what share of the files' bytes has arrived: adb then
    // needn't print its own on a terminal, which slows a pull of many files.
    // With `merging`, the items' places in the folder merged into are
    // looked at first (checkPlaces()), beside the pull's start rather than
    // before it; nothing takes its place before that is done.
    SettleWhilePulling(QString work, QString target, std::vector<PhoneItem>& items, Discards& discards,
                       Progress progress, const Merging* merging)
        : m_work(std::move(work)), m_target(std::move(target)), m_items(items), m_placed(items.size(), false),
          m_discards(discards), m_progress(std::move(progress))
    {
        if (std::all_of(items.begin(), items.end(), [](const PhoneItem& item) { return item.isFolder || item.leftOut; })) {
            if (merging)
                checkPlaces(*merging, items);
            return;
        }
        try {
            m_thread = WorkerPool::shared().ownThread(
                [this, merging = merging ? std::optional<Merging>(*merging) : std::nullopt] { run(merging); });
        } catch (...) {
            // No thread: all of it at the pull's end.
            if (merging)
                checkPlaces(*merging, items);
        }
    }
    // Whether it looks at the pull as it goes, and tells its progress.
    bool watches() const { return m_thread.joinable(); }
    // What ended the look at the places, whose items then are not known
    // to be free to take their places.
    std::exception_ptr checkFailure() const { return m_checkFailure; }
    ~SettleWhilePulling() { finish(); }
    SettleWhilePulling(const SettleWhilePulling&) = delete;
    SettleWhilePulling& operator=(const SettleWhilePulling&) = delete;

    // Ends the settling; which items took their places.
    const std::vector<bool>& finish()
    {
        {
            const std::lock_guard guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
        return m_placed;
    }

private:
    using Moment = std::pair<int64_t, uint32_t>; // seconds, nanoseconds

    void run(const std::optional<Merging>& merging)
    {
        // Whatever stops the settling, the places are looked at in full:
        // the pull's end settles what arrived by them.
        if (merging) {
            try {
                checkPlaces(*merging, m_items);
            } catch (...) {
                m_checkFailure = std::current_exception();
                return;
            }
        }
        m_sources.resize(m_items.size());
        m_folderOf.resize(m_items.size());
        std::unordered_map<QByteArray, size_t> folders;
        for (size_t index = 0; index < m_items.size(); ++index) {
            if (!m_items[index].isFolder && !m_items[index].leftOut) {
                m_pending.push_back(index);
                m_sources[index] = paths::bytes(joined(m_work, m_items[index].relative));
                const qsizetype slash = m_sources[index].lastIndexOf('/');
                const auto [folder, added] = folders.try_emplace(m_sources[index].left(slash), m_folders.size());
                if (added)
                    m_folders.push_back(folder->first);
                m_folderOf[index] = folder->second;
                m_total += m_items[index].size + 1; // an empty file counts too
            }
        }
        std::unique_lock guard(m_lock);
        while (!m_stop && !m_pending.empty()) {
            guard.unlock();
            const auto began = std::chrono::steady_clock::now();
            pass();
            // A look at many files costs: the transfer keeps most of the time.
            const auto spent = std::chrono::steady_clock::now() - began;
            guard.lock();
            m_wake.wait_for(guard, std::max<std::chrono::steady_clock::duration>(std::chrono::milliseconds(40), 4 * spent),
                            [this] { return m_stop; });
        }
    }

    bool stopped()
    {
        const std::lock_guard guard(m_lock);
        return m_stop;
    }

    // One look at every file still pending.
    void pass()
    {
        const int64_t now = QDateTime::currentSecsSinceEpoch();
        struct Whole {
            size_t index;
            Moment born;
        };
        std::vector<Whole> whole;
        std::vector<size_t> still;
        Moment latest{0, 0};
        int64_t arrived = m_settled;
        // Only a name its folder lists is looked at: a look at a name not
        // there yet waits on the folder's lock, which each file adb makes there
        // holds, and most files of a large pull are not there for most passes.
        std::vector<std::optional<std::unordered_set<QByteArray>>> listed(m_folders.size());
        for (const size_t index : m_pending) {
            const PhoneItem& item = m_items[index];
            const QByteArray& folder = m_folders[m_folderOf[index]];
            std::optional<std::unordered_set<QByteArray>>& names = listed[m_folderOf[index]];
            if (!names)
                names = namesIn(folder);
            const QByteArray& source = m_sources[index];
            const QByteArray name = QByteArray::fromRawData(source.constData() + folder.size() + 1,
                                                            source.size() - folder.size() - 1);
            struct statx facts {};
            if (!names->contains(name)
                || ::statx(AT_FDCWD, source.constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &facts)
                       != 0) {
                still.push_back(index);
                continue;
            }
            arrived += std::clamp<int64_t>(int64_t(facts.stx_size), 0, item.size) + 1;
            // Without birth times, or after a file couldn't take its place,
            // only the progress is told.
            m_placing = m_placing && (facts.stx_mask & STATX_BTIME);
            const Moment born{facts.stx_btime.tv_sec, facts.stx_btime.tv_nsec};
            latest = std::max(latest, born);
            if (m_placing && item.modified >= 0 && S_ISREG(facts.stx_mode) && int64_t(facts.stx_size) == item.size
                && facts.stx_mtime.tv_sec == item.modified && std::llabs(item.modified - now) >= 3)
                whole.push_back({index, born});
            else
                still.push_back(index);
        }
        if (m_progress && arrived > m_told) {
            m_told = arrived;
            m_progress(double(arrived) / double(std::max<int64_t>(m_total, 1)));
        }
        for (const Whole& file : whole) {
            // The newest files may still have their mode to come.
            if (!m_placing || file.born >= latest || stopped()) {
                still.push_back(file.index);
                continue;
            }
            if (!place(m_sources[file.index], m_items[file.index])) {
                m_placing = false;
                still.push_back(file.index);
                continue;
            }
            m_placed[file.index] = true;
            m_settled += m_items[file.index].size + 1;
        }
        m_pending = std::move(still);
    }

    // The names in `folder` now; none while it isn't there.
    static std::unordered_set<QByteArray> namesIn(const QByteArray& folder)
    {
        std::unordered_set<QByteArray> names;
        DIR* dir = ::opendir(folder.constData());
        if (!dir)
            return names;
        while (const dirent* entry = ::readdir(dir))
            names.emplace(entry->d_name);
        ::closedir(dir);
        return names;
    }

    // false where the file can't take its place now; the pull's end then
    // settles what is left, and says why.
    bool place(const QByteArray& from, const PhoneItem& item)
    {
        const QString to = joined(m_target, item.relative);
        try {
            makeFolders(parentOf(to));
        } catch (...) {
            return false;
        }
        if (localKind(to) == Local::folder)
            return false;
        // A disk that can't exchange names leaves it to the pull's end.
        const Placing placing = item.covered ? fileplaces::replaceFile(from, paths::bytes(to), *item.covered)
                                             : fileplaces::takeFreeName(from, paths::bytes(to));
        if (placing.result != Placed::done)
            return false;
        if (!placing.replaced.isEmpty())
            m_discards.add(placing.replaced);
        return true;
    }

    // The folders down to `folder`, below the target, as the pull made them.
    void makeFolders(const QString& folder)
    {
        if (m_made.contains(folder))
            return;
        if (folder != m_target)
            makeFolders(parentOf(folder));
        makeLocalFolder(folder);
        m_made.insert(folder);
    }

    const QString m_work;
    const QString m_target;
    std::vector<PhoneItem>& m_items;
    std::vector<bool> m_placed;
    std::exception_ptr m_checkFailure;
    std::vector<QByteArray> m_sources; // the working path of each file
    std::vector<QByteArray> m_folders; // the working folders they are in
    std::vector<size_t> m_folderOf;    // of each file, its folder's place in m_folders
    std::vector<size_t> m_pending;
    QSet<QString> m_made;
    Discards& m_discards;
    const Progress m_progress;
    int64_t m_total = 0;   // the bytes of all files, and one for each
    int64_t m_settled = 0; // of those, of the files placed
    int64_t m_told = 0;
    bool m_placing = true;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// The bytes of the items neither copied nor left out yet.
int64_t bytesLeft(const std::vector<PhoneItem>& items)
{
    int64_t total = 0;
    for (const PhoneItem& item : items) {
        if (!item.leftOut && !item.done)
            total += item.size;
    }
    return total;
}

void receiveWhole(PhoneFiles& phone, const QString& from, const QString& target, std::vector<PhoneItem>& items,
                  CopyAccount& account, const Progress& progress, const Cancel& cancel,
                  const Merging* merging = nullptr);

// Each item of a phone folder not yet in its place, copied to `target` one
// by one as receiveFile() copies them; one the computer's disk refuses is
// left out, and the copy goes on. With `wholeFolders` (what a whole pull cut
// short at one item left), each folder none of whose items arrived goes in
// one pull of its own, so one odd item costs a run per file of its own
// folder only.
void receiveEach(PhoneFiles& phone, const QString& from, const QString& target, std::vector<PhoneItem>& items,
                 CopyAccount& account, const Progress& progress, const Cancel& cancel, bool wholeFolders = false)
{
    Meter meter(progress, bytesLeft(items));
    makeLocalFolder(target);
    for (size_t index = 0; index < items.size(); ++index) {
        PhoneItem& item = items[index];
        cancel.check();
        if (item.leftOut || item.done)
            continue;
        const QString to = joined(target, item.relative);
        const QString below = item.relative + QLatin1Char('/');
        size_t end = index + 1;
        while (end < items.size() && items[end].relative.startsWith(below))
            ++end;
        const bool untouched = wholeFolders && item.isFolder && end > index + 1
                               && std::none_of(items.begin() + qsizetype(index) + 1, items.begin() + qsizetype(end),
                                               [](const PhoneItem& one) { return one.done || one.leftOut; });
        try {
            if (untouched) {
                std::vector<PhoneItem> inside(items.begin() + qsizetype(index) + 1, items.begin() + qsizetype(end));
                int64_t size = 0;
                for (PhoneItem& one : inside) {
                    one.relative = one.relative.mid(below.size());
                    size += one.size;
                }
                // What became of each item, whatever ends the pull.
                const auto back = qScopeGuard([&items, &inside, first = index + 1] {
                    for (size_t at = 0; at < inside.size(); ++at) {
                        PhoneItem& one = items[first + at];
                        one.done = inside[at].done;
                        one.leftOut = one.leftOut || inside[at].leftOut;
                        one.ended = inside[at].ended;
                    }
                });
                receiveWhole(phone, joined(from, item.relative), to, inside, account, meter.part(size), cancel);
                item.done = true;
                meter.done(size);
                index = end - 1;
                continue;
            }
            if (item.isFolder)
                makeLocalFolder(to);
            else
                receiveFile(phone, joined(from, item.relative), to, item.covered, meter.part(item.size), cancel);
            item.done = true;
        } catch (...) {
            leaveOutOrEnd(items, index, account);
        }
        meter.done(item.size);
    }
}

// The whole folder in one pull into a hidden working folder beside `target`
// (on the same file system, so each file then takes its place by a rename):
// one run of the transport instead of one per file. A pull the computer's
// disk cut short at one item goes on with the rest (receiveEach()).
// With `merging`, the items' places are looked at as the pull begins.
void receiveWhole(PhoneFiles& phone, const QString& from, const QString& target, std::vector<PhoneItem>& items,
                  CopyAccount& account, const Progress& progress, const Cancel& cancel, const Merging* merging)
{
    LocalWorkingItem working(target);
    const QString work = working.path();
    const Progress pulling =
        progress ? Progress([progress](double fraction) { progress(pullShare * fraction); }) : Progress();
    const auto placedEarly = [&](const std::vector<bool>& placed) {
        for (size_t index = 0; index < placed.size() && index < items.size(); ++index)
            items[index].done = items[index].done || placed[index];
    };
    // The files replaced go while the pull and the settling go on.
    Discards discards;
    std::exception_ptr cut;
    std::exception_ptr unchecked;
    std::optional<SettleWhilePulling> early;
    try {
        early.emplace(work, target, items, discards, pulling, merging);
    } catch (...) {
        // The look at the places failed before the pull: nothing may take
        // its place, nor be copied one by one.
        discards.finish();
        throw;
    }
    try {
        const auto ended = [&] {
            placedEarly(early->finish());
            unchecked = early->checkFailure();
        };
        try {
            phone.pull(from, work, early->watches() ? Progress() : pulling, cancel);
        } catch (...) {
            ended();
            throw;
        }
        ended();
    } catch (...) {
        cut = std::current_exception();
    }
    early.reset();
    // Nothing took its place, nor may: the working folder goes whole.
    if (unchecked) {
        discards.finish();
        std::rethrow_exception(unchecked);
    }
    if (cut) {
        // Stopped or cut short: the files that arrived whole still take their places.
        std::vector<bool> endedBefore;
        for (const PhoneItem& item : items)
            endedBefore.push_back(item.ended);
        try {
            settle(work, target, items, false, discards, account);
        } catch (...) {
            // What ends the copy is the cut, or what comes of going on: an
            // item this failure marked would be told for another's.
            for (size_t index = 0; index < items.size(); ++index)
                items[index].ended = endedBefore[index];
        }
        if (reachOf(cut) == Reach::copy) {
            discards.finish();
            std::rethrow_exception(cut);
        }
    }
    try {
        if (cut) {
            const Progress rest =
                progress ? Progress([progress](double fraction) { progress(pullShare + (1 - pullShare) * fraction); })
                         : Progress();
            receiveEach(phone, from, target, items, account, rest, cancel, true);
        } else {
            settle(work, target, items, true, discards, account, progress);
        }
    } catch (...) {
        discards.finish();
        throw;
    }
    discards.finish();
}

// A phone folder to `target`, merged into a folder there: where each call
// costs a run, in one pull; else file by file as receiveFile() copies them.
// Either way after Stop the files already whole stay; after a failure that
// ends the copy every item it didn't come to is counted.
void receiveFolder(PhoneFiles& phone, const QString& from, const QString& target, const AnsweredFiles* answered,
                   CopyAccount& account, const Progress& progress, const Cancel& cancel)
{
    std::vector<PhoneItem> items;
    collect(phone, from, {}, 0, items, cancel);
    std::optional<Merging> merging;
    if (mergesInto(target, answered))
        merging.emplace(Merging{target, *answered, account});
    try {
        if (phone.pullsFoldersWhole()) {
            receiveWhole(phone, from, target, items, account, progress, cancel, merging ? &*merging : nullptr);
        } else {
            if (merging)
                checkPlaces(*merging, items);
            receiveEach(phone, from, target, items, account, progress, cancel);
        }
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        // What the folder's own failure leaves out, it names whole.
        if (reachOf(error) == Reach::copy && !cancel.isCancelled()) {
            if (const std::optional<QString> text = failureText(error))
                countNotReached(items, *text, account);
        }
        throw;
    }
}

} // namespace

// ---- to the computer -----------------------------------------------------------------

void BrowserModel::download(const QList<RemoteEntry>& entries)
{
    if (const std::optional<Shown> asked = shown())
        download(*asked, entries);
}

void BrowserModel::download(const Shown& asked, const QList<RemoteEntry>& entries)
{
    // The entries are of the folder shown when the request was made.
    if (entries.isEmpty() || !stillShown(asked, true, QStringLiteral("copied")))
        return;
    QString folder = m_saveFolder;
    if (m_askWhereToSave) {
        Desktop::Panel panel;
        panel.message = QStringLiteral("Choose where to copy ")
                        + (entries.size() == 1 ? quoted(entries.first().name)
                                               : QString::number(entries.size()) + QStringLiteral(" items"));
        panel.prompt = QStringLiteral("Save Here");
        panel.folder = m_saveFolder;
        const std::optional<QString> chosen = m_desktop->chooseFolder(panel);
        if (!chosen || chosen->isEmpty())
            return;
        folder = *chosen;
        setSaveFolder(folder);
    }
    copyToMac(asked, entries, folder, m_revealAfterCopy);
}

void BrowserModel::copyToMac(const Shown& asked, const QList<RemoteEntry>& entries, const QString& folder,
                             bool reveal)
{
    // The entries belong to the folder shown when the copy was asked for.
    if (!stillShown(asked, true, QStringLiteral("copied")) || !files() || entries.isEmpty())
        return;
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("copied"))) {
        setErrorMessage(*text);
        return;
    }
    QStringList conflicts;
    for (const RemoteEntry& entry : entries) {
        if (browserpaths::existsLocally(joined(folder, entry.name)))
            conflicts.append(entry.name);
    }
    const Conflict answer = conflicts.isEmpty() ? Conflict::replace
                                                : askAboutConflicts(conflicts, QStringLiteral("this folder"));
    if (answer == Conflict::cancel || !stillShown(asked, true, QStringLiteral("copied")))
        return;
    // Taken after the answer: a phone plugged back in meanwhile has a new connection.
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    const QString path = asked.path;
    startJob(QStringLiteral("Copying to computer…"), true, false, [=](JobContext& job) {
        // A missing save folder would otherwise become the copy's own name.
        if (!QDir().mkpath(folder))
            throw SystemError(QStringLiteral("Couldn't create the folder ") + folder + QStringLiteral("."));
        // A numbered name must not be one an item of this copy will take.
        QSet<QString> reserved;
        for (const RemoteEntry& entry : entries)
            reserved.insert(nameKey(entry.name));
        // The files the answer replaces, as they are when it begins (in a
        // folder it merges into, all it holds): not what comes there later.
        QHash<QString, AnsweredFiles> answered;
        QHash<QString, Identity> answeredFiles;
        if (answer == Conflict::replace) {
            for (const RemoteEntry& entry : entries) {
                if (!conflicts.contains(entry.name))
                    continue;
                const QString there = joined(folder, entry.name);
                if (entry.isDirectory)
                    answered.insert(entry.name, filesBelow(there));
                else if (const std::optional<Identity> file = identityOf(paths::bytes(there)))
                    answeredFiles.insert(entry.name, *file);
            }
        }
        QStringList copied;
        // What this copy put in place, by the file the disk finds at a name:
        // on one that ignores letter case "img_1.jpg" after "IMG_1.JPG" reaches it.
        std::unordered_map<FileKey, QString, FileKeyHash> putThere;
        const int count = int(entries.size());
        CopyAccount& account = job.account();
        for (int index = 0; index < count; ++index) {
            job.cancel().check();
            const RemoteEntry& entry = entries[index];
            try {
                QString target = joined(folder, entry.name);
                // Only what the question showed is replaced; what came since is
                // a clash handled by the answer, or, unasked, left as it is.
                bool replacing = false;
                if (browserpaths::existsLocally(target)) {
                    if (const std::optional<Identity> there = identityOf(paths::bytes(target))) {
                        if (const auto own = putThere.find(FileKey{there->device, there->inode}); own != putThere.end())
                            throw LeftOutError(quoted(entry.name)
                                               + QStringLiteral(" wasn't copied: the computer's disk takes its name for ")
                                               + quoted(own->second) + QStringLiteral(", which this copy has just put there."));
                    }
                    if (answer == Conflict::skip) {
                        account.skipped(entry.name);
                        continue;
                    }
                    if (answer == Conflict::keepBoth) {
                        target = uniqueLocalURL(target, reserved);
                        reserved.insert(nameKey(lastName(target)));
                    } else if (!conflicts.contains(entry.name)) {
                        throw cameMeanwhile(entry.name);
                    } else {
                        replacing = true;
                    }
                }
                job.setItem(QStringLiteral("Copying ") + quoted(entry.name) + QStringLiteral(" to computer")
                            + place(index, count));
                const QString from = joined(path, entry.name);
                try {
                    if (entry.isDirectory)
                        receiveFolder(*phone, from, target,
                                      replacing && answered.contains(entry.name) ? &answered[entry.name] : nullptr,
                                      account, job.progressHandler(), job.cancel());
                    else
                        receiveFile(*phone, from, target,
                                    replacing && answeredFiles.contains(entry.name)
                                        ? std::optional<Identity>(answeredFiles.value(entry.name))
                                        : std::nullopt,
                                    job.progressHandler(), job.cancel());
                } catch (...) {
                    std::exception_ptr error = std::current_exception();
                    // The item's own failure leaves it out, as it says.
                    if (reachOf(error) == Reach::item)
                        throw;
                    // adb says so in its own words, naming the phone path: a
                    // sentence instead, and the row goes with a new listing.
                    if (!job.cancel().isCancelled()
                        && phone->existence(from, job.cancel()) == std::optional<bool>(false))
                        error = std::make_exception_ptr(
                            SystemError(quoted(entry.name) + QStringLiteral(" isn't on the phone any more.")));
                    job.post([asked, error](BrowserModel& model) { model.reloadIfGone(asked, error); });
                    std::rethrow_exception(error);
                }
                copied.append(target);
                if (const std::optional<Identity> made = identityOf(paths::bytes(target)))
                    putThere.insert_or_assign(FileKey{made->device, made->inode}, lastName(target));
                account.copied(entry.name);
            } catch (...) {
                if (reachOf(std::current_exception()) == Reach::item) {
                    account.leftOut(entry.name, itemSentence(entry.name, std::current_exception()));
                    continue;
                }
                // What ends the copy: the items after it go untold otherwise.
                if (const std::optional<QString> why = failureText(std::current_exception());
                    why && !job.cancel().isCancelled()) {
                    // Told already as the failure of an item inside the folder.
                    const std::vector<CopyAccount::Item> told = account.items();
                    if (std::none_of(told.begin(), told.end(), [&](const CopyAccount::Item& item) {
                            return item.outcome == CopyAccount::Outcome::failed && item.sentence == *why;
                        }))
                        account.failed(entry.name, *why);
                    for (int rest = index + 1; rest < count; ++rest)
                        account.notReached(entries[rest].name);
                }
                throw;
            }
        }
        if (reveal && !copied.isEmpty())
            job.post([copied](BrowserModel& model) { model.m_desktop->reveal(copied); });
    });
}

void BrowserModel::reloadIfGone(const Shown& asked, const std::exception_ptr& error)
{
    // An item deleted on the phone meanwhile: its row goes with a new listing.
    if (isShown(asked, true) && isGone(error))
        reload();
}

void BrowserModel::openOnMac(const QList<RemoteEntry>& entries)
{
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone || entries.isEmpty())
        return;
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("copied"))) {
        setErrorMessage(*text);
        return;
    }
    const QString path = m_path;
    const std::optional<Shown> asked = shown();
    startJob(QStringLiteral("Opening…"), true, false, [=](JobContext& job) {
        const QString folder = browserpaths::newPrivateFolder();
        for (const RemoteEntry& entry : entries) {
            job.cancel().check();
            job.setItem(QStringLiteral("Opening ") + quoted(entry.name) + QStringLiteral("…"));
            const QString staged = browserpaths::stagedPath(folder, entry.name);
            // A name that is text is copied into the folder as it is.
            const QString into = staged == joined(folder, entry.name) ? folder : staged;
            try {
                phone->pull(joined(path, entry.name), into, job.progressHandler(), job.cancel());
            } catch (...) {
                // The part copied would wait in the staging folder until quit.
                removeLocally(staged);
                if (asked) {
                    job.post([asked, error = std::current_exception()](BrowserModel& model) {
                        model.reloadIfGone(*asked, error);
                    });
                }
                throw;
            }
            job.post([staged](BrowserModel& model) { model.openStaged(staged); });
        }
    });
}

