#include "BrowserFakes.h"

#include "Paths.h"

#include "ADBError.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <csignal>

namespace browsertest {

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
    return names(entries).join(u',');
}

QList<QUrl> urls(const QStringList& paths)
{
    QList<QUrl> result;
    for (const QString& path : paths) {
        // A name that isn't text goes as its bytes, as a file manager's drop gives it.
        result.append(path.isValidUtf16() ? QUrl::fromLocalFile(path)
                                          : QUrl::fromEncoded("file://" + paths::bytes(path).toPercentEncoding("/")));
    }
    return result;
}

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

std::vector<RemoteEntry> MemoryPhoneFiles::list(const QString& path, bool showHidden, const Cancel& cancel)
{
    // The answer is what the folder held when asked; a held listing brings
    // it late, whether or not it was cancelled meanwhile.
    auto [gate, failure, entries] = recorded(u"list "_s + path, [&] {
        std::exception_ptr error = m_failures.value(path);
        if (!error && !m_folders.contains(path))
            error = std::make_exception_ptr(
                ADBError::failed(u"/system/bin/sh: cd: "_s + path + u": No such file or directory"_s));
        const QList<RemoteEntry> held = m_folders.value(path);
        std::vector<RemoteEntry> shown;
        std::copy_if(held.begin(), held.end(), std::back_inserter(shown),
                     [&](const RemoteEntry& entry) { return showHidden || !entry.name.startsWith(u'.'); });
        return std::tuple(m_holds.take(path), error, shown);
    });
    if (gate)
        gate->wait();
    if (cancel.isCancelled())
        recorded(u"cancelled list "_s + path, [] {});
    if (failure)
        std::rethrow_exception(failure);
    return entries;
}

namespace {

QString parentOf(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? u"/"_s : path.left(slash);
}

QString nameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

int MemoryPhoneFiles::sent(const QString& source, const QString& phonePath) const
{
    const qsizetype slash = phonePath.lastIndexOf(u'/');
    const QString esc = QRegularExpression::escape(u"push "_s + source + u' ');
    return callsMatching(QRegularExpression(
        u'^' + esc + u'(' + QRegularExpression::escape(phonePath) + u'|'
        + QRegularExpression::escape(phonePath.left(slash + 1) + u'.' + phonePath.mid(slash + 1) + u'.')
        + u"(?:[0-9a-f]{8}-)?[0-9a-f]{12}\\.vantelorquist-copy)$"_s));
}

void MemoryPhoneFiles::transfer(const QString& call, const Progress& progress, const Cancel& cancel)
{
    const Transfer hook = recorded(call, [&] { return m_transfer; });
    if (hook)
        hook(call, progress, cancel);
    cancel.check();
}

bool MemoryPhoneFiles::lists(const QString& path, const QString& name, bool foldersOnly) const
{
    const QList<RemoteEntry> entries = m_folders.value(path);
    return std::any_of(entries.begin(), entries.end(), [&](const RemoteEntry& entry) {
        const bool same = m_ignoresCase ? entry.name.compare(name, Qt::CaseInsensitive) == 0 : entry.name == name;
        return same && (entry.isDirectory || !foldersOnly);
    });
}

void MemoryPhoneFiles::pull(const QString& path, const QString& destination, const Progress& progress,
                            const Cancel& cancel)
{
    const bool isFolder =
        locked([&] { return m_folders.contains(path) || lists(parentOf(path), nameOf(path), true); });
    transfer(u"pull "_s + path + u' ' + destination, progress, cancel);
    const QString target = QFileInfo(destination).isDir() ? destination + u'/' + nameOf(path) : destination;
    QFile copy(target);
    if (isFolder)
        QDir().mkpath(target);
    else if (copy.open(QIODevice::WriteOnly | QIODevice::Truncate))
        copy.write(path.toUtf8());
}

void MemoryPhoneFiles::push(const QString& source, const QString& destination, const Progress& progress,
                            const Cancel& cancel)
{
    transfer(u"push "_s + source + u' ' + destination, progress, cancel);
    const QString target = destination.endsWith(u'/') ? destination + nameOf(source) : destination;
    locked([&] {
        if (!lists(parentOf(target), nameOf(target)))
            m_folders[parentOf(target)].append(QFileInfo(source).isDir() ? folder(nameOf(target)) : file(nameOf(target)));
    });
}

bool MemoryPhoneFiles::exists(const QString& path, const Cancel& cancel)
{
    return existence(path, cancel).value_or(false);
}

std::optional<bool> MemoryPhoneFiles::existence(const QString& path, const Cancel&)
{
    return recorded(u"exists "_s + path, [&]() -> std::optional<bool> {
        if (m_failedChecks.contains(path)
            || std::any_of(m_failedChecks.begin(), m_failedChecks.end(), [&](const QString& failed) {
                   return failed.endsWith(u'*') && path.startsWith(failed.chopped(1));
               }))
            return std::nullopt;
        return m_folders.contains(path) || lists(parentOf(path), nameOf(path));
    });
}

void MemoryPhoneFiles::makeFolder(const QString& path, const Cancel&)
{
    change(u"mkdir "_s + path, [&] {
        // As on a phone: only inside a folder that is there.
        if (!m_folders.contains(parentOf(path)))
            throw ADBError::failed(u"mkdir: '"_s + path + u"': No such file or directory"_s);
        m_folders[parentOf(path)].append(folder(nameOf(path)));
        m_folders.insert(path, {});
    });
}

void MemoryPhoneFiles::move(const QString& from, const QString& to, const Cancel& cancel)
{
    if (const Call hook = locked([&] { return m_onCall; }))
        hook(u"move "_s + from + u' ' + to, cancel);
    change(u"move "_s + from + u' ' + to, [&] {
        for (RemoteEntry& entry : m_folders[parentOf(from)]) {
            if (entry.name == nameOf(from))
                entry.name = nameOf(to);
        }
    });
}

std::optional<PhoneFiles::Clash> MemoryPhoneFiles::putInPlace(const QString& from, const QString& to,
                                                               const Covered& covered, const Cancel& cancel)
{
    if (!putsInPlaceAtOnce())
        return PhoneFiles::putInPlace(from, to, covered, cancel);
    if (const Call hook = locked([&] { return m_onCall; }))
        hook(u"move "_s + from + u' ' + to, cancel);
    change(u"move "_s + from + u' ' + to, [&] {
        QList<RemoteEntry>& entries = m_folders[parentOf(from)];
        entries.removeIf([&](const RemoteEntry& entry) { return entry.name == nameOf(to); });
        for (RemoteEntry& entry : entries) {
            if (entry.name == nameOf(from))
                entry.name = nameOf(to);
        }
    });
    return std::nullopt;
}

void MemoryPhoneFiles::remove(const QString& path, const Cancel& cancel)
{
    if (const Call hook = locked([&] { return m_onCall; }))
        hook(u"remove "_s + path, cancel);
    change(u"remove "_s + path, [&] {
        m_folders.remove(path);
        auto found = m_folders.find(parentOf(path));
        if (found != m_folders.end())
            found->removeIf([&](const RemoteEntry& entry) { return entry.name == nameOf(path); });
    });
}

std::vector<Device> FakeAdbSource::devices(const ADB&, const Cancel&)
{
    return recorded(u"devices"_s, [&] {
        if (m_failDevices)
            throw ADBError::failed(u"cannot connect to daemon"_s);
        return m_devices;
    });
}

std::optional<QString> FakeAdbSource::lookup(const QString& call, const QHash<QString, QString>& answers,
                                             const QString& serial)
{
    return recorded(call + serial, [&]() -> std::optional<QString> {
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
        return std::any_of(m_devices.begin(), m_devices.end(),
                           [&](const Device& device) { return device.serial == serial && device.state == u"device"_s; });
    });
    return ready ? phone(serial) : nullptr;
}

int ManualClock::fire()
{
    int ran = 0;
    for (auto& [context, action] : std::exchange(m_pending, {})) {
        if (context) {
            action();
            ++ran;
        }
    }
    return ran;
}

NodeHolder::NodeHolder(const QString& node, const QStringList& command)
{
    // The shell starts the holder in the background, prints its pid and ends.
    QProcess starter;
    starter.start(u"/bin/sh"_s,
                  QStringList{u"-c"_s, u"(exec 3<\"$0\"; exec \"$@\" 30) </dev/null >/dev/null 2>&1 & echo $!"_s, node}
                      + command);
    if (starter.waitForFinished(5000))
        m_pid = starter.readAllStandardOutput().trimmed().toInt();
}

NodeHolder::~NodeHolder()
{
    if (m_pid > 0)
        ::kill(m_pid, SIGKILL);
}

bool NodeHolder::running() const
{
    QFile stat(u"/proc/%1/stat"_s.arg(m_pid));
    if (m_pid <= 0 || !stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray text = stat.readAll();
    const qsizetype close = text.lastIndexOf(')');
    return close > 0 && text.mid(close + 2, 1) != "Z";
}

bool NodeHolder::waitForFinished(int milliseconds) const
{
    return testsupport::waitUntil([this] { return !running(); }, std::chrono::milliseconds(milliseconds));
}

std::unique_ptr<NodeHolder> nodeHolder(const QString& node, const QStringList& command)
{
    return std::make_unique<NodeHolder>(node, command);
}

std::unique_ptr<BrowserModel> newModel(std::shared_ptr<AdbSource> adb, std::shared_ptr<MtpSource> mtp,
                                       QSettings& settings, std::shared_ptr<Clock> clock, std::shared_ptr<Desktop> desktop,
                                       bool pollWhenAsked)
{
    BrowserModel::Collaborators collaborators;
    collaborators.adb = std::move(adb);
    collaborators.mtp = std::move(mtp);
    collaborators.settings = &settings;
    collaborators.clock = std::move(clock);
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    collaborators.desktop = std::move(desktop);
    // One owner across restarts, which copy the settings to a new file.
    collaborators.owner = u"model test"_s;
    collaborators.pollWhenAsked = pollWhenAsked;
    return std::make_unique<BrowserModel>(std::move(collaborators));
}

ModelTest::~ModelTest()
{
    for (const auto& gate : gates)
        gate->open();
    m_model.reset();
    settle();
}

void ModelTest::waitFor(const std::function<void(std::function<void()>)>& request)
{
    bool done = false;
    request([&done] { done = true; });
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
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly) && ini.write(text) == text.size());
    ini.close();
    m_settings = std::make_unique<QSettings>(m_settingsPath, QSettings::IniFormat);
}

void ModelTest::quit()
{
    m_model.reset();
    settle();
    m_settings.reset();
    // Under a new name: QSettings would give back its cached reading of the old one.
    const QString copy = m_folder.filePath(u"settings-%1.ini"_s.arg(++m_seeded));
    if (QFile::exists(m_settingsPath)) {
        ASSERT_TRUE(QFile::copy(m_settingsPath, copy));
    }
    m_settingsPath = copy;
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
    const Runner runner = recorded(u"run "_s + args.join(u' '), [&] { return m_runner; });
    cancel.check();
    return runner ? runner(args) : QStringLiteral("Success\n");
}

QByteArray FakeAdbSource::screenshot(const ADB&, const QString& serial, const Cancel&)
{
    recorded(u"screenshot "_s + serial, [] {});
    return QByteArray("\x89PNG\r\n\x1a\n", 8);
}

std::unique_ptr<ADBStream> FakeAdbSource::stream(const ADB&, const QStringList& args, ADBStream::LinesHandler onLines,
                                                 ADBStream::EndHandler onEnd)
{
    const QString tool = recorded(u"stream "_s + args.join(u' '), [&] { return m_streamTool; });
    if (tool.isEmpty())
        throw SystemError(QStringLiteral("adb couldn't be started."));
    return std::make_unique<ADBStream>(ADB(tool), args, std::move(onLines), std::move(onEnd));
}

} // namespace browsertest
