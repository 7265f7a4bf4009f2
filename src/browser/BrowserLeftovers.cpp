#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Finished.h"

#include <QElapsedTimer>

#include <chrono>
#include <utility>

namespace {

// Each item gets this long, all of them together the second: a frozen
// phone holds up neither its queue nor the next pass for long.
constexpr std::chrono::milliseconds perItem(400);
constexpr std::chrono::milliseconds allItems(1000);

// The recorded items still to be removed later; those removed, gone, or no
// longer ours to remove are dropped.
std::vector<QString> removeRecorded(PhoneFiles& phone, const std::vector<QString>& paths, const Cancel& cancel)
{
    namespace names = browserpaths::workingnames;
    std::vector<QString> still;
    QElapsedTimer spent;
    spent.start();
    for (const QString& path : paths) {
        const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
        // Only ever an item under one of our working names; one kept is the
        // person's new copy now.
        if (!browserpaths::isWorkingName(name) || !names::isHidden(name))
            continue;
        // A copy running now uses the name, or the time is up: next time.
        if (!names::isStale(name) || cancel.isCancelled() || spent.elapsed() >= allItems.count()) {
            still.push_back(path);
            continue;
        }
        const TimeLimit limit(perItem);
        try {
            phone.remove(path, limit.cancel());
        } catch (...) {
            if (limit.expired() || phone.existence(path, limit.cancel()) != std::optional<bool>(false))
                still.push_back(path);
        }
    }
    return still;
}

} // namespace

QString BrowserModel::leftoverKey(const QString& serial, Device::Transport transport)
{
    return (transport == Device::Transport::mtp ? QStringLiteral("mtp:") : QStringLiteral("adb:")) + serial;
}

void BrowserModel::removeLeftovers(std::function<void()> finished)
{
    const std::optional<Device> device = readyDevice();
    if (!device) {
        call(finished);
        return;
    }
    const QString key = leftoverKey(device->serial, device->transport);
    if (m_removingLeftovers.contains(key) || !browserpaths::workingnames::hasLeft(key)) {
        call(finished);
        return;
    }
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone) {
        call(finished);
        return;
    }
    const std::vector<QString> paths = browserpaths::workingnames::takeLeft(key);
    m_removingLeftovers.insert(key);
    const auto leave = [key](const std::vector<QString>& still) {
        for (const QString& path : still)
            browserpaths::workingnames::leave(key, path);
    };
    m_leftoverTask = Task::run(
        this, [phone, paths](const Cancel& cancel) { return removeRecorded(*phone, paths, cancel); },
        [this, key, leave, finished](const std::vector<QString>& still) {
            leave(still);
            m_removingLeftovers.remove(key);
            call(finished);
        },
        [this, key, leave, paths, finished](const std::exception_ptr&) {
            leave(paths);
            m_removingLeftovers.remove(key);
            call(finished);
        });
}
