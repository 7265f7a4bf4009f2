#include "BrowserFakes.h"

#include "ADBError.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QFile>

#include <chrono>

namespace browsertest {

// ---- Gate ------------------------------------------------------------------------

void Gate::open()
{
    std::lock_guard lock(m_mutex);
    m_open = true;
    m_changed.notify_all();
}

void Gate::wait()
{
    std::unique_lock lock(m_mutex);
    m_waiting = true;
    m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_open; });
    m_waiting = false;
}

bool Gate::waiting() const
{
    std::lock_guard lock(m_mutex);
    return m_waiting;
}

// ---- entries ---------------------------------------------------------------------

RemoteEntry folder(const QString& name)
{
    return RemoteEntry{name, true, 4096, QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)};
}

RemoteEntry file(const QString& name, int64_t size, const QDateTime& modified)
{
    return RemoteEntry{name, false, size,
                       modified.isValid() ? modified : QDateTime::fromSecsSinceEpoch(1700000000, Qt::UTC)};
}

QStringList names(const QList<RemoteEntry>& entries)
{
    QStringList result;
    for (const RemoteEntry& entry : entries)
        result.append(entry.name);
    return result;
}

// ---- MemoryPhoneFiles --------------------------------------------------------------

void MemoryPhoneFiles::setFolder(const QString& path, const QList<RemoteEntry>& entries)
{
    std::lock_guard lock(m_mutex);
    m_folders.insert(path, entries);
}

void MemoryPhoneFiles::removeFolder(const QString& path)
{
    std::lock_guard lock(m_mutex);
    m_folders.remove(path);
}

void MemoryPhoneFiles::failListing(const QString& path, std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    m_failures.insert(path, std::move(error));
}

std::shared_ptr<Gate> MemoryPhoneFiles::holdListing(const QString& path)
{
    auto gate = std::make_shared<Gate>();
    std::lock_guard lock(m_mutex);
    m_holds.insert(path, gate);
    return gate;
}

void MemoryPhoneFiles::setInfo(const DeviceInfo& info)
{
    std::lock_guard lock(m_mutex);
    m_info = info;
}

int MemoryPhoneFiles::listings(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    return m_listings.value(path);
}

QList<bool> MemoryPhoneFiles::hiddenFlags() const
{
    std::lock_guard lock(m_mutex);
    return m_hidden;
}

int MemoryPhoneFiles::infoReads() const
{
    std::lock_guard lock(m_mutex);
    return m_infoReads;
}

std::vector<RemoteEntry> MemoryPhoneFiles::list(const QString& path, bool showHidden, const Cancel& cancel)
{
    // The answer is what the folder held when asked; a held listing brings
    // it late.
    std::shared_ptr<Gate> gate;
    std::exception_ptr failure;
    std::vector<RemoteEntry> entries;
    {
        std::lock_guard lock(m_mutex);
        ++m_listings[path];
        m_hidden.append(showHidden);
        gate = m_holds.take(path);
        const auto found = m_folders.constFind(path);
        if (m_failures.contains(path)) {
            failure = m_failures.value(path);
        } else if (found == m_folders.cend()) {
            failure = std::make_exception_ptr(ADBError::failed(QStringLiteral("/system/bin/sh: cd: ") + path
                                                               + QStringLiteral(": No such file or directory")));
        } else {
            for (const RemoteEntry& entry : *found) {
                if (showHidden || !entry.name.startsWith(QLatin1Char('.')))
                    entries.push_back(entry);
            }
        }
    }
    if (gate)
        gate->wait();
    cancel.check();
    if (failure)
        std::rethrow_exception(failure);
    return entries;
}

bool MemoryPhoneFiles::exists(const QString& path, const Cancel&)
{
    std::lock_guard lock(m_mutex);
    return m_folders.contains(path);
}

DeviceInfo MemoryPhoneFiles::info(const Cancel&)
{
    std::lock_guard lock(m_mutex);
    ++m_infoReads;
    return m_info;
}

// ---- FakeAdbSource -------------------------------------------------------------------

void FakeAdbSource::setInstalled(bool installed)
{
    std::lock_guard lock(m_mutex);
    m_installed = installed;
}

void FakeAdbSource::setDevices(const std::vector<Device>& devices)
{
    std::lock_guard lock(m_mutex);
    m_devices = devices;
}

void FakeAdbSource::failDevices(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_failDevices = fail;
}

void FakeAdbSource::setDisplayName(const QString& serial, const std::optional<QString>& name)
{
    std::lock_guard lock(m_mutex);
    m_names.insert(serial, name);
}

void FakeAdbSource::setSerialNumber(const QString& serial, const std::optional<QString>& hardwareSerial)
{
    std::lock_guard lock(m_mutex);
    m_serials.insert(serial, hardwareSerial);
}

std::shared_ptr<MemoryPhoneFiles> FakeAdbSource::phone(const QString& serial)
{
    std::lock_guard lock(m_mutex);
    auto& phone = m_phones[serial];
    if (!phone)
        phone = std::make_shared<MemoryPhoneFiles>();
    return phone;
}

int FakeAdbSource::displayNameQueries(const QString& serial) const
{
    std::lock_guard lock(m_mutex);
    return m_nameQueries.value(serial);
}

int FakeAdbSource::serialNumberQueries(const QString& serial) const
{
    std::lock_guard lock(m_mutex);
    return m_serialQueries.value(serial);
}

int FakeAdbSource::locateCalls() const
{
    std::lock_guard lock(m_mutex);
    return m_locateCalls;
}

int FakeAdbSource::devicesCalls() const
{
    std::lock_guard lock(m_mutex);
    return m_devicesCalls;
}

std::optional<ADB> FakeAdbSource::locate()
{
    std::lock_guard lock(m_mutex);
    ++m_locateCalls;
    if (!m_installed)
        return std::nullopt;
    return ADB(QStringLiteral("/fake/adb"));
}

std::vector<Device> FakeAdbSource::devices(const ADB&, const Cancel&)
{
    std::lock_guard lock(m_mutex);
    ++m_devicesCalls;
    if (m_failDevices)
        throw ADBError::failed(QStringLiteral("cannot connect to daemon"));
    return m_devices;
}

std::optional<QString> FakeAdbSource::displayName(const ADB&, const QString& serial, const Cancel&)
{
    std::lock_guard lock(m_mutex);
    ++m_nameQueries[serial];
    return m_names.value(serial);
}

std::optional<QString> FakeAdbSource::serialNumber(const ADB&, const QString& serial, const Cancel&)
{
    std::lock_guard lock(m_mutex);
    ++m_serialQueries[serial];
    return m_serials.value(serial);
}

std::shared_ptr<PhoneFiles> FakeAdbSource::files(const ADB&, const QString& serial)
{
    return phone(serial);
}

// ---- FakeMtpSource -------------------------------------------------------------------

void FakeMtpSource::setDevices(const std::vector<Device>& devices)
{
    std::lock_guard lock(m_mutex);
    m_devices = devices;
}

std::shared_ptr<MemoryPhoneFiles> FakeMtpSource::phone(const QString& serial)
{
    std::lock_guard lock(m_mutex);
    auto& phone = m_phones[serial];
    if (!phone)
        phone = std::make_shared<MemoryPhoneFiles>();
    return phone;
}

QSet<QString> FakeMtpSource::lastSkipping() const
{
    std::lock_guard lock(m_mutex);
    return m_lastSkipping;
}

std::vector<Device> FakeMtpSource::devices(const QSet<QString>& skipping, const Cancel&)
{
    std::lock_guard lock(m_mutex);
    m_lastSkipping = skipping;
    std::vector<Device> result;
    for (const Device& device : m_devices) {
        if (!skipping.contains(device.serial))
            result.push_back(device);
    }
    return result;
}

std::shared_ptr<PhoneFiles> FakeMtpSource::connection(const QString& serial)
{
    std::lock_guard lock(m_mutex);
    for (const Device& device : m_devices) {
        if (device.serial == serial && device.state == QStringLiteral("device")) {
            auto& phone = m_phones[serial];
            if (!phone)
                phone = std::make_shared<MemoryPhoneFiles>();
            return phone;
        }
    }
    return nullptr;
}

bool FakeMtpSource::isMissingItem(const std::exception_ptr& error) const
{
    try {
        std::rethrow_exception(error);
    } catch (const FakeMtpMissing&) {
        return true;
    } catch (...) {
        return false;
    }
}

// ---- ManualClock ---------------------------------------------------------------------

void ManualClock::after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action)
{
    m_lastDelay = delay;
    m_pending.push_back({context, std::move(action)});
}

int ManualClock::fire()
{
    std::vector<Pending> due;
    due.swap(m_pending);
    int ran = 0;
    for (Pending& pending : due) {
        if (pending.context) {
            pending.action();
            ++ran;
        }
    }
    return ran;
}

// ---- devices ---------------------------------------------------------------------------

Device adbPhone(const QString& serial, const QString& state, const QString& model)
{
    return Device{serial, state, model, Device::Transport::adb};
}

Device mtpPhone(const QString& serial, const QString& state, const QString& model)
{
    return Device{serial, state, model, Device::Transport::mtp};
}

// ---- ModelTest -------------------------------------------------------------------------

ModelTest::ModelTest()
    : m_settingsPath(m_folder.filePath(QStringLiteral("settings.ini"))),
      m_settings(std::make_unique<QSettings>(m_settingsPath, QSettings::IniFormat))
{
}

ModelTest::~ModelTest()
{
    for (const auto& gate : gates)
        gate->open();
    m_model.reset();
    settle();
}

BrowserModel& ModelTest::model()
{
    if (!m_model) {
        BrowserModel::Collaborators collaborators;
        collaborators.adb = adb;
        collaborators.mtp = mtp;
        collaborators.settings = m_settings.get();
        collaborators.clock = clock;
        collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
        m_model = std::make_unique<BrowserModel>(std::move(collaborators));
    }
    return *m_model;
}

void ModelTest::pass()
{
    bool done = false;
    model().refreshDevices([&done] { done = true; });
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }, std::chrono::seconds(5)));
    settle();
}

void ModelTest::reload()
{
    bool done = false;
    model().reload([&done] { done = true; });
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }, std::chrono::seconds(5)));
}

void ModelTest::settle()
{
    // A delivered answer may start more work (a pass starts a listing).
    for (int round = 0; round < 50; ++round) {
        if (!testsupport::waitUntil([] { return WorkerPool::shared().activeJobs() == 0; }, std::chrono::seconds(5)))
            return;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        if (WorkerPool::shared().activeJobs() == 0)
            return;
    }
}

void ModelTest::seedIni(const QByteArray& text)
{
    // A new file each time: QSettings caches a file's content by its size and time.
    m_settings.reset();
    m_settingsPath = m_folder.filePath(QStringLiteral("settings-%1.ini").arg(++m_seeded));
    QFile ini(m_settingsPath);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ini.write(text);
    ini.close();
    m_settings = std::make_unique<QSettings>(m_settingsPath, QSettings::IniFormat);
}

QVariant ModelTest::stored(const QString& key)
{
    m_settings->sync();
    QSettings reader(m_settingsPath, QSettings::IniFormat);
    return reader.value(key);
}

} // namespace browsertest
