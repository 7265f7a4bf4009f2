#include "BrowserFakes.h"

#include "ADBError.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <iterator>

namespace browsertest {

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

QString joined(const QList<RemoteEntry>& entries)
{
    return names(entries).join(QLatin1Char(','));
}

std::shared_ptr<Gate> MemoryPhoneFiles::holdListing(const QString& path)
{
    return locked([&] { return m_holds[path] = std::make_shared<Gate>(); });
}

std::vector<RemoteEntry> MemoryPhoneFiles::list(const QString& path, bool showHidden, const Cancel& cancel)
{
    // The answer is what the folder held when asked; a held listing brings
    // it late.
    std::shared_ptr<Gate> gate;
    std::exception_ptr failure;
    std::vector<RemoteEntry> entries;
    locked([&] {
        record(u"list "_s + path);
        gate = m_holds.take(path);
        const auto found = m_folders.constFind(path);
        if (m_failures.contains(path)) {
            failure = m_failures.value(path);
        } else if (found == m_folders.cend()) {
            failure = std::make_exception_ptr(
                ADBError::failed(u"/system/bin/sh: cd: "_s + path + u": No such file or directory"_s));
        } else {
            for (const RemoteEntry& entry : *found) {
                if (showHidden || !entry.name.startsWith(QLatin1Char('.')))
                    entries.push_back(entry);
            }
        }
    });
    if (gate)
        gate->wait();
    // A late answer comes whether or not it was cancelled meanwhile.
    if (cancel.isCancelled())
        locked([&] { record(u"cancelled list "_s + path); });
    if (failure)
        std::rethrow_exception(failure);
    return entries;
}

namespace {

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

void MemoryPhoneFiles::pull(const QString& path, const QString& destination, const Progress& progress,
                            const Cancel& cancel)
{
    const QString call = QStringLiteral("pull ") + path + QLatin1Char(' ') + destination;
    const auto [transfer, isFolder] = locked([&] {
        record(call);
        const QList<RemoteEntry> siblings = m_folders.value(parentOf(path));
        const bool folder = m_folders.contains(path)
                            || std::any_of(siblings.begin(), siblings.end(), [&](const RemoteEntry& entry) {
                                   return entry.name == nameOf(path) && entry.isDirectory;
                               });
        return std::pair(m_transfer, folder);
    });
    if (transfer)
        transfer(call, progress, cancel);
    cancel.check();
    const QString target = QFileInfo(destination).isDir() ? destination + QLatin1Char('/') + nameOf(path) : destination;
    if (isFolder) {
        QDir().mkpath(target);
        return;
    }
    QFile copy(target);
    if (copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        copy.write(path.toUtf8());
}

void MemoryPhoneFiles::push(const QString& source, const QString& destination, const Progress& progress,
                            const Cancel& cancel)
{
    const QString call = QStringLiteral("push ") + source + QLatin1Char(' ') + destination;
    const Transfer transfer = locked([&] {
        record(call);
        return m_transfer;
    });
    if (transfer)
        transfer(call, progress, cancel);
    cancel.check();
    const QString target = destination.endsWith(QLatin1Char('/')) ? destination + nameOf(source) : destination;
    locked([&] {
        QList<RemoteEntry>& siblings = m_folders[parentOf(target)];
        const bool listed = std::any_of(siblings.begin(), siblings.end(),
                                        [&](const RemoteEntry& entry) { return entry.name == nameOf(target); });
        if (!listed)
            siblings.append(QFileInfo(source).isDir() ? folder(nameOf(target)) : file(nameOf(target)));
    });
}

bool MemoryPhoneFiles::exists(const QString& path, const Cancel&)
{
    return locked([&] {
        record(QStringLiteral("exists ") + path);
        const QList<RemoteEntry> siblings = m_folders.value(parentOf(path));
        return m_folders.contains(path) || std::any_of(siblings.begin(), siblings.end(), [&](const RemoteEntry& entry) {
                   return entry.name == nameOf(path);
               });
    });
}

void MemoryPhoneFiles::makeFolder(const QString& path, const Cancel&)
{
    const QString call = QStringLiteral("mkdir ") + path;
    locked([&] {
        record(call);
        if (m_failures.contains(call))
            std::rethrow_exception(m_failures.value(call));
        m_folders[parentOf(path)].append(folder(nameOf(path)));
        m_folders.insert(path, {});
    });
}

void MemoryPhoneFiles::move(const QString& from, const QString& to, const Cancel&)
{
    const QString call = QStringLiteral("move ") + from + QLatin1Char(' ') + to;
    locked([&] {
        record(call);
        if (m_failures.contains(call))
            std::rethrow_exception(m_failures.value(call));
        for (RemoteEntry& entry : m_folders[parentOf(from)]) {
            if (entry.name == nameOf(from))
                entry.name = nameOf(to);
        }
    });
}

void MemoryPhoneFiles::remove(const QString& path, const Cancel&)
{
    const QString call = QStringLiteral("remove ") + path;
    locked([&] {
        record(call);
        if (m_failures.contains(call))
            std::rethrow_exception(m_failures.value(call));
        m_folders.remove(path);
        auto found = m_folders.find(parentOf(path));
        if (found != m_folders.end())
            found->removeIf([&](const RemoteEntry& entry) { return entry.name == nameOf(path); });
    });
}

DeviceInfo MemoryPhoneFiles::info(const Cancel&)
{
    return locked([&] {
        record(u"info"_s);
        return m_info;
    });
}

std::shared_ptr<MemoryPhoneFiles> Phones::phone(const QString& serial)
{
    std::lock_guard lock(m_mutex);
    auto& phone = m_phones[serial];
    if (!phone)
        phone = std::make_shared<MemoryPhoneFiles>();
    return phone;
}

std::optional<ADB> FakeAdbSource::locate()
{
    return locked([&]() -> std::optional<ADB> {
        record(u"locate"_s);
        return m_installed ? std::optional(ADB(u"/fake/adb"_s)) : std::nullopt;
    });
}

std::vector<Device> FakeAdbSource::devices(const ADB&, const Cancel&)
{
    return locked([&] {
        record(u"devices"_s);
        if (m_failDevices)
            throw ADBError::failed(u"cannot connect to daemon"_s);
        return m_devices;
    });
}

std::optional<QString> FakeAdbSource::lookup(const QString& call, const QHash<QString, QString>& answers,
                                             const QString& serial)
{
    return locked([&]() -> std::optional<QString> {
        record(call + serial);
        const auto found = answers.constFind(serial);
        return found == answers.cend() ? std::nullopt : std::optional(*found);
    });
}

std::vector<Device> FakeMtpSource::devices(const QSet<QString>& skipping, const Cancel&)
{
    return locked([&] {
        m_lastSkipping = skipping;
        std::vector<Device> result;
        std::copy_if(m_devices.begin(), m_devices.end(), std::back_inserter(result),
                     [&](const Device& device) { return !skipping.contains(device.serial); });
        return result;
    });
}

std::shared_ptr<PhoneFiles> FakeMtpSource::connection(const QString& serial)
{
    const bool ready = locked([&] {
        return std::any_of(m_devices.begin(), m_devices.end(), [&](const Device& device) {
            return device.serial == serial && device.state == u"device"_s;
        });
    });
    return ready ? phone(serial) : nullptr;
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

int ManualClock::fire()
{
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> due;
    due.swap(m_pending);
    int ran = 0;
    for (auto& [context, action] : due) {
        if (context) {
            action();
            ++ran;
        }
    }
    return ran;
}

Device adbPhone(const QString& serial, const QString& state, const QString& model)
{
    return Device{serial, state, model, Device::Transport::adb};
}

Device mtpPhone(const QString& serial, const QString& state, const QString& model)
{
    return Device{serial, state, model, Device::Transport::mtp};
}

ModelTest::~ModelTest()
{
    for (const auto& gate : gates)
        gate->open();
    m_model.reset();
    settle();
}

std::unique_ptr<BrowserModel> ModelTest::makeModel(QSettings& store)
{
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = mtp;
    collaborators.settings = &store;
    collaborators.clock = clock;
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    collaborators.desktop = desktop;
    return std::make_unique<BrowserModel>(std::move(collaborators));
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

namespace {

// Each task keeps a courier child on its receiver until its answer has run.
bool hasCourier(const QObject& receiver)
{
    const QObjectList& children = receiver.children();
    return std::any_of(children.begin(), children.end(),
                       [](const QObject* child) { return dynamic_cast<const taskdetail::Courier*>(child) != nullptr; });
}

bool answersPending(BrowserModel& model)
{
    return hasCourier(model) || hasCourier(model.discovery());
}

} // namespace

void ModelTest::settle()
{
    // A delivered answer may start more work (a pass starts a listing).
    for (int round = 0; round < 50; ++round) {
        if (!testsupport::waitUntil([] { return WorkerPool::shared().activeJobs() == 0; }, std::chrono::seconds(5)))
            return;
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
        // A job started by an answer above may have ended already, its own
        // answer still waiting in the queue: its courier tells.
        if (WorkerPool::shared().activeJobs() == 0 && !(m_model && answersPending(*m_model)))
            return;
    }
}

void ModelTest::seedIni(const QByteArray& text)
{
    // A new file each time: QSettings caches a file's content by its size and time.
    m_settings.reset();
    m_settingsPath = m_folder.filePath(u"settings-%1.ini"_s.arg(++m_seeded));
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

QString FakeAdbSource::run(const ADB&, const QStringList& args, const Cancel& cancel)
{
    const Runner runner = locked([&] {
        record(QStringLiteral("run ") + args.join(QLatin1Char(' ')));
        return m_runner;
    });
    cancel.check();
    return runner ? runner(args) : QStringLiteral("Success\n");
}

QByteArray FakeAdbSource::screenshot(const ADB&, const QString& serial, const Cancel&)
{
    locked([&] { record(QStringLiteral("screenshot ") + serial); });
    return QByteArray("\x89PNG\r\n\x1a\n", 8);
}

std::unique_ptr<ADBStream> FakeAdbSource::stream(const ADB&, const QStringList& args, ADBStream::ExitHandler onExit)
{
    const QString tool = locked([&] {
        record(QStringLiteral("stream ") + args.join(QLatin1Char(' ')));
        return m_streamTool;
    });
    if (tool.isEmpty())
        throw SystemError(QStringLiteral("adb couldn't be started."));
    return std::make_unique<ADBStream>(ADB(tool), args, ADBStream::LinesHandler{}, std::move(onExit));
}

} // namespace browsertest
