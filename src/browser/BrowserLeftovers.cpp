#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "BrowserSettings.h"
#include "Error.h"
#include "Finished.h"
#include "Paths.h"

#include <QElapsedTimer>

#include <chrono>
#include <utility>

using paths::joined;

namespace {

using browserpaths::workingnames::Leftover;

// Each item gets this long, all of them together the second: a frozen
// phone holds up neither its queue nor the next pass for long.
constexpr std::chrono::milliseconds perItem(400);
constexpr std::chrono::milliseconds allItems(1000);

struct Removal {
    std::vector<Leftover> still; // to be removed later
    QSet<QString> shownGone;     // folders a kept, shown item went from
};

// Whether the recorded item went, or is provably gone: its folder is there
// and it is not (a card or storage away proves nothing). false when it
// stays for later.
bool removed(PhoneFiles& phone, const QString& path, const TimeLimit& limit)
{
    try {
        phone.removeOwn(path, limit.cancel());
        return true;
    } catch (...) {
        return !limit.expired() && phone.existence(path, limit.cancel()) == std::optional<bool>(false)
               && phone.existence(browserpaths::parentOf(path), limit.cancel()) == std::optional<bool>(true);
    }
}

// Removes the recorded items; those removed, gone, or no longer ours to
// remove are dropped.
Removal removeRecorded(PhoneFiles& phone, const std::vector<Leftover>& items, const Cancel& cancel)
{
    namespace names = browserpaths::workingnames;
    Removal removal;
    QElapsedTimer spent;
    spent.start();
    for (const Leftover& item : items) {
        const qsizetype slash = item.path.lastIndexOf(QLatin1Char('/'));
        const QString name = item.path.mid(slash + 1);
        const bool kept = !names::isHidden(name);
        // Only ever an item under a working name, recorded, whose maker is
        // gone (beginRemoval()); one kept is the person's new copy, unless
        // the item it was to replace is still there.
        if (!browserpaths::isWorkingName(name) || (kept && item.replacing.isEmpty()))
            continue;
        // A copy running now uses the name, or the time is up: next time.
        if (names::isHeld(name) || cancel.isCancelled() || spent.elapsed() >= allItems.count()) {
            removal.still.push_back(item);
            continue;
        }
        const TimeLimit limit(perItem);
        if (kept) {
            const std::optional<bool> replaced = phone.existence(item.replacing, limit.cancel());
            if (replaced == std::optional<bool>(false)) {
                // The only copy now: the swap a Stop or a lost phone cut
                // short is finished, where the phone renames.
                try {
                    if (phone.takeName(item.path, item.replacing, limit.cancel())) {
                        names::unkeep(name);
                        removal.shownGone.insert(item.path.left(std::max<qsizetype>(slash, 1)));
                    }
                } catch (...) {
                    if (limit.expired())
                        removal.still.push_back(item);
                }
                continue;
            }
            if (!replaced) {
                removal.still.push_back(item);
                continue;
            }
        }
        if (!removed(phone, item.path, limit)) {
            removal.still.push_back(item);
        } else if (kept) {
            names::unkeep(name);
            removal.shownGone.insert(item.path.left(std::max<qsizetype>(slash, 1)));
        }
    }
    return removal;
}

} // namespace

QString BrowserModel::leftoverKey(const QString& serial, Device::Transport transport)
{
    return (transport == Device::Transport::mtp ? QStringLiteral("mtp:") : QStringLiteral("adb:")) + serial;
}

void BrowserModel::removeLeftovers(std::function<void()> finished)
{
    // What a copy to the computer could not remove (its folder was away)
    // goes once it can, without waiting for the next start; local disk, on
    // a worker, before the phone's.
    if (browserpaths::workingnames::localLeft().empty() || m_removingLocal) {
        removePhoneLeftovers(std::move(finished));
        return;
    }
    removeLocalLeftovers([this, finished] { removePhoneLeftovers(finished); });
}

void BrowserModel::removeLocalLeftovers(std::function<void()> next)
{
    namespace names = browserpaths::workingnames;
    const std::vector<names::LocalRecord> local = names::localLeft();
    if (local.empty() || m_removingLocal) {
        call(next);
        return;
    }
    m_removingLocal = true;
    // A file of the person's that stays hidden is told of, after whatever is shown.
    const auto tell = [this](const QStringList& sentences) {
        QStringList told;
        for (const QString& sentence : sentences) {
            if (!m_toldLeftovers.contains(sentence)) {
                m_toldLeftovers.insert(sentence);
                told.append(sentence);
            }
        }
        if (told.isEmpty())
            return;
        const QString said = told.join(QLatin1Char(' '));
        if (m_errorMessage)
            setErrorMessage(*m_errorMessage + QLatin1Char(' ') + said, m_errorDetails + told, false);
        else
            setErrorMessage(said, told.size() > 1 ? told : QStringList(), false);
    };
    m_localLeftoverTask = Task::run(
        this, [local](const Cancel&) { return names::removeLocalLeftovers(local); },
        [this, tell, next](const QStringList& told) {
            m_removingLocal = false;
            tell(told);
            call(next);
        },
        [this, tell, next, local](const std::exception_ptr& error) {
            m_removingLocal = false;
            // No thread: the disk is local, so here and now.
            if (NoThreadError::matches(error))
                tell(names::removeLocalLeftovers(local));
            call(next);
        });
}

void BrowserModel::removePhoneLeftovers(std::function<void()> finished)
{
    const std::optional<Device> device = readyDevice();
    if (!device) {
        call(finished);
        return;
    }
    const QString key = leftoverKey(device->serial, device->transport);
    if (const auto running = m_removingLeftovers.find(key); running != m_removingLeftovers.end()) {
        // Under way already: what waits for this removal waits for that one.
        if (finished)
            running->push_back(std::move(finished));
        return;
    }
    if (!browserpaths::workingnames::hasLeft(key)) {
        call(finished);
        return;
    }
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone) {
        call(finished);
        return;
    }
    // Still recorded while they go: a crash meanwhile keeps the records.
    const std::vector<Leftover> items = browserpaths::workingnames::beginRemoval(key);
    m_removingLeftovers.insert(key, {});
    // Records what stays and hands back what waited meanwhile.
    const auto leave = [this, key](const std::vector<Leftover>& still) {
        browserpaths::workingnames::endRemoval(key, still);
        storeWorkingItems();
        return m_removingLeftovers.take(key);
    };
    m_leftoverTask = Task::run(
        this, [phone, items](const Cancel& cancel) { return removeRecorded(*phone, items, cancel); },
        [this, key, leave, finished](const Removal& removal) {
            std::vector<std::function<void()>> waiting = leave(removal.still);
            waiting.insert(waiting.begin(), finished);
            const auto all = [waiting] {
                for (const std::function<void()>& one : waiting)
                    call(one);
            };
            // A kept copy the folder shown listed is gone from it now.
            const std::optional<Device> now = readyDevice();
            if (now && leftoverKey(now->serial, now->transport) == key && removal.shownGone.contains(m_path))
                reload(all);
            else
                all();
        },
        [key, leave, items, finished](const std::exception_ptr&) {
            const std::vector<std::function<void()>> waiting = leave(items);
            call(finished);
            for (const std::function<void()>& one : waiting)
                call(one);
        });
}

void BrowserModel::storeWorkingItems()
{
    namespace names = browserpaths::workingnames;
    const uint64_t now = names::changes();
    if (now == m_storedChanges)
        return;
    // Through the store copies write to as they go, in order with them.
    names::store();
    m_storedChanges = now;
}

std::vector<RemoteEntry> BrowserModel::removeStaleWorkingFiles(PhoneFiles& phone, const QString& folder,
                                                               std::vector<RemoteEntry> entries, const Cancel& cancel)
{
    std::vector<QString> stale;
    std::erase_if(entries, [&](const RemoteEntry& entry) {
        if (browserpaths::workingnames::isStale(joined(folder, entry.name)))
            stale.push_back(entry.name);
        return browserpaths::workingnames::isHidden(entry.name);
    });
    // Recorded by us, left by a copy the phone or a process cut short whose
    // maker is gone; what a running process uses is never stale, and an item
    // we hold no record of (another process's, another computer's) is left
    // alone.
    for (const QString& name : stale) {
        cancel.check();
        try {
            phone.removeOwn(joined(folder, name), cancel);
        } catch (const Cancelled&) {
            throw;
        } catch (...) {
            // Tried again the next time the folder is read.
        }
    }
    return entries;
}
