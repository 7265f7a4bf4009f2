#include "BrowserModel.h"

#include "BrowserSettings.h"
#include "Finished.h"
#include "Error.h"

#include <chrono>
#include <utility>

namespace {

constexpr std::chrono::milliseconds pollInterval(2000);
// The facts (battery, storage) are read on every this many passes.
constexpr int infoEveryPasses = 15;

// Ready beats not ready, adb beats MTP, USB beats Wi-Fi.
int score(const Device& device)
{
    return (device.isReady() ? 4 : 0) + (device.transport == Device::Transport::adb ? 2 : 0)
           + (device.isWireless() ? 0 : 1);
}

} // namespace

// What the worker half of a pass brings back.
struct BrowserModel::PollLists {
    bool lookedForADB = false;
    std::optional<ADB> located;
    std::vector<Device> adb;
    std::vector<Device> mtp;
    ConflictingApps::Scan conflicts;
};

void BrowserModel::startPolling()
{
    if (std::exchange(m_pollStarted, true))
        return;
    m_clock->after(std::chrono::milliseconds(0), this, [this] { pollOnce(); });
}

void BrowserModel::pollOnce()
{
    // The next pass is timed from the end of this one, so passes of the poll
    // never overlap.
    refreshDevices([this] { m_clock->after(pollInterval, this, [this] { pollOnce(); }); });
}

void BrowserModel::refreshDevices(std::function<void()> finished)
{
    const std::shared_ptr<AdbSource> adbSource = m_adbSource;
    const std::shared_ptr<MtpSource> mtpSource = m_mtpSource;
    const std::optional<ADB> known = m_adb;

    m_pollTask = Task::run(
        this,
        [adbSource, mtpSource, known](const Cancel& cancel) {
            PollLists lists;
            std::optional<ADB> tool = known;
            if (!tool) {
                lists.lookedForADB = true;
                lists.located = adbSource->locate();
                tool = lists.located;
            }
            if (tool) {
                try {
                    lists.adb = adbSource->devices(*tool, cancel);
                } catch (const Cancelled&) {
                    throw;
                } catch (const ADBError& error) {
                    // adb ended from outside (a server restart) says nothing
                    // of the phones: the pass is skipped, the list kept.
                    if (error.kind() == ADBError::Kind::stopped)
                        throw;
                } catch (...) {
                    // A broken tool or server counts as no adb phones.
                }
            }
            QSet<QString> readyOverADB;
            for (const Device& device : lists.adb) {
                if (device.isReady())
                    readyOverADB.insert(device.serial);
            }
            cancel.check();
            lists.mtp = mtpSource->devices(readyOverADB, cancel);
            lists.conflicts = ConflictingApps::scan(*mtpSource, lists.mtp);
            return lists;
        },
        [this, finished](PollLists lists) { mergePass(std::move(lists), finished); },
        [this, finished](const std::exception_ptr& error) {
            // A pass that cannot start is shown, and the poll still goes on.
            if (NoThreadError::matches(error))
                setErrorMessage(failureText(error));
            call(finished);
        });
}

void BrowserModel::mergePass(PollLists lists, std::function<void()> finished)
{
    if (lists.lookedForADB && !m_adb) {
        m_adb = lists.located;
        setAdbMissing(!m_adb.has_value());
    }
    setConflicts(std::move(lists.conflicts));

    // An adb entry that isn't ready gives way to the same phone's ready MTP
    // entry (the phone waits for USB debugging permission but offers files).
    QSet<QString> readyOverMTP;
    for (const Device& device : lists.mtp) {
        if (device.isReady())
            readyOverMTP.insert(device.serial);
    }
    QList<Device> merged;
    for (const Device& device : lists.adb) {
        if (!device.isReady() && readyOverMTP.contains(device.serial))
            continue;
        merged.append(device);
    }
    for (const Device& device : lists.mtp)
        merged.append(device);

    // A serial that left the list may come back as another phone (a Wi-Fi
    // address given to another phone, an emulator's port used again): who it
    // is gets asked again then.
    QSet<QString> listed;
    for (const Device& device : std::as_const(merged))
        listed.insert(device.serial);
    m_deviceNames.removeIf([&](const auto& name) { return !listed.contains(name.key()); });
    m_wirelessSerials.removeIf([&](const auto& lookup) { return !listed.contains(lookup.key()); });
    m_serialLookups.removeIf([&](const QString& serial) { return !listed.contains(serial); });

    if (!m_adb) {
        finishPass(std::move(merged), std::move(finished));
        return;
    }

    // Names are asked once per ready adb serial, hardware serials once per
    // Wi-Fi serial (marked before asking, so overlapping passes don't ask
    // twice).
    QList<std::pair<QString, QString>> namesWanted; // serial, the entry's own model
    QStringList serialsWanted;
    QSet<QString> asked;
    for (const Device& device : std::as_const(merged)) {
        if (!device.isReady())
            continue;
        if (device.transport == Device::Transport::adb && !m_deviceNames.contains(device.serial)
            && !asked.contains(device.serial)) {
            asked.insert(device.serial);
            namesWanted.append({device.serial, device.model});
        }
        if (device.isWireless() && !m_serialLookups.contains(device.serial)) {
            m_serialLookups.insert(device.serial);
            serialsWanted.append(device.serial);
        }
    }
    if (namesWanted.isEmpty() && serialsWanted.isEmpty()) {
        finishPass(std::move(merged), std::move(finished));
        return;
    }

    struct Answers {
        QList<std::optional<QString>> names;
        QList<std::optional<QString>> serials;
    };
    const std::shared_ptr<AdbSource> adbSource = m_adbSource;
    const ADB adb = *m_adb;
    m_pollTask = Task::run(
        this,
        [adbSource, adb, namesWanted, serialsWanted](const Cancel& cancel) {
            Answers answers;
            for (const auto& wanted : namesWanted)
                answers.names.append(adbSource->displayName(adb, wanted.first, cancel));
            for (const QString& serial : serialsWanted)
                answers.serials.append(adbSource->serialNumber(adb, serial, cancel));
            return answers;
        },
        [this, merged, finished, namesWanted, serialsWanted](Answers answers) {
            for (qsizetype i = 0; i < namesWanted.size(); ++i) {
                const auto& [serial, model] = namesWanted[i];
                if (!m_deviceNames.contains(serial))
                    m_deviceNames.insert(serial, answers.names[i].value_or(model));
            }
            for (qsizetype i = 0; i < serialsWanted.size(); ++i) {
                if (!answers.serials[i])
                    continue;
                const QString& wireless = serialsWanted[i];
                m_wirelessSerials.insert(wireless, *answers.serials[i]);
                const auto name = m_deviceNames.constFind(wireless);
                rememberPaired(*answers.serials[i],
                               name == m_deviceNames.cend() ? std::nullopt : std::optional<QString>(*name));
            }
            finishPass(merged, finished);
        },
        [this, merged, finished, serialsWanted](const std::exception_ptr& error) {
            if (!NoThreadError::matches(error))
                return call(finished);
            // The pass ends without the answers; they are asked on a later one.
            setErrorMessage(failureText(error));
            for (const QString& serial : serialsWanted)
                m_serialLookups.remove(serial);
            finishPass(merged, finished);
        });
}

void BrowserModel::finishPass(QList<Device> list, std::function<void()> finished)
{
    for (Device& device : list) {
        const auto name = m_deviceNames.constFind(device.serial);
        if (name != m_deviceNames.cend())
            device.model = *name;
    }
    const QList<Device> phones = oneEntryPerPhone(list);

    // A phone that wasn't there on the last pass; never on the first pass,
    // and never a Wi-Fi connection (those come from the user's own action).
    // One that is not ready yet does not take the window from a ready phone:
    // it arrives once it is ready.
    if (m_seenSerials) {
        const bool readyShown = readyDevice().has_value();
        for (const Device& device : phones) {
            const bool isNew = !m_seenSerials->contains(device.serial) && !device.isWireless();
            const bool nowReady = device.isReady() && m_arrivingWhenReady.contains(device.serial);
            if (!isNew && !nowReady)
                continue;
            if (!device.isReady() && readyShown) {
                m_arrivingWhenReady.insert(device.serial);
                continue;
            }
            m_arrivingWhenReady.remove(device.serial);
            if (m_openWhenConnected) {
                if (device.isReady())
                    m_leftPhone.reset();
                choose(device.serial, device.isReady());
                raiseWindowRequest();
            }
            break;
        }
    }
    QSet<QString> seen;
    for (const Device& device : phones)
        seen.insert(device.serial);
    m_arrivingWhenReady.intersect(seen);
    m_seenSerials = std::move(seen);

    const std::optional<Device> readyBefore = readyDevice();
    setDevices(phones);

    // The chosen phone left this serial: follow it to another entry of the
    // same phone (USB to Wi-Fi, MTP to adb), or let go until it is back.
    if (m_selectedSerial) {
        bool listed = false;
        for (const Device& device : phones)
            listed = listed || device.serial == *m_selectedSerial;
        if (!listed) {
            std::optional<QString> next;
            if (m_selectedPhone) {
                for (const Device& device : phones) {
                    if (identity(device) == *m_selectedPhone) {
                        next = device.serial;
                        break;
                    }
                }
            }
            if (!next)
                m_leftPhone = std::pair(*m_selectedSerial, m_selectedPhone.value_or(*m_selectedSerial));
            choose(next, false);
        }
    }
    const std::optional<Device> selected = selectedDevice();
    m_selectedPhone = selected ? std::optional<QString>(identity(*selected)) : std::nullopt;

    // The poll's own choices are not remembered as the person's.
    bool chosenNow = false;
    if (!m_selectedSerial && !phones.isEmpty()) {
        const std::optional<QString> last = BrowserSettings(*m_settings).text(settingkeys::lastSerial);
        std::optional<QString> choice;
        for (const Device& device : phones) {
            if (last && device.serial == *last && device.isReady()) {
                choice = device.serial;
                break;
            }
        }
        for (qsizetype i = 0; !choice && i < phones.size(); ++i) {
            if (phones[i].isReady())
                choice = phones[i].serial;
        }
        choose(choice.value_or(phones.first().serial), false);
        chosenNow = true;
    }
    // The phone that left is back and ready: it gets the window again, as a
    // phone that arrives does, so not with openWhenConnected off.
    if (m_leftPhone) {
        for (const Device& device : phones) {
            if (!device.isReady() || (device.serial != m_leftPhone->first && identity(device) != m_leftPhone->second))
                continue;
            m_leftPhone.reset();
            if (m_openWhenConnected && device.serial != m_selectedSerial) {
                choose(device.serial, false);
                chosenNow = true;
            }
            break;
        }
    }

    if (!chosenNow) {
        const std::optional<Device> readyNow = readyDevice();
        if (!readyBefore && readyNow)
            deviceChanged();
        else if (readyBefore && readyNow && readyBefore->transport != readyNow->transport)
            reload([this] { refreshInfo(); });
    }

    Q_EMIT devicesListed();

    ++m_pollCount;
    if (m_pollCount % infoEveryPasses == 0) {
        refreshInfo([this, finished] {
            endPass(finished);
        });
    } else {
        endPass(std::move(finished));
    }
}

void BrowserModel::endPass(std::function<void()> finished)
{
    storeWorkingItems();
    removeLeftovers();
    autoReconnect();
    call(finished);
}

QString BrowserModel::identity(const Device& device) const
{
    if (!device.isWireless())
        return device.serial;
    const auto known = m_wirelessSerials.constFind(device.serial);
    if (known != m_wirelessSerials.cend())
        return *known;
    // An mDNS connection names the phone's serial: "adb-<serial>-<tag>._adb-tls-connect._tcp".
    const qsizetype suffix = device.serial.indexOf(QStringLiteral("._adb-tls"));
    WirelessService service;
    service.name = suffix < 0 ? device.serial : device.serial.left(suffix);
    return service.serial().value_or(device.serial);
}

QList<Device> BrowserModel::oneEntryPerPhone(const QList<Device>& list) const
{
    QStringList order;
    QHash<QString, Device> best;
    for (const Device& device : list) {
        const QString id = identity(device);
        const auto found = best.find(id);
        if (found == best.end()) {
            best.insert(id, device);
            order.append(id);
        } else if (score(device) > score(*found)) {
            *found = device;
        }
    }
    QList<Device> phones;
    phones.reserve(order.size());
    for (const QString& id : std::as_const(order))
        phones.append(best.value(id));
    return phones;
}

void BrowserModel::refreshInfo(std::function<void()> finished)
{
    const std::optional<Device> device = readyDevice();
    const std::shared_ptr<PhoneFiles> phoneFiles = files();
    if (!device || !phoneFiles) {
        setDeviceInfo(std::nullopt);
        call(finished);
        return;
    }
    const QString serial = device->serial;
    m_infoTask = Task::run(
        this, [phoneFiles](const Cancel& cancel) { return phoneFiles->info(cancel); },
        [this, serial, finished](DeviceInfo info) {
            // Facts of a phone that is no longer the chosen one are dropped.
            if (m_selectedSerial == serial)
                setDeviceInfo(info);
            call(finished);
        },
        [this, finished](const std::exception_ptr& error) {
            if (NoThreadError::matches(error))
                setErrorMessage(failureText(error));
            call(finished);
        });
}

void BrowserModel::rememberPaired(const QString& serial, const std::optional<QString>& name)
{
    const auto stored = m_pairedPhones.constFind(serial);
    if (name && stored != m_pairedPhones.cend() && *stored == *name)
        return;
    PhoneNames phones = m_pairedPhones;
    phones.insert(serial, name ? *name : (stored != m_pairedPhones.cend() ? *stored : QString()));
    setPairedPhones(phones);
}
