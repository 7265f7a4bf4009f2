#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Paths.h"
#include "Error.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <future>
#include <mutex>
#include <sys/stat.h>
#include <thread>

using browserpaths::nameKey;
using paths::joined;
using paths::localSize;

namespace {

// The sentence refusing the first computer item whose name cannot be joined to a folder.
std::optional<QString> localRefusal(const QStringList& names)
{
    for (const QString& name : names) {
        if (std::optional<QString> text = browserpaths::refusal(name, QStringLiteral("copied")))
            return text;
    }
    return std::nullopt;
}

QString quoted(const QString& name)
{
    return QStringLiteral("“") + name + QStringLiteral("”");
}

QString place(int index, int count)
{
    return QStringLiteral(" (") + QString::number(index + 1) + QStringLiteral(" of ") + QString::number(count)
           + QStringLiteral(")…");
}

// The local path of a dropped or chosen item, without a trailing "/".
QString localPath(const QUrl& url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

using browserpaths::lastName;
using browserpaths::parentOf;

// Replace merges folders and overwrites files; it never puts one kind in
// the other's place, which would take all of a folder.
SystemError inTheWay(const QString& name, bool folderThere)
{
    return SystemError(quoted(name) + (folderThere ? QStringLiteral(" wasn't copied: a folder of that name is in its place.")
                                                   : QStringLiteral(" wasn't copied: a file of that name is in its place.")));
}

// Byte-weighted progress over the files of one item.
class Meter {
public:
    Meter(Progress out, int64_t total) : m_out(std::move(out)), m_total(std::max<int64_t>(total, 1)) {}

    // The progress of the next `size` bytes.
    Progress part(int64_t size) const
    {
        return [out = m_out, before = m_done, size, total = m_total](double fraction) {
            if (out)
                out(std::min(1.0, (double(before) + fraction * double(size)) / double(total)));
        };
    }
    void done(int64_t size) { m_done += size; }

private:
    Progress m_out;
    int64_t m_total;
    int64_t m_done = 0;
};

// ---- to the computer ----

void removeLocally(const QString& path)
{
    if (QFileInfo(path).isDir() && !QFileInfo(path).isSymLink())
        QDir(path).removeRecursively();
    else
        QFile::remove(path);
}

// What is at a computer path, links not followed: a link, to whatever it
// leads, is a file here, replaced as one and never merged into.
enum class Local { nothing, file, folder };

Local localKind(const QString& path)
{
    struct stat info {};
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return Local::nothing;
    return S_ISDIR(info.st_mode) ? Local::folder : Local::file;
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

// Gives `to` the file at `from` in one step, as rename(2) does: whatever
// was at `to` stays until then. A file there trades names with the new one
// and then goes, to `discards` if given: ext4 writes a file renamed over
// another back to the disk at once, which made replacing many small files
// cost several times their transfer. A folder that took the name meanwhile
// gets it back. false with errno where the file didn't take its place.
bool takePlace(const QByteArray& from, const QByteArray& to, Discards* discards = nullptr)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0) {
        struct stat old {};
        if (::lstat(from.constData(), &old) == 0 && S_ISDIR(old.st_mode)) {
            ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
            errno = EISDIR;
            return false;
        }
        // Else it goes with the working folder.
        if (discards)
            discards->add(from);
        else
            ::unlink(from.constData());
        return true;
    }
    // Nothing there to trade with, or a file system that can't.
    return std::rename(from.constData(), to.constData()) == 0;
}

void putInPlace(const QString& from, const QString& target, Discards* discards = nullptr)
{
    if (!takePlace(QFile::encodeName(from), QFile::encodeName(target), discards))
        throw SystemError::fromErrno(QStringLiteral("Couldn't put the copy of ") + quoted(lastName(target))
                                         + QStringLiteral(" in its place"),
                                     errno);
}

// One phone file to `target`: copied under a hidden name beside it and put
// in place only once whole, so a file it replaces stays as it was until then
// and a stopped or failed copy leaves nothing under the name.
void receiveFile(PhoneFiles& phone, const QString& from, const QString& target, const Progress& progress,
                 const Cancel& cancel)
{
    if (localKind(target) == Local::folder)
        throw inTheWay(lastName(target), true);
    const QString temporary = joined(parentOf(target), browserpaths::temporaryName(lastName(target)));
    removeLocally(temporary); // left by a copy that could not clean up
    try {
        phone.pull(from, temporary, progress, cancel);
        putInPlace(temporary, target);
    } catch (...) {
        removeLocally(temporary);
        throw;
    }
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
    if (!QDir().mkdir(path))
        throw SystemError(QStringLiteral("Couldn't create the folder ") + path + QStringLiteral("."));
}

struct PhoneItem {
    QString relative;
    bool isFolder;
    int64_t size;
    int64_t modified; // seconds since 1970; -1 when not known
};

// Deeper than this is a folder linked into itself.
constexpr int deepest = 100;

// The items below a phone folder, each folder before what it holds.
void collect(PhoneFiles& phone, const QString& root, const QString& relative, int depth, std::vector<PhoneItem>& items,
             const Cancel& cancel)
{
    if (depth > deepest)
        throw SystemError(quoted(lastName(root)) + QStringLiteral(" holds folders too deep to copy."));
    for (const RemoteEntry& entry : phone.list(relative.isEmpty() ? root : joined(root, relative), true, cancel)) {
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

// A file where a folder of the copy goes, or a folder where a file goes,
// anywhere in the merge: found before anything is copied, so a copy that
// could not end changes nothing.
void checkPlaces(const QString& target, const std::vector<PhoneItem>& items)
{
    if (localKind(target) == Local::file)
        throw inTheWay(lastName(target), false);
    for (const PhoneItem& item : items) {
        const Local there = localKind(joined(target, item.relative));
        if (item.isFolder ? there == Local::file : there == Local::folder)
            throw inTheWay(lastName(item.relative), there == Local::folder);
    }
}

// The part of a whole-folder copy's progress that is the pull; the rest
// moves with the files put in place, which takes a while where each
// replaces a file already on the disk.
constexpr double pullShare = 0.95;

// Puts what arrived in the working folder `work` in its place under
// `target`, each folder made as it arrived. After a whole pull every file
// there is complete; after a stopped or failed one only a file of the listed
// size and time is known to be (adb sets the time once a file is whole), and
// the rest is left to go with the working folder.
// Items marked in `placed` took their places during the pull already.
void settle(const QString& work, const QString& target, const std::vector<PhoneItem>& items, bool pullEnded,
            const std::vector<bool>& placed, Discards& discards, const Progress& progress = {})
{
    if (localKind(work) != Local::folder)
        return;
    makeLocalFolder(target);
    const double count = double(std::max<size_t>(items.size(), 1));
    double seen = 0;
    for (size_t index = 0; index < items.size(); ++index) {
        const PhoneItem& item = items[index];
        if (progress)
            progress(pullShare + (1 - pullShare) * (seen++ / count));
        if (index < placed.size() && placed[index])
            continue;
        const QString from = joined(work, item.relative);
        struct stat arrived {};
        if (::lstat(QFile::encodeName(from).constData(), &arrived) != 0)
            continue;
        const QString to = joined(target, item.relative);
        if (item.isFolder) {
            if (S_ISDIR(arrived.st_mode))
                makeLocalFolder(to);
            continue;
        }
        if (!S_ISREG(arrived.st_mode))
            continue;
        if (!pullEnded && (arrived.st_size != item.size || arrived.st_mtime != item.modified))
            continue;
        if (localKind(to) == Local::folder)
            throw inTheWay(lastName(to), true);
        putInPlace(from, to, &discards);
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
    SettleWhilePulling(QString work, QString target, const std::vector<PhoneItem>& items, Discards& discards,
                       Progress progress)
        : m_work(std::move(work)), m_target(std::move(target)), m_items(items), m_placed(items.size(), false),
          m_discards(discards), m_progress(std::move(progress))
    {
        m_sources.resize(items.size());
        for (size_t index = 0; index < items.size(); ++index) {
            if (!items[index].isFolder) {
                m_pending.push_back(index);
                m_sources[index] = QFile::encodeName(joined(m_work, items[index].relative));
                m_total += items[index].size + 1; // an empty file counts too
            }
        }
        if (m_pending.empty())
            return;
        try {
            m_thread = WorkerPool::shared().ownThread([this] { run(); });
        } catch (...) {
            // No thread: all of it at the pull's end.
        }
    }
    // Whether it looks at the pull as it goes, and tells its progress.
    bool watches() const { return m_thread.joinable(); }
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

    void run()
    {
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
        for (const size_t index : m_pending) {
            const PhoneItem& item = m_items[index];
            struct statx facts {};
            if (::statx(AT_FDCWD, m_sources[index].constData(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                        &facts)
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
            if (!place(m_sources[file.index], joined(m_target, m_items[file.index].relative))) {
                m_placing = false;
                still.push_back(file.index);
                continue;
            }
            m_placed[file.index] = true;
            m_settled += m_items[file.index].size + 1;
        }
        m_pending = std::move(still);
    }

    // false where the file can't take its place now; the pull's end then
    // settles what is left, and says why.
    bool place(const QByteArray& from, const QString& to)
    {
        try {
            makeFolders(parentOf(to));
        } catch (...) {
            return false;
        }
        if (localKind(to) == Local::folder)
            return false;
        return takePlace(from, QFile::encodeName(to), &m_discards);
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
    const std::vector<PhoneItem>& m_items;
    std::vector<bool> m_placed;
    std::vector<QByteArray> m_sources; // the working path of each file
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

// The whole folder in one pull into a hidden working folder beside `target`
// (on the same file system, so each file then takes its place by a rename):
// one run of the transport instead of one per file.
void receiveWhole(PhoneFiles& phone, const QString& from, const QString& target, const std::vector<PhoneItem>& items,
                  const Progress& progress, const Cancel& cancel)
{
    const QString work = joined(parentOf(target), browserpaths::temporaryName(lastName(target)));
    removeLocally(work); // left by a copy that could not clean up
    // The pull makes the working folder; into an existing one it would nest.
    if (browserpaths::existsLocally(work))
        throw SystemError(QStringLiteral("Couldn't remove ") + work + QStringLiteral(", left by an earlier copy."));
    const Progress pulling =
        progress ? Progress([progress](double fraction) { progress(pullShare * fraction); }) : Progress();
    std::vector<bool> placed;
    // The files replaced go while the pull and the settling go on.
    Discards discards;
    try {
        SettleWhilePulling early(work, target, items, discards, pulling);
        try {
            phone.pull(from, work, early.watches() ? Progress() : pulling, cancel);
        } catch (...) {
            placed = early.finish();
            throw;
        }
        placed = early.finish();
    } catch (...) {
        // Stopped or cut short: the files that arrived whole still take their places.
        try {
            settle(work, target, items, false, placed, discards);
        } catch (...) {
        }
        discards.finish();
        removeLocally(work);
        throw;
    }
    try {
        settle(work, target, items, true, placed, discards, progress);
    } catch (...) {
        discards.finish();
        removeLocally(work);
        throw;
    }
    discards.finish();
    removeLocally(work);
}

// A phone folder to `target`, merged into a folder there: where each call
// costs a run, in one pull; else file by file as receiveFile() copies them.
// Either way after Stop the files already whole stay.
void receiveFolder(PhoneFiles& phone, const QString& from, const QString& target, const Progress& progress,
                   const Cancel& cancel)
{
    std::vector<PhoneItem> items;
    collect(phone, from, {}, 0, items, cancel);
    checkPlaces(target, items);
    if (phone.pullsFoldersWhole()) {
        receiveWhole(phone, from, target, items, progress, cancel);
        return;
    }
    int64_t total = 0;
    for (const PhoneItem& item : items)
        total += item.size;
    Meter meter(progress, total);
    makeLocalFolder(target);
    for (const PhoneItem& item : items) {
        cancel.check();
        const QString to = joined(target, item.relative);
        if (item.isFolder) {
            makeLocalFolder(to);
            continue;
        }
        receiveFile(phone, joined(from, item.relative), to, meter.part(item.size), cancel);
        meter.done(item.size);
    }
}

// ---- to the phone ----

// What a phone folder holds, hidden items included, found by name as the
// phone compares names. Working files of copies are no items of the folder.
class PhoneFolder {
public:
    // A folder that can't be read fails; one that isn't there fails with a
    // sentence rather than be made again by what is copied into it.
    static PhoneFolder read(PhoneFiles& phone, const QString& path, const Cancel& cancel)
    {
        PhoneFolder folder(phone, path);
        try {
            for (const RemoteEntry& entry :
                 BrowserModel::withoutWorkingFiles(phone, path, phone.list(path, true, cancel), cancel)) {
                folder.m_exact.insert(entry.name, entry);
                folder.m_keys.insert(nameKey(entry.name), entry);
            }
        } catch (...) {
            if (cancel.isCancelled() || phone.existence(path, cancel) != std::optional<bool>(false))
                throw;
            throw SystemError(quoted(lastName(path)) + QStringLiteral(" isn't on the phone any more."));
        }
        return folder;
    }

    // The item listed under the name, or under one the phone takes for the
    // same (its letter case or accents differ) when the phone says so. When
    // the phone can't tell, the item is neither taken for new (its copy
    // could take the place of the phone's) nor for the same (a phone telling
    // such names apart would lose its own): the copy of it fails.
    std::optional<RemoteEntry> find(const QString& name, const Cancel& cancel) const
    {
        if (const auto exact = m_exact.constFind(name); exact != m_exact.cend())
            return *exact;
        const auto alike = m_keys.constFind(nameKey(name));
        if (alike == m_keys.cend())
            return std::nullopt;
        const std::optional<bool> same = m_phone->existence(joined(m_path, name), cancel);
        if (same == std::optional<bool>(true))
            return *alike;
        if (same == std::optional<bool>(false))
            return std::nullopt;
        cancel.check();
        throw SystemError(quoted(name) + QStringLiteral(" wasn't copied: the phone didn't answer whether it is ")
                          + quoted(alike->name) + QStringLiteral(", which the folder holds."));
    }
    bool holdsAlike(const QString& name) const { return m_keys.contains(nameKey(name)); }

private:
    PhoneFolder(PhoneFiles& phone, QString path) : m_phone(&phone), m_path(std::move(path)) {}

    PhoneFiles* m_phone;
    QString m_path;
    QHash<QString, RemoteEntry> m_exact;
    QHash<QString, RemoteEntry> m_keys;
};

// What a stopped copy left is removed within this time, whatever the phone
// does: Stop ends the whole job, its clean-up included, within a second.
constexpr std::chrono::milliseconds cleanUpLimit(400);
// How long after a Stop a file's swap for the phone's old one may go on.
constexpr std::chrono::milliseconds swapGrace(150);

// Whether what a stopped or failed copy made at `path` is gone.
bool removedInTime(PhoneFiles& phone, const QString& path)
{
    // The job's token may be stopped already; the clean-up has its own.
    const TimeLimit limit(cleanUpLimit);
    try {
        phone.remove(path, limit.cancel());
        return true;
    } catch (...) {
        // Nothing there to remove is as good.
        if (!limit.expired() && phone.existence(path, limit.cancel()) == std::optional<bool>(false))
            return true;
        // A working item goes when the phone is next reachable.
        browserpaths::workingnames::RecordingLeftovers::record(path);
        return false;
    }
}

// Removes what a stopped or failed copy made at `path`, without waiting on
// the phone; with a job, what could not be removed is named when it ends:
// `item` is the person's item the copy was of, `working` whether `path` is a
// hidden working item beside it (removed by the next copy to a phone that
// answers) rather than the item itself.
void removeQuietly(PhoneFiles& phone, const QString& path, JobContext* job = nullptr, const QString& item = {},
                   bool working = true)
{
    if (removedInTime(phone, path) || !job)
        return;
    job->note(QStringLiteral("The phone didn’t answer in time to remove the unfinished copy of ") + quoted(item)
              + (working ? QStringLiteral("; it will be removed when the phone is next reachable.")
                         : QStringLiteral("; delete it on the phone once the phone answers again.")));
}

// Two items of one folder in the computer folder `source` whose names a
// storage that ignores letter case takes for one, and that folder's path
// below `source`; none when all differ.
struct AlikeNames {
    QString folder;
    QString first;
    QString second;
};

std::optional<AlikeNames> alikeNames(const QString& source, const QString& below = {})
{
    QHash<QString, QString> seen;
    const QFileInfoList items = QDir(source).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& item : items) {
        const QString key = nameKey(item.fileName());
        if (const auto earlier = seen.constFind(key); earlier != seen.cend())
            return AlikeNames{below, *earlier, item.fileName()};
        seen.insert(key, item.fileName());
    }
    for (const QFileInfo& item : items) {
        if (item.isDir() && !item.isSymLink())
            if (auto alike = alikeNames(item.filePath(), below.isEmpty() ? item.fileName() : joined(below, item.fileName())))
                return alike;
    }
    return std::nullopt;
}

// A computer folder sent whole to `temporary`: a phone whose storage
// ignores letter case kept one item of an alike pair, and that copy fails
// rather than stand in for both.
void checkAlikeNamesKept(PhoneFiles& phone, const QString& source, const std::optional<AlikeNames>& alike,
                         const QString& temporary, const Cancel& cancel)
{
    if (!alike)
        return;
    int found = 0;
    for (const RemoteEntry& entry :
         phone.list(alike->folder.isEmpty() ? temporary : joined(temporary, alike->folder), true, cancel))
        found += entry.name == alike->first || entry.name == alike->second;
    if (found == 2)
        return;
    throw SystemError(quoted(QFileInfo(source).fileName()) + QStringLiteral(" wasn't copied: it holds ")
                      + quoted(alike->first) + QStringLiteral(" and ") + quoted(alike->second)
                      + QStringLiteral(", which the phone takes for one name."));
}

// A computer item as a new phone item at `phonePath`: made whole under a
// working name of this copy's own beside it, then given its name, so that a
// copy that stops or that the phone cuts short never leaves a part under
// the name. Clean-up only ever removes the working name: on a storage that
// ignores letter case, the item's own name may reach the phone's item of
// another spelling. `certainlyNew`: nothing was at `phonePath` just before.
// With the job, what could not be removed in time is named when it ends.
void sendNew(PhoneFiles& phone, const QString& source, const QString& phonePath, bool certainlyNew,
             const Progress& progress, const Cancel& cancel, JobContext* job = nullptr, const QString& item = {})
{
    const auto cleanUp = [&](const QString& path, bool working) { removeQuietly(phone, path, job, item, working); };
    if (!phone.canRename(cancel)) {
        // A phone that can't rename takes the item under its name at once.
        try {
            phone.push(source, phonePath, progress, cancel);
        } catch (...) {
            if (cancel.isCancelled() && certainlyNew)
                cleanUp(phonePath, false);
            throw;
        }
        return;
    }
    const browserpaths::HeldWorkingName working(browserpaths::temporaryName(lastName(phonePath), true));
    const QString temporary = joined(parentOf(phonePath), working.name());
    try {
        phone.push(source, temporary, progress, cancel);
        cancel.check();
        if (QFileInfo(source).isDir())
            checkAlikeNamesKept(phone, source, alikeNames(source), temporary, cancel);
        if (!phone.takeName(temporary, phonePath, cancel))
            throw SystemError(quoted(lastName(phonePath))
                              + QStringLiteral(" wasn't copied: an item of that name came onto the phone meanwhile."));
    } catch (...) {
        cleanUp(temporary, true);
        throw;
    }
}

// A computer file in place of the phone file `phonePath`: sent under a
// hidden name beside it, which takes the file's place once whole. Once the
// old file is gone the new one stays, in its place or, should the phone
// refuse it the name, under the hidden name the message gives. With the job,
// what a swap cut short left on the phone is named when the job ends.
void sendFile(PhoneFiles& phone, const QString& source, const QString& phonePath, const Progress& progress,
              const Cancel& cancel, JobContext* job = nullptr)
{
    namespace names = browserpaths::workingnames;
    const QString item = lastName(phonePath);
    const auto cleanUp = [&](const QString& path) { removeQuietly(phone, path, job, item); };
    const auto note = [&](const QString& sentence) {
        if (job)
            job->note(sentence);
    };
    const browserpaths::HeldWorkingName working(browserpaths::temporaryName(item, true));
    const QString temporary = joined(parentOf(phonePath), working.name());
    try {
        phone.push(source, temporary, progress, cancel);
        cancel.check();
    } catch (...) {
        cleanUp(temporary);
        throw;
    }
    // Not stopped halfway while the phone answers: the old file goes only as
    // the new one takes its place. After a Stop the swap, and the look at
    // what it left, have a moment more; a phone that doesn't answer in it
    // is left as it is, the new copy kept under its hidden name.
    const GraceAfterStop grace(cancel, swapGrace);
    try {
        phone.putInPlace(temporary, phonePath, grace.cancel());
    } catch (...) {
        // Where the swap is one rename that either happened or not, the new
        // copy may go: it is in its place, or the old file still is.
        if (phone.putsInPlaceAtOnce()) {
            if (!removedInTime(phone, temporary))
                note(QStringLiteral("The phone didn’t answer in time to say whether the new copy of ") + quoted(item)
                     + QStringLiteral(" took its place; if it didn’t, it will be removed when the phone is next "
                                      "reachable."));
            throw;
        }
        // So may it while the old file is certainly there.
        const std::optional<bool> oldThere = phone.existence(phonePath, grace.cancel());
        if (oldThere == std::optional<bool>(true)) {
            cleanUp(temporary);
            throw;
        }
        names::RecordingLeftovers::keep(temporary);
        if (!oldThere) {
            names::RecordingLeftovers::record(temporary, phonePath);
            note(QStringLiteral("The phone didn’t answer in time to finish replacing ") + quoted(item)
                 + QStringLiteral("; when the phone is next reachable, its new copy will take the name, or be removed "
                                  "if the old ")
                 + quoted(item) + QStringLiteral(" is still there."));
            throw;
        }
        // The old file is gone: the new copy is the only one.
        if (!cancel.isCancelled() && phone.existence(temporary, grace.cancel()) == std::optional<bool>(true))
            throw SystemError(quoted(item)
                              + QStringLiteral(" was removed from the phone, but the phone didn't let its new copy "
                                               "take the name. The new copy is in ")
                              + parentOf(phonePath) + QStringLiteral(" as the hidden item ") + quoted(working.name())
                              + QStringLiteral("."));
        // Stopped, or the phone didn't say: the swap is finished later.
        names::RecordingLeftovers::record(temporary, phonePath);
        note(quoted(item)
             + QStringLiteral(" was removed from the phone, but the phone didn’t answer in time to give its new copy "
                              "the name; the new copy will take it when the phone is next reachable."));
        throw;
    }
}

// One piece of work at a time on a thread beside the job's; where no thread
// can be had, the work runs at once on the job's own.
class Beside {
public:
    using Result = std::optional<PhoneFiles::Clash>;
    Beside() = default;
    Beside(const Beside&) = delete;
    Beside& operator=(const Beside&) = delete;
    // Nothing it runs outlives the job's call.
    ~Beside() { settle(); }

    void start(std::function<Result()> work)
    {
        auto task = std::make_shared<std::packaged_task<Result()>>(std::move(work));
        m_result = task->get_future();
        try {
            WorkerPool::shared().start([task](std::stop_token) { (*task)(); });
        } catch (const NoThreadError&) {
            (*task)();
        }
    }
    // The last piece's result, or its failure thrown; none when nothing ran.
    Result wait()
    {
        if (!m_result.valid())
            return std::nullopt;
        return m_result.get();
    }
    // Waits for the last piece, whatever became of it.
    void settle()
    {
        if (m_result.valid())
            m_result.wait();
    }

private:
    std::future<Result> m_result;
};

// A computer folder merged into the phone folder `phonePath` in parts, each
// sent into a numbered folder of its own inside the working folder
// `temporary` and moved into place while the next is sent. Each file takes
// its place whole; a Stop leaves the parts moved so far and removes the
// working folder. The first item left out by a clash is named once the rest
// is in place.
void mergeInParts(PhoneFiles& phone, const std::vector<PushBatch>& batches, const QString& temporary,
                  const QString& phonePath, Meter& meter, const Cancel& cancel, JobContext* job)
{
    const QString parent = parentOf(temporary);
    const QString working = lastName(temporary);
    const auto partFolder = [&](size_t k) {
        const QString number = QString::number(k);
        return batches[k].folder.isEmpty() ? number : number + QLatin1Char('/') + batches[k].folder;
    };
    std::optional<PhoneFiles::Clash> first;
    const auto keep = [&first](const std::optional<PhoneFiles::Clash>& clash) {
        if (!first)
            first = clash;
    };
    Beside merging;
    try {
        // A part's folder is made ahead, beside the merge before it.
        QStringList ahead{working + QLatin1Char('/') + partFolder(0)};
        if (batches.size() > 1)
            ahead.append(working + QLatin1Char('/') + partFolder(1));
        phone.makeFolders(parent, ahead, cancel);
        for (size_t k = 0; k < batches.size(); ++k) {
            const PushBatch& batch = batches[k];
            phone.pushInto(batch.sources, joined(temporary, partFolder(k)), meter.part(batch.bytes), cancel);
            cancel.check();
            keep(merging.wait());
            meter.done(batch.bytes);
            const QString next = k + 2 < batches.size() ? working + QLatin1Char('/') + partFolder(k + 2) : QString();
            merging.start([&phone, from = joined(temporary, QString::number(k)), phonePath, parent, next, cancel] {
                const std::optional<PhoneFiles::Clash> clash = phone.mergeInto(from, phonePath, cancel);
                if (!next.isEmpty())
                    phone.makeFolders(parent, {next}, cancel);
                return clash;
            });
        }
        keep(merging.wait());
    } catch (...) {
        merging.settle();
        removeQuietly(phone, temporary, job, lastName(phonePath));
        throw;
    }
    // Only the emptied working folder is left to go.
    removeQuietly(phone, temporary, job, lastName(phonePath));
    if (first)
        throw inTheWay(first->name, first->folderThere);
}

// Moves the files of a merge sent in one transfer into place on the phone
// while the transfer goes on, as many as it has finished, so that their
// replacing the phone's (one rename each, which the phone's storage may
// make cost as much as the sending) overlaps the sending. It keeps at it
// until finish(), which waits for the move under way; a Stop ends that.
class MoveWhilePushing {
public:
    MoveWhilePushing(PhoneFiles& phone, QString from, QString to, QString marked, const Cancel& cancel)
        : m_phone(phone), m_from(std::move(from)), m_to(std::move(to)), m_marked(std::move(marked)), m_cancel(cancel)
    {
        try {
            m_thread = WorkerPool::shared().ownThread([this] { run(); });
        } catch (...) {
            // No thread: all of it after the transfer.
        }
    }
    ~MoveWhilePushing() { finish(); }
    MoveWhilePushing(const MoveWhilePushing&) = delete;
    MoveWhilePushing& operator=(const MoveWhilePushing&) = delete;

    void finish()
    {
        {
            const std::lock_guard guard(m_lock);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    void run()
    {
        std::unique_lock guard(m_lock);
        while (!m_stop && !m_cancel.isCancelled()) {
            // A pause first: the transfer has just begun.
            m_wake.wait_for(guard, std::chrono::milliseconds(250), [this] { return m_stop; });
            if (m_stop)
                return;
            guard.unlock();
            try {
                m_phone.moveWholeFiles(m_from, m_to, m_marked, m_cancel);
            } catch (...) {
                // The rest goes with the merge after the transfer.
                return;
            }
            guard.lock();
        }
    }

    PhoneFiles& m_phone;
    const QString m_from;
    const QString m_to;
    const QString m_marked;
    const Cancel m_cancel;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// How many files the computer folder holds directly.
int filesIn(const QString& folder)
{
    return int(QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System).size());
}

// A computer item onto the phone item `existing` at `phonePath`: a file
// replaces it as sendFile() does, a folder is merged into it: on the phone
// when it can (sent whole beside it, then moved in; a large one of few
// files in parts, as mergeInParts() does), else item by item, each new item
// as sendNew() makes it.
void sendOver(PhoneFiles& phone, const QString& source, const RemoteEntry& existing, const QString& phonePath,
              const PushBatchLimits& limits, Meter& meter, const Cancel& cancel, JobContext* job = nullptr)
{
    const QFileInfo local(source);
    if (local.isDir() != existing.isDirectory)
        throw inTheWay(existing.name, existing.isDirectory);
    if (!local.isDir()) {
        sendFile(phone, source, phonePath, meter.part(local.size()), cancel, job);
        meter.done(local.size());
        return;
    }
    if (phone.mergesOnPhone()) {
        const browserpaths::HeldWorkingName working(browserpaths::temporaryName(lastName(phonePath), true));
        const QString temporary = joined(parentOf(phonePath), working.name());
        // Many files: those sent move into place while the rest is sent, in
        // one transfer whatever the size (which keeps the phone busier than
        // parts do), where the phone's times tell a finished file. Alike
        // names are checked once all of them are there.
        const std::optional<AlikeNames> alike = alikeNames(source);
        const bool many = !alike && filesIn(source) >= limits.movesWhileSending;
        bool early = false;
        if (many) {
            try {
                early = phone.markTime(temporary, cancel);
            } catch (...) {
                removeQuietly(phone, temporary, job, lastName(phonePath));
                throw;
            }
        }
        // Parts would merge one of an alike pair over the other unchecked.
        if (!early && !alike) {
            if (const std::vector<PushBatch> batches = pushBatches(source, limits); !batches.empty()) {
                mergeInParts(phone, batches, temporary, phonePath, meter, cancel, job);
                return;
            }
        }
        const int64_t size = localSize(source);
        // The transfer then goes inside the working folder, beside the mark.
        const QString sent = many ? joined(temporary, QStringLiteral("sent")) : temporary;
        std::optional<PhoneFiles::Clash> clash;
        try {
            {
                std::optional<MoveWhilePushing> moving;
                if (early)
                    moving.emplace(phone, sent, phonePath, temporary, cancel);
                phone.push(source, sent, meter.part(size), cancel);
            }
            cancel.check();
            checkAlikeNamesKept(phone, source, alike, sent, cancel);
            clash = phone.mergeInto(sent, phonePath, cancel);
        } catch (...) {
            removeQuietly(phone, temporary, job, lastName(phonePath));
            throw;
        }
        if (many)
            removeQuietly(phone, temporary, job, lastName(phonePath));
        meter.done(size);
        if (clash)
            throw inTheWay(clash->name, clash->folderThere);
        return;
    }
    const PhoneFolder held = PhoneFolder::read(phone, phonePath, cancel);
    const QFileInfoList items =
        QDir(source).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo& item : items) {
        cancel.check();
        // A link to a folder could lead back up the tree.
        if (item.isSymLink() && item.isDir())
            continue;
        if (const std::optional<RemoteEntry> there = held.find(item.fileName(), cancel)) {
            sendOver(phone, item.filePath(), *there, joined(phonePath, there->name), limits, meter, cancel, job);
            continue;
        }
        const int64_t size = localSize(item.filePath());
        sendNew(phone, item.filePath(), joined(phonePath, item.fileName()), false, meter.part(size), cancel, job,
                item.fileName());
        meter.done(size);
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
        QStringList copied;
        const int count = int(entries.size());
        for (int index = 0; index < count; ++index) {
            job.cancel().check();
            const RemoteEntry& entry = entries[index];
            QString target = joined(folder, entry.name);
            if (browserpaths::existsLocally(target)) {
                if (answer == Conflict::skip)
                    continue;
                if (answer == Conflict::keepBoth) {
                    target = uniqueLocalURL(target, reserved);
                    reserved.insert(nameKey(lastName(target)));
                }
            }
            job.setItem(QStringLiteral("Copying ") + quoted(entry.name) + QStringLiteral(" to computer")
                        + place(index, count));
            const QString from = joined(path, entry.name);
            try {
                if (entry.isDirectory)
                    receiveFolder(*phone, from, target, job.progressHandler(), job.cancel());
                else
                    receiveFile(*phone, from, target, job.progressHandler(), job.cancel());
            } catch (...) {
                std::exception_ptr error = std::current_exception();
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
            const QString staged = joined(folder, entry.name);
            try {
                phone->pull(joined(path, entry.name), folder, job.progressHandler(), job.cancel());
            } catch (...) {
                // The part copied would wait in the staging folder until quit.
                if (entry.isDirectory)
                    QDir(staged).removeRecursively();
                else
                    QFile::remove(staged);
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

// ---- to the phone ----------------------------------------------------------------------

void BrowserModel::chooseAndUpload(const std::optional<QString>& folder)
{
    const std::optional<Shown> asked = shown();
    Desktop::Panel panel;
    panel.message = QStringLiteral("Choose files or folders to copy to ") + folder.value_or(m_path);
    panel.prompt = QStringLiteral("Copy to Phone");
    const QStringList chosen = m_desktop->chooseItems(panel);
    if (chosen.isEmpty())
        return;
    if (!asked)
        return;
    QList<QUrl> items;
    for (const QString& path : chosen)
        items.append(QUrl::fromLocalFile(path));
    // The panel named the folder shown when it opened.
    uploadTo(*asked, items, folder && *folder != asked->path ? folder : std::nullopt);
}

void BrowserModel::upload(const QList<QUrl>& items, const std::optional<QString>& folder)
{
    if (const std::optional<Shown> asked = shown())
        uploadTo(*asked, items, folder);
}

void BrowserModel::uploadTo(const Shown& asked, const QList<QUrl>& items, const std::optional<QString>& folder)
{
    // Into the folder shown: the same folder still; into a named one: the same phone.
    if (!stillShown(asked, !folder, QStringLiteral("copied")) || !files() || items.isEmpty())
        return;
    QStringList sources;
    QStringList names;
    for (const QUrl& item : items) {
        sources.append(localPath(item));
        names.append(sources.last().mid(sources.last().lastIndexOf(QLatin1Char('/')) + 1));
    }
    if (const std::optional<QString> text = localRefusal(names)) {
        setErrorMessage(*text);
        return;
    }
    const QString target = folder.value_or(asked.path);
    const std::shared_ptr<PhoneFiles> first = files();
    if (!first)
        return;
    const PushBatchLimits limits = m_pushBatchLimits;
    startJob(QStringLiteral("Copying to phone…"), true, true, [=](JobContext& job) {
        const browserpaths::workingnames::RecordingLeftovers recording(leftoverKey(asked.serial, asked.transport));
        const Cancel& cancel = job.cancel();
        std::shared_ptr<PhoneFiles> phone = first;
        // Conflicts are what the folder holds now, hidden items included,
        // whether it is the folder shown or another.
        const PhoneFolder held = PhoneFolder::read(*phone, target, cancel);
        std::vector<std::optional<RemoteEntry>> found;
        QStringList conflicts;
        for (const QString& name : names) {
            found.push_back(held.find(name, cancel));
            if (found.back())
                conflicts.append(name);
        }
        Conflict answer = Conflict::replace;
        if (!conflicts.isEmpty()) {
            // The question may outlive this job: what it finds out comes back with its answer.
            const auto [given, now] =
                job.ask([=](BrowserModel& model) -> std::pair<Conflict, std::shared_ptr<PhoneFiles>> {
                    const Conflict choice = model.askAboutConflicts(conflicts, QStringLiteral("the phone"));
                    if (choice == Conflict::cancel || !model.stillShown(asked, !folder, QStringLiteral("copied")))
                        return {Conflict::cancel, nullptr};
                    // Taken after the answer: a phone plugged back in meanwhile
                    // has a new connection, and the old one is closed.
                    const std::shared_ptr<PhoneFiles> files = model.files();
                    return {files ? choice : Conflict::cancel, files};
                });
            if (given == Conflict::cancel)
                return;
            answer = given;
            phone = now;
        }
        // A numbered name must not be one an item of this copy will take.
        QSet<QString> reserved;
        for (const QString& name : names)
            reserved.insert(nameKey(name));
        // The phone items this copy made or replaced, by key: on a storage
        // that ignores letter case, "A.txt" after "a.txt" reaches that same
        // file, and would take the place of what was just copied.
        QHash<QString, QString> sent;
        const auto madeByThisCopy = [&](const QString& name, const std::optional<RemoteEntry>& there) {
            if (!there)
                return;
            const auto earlier = sent.constFind(nameKey(there->name));
            if (earlier != sent.cend())
                throw SystemError(quoted(name) + QStringLiteral(" wasn't copied: the phone takes its name for ")
                                  + quoted(*earlier) + QStringLiteral(", which this copy has just put there."));
        };
        const int count = int(names.size());
        for (int index = 0; index < count; ++index) {
            cancel.check();
            const QString& name = names[index];
            std::optional<RemoteEntry> there = found[size_t(index)];
            if (there && answer == Conflict::skip)
                continue;
            QString phonePath = joined(target, there ? there->name : name);
            bool certainlyNew = false;
            if (there && answer == Conflict::keepBoth) {
                const QString free = uniqueRemoteName(
                    name,
                    [&](const QString& candidate) -> std::optional<bool> {
                        if (reserved.contains(nameKey(candidate)) || held.holdsAlike(candidate))
                            return true;
                        return phone->existence(joined(target, candidate), cancel);
                    },
                    cancel);
                reserved.insert(nameKey(free));
                phonePath = joined(target, free);
                there.reset();
                certainlyNew = true;
            } else if (!there) {
                // Not there when the folder was read; it may have come since.
                const std::optional<bool> isThere = phone->existence(phonePath, cancel);
                certainlyNew = isThere == std::optional<bool>(false);
                if (isThere == std::optional<bool>(true)) {
                    there = PhoneFolder::read(*phone, target, cancel).find(name, cancel);
                    if (there)
                        phonePath = joined(target, there->name);
                }
            }
            cancel.check();
            madeByThisCopy(name, there);
            sent.insert(nameKey(lastName(phonePath)), name);
            job.setItem(QStringLiteral("Copying ") + quoted(name) + QStringLiteral(" to phone") + place(index, count));
            if (there) {
                Meter meter(job.progressHandler(), localSize(sources[index]));
                sendOver(*phone, sources[index], *there, phonePath, limits, meter, cancel, &job);
                continue;
            }
            sendNew(*phone, sources[index], phonePath, certainlyNew, job.progressHandler(), cancel, &job, name);
        }
    });
}

std::vector<RemoteEntry> BrowserModel::withoutWorkingFiles(PhoneFiles& phone, const QString& folder,
                                                           std::vector<RemoteEntry> entries, const Cancel& cancel)
{
    std::vector<QString> stale;
    std::erase_if(entries, [&](const RemoteEntry& entry) {
        if (browserpaths::workingnames::isStale(entry.name))
            stale.push_back(entry.name);
        return browserpaths::workingnames::isHidden(entry.name);
    });
    // Left by a copy the phone or the application cut short; what a copy
    // running now uses is never stale.
    for (const QString& name : stale) {
        cancel.check();
        try {
            phone.remove(joined(folder, name), cancel);
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            // Tried again the next time the folder is read.
        }
    }
    return entries;
}
