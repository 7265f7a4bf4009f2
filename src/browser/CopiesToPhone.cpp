#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "CopyParts.h"
#include "Paths.h"
#include "Error.h"
#include "PushBatches.h"
#include "WorkerPool.h"

#include <QDir>
#include <QScopeGuard>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <map>
#include <mutex>
#include <thread>

using browserpaths::nameKey;
using paths::joined;
using paths::localSize;

using namespace copyparts;
using browserpaths::lastName;
using browserpaths::parentOf;

namespace {

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
                 BrowserModel::removeStaleWorkingFiles(phone, path, phone.list(path, true, cancel), cancel)) {
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
// After a Stop, for the mark of what an answer covers.
constexpr std::chrono::milliseconds markLimit(150);
// How long after a Stop a file's swap for the phone's old one may go on.
constexpr std::chrono::milliseconds swapGrace(150);

// Whether what a stopped or failed copy made at `path` is gone.
bool removedInTime(PhoneFiles& phone, const QString& path,
                   std::chrono::milliseconds within = cleanUpLimit)
{
    // The job's token may be stopped already; the clean-up has its own.
    const TimeLimit limit(within);
    namespace names = browserpaths::workingnames;
    try {
        phone.removeOwn(path, limit.cancel());
        names::RecordingLeftovers::forget(path);
        return true;
    } catch (...) {
        // Nothing there to remove is as good.
        if (!limit.expired() && phone.existence(path, limit.cancel()) == std::optional<bool>(false)) {
            names::RecordingLeftovers::forget(path);
            return true;
        }
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

LeftOutError cameMeanwhile(const QString& name)
{
    return LeftOutError(quoted(name) + QStringLiteral(" wasn't copied: an item of that name came onto the phone meanwhile."));
}

// The sentence for an item the phone left out.
LeftOutError leftOut(const PhoneFiles::Clash& clash)
{
    return clash.cameMeanwhile ? cameMeanwhile(clash.name) : inTheWay(clash.name, clash.folderThere);
}

// An item of a folder's left out: into the copy's account, the copy going
// on; without a job to account to, it fails the copy.
void account(JobContext* job, const LeftOutError& left, const QString& name)
{
    if (!job)
        throw left;
    job->account().leftOut(name, left.description());
}

void account(JobContext* job, const std::vector<PhoneFiles::Clash>& clashes)
{
    for (const PhoneFiles::Clash& clash : clashes)
        account(job, leftOut(clash), clash.name);
}

// ---- what a copy to the phone leaves out ----------------------------------------------

// The phone's refusal of a name (cut short, not text over USB), as it says it.
NameRefusal refusalOf(const PhoneFiles& phone)
{
    return [&phone](const QString& name) -> std::optional<QString> {
        try {
            phone.checkStorable(name);
            return std::nullopt;
        } catch (const Error& refused) {
            return refused.description(); // the name's own, whatever the error's kind
        }
    };
}

// The sentence for an item the copy leaves out, named by `shownAs`: its
// path from the folder holding the person's item ("Work/pipe").
LeftOutError leftOut(const LeftOutItem& item, const QString& shownAs)
{
    using Why = LeftOutItem::Why;
    const QString named = quoted(shownAs);
    const bool denied = item.error == EACCES || item.error == EPERM;
    const QString reason = QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(item.error)) + QStringLiteral(").");
    switch (item.why) {
    case Why::notRegular:
        return LeftOutError(named + QStringLiteral(" was left out: it isn't a regular file or folder."));
    case Why::linkToFolder:
        return LeftOutError(named + QStringLiteral(" was left out: it is a link to a folder."));
    case Why::brokenLink:
        return LeftOutError(named + QStringLiteral(" was left out: it is a link to an item that isn't there."));
    case Why::unreadableFolder:
        return LeftOutError(named + QStringLiteral(" wasn't copied, nor what it holds: ")
                            + (denied ? QStringLiteral("you don't have permission to read that folder.")
                                      : QStringLiteral("the folder can't be read") + reason));
    case Why::unreadableFile:
        return LeftOutError(named + (denied ? QStringLiteral(" wasn't copied: you don't have permission to read it.")
                                            : QStringLiteral(" wasn't copied: it can't be read") + reason));
    case Why::name:
        break;
    }
    // The phone's sentence names the item alone; the person's path says where.
    QString sentence = item.sentence;
    const QString own = quoted(lastName(shownAs));
    if (sentence.startsWith(own))
        sentence.replace(0, own.size(), named);
    return LeftOutError(sentence);
}

// The plan of a copy of `source` shown as `shownAs`: an item the copy can't
// carry at all fails as left out, before anything of it is sent.
CarryPlan carryPlan(const PhoneFiles& phone, const QString& source, const QString& shownAs, bool deep = true)
{
    CarryPlan plan = planCarried(source, refusalOf(phone), deep);
    for (const LeftOutItem& item : plan.leftOut) {
        if (item.path.isEmpty())
            throw leftOut(item, shownAs);
    }
    return plan;
}

// Each item the plan leaves out of the item shown as `shownAs`, into the account.
void account(JobContext* job, const CarryPlan& plan, const QString& shownAs)
{
    for (const LeftOutItem& item : plan.leftOut) {
        const QString name = shownAs + QLatin1Char('/') + item.path;
        account(job, leftOut(item, name), name);
    }
}

// What the plan carries of a computer folder, into the phone folder `into`,
// which is made here: each folder holding something left out is made, and
// the rest of what it holds sent whole into it.
void sendCarried(PhoneFiles& phone, const CarryPlan& plan, const QString& into, Meter& meter, const Cancel& cancel)
{
    if (phone.mergesOnPhone()) {
        // One command for the folders, one transfer for each folder's items.
        QStringList folders;
        for (const PushBatch& folder : plan.folders)
            folders.append(folder.folder.isEmpty() ? lastName(into) : lastName(into) + QLatin1Char('/') + folder.folder);
        phone.makeFolders(parentOf(into), folders, cancel);
        const int64_t pathLimit = PushBatchLimits {}.pathBytes;
        for (const PushBatch& folder : plan.folders) {
            const QString target = folder.folder.isEmpty() ? into : joined(into, folder.folder);
            const auto send = [&](const QStringList& sources, int64_t bytes) {
                phone.pushInto(sources, target, meter.part(bytes), cancel);
                meter.done(bytes);
            };
            int64_t pathBytes = 0;
            for (const QString& source : folder.sources)
                pathBytes += paths::bytes(source).size() + 1;
            if (pathBytes <= pathLimit) {
                if (!folder.sources.isEmpty())
                    send(folder.sources, folder.bytes);
                continue;
            }
            // So many names that one command line would pass the system's
            // limit: in parts, each its own size.
            QStringList part;
            int64_t partPaths = 0;
            int64_t partBytes = 0;
            for (const QString& source : folder.sources) {
                const int64_t length = paths::bytes(source).size() + 1;
                if (!part.isEmpty() && partPaths + length > pathLimit) {
                    send(part, partBytes);
                    part.clear();
                    partPaths = partBytes = 0;
                }
                part.append(source);
                partPaths += length;
                partBytes += localSize(source);
            }
            send(part, partBytes);
        }
        return;
    }
    for (const PushBatch& folder : plan.folders) {
        const QString path = folder.folder.isEmpty() ? into : joined(into, folder.folder);
        phone.makeFolder(path, cancel);
        for (const QString& source : folder.sources) {
            cancel.check();
            const int64_t size = localSize(source);
            phone.push(source, joined(path, lastName(source)), meter.part(size), cancel);
            meter.done(size);
        }
    }
}

// Whether a failure is one item's own, to account and go on from: with a
// job to account to, and only for what reachOf() says concerns the item.
bool leftOutAlone(const std::exception_ptr& error, const JobContext* job)
{
    return job && reachOf(error) == Reach::item;
}

// What the person's answer to replace covers, taken as it was given: on a
// phone keeping change times its mark; elsewhere the folders the copy
// merges into as they were listed then, by path.
struct Coverage {
    QString since;
    std::map<QString, PhoneFolder> folders;

    // The phone's item `existing`, listed as the question was put, as covered.
    PhoneFiles::Covered of(const RemoteEntry& existing) const { return {since, existing}; }
};

// Takes the phone folder `phonePath` into `coverage` as it is, and each of
// its folders the computer folder `source` merges into, as deep as they go.
void coverFolders(PhoneFiles& phone, const QString& source, const QString& phonePath, Coverage& coverage,
                  const Cancel& cancel)
{
    PhoneFolder held = PhoneFolder::read(phone, phonePath, cancel);
    for (const paths::LocalItem& item : paths::localItems(source)) {
        cancel.check();
        if (item.kind != paths::Kind::folder)
            continue;
        if (const std::optional<RemoteEntry> there = held.find(item.name, cancel); there && there->isDirectory)
            coverFolders(phone, joined(source, item.name), joined(phonePath, there->name), coverage, cancel);
    }
    coverage.folders.insert_or_assign(phonePath, std::move(held));
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
    throw LeftOutError(quoted(lastName(source)) + QStringLiteral(" wasn't copied: it holds ")
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
    // A name the phone would store cut short is refused before anything is sent.
    phone.checkStorable(lastName(phonePath));
    const QString shownAs = item.isEmpty() ? lastName(source) : item;
    // What it holds that the copy can't carry is left out, the rest sent.
    const CarryPlan plan = carryPlan(phone, source, shownAs);
    const auto send = [&](const QString& into) {
        if (plan.leftOut.empty()) {
            phone.push(source, into, progress, cancel);
            return;
        }
        Meter meter(progress, plan.bytes);
        sendCarried(phone, plan, into, meter, cancel);
    };
    if (!phone.canRename(cancel)) {
        // A phone that can't rename takes the item under its name at once,
        // in place of anything there: only while nothing is.
        const std::optional<bool> there = phone.existence(phonePath, cancel);
        cancel.check();
        if (there == std::optional<bool>(true))
            throw cameMeanwhile(lastName(phonePath));
        if (!there)
            throw SystemError(QStringLiteral("The phone didn’t answer whether ") + quoted(lastName(phonePath))
                              + QStringLiteral(" is free."));
        certainlyNew = true;
        try {
            send(phonePath);
        } catch (...) {
            if (cancel.isCancelled() && certainlyNew)
                cleanUp(phonePath, false);
            throw;
        }
        account(job, plan, shownAs);
        return;
    }
    const browserpaths::HeldWorkingName working(browserpaths::temporaryName(lastName(phonePath), true));
    const QString temporary = joined(parentOf(phonePath), working.name());
    // Recorded before it is made: a crash leaves the record.
    browserpaths::workingnames::RecordingLeftovers::recordMaking(temporary);
    try {
        send(temporary);
        cancel.check();
        // As the folder is now: a pair named alike meanwhile is caught too.
        checkAlikeNamesKept(phone, source, planCarried(source, {}).alike, temporary, cancel);
        if (!phone.takeName(temporary, phonePath, cancel))
            throw cameMeanwhile(lastName(phonePath));
    } catch (...) {
        cleanUp(temporary, true);
        throw;
    }
    browserpaths::workingnames::RecordingLeftovers::forget(temporary);
    account(job, plan, shownAs);
}

// A computer file in place of the phone file `phonePath`: sent under a
// hidden name beside it, which takes the file's place once whole. Once the
// old file is gone the new one stays, in its place or, should the phone
// refuse it the name, under the hidden name the message gives. With the job,
// what a swap cut short left on the phone is named when the job ends.
void sendFile(PhoneFiles& phone, const QString& source, const QString& phonePath,
              const PhoneFiles::Covered& covered, const Progress& progress, const Cancel& cancel,
              JobContext* job = nullptr)
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
    names::RecordingLeftovers::recordMaking(temporary);
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
    std::optional<PhoneFiles::Clash> clash;
    try {
        clash = phone.putInPlace(temporary, phonePath, covered, grace.cancel());
        if (!clash)
            names::RecordingLeftovers::forget(temporary);
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
        // The old file is gone: the new copy is the only one, and takes the
        // name now where the phone lets it (the old one's removal may be the
        // answer that was lost).
        if (!cancel.isCancelled() && phone.existence(temporary, grace.cancel()) == std::optional<bool>(true)) {
            try {
                if (phone.takeName(temporary, phonePath, grace.cancel())) {
                    names::RecordingLeftovers::forget(temporary);
                    return;
                }
            } catch (...) {
            }
            names::RecordingLeftovers::record(temporary, phonePath);
            throw SystemError(quoted(item)
                              + QStringLiteral(" was removed from the phone, but the phone didn't let its new copy "
                                               "take the name. The new copy is in ")
                              + parentOf(phonePath) + QStringLiteral(" as the hidden item ") + quoted(working.name())
                              + QStringLiteral("."));
        }
        // Stopped, or the phone didn't say: the swap is finished later.
        names::RecordingLeftovers::record(temporary, phonePath);
        note(quoted(item)
             + QStringLiteral(" was removed from the phone, but the phone didn’t answer in time to give its new copy "
                              "the name; the new copy will take it when the phone is next reachable."));
        throw;
    }
    // What is at the name stays; the new copy goes.
    if (clash) {
        cleanUp(temporary);
        throw leftOut(*clash);
    }
}

// One piece of work at a time on a thread beside the job's; where no thread
// can be had, the work runs at once on the job's own.
class Beside {
public:
    using Result = std::vector<PhoneFiles::Clash>;
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
            return {};
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
// working folder. Each item left out by a clash goes into the account.
void mergeInParts(PhoneFiles& phone, const std::vector<PushBatch>& batches, const QString& temporary,
                  const QString& phonePath, const QString& since, Meter& meter, const Cancel& cancel,
                  JobContext* job)
{
    const QString parent = parentOf(temporary);
    const QString working = lastName(temporary);
    const auto partFolder = [&](size_t k) {
        const QString number = QString::number(k);
        return batches[k].folder.isEmpty() ? number : number + QLatin1Char('/') + batches[k].folder;
    };
    std::vector<PhoneFiles::Clash> clashes;
    const auto keep = [&clashes](const std::vector<PhoneFiles::Clash>& more) {
        clashes.insert(clashes.end(), more.begin(), more.end());
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
            merging.start([&phone, from = joined(temporary, QString::number(k)), phonePath, since, parent, next,
                           cancel] {
                std::vector<PhoneFiles::Clash> merged = phone.mergeInto(from, phonePath, since, cancel);
                if (!next.isEmpty())
                    phone.makeFolders(parent, {next}, cancel);
                return merged;
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
    account(job, clashes);
}

// Moves the files of a merge sent in one transfer into place on the phone
// while the transfer goes on, as many as it has finished, so that their
// replacing the phone's (one rename each, which the phone's storage may
// make cost as much as the sending) overlaps the sending. It keeps at it
// until finish(), which waits for the move under way; a Stop ends that.
class MoveWhilePushing {
public:
    MoveWhilePushing(PhoneFiles& phone, QString from, QString to, QString marked, QString since,
                     const Cancel& cancel)
        : m_phone(phone), m_from(std::move(from)), m_to(std::move(to)), m_marked(std::move(marked)),
          m_since(std::move(since)), m_cancel(cancel)
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
                m_phone.moveWholeFiles(m_from, m_to, m_marked, m_since, m_cancel);
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
    const QString m_since;
    const Cancel m_cancel;
    std::mutex m_lock;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::thread m_thread;
};

// A computer item onto the phone item `existing` at `phonePath`: a file
// replaces it as sendFile() does, a folder is merged into it: on the phone
// when it can (sent whole beside it, then moved in; a large one of few
// files in parts, as mergeInParts() does), else item by item, each new item
// as sendNew() makes it.
// `planned`: the plan of a folder merged on the phone, made already.
void sendOver(PhoneFiles& phone, const QString& source, const RemoteEntry& existing, const QString& phonePath,
              const Coverage& coverage, const PushBatchLimits& limits, Meter& meter, const Cancel& cancel,
              JobContext* job = nullptr, const QString& item = {}, const CarryPlan* planned = nullptr)
{
    const QString shownAs = item.isEmpty() ? lastName(source) : item;
    const bool isFolder = paths::kindOf(source, true) == paths::Kind::folder;
    if (isFolder != existing.isDirectory)
        throw inTheWay(existing.name, existing.isDirectory);
    if (!isFolder) {
        carryPlan(phone, source, shownAs, false);
        const int64_t size = localSize(source);
        sendFile(phone, source, phonePath, coverage.of(existing), meter.part(size), cancel, job);
        meter.done(size);
        return;
    }
    // What the folder holds that the copy can't carry is named, not sent:
    // over adb all of it, below too; item by item, what is in this folder.
    std::optional<CarryPlan> own;
    const CarryPlan& plan = planned ? *planned : own.emplace(carryPlan(phone, source, shownAs, phone.mergesOnPhone()));
    if (phone.mergesOnPhone()) {
        const browserpaths::HeldWorkingName working(browserpaths::temporaryName(lastName(phonePath), true));
        const QString temporary = joined(parentOf(phonePath), working.name());
        browserpaths::workingnames::RecordingLeftovers::recordMaking(temporary);
        // Many files: those sent move into place while the rest is sent, in
        // one transfer whatever the size (which keeps the phone busier than
        // parts do), where the phone's times tell a finished file. Alike
        // names are checked once all of them are there.
        const std::optional<AlikeNames>& alike = plan.alike;
        const bool odd = !plan.leftOut.empty();
        const bool many = !odd && !alike && plan.files >= limits.movesWhileSending;
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
        if (!early && !alike && !odd) {
            if (const std::vector<PushBatch> batches = pushBatches(source, limits); !batches.empty()) {
                mergeInParts(phone, batches, temporary, phonePath, coverage.since, meter, cancel, job);
                return;
            }
        }
        const int64_t size = plan.bytes;
        // The transfer then goes inside the working folder, beside the mark.
        const QString sent = many ? joined(temporary, QStringLiteral("sent")) : temporary;
        std::vector<PhoneFiles::Clash> clashes;
        try {
            {
                std::optional<MoveWhilePushing> moving;
                if (early)
                    moving.emplace(phone, sent, phonePath, temporary, coverage.since, cancel);
                if (odd)
                    sendCarried(phone, plan, sent, meter, cancel);
                else
                    phone.push(source, sent, meter.part(size), cancel);
            }
            cancel.check();
            checkAlikeNamesKept(phone, source, alike, sent, cancel);
            clashes = phone.mergeInto(sent, phonePath, coverage.since, cancel);
        } catch (...) {
            removeQuietly(phone, temporary, job, lastName(phonePath));
            throw;
        }
        // The merge removed what it moved from.
        if (many)
            removeQuietly(phone, temporary, job, lastName(phonePath));
        else
            browserpaths::workingnames::RecordingLeftovers::forget(temporary);
        if (!odd)
            meter.done(size);
        account(job, clashes);
        account(job, plan, shownAs);
        return;
    }
    // What the answer covers, not what the folder holds by now.
    const auto covered = coverage.folders.find(phonePath);
    const PhoneFolder held =
        covered != coverage.folders.end() ? covered->second : PhoneFolder::read(phone, phonePath, cancel);
    account(job, plan, shownAs);
    QSet<QString> out;
    for (const LeftOutItem& odd : plan.leftOut)
        out.insert(odd.path);
    for (const paths::LocalItem& entry : paths::localItems(source)) {
        cancel.check();
        if (out.contains(entry.name))
            continue;
        const QString path = joined(source, entry.name);
        const QString inside = shownAs + QLatin1Char('/') + entry.name;
        try {
            if (const std::optional<RemoteEntry> there = held.find(entry.name, cancel)) {
                sendOver(phone, path, *there, joined(phonePath, there->name), coverage, limits, meter, cancel, job,
                         inside);
                continue;
            }
            const int64_t size = localSize(path);
            sendNew(phone, path, joined(phonePath, entry.name), false, meter.part(size), cancel, job, inside);
            meter.done(size);
        } catch (...) {
            if (!leftOutAlone(std::current_exception(), job))
                throw;
            job->account().leftOut(inside, failureText(std::current_exception()).value_or(QString()));
        }
    }
}

} // namespace

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
    // By the path's bytes: a name that isn't UTF-8 has no text a URL could hold.
    for (const QString& path : chosen)
        items.append(QUrl::fromEncoded("file://" + paths::bytes(path).toPercentEncoding("/")));
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
        // What an answer to replace covers is taken as the question is put:
        // whatever comes or changes in those folders from then on is someone
        // else's, never replaced.
        Coverage coverage;
        std::optional<browserpaths::HeldWorkingName> markName;
        QString markFolder;
        // After a Stop only a moment more is given to it, the clean-up of
        // the copy having had its own: what stays is recorded, and the
        // next look at the folder removes it.
        const auto dropMark = qScopeGuard([&] {
            if (!markFolder.isEmpty())
                removedInTime(*phone, markFolder, cancel.isCancelled() ? markLimit : cleanUpLimit);
        });
        if (!conflicts.isEmpty()) {
            if (phone->mergesOnPhone()) {
                markName.emplace(browserpaths::temporaryName(conflicts.first(), true));
                markFolder = joined(target, markName->name());
                browserpaths::workingnames::RecordingLeftovers::recordMaking(markFolder);
                coverage.since = phone->markSince(markFolder, cancel);
            } else {
                for (int index = 0; index < int(names.size()); ++index) {
                    const std::optional<RemoteEntry>& there = found[size_t(index)];
                    if (there && there->isDirectory && paths::kindOf(sources[index], true) == paths::Kind::folder)
                        coverFolders(*phone, sources[index], joined(target, there->name), coverage, cancel);
                }
            }
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
                throw LeftOutError(quoted(name) + QStringLiteral(" wasn't copied: the phone takes its name for ")
                                  + quoted(*earlier) + QStringLiteral(", which this copy has just put there."));
        };
        const int count = int(names.size());
        CopyAccount& account = job.account();
        for (int index = 0; index < count; ++index) {
            cancel.check();
            const QString& name = names[index];
            try {
                // MTP names are text: refused by the person's name before
                // any working name is made of it.
                if (asked.transport == Device::Transport::mtp && !name.isValidUtf16())
                    throw LeftOutError(quoted(name)
                                       + QStringLiteral(" has a name that isn't valid UTF-8, so it can't be copied to "
                                                        "the phone over USB. Rename it first."));
                std::optional<RemoteEntry> there = found[size_t(index)];
                if (there && answer == Conflict::skip) {
                    account.skipped(name);
                    continue;
                }
                QString phonePath = joined(target, there ? there->name : name);
                bool certainlyNew = false;
                if (!there) {
                    // Not there when the folder was read; it may have come since,
                    // and what the person wasn't asked about is never replaced.
                    const std::optional<bool> isThere = phone->existence(phonePath, cancel);
                    certainlyNew = isThere == std::optional<bool>(false);
                    if (isThere == std::optional<bool>(true)) {
                        const PhoneFolder now = PhoneFolder::read(*phone, target, cancel);
                        if (const std::optional<RemoteEntry> came = now.find(name, cancel)) {
                            madeByThisCopy(name, came);
                            if (answer == Conflict::skip) {
                                account.skipped(name);
                                continue;
                            }
                            if (answer != Conflict::keepBoth)
                                throw cameMeanwhile(name);
                            there = came;
                        }
                    }
                }
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
                }
                cancel.check();
                madeByThisCopy(name, there);
                sent.insert(nameKey(lastName(phonePath)), name);
                job.setItem(QStringLiteral("Copying ") + quoted(name) + QStringLiteral(" to phone") + place(index, count));
                if (there) {
                    // A folder merged on the phone: one walk for its plan and its size.
                    std::optional<CarryPlan> plan;
                    if (phone->mergesOnPhone() && there->isDirectory
                        && paths::kindOf(sources[index], true) == paths::Kind::folder)
                        plan = carryPlan(*phone, sources[index], name);
                    Meter meter(job.progressHandler(), plan ? plan->bytes : localSize(sources[index]));
                    sendOver(*phone, sources[index], *there, phonePath, coverage, limits, meter, cancel, &job, name,
                             plan ? &*plan : nullptr);
                } else {
                    sendNew(*phone, sources[index], phonePath, certainlyNew, job.progressHandler(), cancel, &job, name);
                }
                account.copied(name);
            } catch (...) {
                if (leftOutAlone(std::current_exception(), &job)) {
                    account.leftOut(name, failureText(std::current_exception()).value_or(QString()));
                    continue;
                }
                // What ends the copy: the items after it go untold otherwise.
                if (const std::optional<QString> why = failureText(std::current_exception());
                    why && !cancel.isCancelled()) {
                    account.failed(name, *why);
                    for (int rest = index + 1; rest < count; ++rest)
                        account.notReached(names[rest]);
                }
                throw;
            }
        }
    });
}

