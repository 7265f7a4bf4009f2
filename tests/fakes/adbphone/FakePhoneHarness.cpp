#include "FakePhoneHarness.h"

#include "TestSupport.h"

#include "ChildProcess.h"
#include "Error.h"
#include "PhoneControl.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#ifndef FAKEADBPHONE_PATH
#error "FAKEADBPHONE_PATH must name the fakeadbphone program"
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kStartLimitMs = 10000;

struct Capture {
    QByteArray out;
    QByteArray err;
    bool finished = false;
};

// Reads a child's output until it ends (or the deadline passes). A daemon the
// child leaves behind may keep the pipes open, so the child's own end counts.
Capture capture(ChildProcess& child, Clock::time_point deadline)
{
    Capture result;
    char buffer[16384];
    bool ended = false;
    for (;;) {
        std::vector<pollfd> fds;
        if (child.outputFd() >= 0)
            fds.push_back(pollfd {child.outputFd(), POLLIN, 0});
        if (child.errorFd() >= 0)
            fds.push_back(pollfd {child.errorFd(), POLLIN, 0});
        if (!ended && child.exitFd() >= 0)
            fds.push_back(pollfd {child.exitFd(), POLLIN, 0});
        if (fds.empty())
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return result;
        ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(left, ended ? 50 : 200)));
        auto drain = [&](int fd, QByteArray& into, bool out) {
            if (fd < 0)
                return;
            for (;;) {
                const ssize_t n = readAvailable(fd, buffer, sizeof buffer);
                if (n > 0) {
                    into.append(buffer, n);
                    continue;
                }
                if (n == 0) {
                    if (out)
                        child.closeOutput();
                    else
                        child.closeError();
                }
                return;
            }
        };
        drain(child.outputFd(), result.out, true);
        drain(child.errorFd(), result.err, false);
        if (ended)
            break; // one last drain after the end
        ended = child.hasEnded();
    }
    child.wait();
    result.finished = true;
    return result;
}

// Whether `path` is a mount of its own (its device differs from its parent's).
bool isMountPoint(const QString& path)
{
    struct stat here {}, above {};
    const QByteArray name = QFile::encodeName(path);
    return ::stat(name.constData(), &here) == 0 && ::stat((name + "/..").constData(), &above) == 0
           && here.st_dev != above.st_dev;
}

} // namespace

struct FakePhoneHarness::State {
    adbphone::ReplyTable replies;
    adbphone::Knobs knobs;
};

FakePhoneHarness::FakePhoneHarness() : FakePhoneHarness(Options {}) {}

FakePhoneHarness::FakePhoneHarness(Options options) : m_options(std::move(options)), m_state(std::make_unique<State>())
{
}

FakePhoneHarness::~FakePhoneHarness()
{
    stop();
}

QString FakePhoneHarness::serial() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_phonePort);
}

QString FakePhoneHarness::adbPath() const
{
    return QStringLiteral("/usr/bin/adb");
}

QString FakePhoneHarness::storage() const
{
    return m_temp ? m_temp->path() + QStringLiteral("/sdcard") : QString();
}

QString FakePhoneHarness::controlPath(const char* name) const
{
    return m_temp ? m_temp->path() + QStringLiteral("/control/") + QString::fromLatin1(name) : QString();
}

qint64 FakePhoneHarness::phonePid() const
{
    return m_phone ? m_phone->pid() : 0;
}

bool FakePhoneHarness::fail(QString* error, const QString& message)
{
    if (error)
        *error = message;
    stop();
    return false;
}

bool FakePhoneHarness::start(QString* error)
{
    if (m_temp)
        return fail(error, QStringLiteral("The fake phone is already started."));
    m_temp = std::make_unique<QTemporaryDir>((m_options.folder.isEmpty() ? QDir::tempPath() : m_options.folder)
                                             + QStringLiteral("/fakeadbphone-XXXXXX"));
    if (!m_temp->isValid())
        return fail(error, QStringLiteral("Couldn't create a temporary folder: ") + m_temp->errorString());
    const QString base = m_temp->path();
    for (const char* sub : {"sdcard", "control", "home", "tmp"}) {
        if (!QDir().mkpath(base + QLatin1Char('/') + QLatin1String(sub)))
            return fail(error, QStringLiteral("Couldn't create the folder ") + base + QLatin1Char('/') + QLatin1String(sub));
    }
    writeReplies();
    writeKnobs();
    if (m_options.caselessStorage && !mountCaseless(error))
        return false;

    ChildProcess::Options phone;
    phone.program = QStringLiteral(FAKEADBPHONE_PATH);
    phone.arguments = {QStringLiteral("--port"), QStringLiteral("0"),
                       QStringLiteral("--storage"), storage(),
                       QStringLiteral("--control"), base + QStringLiteral("/control"),
                       QStringLiteral("--log"), controlPath(adbphone::kLogFile),
                       QStringLiteral("--parent-pid"), QString::number(::getpid()),
                       QStringLiteral("--product"), m_options.product,
                       QStringLiteral("--model"), m_options.model,
                       QStringLiteral("--device"), m_options.device};
    if (!m_options.authorized)
        phone.arguments << QStringLiteral("--unauthorized");
    if (!m_options.toolbox.isEmpty())
        phone.arguments << QStringLiteral("--toolbox") << m_options.toolbox;
    if (!m_options.shellProtocol)
        phone.arguments << QStringLiteral("--no-shell-protocol");
    try {
        m_phone = ChildProcess::start(phone);
    } catch (const Error& e) {
        return fail(error, e.description());
    }

    // The phone prints its port once it listens.
    QByteArray line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (!line.contains('\n') && Clock::now() < deadline) {
        pollfd fd {m_phone->outputFd(), POLLIN, 0};
        ::poll(&fd, 1, 100);
        char buffer[256];
        const ssize_t n = readAvailable(m_phone->outputFd(), buffer, sizeof buffer);
        if (n > 0)
            line.append(buffer, n);
        else if (n == 0)
            break;
    }
    m_phonePort = static_cast<quint16>(line.trimmed().toUInt());
    if (m_phonePort == 0) {
        const Capture rest = capture(*m_phone, Clock::now() + std::chrono::seconds(3));
        return fail(error, QStringLiteral("The fake phone didn't start: ") +
                               QString::fromLocal8Bit(rest.err.trimmed().isEmpty() ? "no port printed" : rest.err.trimmed()));
    }

    if (const FakePhoneHarness* other = m_options.shareServerOf) {
        m_serverPort = other->m_serverPort;
        m_sharedServer = true;
        return connectPhone(error);
    }

    m_serverPort = testsupport::unusedLoopbackPort();
    if (m_serverPort == 0)
        return fail(error, QStringLiteral("Couldn't find a free port for the adb server."));
    m_hadHome = qEnvironmentVariableIsSet("HOME");
    m_oldHome = qgetenv("HOME");
    m_hadPort = qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT");
    m_oldPort = qgetenv("ANDROID_ADB_SERVER_PORT");
    qputenv("HOME", QFile::encodeName(base + QStringLiteral("/home")));
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(m_serverPort));
    m_environmentSet = true;

    const Result started = runAdb({QStringLiteral("start-server")});
    m_serverPid = adbphone::findAdbServer(m_serverPort);
    if (started.status != 0 || m_serverPid == 0)
        return fail(error, QStringLiteral("The private adb server didn't start: ") +
                               QString::fromLocal8Bit(started.err.trimmed()));
    adbphone::writeFileAtomically(controlPath(adbphone::kServerFile),
                                  QByteArray::number(m_serverPid) + ' ' + QByteArray::number(m_serverPort));
    return connectPhone(error);
}

QString FakePhoneHarness::caselessStorageUnavailable()
{
#ifndef CASELESSFS_PATH
    return QStringLiteral("caselessfs was not built (libfuse3-dev was missing)");
#else
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return QStringLiteral("/dev/fuse can't be opened: ") + QString::fromLocal8Bit(std::strerror(errno));
    ::close(fd);
    if (::geteuid() != 0 && !QFile::exists(QStringLiteral("/usr/bin/fusermount3")))
        return QStringLiteral("FUSE mounts need root or fusermount3 (Debian's fuse3)");
    return {};
#endif
}

bool FakePhoneHarness::mountCaseless(QString* error)
{
    m_caselessFs = mountDisk(storage(), Disk(), error);
    return m_caselessFs != nullptr;
}

std::unique_ptr<FakePhoneHarness::DiskMount> FakePhoneHarness::mountDisk(const QString& folder, const Disk& disk,
                                                                         QString* error)
{
    const auto failed = [&](const QString& why) -> std::unique_ptr<DiskMount> {
        if (error)
            *error = why;
        return nullptr;
    };
#ifndef CASELESSFS_PATH
    Q_UNUSED(folder);
    Q_UNUSED(disk);
    return failed(caselessStorageUnavailable());
#else
    ChildProcess::Options options;
    options.program = QStringLiteral(CASELESSFS_PATH);
    if (!disk.ignoresCase)
        options.arguments << QStringLiteral("--exact-case");
    options.arguments << QStringLiteral("--renames=") + disk.renames;
    if (!disk.links)
        options.arguments << QStringLiteral("--no-links");
    if (disk.numbersPerSpelling)
        options.arguments << QStringLiteral("--per-spelling");
    if (disk.renameDelayMs > 0)
        options.arguments << QStringLiteral("--rename-delay=") + QString::number(disk.renameDelayMs);
    if (disk.holdAt > 0)
        options.arguments << QStringLiteral("--hold-at=") + QString::number(disk.holdAt);
    if (disk.vfatNames)
        options.arguments << QStringLiteral("--vfat-names");
    if (disk.honourModes)
        options.arguments << QStringLiteral("--honour-modes");
    if (!disk.fullWhen.isEmpty())
        options.arguments << QStringLiteral("--full-when=") + disk.fullWhen;
    options.arguments << folder;
    std::unique_ptr<DiskMount> mount(new DiskMount);
    mount->m_folder = folder;
    try {
        mount->m_process = ChildProcess::start(options);
    } catch (const Error& e) {
        return failed(e.description());
    }
    ChildProcess& process = *mount->m_process;
    // It prints a line once the mount is there.
    QByteArray line;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
    while (!line.contains('\n') && Clock::now() < deadline) {
        pollfd fd {process.outputFd(), POLLIN, 0};
        ::poll(&fd, 1, 100);
        char buffer[64];
        const ssize_t n = readAvailable(process.outputFd(), buffer, sizeof buffer);
        if (n > 0)
            line.append(buffer, n);
        else if (n == 0)
            break;
    }
    if (line.trimmed() != "mounted" || !isMountPoint(folder)) {
        const Capture rest = capture(process, Clock::now() + std::chrono::seconds(3));
        return failed(QStringLiteral("Storage that ignores letter case couldn't be mounted: ")
                      + QString::fromLocal8Bit(rest.err.trimmed()));
    }
    return mount;
#endif
}

bool FakePhoneHarness::DiskMount::held(std::chrono::milliseconds wait)
{
    const auto deadline = Clock::now() + wait;
    while (!m_output.contains("held\n")) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0 || m_process->hasEnded())
            return false;
        pollfd fd {m_process->outputFd(), POLLIN, 0};
        if (::poll(&fd, 1, int(std::min<long long>(left.count(), 100))) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = readAvailable(m_process->outputFd(), buffer, sizeof buffer);
        if (n > 0)
            m_output.append(buffer, n);
        else if (n == 0)
            return false; // it ended
    }
    return true;
}

void FakePhoneHarness::DiskMount::release()
{
    m_process->signal(SIGUSR1);
}

FakePhoneHarness::DiskMount::~DiskMount()
{
    if (!m_process)
        return;
    // SIGTERM: it unmounts and ends; lazily, should anything still hold the folder.
    m_process->terminate();
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    while (!m_process->hasEnded() && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (isMountPoint(m_folder)) {
        if (::geteuid() == 0) {
            ::umount2(QFile::encodeName(m_folder).constData(), MNT_DETACH);
        } else {
            ChildProcess::Options options;
            options.program = QStringLiteral("/usr/bin/fusermount3");
            options.arguments = {QStringLiteral("-u"), QStringLiteral("-z"), m_folder};
            try {
                std::unique_ptr<ChildProcess> unmount = ChildProcess::start(options);
                capture(*unmount, Clock::now() + std::chrono::seconds(3));
            } catch (const Error&) {
            }
        }
    }
    m_process.reset(); // reaped; killed first if it hung
}

bool FakePhoneHarness::connectPhone(QString* error)
{
    const Result connected = runAdb({QStringLiteral("connect"), serial()});
    if (connected.status != 0)
        return fail(error, QStringLiteral("adb couldn't connect to the fake phone: ") +
                               QString::fromLocal8Bit((connected.out + connected.err).trimmed()));
    const QString wanted = m_options.authorized ? QStringLiteral("device") : QStringLiteral("unauthorized");
    if (!waitForState(wanted, kStartLimitMs))
        return fail(error, QStringLiteral("adb didn't list the fake phone as %1 (it shows \"%2\").").arg(wanted, state()));
    return true;
}

FakePhoneHarness::Result FakePhoneHarness::runAdb(const QStringList& arguments, int timeoutMs) const
{
    Result result;
    if (!m_temp)
        return result;
    ChildProcess::Options options;
    options.program = adbPath();
    options.arguments = arguments;
    // The server inherits TMPDIR, which keeps its log file private too.
    options.environment.insert(QStringLiteral("ANDROID_ADB_SERVER_PORT"), QString::number(m_serverPort));
    options.environment.insert(QStringLiteral("HOME"), m_temp->path() + QStringLiteral("/home"));
    options.environment.insert(QStringLiteral("TMPDIR"), m_temp->path() + QStringLiteral("/tmp"));
    std::unique_ptr<ChildProcess> child;
    try {
        child = ChildProcess::start(options);
    } catch (const Error& e) {
        result.err = e.description().toLocal8Bit();
        return result;
    }
    const Capture output = capture(*child, Clock::now() + std::chrono::milliseconds(timeoutMs));
    result.out = output.out;
    result.err = output.err;
    if (output.finished) {
        const ExitStatus status = child->wait();
        result.status = status.signalled ? 128 + status.signal : status.code;
    }
    return result;
}

FakePhoneHarness::Result FakePhoneHarness::shell(const QString& command, int timeoutMs) const
{
    return runAdb({QStringLiteral("-s"), serial(), QStringLiteral("shell"), command}, timeoutMs);
}

QString FakePhoneHarness::state() const
{
    const Result devices = runAdb({QStringLiteral("devices")}, 5000);
    const QList<QByteArray> lines = devices.out.split('\n');
    const QByteArray wanted = serial().toUtf8();
    for (const QByteArray& line : lines) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields.at(0) == wanted)
            return QString::fromUtf8(fields.at(1));
    }
    return {};
}

bool FakePhoneHarness::waitForState(const QString& wanted, int timeoutMs) const
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (state() == wanted)
            return true;
        if (Clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

void FakePhoneHarness::writeReplies() const
{
    if (m_temp)
        adbphone::writeFileAtomically(controlPath(adbphone::kRepliesFile), adbphone::encodeReplies(m_state->replies));
}

void FakePhoneHarness::writeKnobs() const
{
    if (m_temp)
        adbphone::writeFileAtomically(controlPath(adbphone::kKnobsFile), adbphone::encodeKnobs(m_state->knobs));
}

void FakePhoneHarness::setReply(const QString& command, const Reply& reply)
{
    m_state->replies.insert(command.toUtf8(), adbphone::ScriptedReply {reply.out, reply.err, reply.status, reply.delayMs});
    writeReplies();
}

void FakePhoneHarness::clearReplies()
{
    m_state->replies.clear();
    writeReplies();
}

QStringList FakePhoneHarness::receivedCommands() const
{
    QFile file(controlPath(adbphone::kReceivedFile));
    if (!m_temp || !file.open(QIODevice::ReadOnly))
        return {};
    return adbphone::decodeReceived(file.readAll());
}

void FakePhoneHarness::clearReceived()
{
    if (!m_temp)
        return;
    QFile file(controlPath(adbphone::kReceivedFile));
    if (file.exists())
        file.resize(0);
}

void FakePhoneHarness::setMirrorExit(const QList<QByteArray>& lines)
{
    m_state->knobs.mirrorExitLines = lines;
    writeKnobs();
}

void FakePhoneHarness::sendMirrorClipboard(const QByteArray& text)
{
    m_state->knobs.mirrorClipboard = text;
    ++m_state->knobs.mirrorClipboardGeneration;
    writeKnobs();
}

QByteArray FakePhoneHarness::mirrorControl() const
{
    QFile file(controlPath(adbphone::kMirrorControlFile));
    return m_temp && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString FakePhoneHarness::phoneTmpFile(const QString& name) const
{
    return controlPath(adbphone::kPhoneTmpFolder) + QLatin1Char('/') + name;
}

void FakePhoneHarness::setChunkDelay(int milliseconds)
{
    m_state->knobs.chunkDelayMs = qMax(0, milliseconds);
    writeKnobs();
}

void FakePhoneHarness::setUnreachable(bool unreachable)
{
    m_state->knobs.unreachable = unreachable;
    writeKnobs();
}

void FakePhoneHarness::cutShells(const QString& matching, qint64 keepBytes, bool thenLeave)
{
    m_state->knobs.cutShells = matching.toUtf8();
    m_state->knobs.cutKeepBytes = keepBytes;
    m_state->knobs.leaveAfterCut = thenLeave;
    ++m_state->knobs.cutGeneration;
    writeKnobs();
}

void FakePhoneHarness::setUnresponsive(bool unresponsive)
{
    m_state->knobs.unresponsive = unresponsive;
    writeKnobs();
}

void FakePhoneHarness::setRefuseMoves(bool refuse)
{
    m_state->knobs.refuseMoves = refuse;
    writeKnobs();
}

void FakePhoneHarness::setStorageFull(bool full)
{
    m_state->knobs.storageFull = full;
    writeKnobs();
}

void FakePhoneHarness::servePull(const QString& phonePath, const QString& localPath)
{
    m_state->knobs.servedFiles.insert(phonePath.toUtf8(), QFile::encodeName(localPath));
    writeKnobs();
}

void FakePhoneHarness::failPull(const QString& phonePath)
{
    m_state->knobs.failingPulls.append(phonePath.toUtf8());
    writeKnobs();
}

void FakePhoneHarness::clearPulls()
{
    m_state->knobs.servedFiles.clear();
    m_state->knobs.failingPulls.clear();
    writeKnobs();
}

void FakePhoneHarness::dropAfterBytes(qint64 bytes)
{
    m_state->knobs.dropAfterBytes = bytes < 0 ? -1 : bytes;
    ++m_state->knobs.dropGeneration;
    writeKnobs();
}

void FakePhoneHarness::freezeAfterBytes(qint64 bytes)
{
    m_state->knobs.freezeAfterBytes = bytes < 0 ? -1 : bytes;
    ++m_state->knobs.freezeGeneration;
    writeKnobs();
}

void FakePhoneHarness::setLog(const Log& log)
{
    QList<QByteArray> arguments;
    for (const QString& argument : log.arguments)
        arguments.append(argument.toUtf8());
    adbphone::LogScript& script = m_state->knobs.log;
    script.command = adbphone::logcatCommand(arguments);
    script.history = log.history;
    script.extra = log.extra;
    script.intervalMs = log.intervalMs;
    script.burst = log.burst;
    writeKnobs();
}

void FakePhoneHarness::endLog()
{
    ++m_state->knobs.log.endGeneration;
    writeKnobs();
}

void FakePhoneHarness::dropLog()
{
    ++m_state->knobs.log.dropGeneration;
    writeKnobs();
}

QList<FakePhoneHarness::LogEvent> FakePhoneHarness::logEvents() const
{
    QList<LogEvent> events;
    QFile file(controlPath(adbphone::kLogEventsFile));
    if (!m_temp || !file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray& line : file.readAll().split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 2)
            events.append(LogEvent {fields.at(0).toLongLong(), QString::fromLatin1(fields.at(1))});
    }
    return events;
}

QByteArray FakePhoneHarness::logEntry(qint64 index)
{
    return adbphone::logEntry(index);
}

QString FakePhoneHarness::logcatCommand(const QStringList& arguments)
{
    QList<QByteArray> words;
    for (const QString& argument : arguments)
        words.append(argument.toUtf8());
    return QString::fromUtf8(adbphone::logcatCommand(words));
}

// Work a model left running (a Stop's clean-up goes on after the model
// went) would run adb again after the server ended and start a new one.
void FakePhoneHarness::waitForBackgroundWork()
{
    const auto deadline = Clock::now() + std::chrono::seconds(15);
    while (WorkerPool::shared().activeJobs() > 0 && Clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
}

void FakePhoneHarness::stopServer()
{
    if (m_serverPort == 0)
        return;
    if (m_sharedServer) {
        // Not ours to end; only our phone leaves it.
        waitForBackgroundWork();
        runAdb({QStringLiteral("disconnect"), serial()}, 5000);
        m_serverPort = 0;
        m_sharedServer = false;
        return;
    }
    waitForBackgroundWork();
    runAdb({QStringLiteral("kill-server")}, 5000);
    if (m_serverPid == 0)
        m_serverPid = adbphone::findAdbServer(m_serverPort);
    if (m_serverPid != 0) {
        const auto deadline = Clock::now() + std::chrono::seconds(3);
        while (testsupport::processAlive(m_serverPid) && Clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // Only ever a server we started: the pid must still carry our port.
        if (testsupport::processAlive(m_serverPid) && adbphone::isAdbServer(m_serverPid, m_serverPort)) {
            ::kill(static_cast<pid_t>(m_serverPid), SIGKILL);
            const auto killDeadline = Clock::now() + std::chrono::seconds(2);
            while (testsupport::processAlive(m_serverPid) && Clock::now() < killDeadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    QFile::remove(controlPath(adbphone::kServerFile));
    m_serverPid = 0;
    m_serverPort = 0;
}

void FakePhoneHarness::stop()
{
    stopServer();
    m_phone.reset(); // SIGTERM, then SIGKILL after a grace period; reaped
    m_caselessFs.reset(); // unmounted before the folder beneath it goes
    m_phonePort = 0;
    if (m_environmentSet) {
        if (m_hadHome)
            qputenv("HOME", m_oldHome);
        else
            qunsetenv("HOME");
        if (m_hadPort)
            qputenv("ANDROID_ADB_SERVER_PORT", m_oldPort);
        else
            qunsetenv("ANDROID_ADB_SERVER_PORT");
        m_environmentSet = false;
    }
    if (m_temp) {
        // By bytes: QDir can't name an item whose name is not UTF-8, and
        // would leave the folder behind.
        std::error_code ignored;
        std::filesystem::remove_all(QFile::encodeName(m_temp->path()).toStdString(), ignored);
    }
    m_temp.reset();
}
