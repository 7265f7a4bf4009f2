#include "BrowserModel.h"

#include "BrowserSettings.h"
#include "WorkerPool.h"

#include <utility>

BrowserModel::BrowserModel(QObject* parent) : BrowserModel(Collaborators{}, parent) {}

BrowserModel::BrowserModel(Collaborators collaborators, QObject* parent)
    : QObject(parent),
      m_adbSource(collaborators.adb ? std::move(collaborators.adb) : makeSystemAdbSource()),
      m_mtpSource(collaborators.mtp ? std::move(collaborators.mtp) : makeSystemMtpSource()),
      m_clock(collaborators.clock ? std::move(collaborators.clock) : Clock::system()),
      m_settings(collaborators.settings ? collaborators.settings : new QSettings(this))
{
    const BrowserSettings settings(*m_settings);
    m_showHidden = settings.lenientFlag(settingkeys::showHidden);
    m_askWhereToSave = settings.flag(settingkeys::askWhereToSave, true);
    m_revealAfterCopy = settings.flag(settingkeys::revealAfterCopy, true);
    m_keepRunningInMenuBar = settings.flag(settingkeys::keepRunningInMenuBar, true);
    m_openWhenConnected = settings.flag(settingkeys::openWhenConnected, true);
    m_autoReconnectWireless = settings.flag(settingkeys::autoReconnectWireless, true);
    m_pairedPhones = settings.phoneNames(settingkeys::pairedPhones);
    m_viewMode = settings.viewMode(settingkeys::viewMode);
    m_saveFolder = settings.folder(settingkeys::saveFolder);
    namespace names = browserpaths::workingnames;
    // The mark keeps working names apart between computers and persons;
    // whose an item is to remove is told by its record's maker.
    names::setOwner(collaborators.owner.value_or(m_settings->fileName()));
    // What earlier runs left on phones and here; each is acted on only once
    // its maker is provably gone.
    const names::Records earlier = settings.workingItems(settingkeys::workingItems);
    names::restore(earlier);
    m_storedChanges = names::changes();
    // Records are written as they are made, on whatever thread makes them;
    // what another process on these settings recorded stays.
    m_storeToken = names::setStore([file = m_settings->fileName(), format = m_settings->format()](
                                       const names::Records& records) {
        QSettings store(file, format);
        BrowserSettings stored(store);
        stored.setWorkingItems(settingkeys::workingItems,
                                 names::withOthers(records, stored.workingItems(settingkeys::workingItems)));
        store.sync();
    });
    // What a killed copy to the computer left: local disk, off the GUI thread.
    if (!earlier.local.empty())
        removeLocalLeftovers({});
    m_desktop = collaborators.desktop ? std::move(collaborators.desktop) : makeSilentDesktop();
    m_progressTimer.setSingleShot(true);
    connect(&m_progressTimer, &QTimer::timeout, this, &BrowserModel::applyProgress);
    m_adb = m_adbSource->locate();
    m_discovery = collaborators.discovery ? std::move(collaborators.discovery)
                                          : std::make_unique<WirelessDiscovery>();

    m_adbMissing = !m_adb.has_value();
    if (!collaborators.pollWhenAsked)
        startPolling();
    m_discovery->start();
    connect(m_discovery.get(), &WirelessDiscovery::servicesChanged, this, &BrowserModel::autoReconnect);
    // As if the current (empty) list had just been delivered.
    QMetaObject::invokeMethod(this, &BrowserModel::autoReconnect, Qt::QueuedConnection);
}

BrowserModel::~BrowserModel()
{
    // Answers would be dropped anyway; this only ends the phone work early.
    m_pollTask.cancel();
    m_listingTask.cancel();
    m_infoTask.cancel();
    m_leftoverTask.cancel();
    m_jobTask.cancel();
    storeWorkingItems();
    browserpaths::workingnames::endStore(m_storeToken);
    if (m_jobChannel)
        m_jobChannel->cut();
    // A recording's end must not reach a model that is going.
    for (auto& [serial, recording] : m_recordings)
        recording.channel->cut();
    m_recordings.clear();
}

// ---- derived -------------------------------------------------------------------

std::optional<Device> BrowserModel::selectedDevice() const
{
    if (!m_selectedSerial)
        return std::nullopt;
    return deviceWithSerial(*m_selectedSerial);
}

std::optional<Device> BrowserModel::deviceWithSerial(const QString& serial) const
{
    for (const Device& device : m_devices) {
        if (device.serial == serial)
            return device;
    }
    return std::nullopt;
}

std::optional<Device> BrowserModel::readyDevice() const
{
    std::optional<Device> device = selectedDevice();
    if (device && device->isReady())
        return device;
    return std::nullopt;
}

std::shared_ptr<PhoneFiles> BrowserModel::files() const
{
    const std::optional<Device> device = readyDevice();
    if (!device)
        return nullptr;
    if (device->transport == Device::Transport::mtp)
        return m_mtpSource->connection(device->serial);
    if (!m_adb)
        return nullptr;
    return m_adbSource->files(*m_adb, device->serial);
}

// ---- published state -------------------------------------------------------------

void BrowserModel::setDevices(const QList<Device>& devices)
{
    if (devices == m_devices)
        return;
    m_devices = devices;
    Q_EMIT devicesChanged();
}

void BrowserModel::setSelectedSerial(const std::optional<QString>& serial)
{
    // The person's choice, remembered even when it is the phone shown; a
    // phone that left earlier no longer takes it back.
    if (serial) {
        m_leftPhone.reset();
        BrowserSettings(*m_settings).setText(settingkeys::lastSerial, *serial);
    }
    choose(serial, false);
}

void BrowserModel::choose(const std::optional<QString>& serial, bool remember)
{
    if (serial == m_selectedSerial)
        return;
    m_selectedSerial = serial;
    // A phone that leaves before the next pass is followed as this one.
    const std::optional<Device> selected = selectedDevice();
    if (selected)
        m_selectedPhone = identity(*selected);
    Q_EMIT selectedSerialChanged();
    if (serial && remember)
        BrowserSettings(*m_settings).setText(settingkeys::lastSerial, *serial);
    publishRecording();
    deviceChanged();
}

void BrowserModel::setDeviceInfo(const std::optional<DeviceInfo>& info)
{
    if (info == m_deviceInfo)
        return;
    m_deviceInfo = info;
    Q_EMIT deviceInfoChanged();
}

void BrowserModel::setAdbMissing(bool missing)
{
    if (missing == m_adbMissing)
        return;
    m_adbMissing = missing;
    Q_EMIT adbMissingChanged();
}

void BrowserModel::setPath(const QString& path)
{
    if (path == m_path)
        return;
    m_path = path;
    Q_EMIT pathChanged();
}

void BrowserModel::setEntries(const QList<RemoteEntry>& entries, std::shared_ptr<const VisibleEntries::Keys> keys)
{
    // An empty listing replacing an empty one changes nothing for the views.
    if (entries.isEmpty() && m_entries.isEmpty())
        return;
    m_entries = entries;
    m_visible.setEntries(entries, std::move(keys));
    Q_EMIT entriesChanged();
    Q_EMIT visibleEntriesChanged();
}

void BrowserModel::setIsLoading(bool loading)
{
    if (loading == m_isLoading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

void BrowserModel::setSelection(const QSet<QString>& names)
{
    if (names == m_selection)
        return;
    m_selection = names;
    Q_EMIT selectionChanged();
}

void BrowserModel::setSearchText(const QString& text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    m_visible.setSearchText(text);
    Q_EMIT searchTextChanged();
    Q_EMIT visibleEntriesChanged();
}

void BrowserModel::setSortOrder(const SortOrder& order)
{
    if (order == m_sortOrder)
        return;
    m_sortOrder = order;
    m_visible.setSortOrder(order);
    Q_EMIT sortOrderChanged();
    Q_EMIT visibleEntriesChanged();
}

void BrowserModel::setShowingNewFolder(bool showing)
{
    if (showing == m_showingNewFolder)
        return;
    m_showingNewFolder = showing;
    m_newFolderAsked = showing ? shown() : std::nullopt;
    Q_EMIT showingNewFolderChanged();
}

void BrowserModel::setShowingWireless(bool showing)
{
    if (showing == m_showingWireless)
        return;
    m_showingWireless = showing;
    Q_EMIT showingWirelessChanged();
}

void BrowserModel::setRenaming(const std::optional<RemoteEntry>& entry)
{
    if (entry == m_renaming)
        return;
    m_renaming = entry;
    Q_EMIT renamingChanged();
}

void BrowserModel::setRecordingStarted(const std::optional<QDateTime>& started)
{
    if (started == m_recordingStarted)
        return;
    m_recordingStarted = started;
    Q_EMIT recordingStartedChanged();
}

void BrowserModel::setJob(const std::optional<Job>& job)
{
    if (job == m_job)
        return;
    m_job = job;
    Q_EMIT jobChanged();
    if (!m_job && std::exchange(m_noticeEndsWithJob, false)) {
        // What the refused request waited for is over.
        ++m_noticeCount;
        setNotice(std::nullopt);
    }
    // Whichever code showed the job, its end lets a waiting copy-back run.
    if (!m_job)
        jobEnded();
}

void BrowserModel::setErrorMessage(const std::optional<QString>& message)
{
    setErrorMessage(message, {}, false);
}

void BrowserModel::setErrorMessage(const std::optional<QString>& message, const QStringList& details, bool note)
{
    if (message == m_errorMessage && details == m_errorDetails && note == m_errorIsNote)
        return;
    m_errorMessage = message;
    m_errorDetails = message ? details : QStringList();
    m_errorIsNote = message && note;
    Q_EMIT errorMessageChanged();
}

void BrowserModel::raiseWindowRequest()
{
    ++m_windowRequest;
    Q_EMIT windowRequestChanged();
}

void BrowserModel::setHistory(const QStringList& back, const QStringList& forward)
{
    if (back == m_backStack && forward == m_forwardStack)
        return;
    m_backStack = back;
    m_forwardStack = forward;
    Q_EMIT historyChanged();
}

// ---- settings: each assignment is written, even of the same value -------------

void BrowserModel::setShowHidden(bool show)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::showHidden, show);
    if (show != m_showHidden) {
        m_showHidden = show;
        Q_EMIT showHiddenChanged();
    }
    reload();
}

void BrowserModel::setAskWhereToSave(bool ask)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::askWhereToSave, ask);
    if (ask != m_askWhereToSave) {
        m_askWhereToSave = ask;
        Q_EMIT askWhereToSaveChanged();
    }
}

void BrowserModel::setRevealAfterCopy(bool reveal)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::revealAfterCopy, reveal);
    if (reveal != m_revealAfterCopy) {
        m_revealAfterCopy = reveal;
        Q_EMIT revealAfterCopyChanged();
    }
}

void BrowserModel::setKeepRunningInMenuBar(bool keep)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::keepRunningInMenuBar, keep);
    if (keep != m_keepRunningInMenuBar) {
        m_keepRunningInMenuBar = keep;
        Q_EMIT keepRunningInMenuBarChanged();
    }
}

void BrowserModel::setOpenWhenConnected(bool open)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::openWhenConnected, open);
    if (open != m_openWhenConnected) {
        m_openWhenConnected = open;
        Q_EMIT openWhenConnectedChanged();
    }
}

void BrowserModel::setAutoReconnectWireless(bool reconnect)
{
    BrowserSettings(*m_settings).setFlag(settingkeys::autoReconnectWireless, reconnect);
    if (reconnect != m_autoReconnectWireless) {
        m_autoReconnectWireless = reconnect;
        Q_EMIT autoReconnectWirelessChanged();
    }
    autoReconnect();
}

void BrowserModel::setPairedPhones(const PhoneNames& phones)
{
    BrowserSettings(*m_settings).setPhoneNames(settingkeys::pairedPhones, phones);
    if (phones != m_pairedPhones) {
        m_pairedPhones = phones;
        Q_EMIT pairedPhonesChanged();
    }
}

void BrowserModel::setViewMode(ViewMode mode)
{
    BrowserSettings(*m_settings).setText(settingkeys::viewMode, viewModeText(mode));
    if (mode != m_viewMode) {
        m_viewMode = mode;
        Q_EMIT viewModeChanged();
    }
}

void BrowserModel::setSaveFolder(const QString& folder)
{
    BrowserSettings(*m_settings).setText(settingkeys::saveFolder, folder);
    if (folder != m_saveFolder) {
        m_saveFolder = folder;
        Q_EMIT saveFolderChanged();
    }
}
