#include "ConflictingApps.h"

#include "BrowserModel.h"
#include "Models.h"
#include "MtpSource.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <csignal>
#include <optional>

#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace ConflictingApps {

namespace {

const QString procRoot = QStringLiteral("/proc");

QByteArray readSmall(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

// The fields of /proc/<pid>/stat from the third (the state) on. The command
// name before them may hold spaces and parentheses, so they start after the
// last ")"; none when the process is gone.
QList<QByteArray> statFields(int pid)
{
    const QByteArray stat = readSmall(procRoot + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/stat"));
    const qsizetype close = stat.lastIndexOf(')');
    return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}

// Field 22 of /proc/<pid>/stat.
std::optional<uint64_t> startTime(int pid)
{
    const QList<QByteArray> fields = statFields(pid);
    bool ok = false;
    const uint64_t value = fields.size() >= 20 ? fields.at(19).toULongLong(&ok) : 0;
    return ok ? std::optional<uint64_t>(value) : std::nullopt;
}

// Whether the process's real and effective user are ours.
bool isOurs(int pid)
{
    const QByteArray status = readSmall(procRoot + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/status"));
    const qsizetype at = status.indexOf("\nUid:");
    if (at < 0)
        return false;
    const QList<QByteArray> ids = status.mid(at + 5, status.indexOf('\n', at + 1) - at - 5).simplified().split(' ');
    const QByteArray me = QByteArray::number(getuid());
    return ids.size() >= 2 && ids.at(0) == me && ids.at(1) == me;
}

bool holdsAny(int pid, const QSet<QString>& nodes)
{
    const QString fdFolder = procRoot + QLatin1Char('/') + QString::number(pid) + QStringLiteral("/fd");
    const QStringList fds = QDir(fdFolder).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& fd : fds) {
        if (nodes.contains(QFile::symLinkTarget(fdFolder + QLatin1Char('/') + fd)))
            return true;
    }
    return false;
}

// Field 4 of /proc/<pid>/stat.
std::optional<int> parentOf(int pid)
{
    const QList<QByteArray> fields = statFields(pid);
    bool ok = false;
    const int parent = fields.size() >= 2 ? fields.at(1).toInt(&ok) : 0;
    return ok ? std::optional<int>(parent) : std::nullopt;
}

// Whether pid is this process or was started by it, however deep.
bool isOursToKeep(int pid)
{
    const int self = int(getpid());
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        if (pid == self)
            return true;
        const std::optional<int> parent = parentOf(pid);
        if (!parent)
            return false;
        pid = *parent;
    }
    return false;
}

QString programName(int pid)
{
    const QString base = procRoot + QLatin1Char('/') + QString::number(pid);
    QString exe = QFile::symLinkTarget(base + QStringLiteral("/exe"));
    exe.remove(QStringLiteral(" (deleted)"));
    if (!exe.isEmpty())
        return QFileInfo(exe).fileName();
    // Kernel threads and some sandboxed programs have no readable executable.
    return QString::fromUtf8(readSmall(base + QStringLiteral("/comm"))).trimmed();
}

// The nodes as the kernel names them in /proc/<pid>/fd.
QSet<QString> canonical(const QStringList& nodes)
{
    QSet<QString> result;
    for (const QString& node : nodes) {
        const QString path = QFileInfo(node).canonicalFilePath();
        result.insert(path.isEmpty() ? node : path);
    }
    return result;
}

// Never offered nor ended: this process and what it started, and the adb
// server, which holds the USB device of a phone with debugging on while
// the phone's file transfer is busy with another program.
bool spared(int pid, const QString& program)
{
    return program == QLatin1StringView("adb") || isOursToKeep(pid);
}

} // namespace

std::vector<Holder> holders(const QStringList& nodes)
{
    std::vector<Holder> found;
    if (nodes.isEmpty())
        return found;
    const QSet<QString> wanted = canonical(nodes);
    const QStringList entries = QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const int pid = entry.toInt(&numeric);
        if (!numeric || !isOurs(pid) || !holdsAny(pid, wanted))
            continue;
        const std::optional<uint64_t> started = startTime(pid);
        const QString program = programName(pid);
        if (!started || program.isEmpty())
            continue; // gone meanwhile
        if (spared(pid, program))
            continue;
        found.push_back({pid, *started, program});
    }
    return found;
}

Scan scan(MtpSource& source, const std::vector<Device>& mtp)
{
    Scan result;
    for (const Device& device : mtp) {
        if (device.state != QLatin1StringView("busy"))
            continue;
        const QString node = source.deviceNode(device.serial);
        if (!node.isEmpty())
            result.nodes.append(node);
    }
    result.holders = holders(result.nodes);
    return result;
}

QStringList names(const std::vector<Holder>& holders)
{
    const QString transfer = QStringLiteral("Android File Transfer");
    QStringList result;
    for (const Holder& holder : holders)
        result.append(holder.program.startsWith(transfer) ? transfer : holder.program);
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

int quit(const Scan& scan)
{
    const QSet<QString> wanted = canonical(scan.nodes);
    int signalled = 0;
    for (const Holder& holder : scan.holders) {
        // The descriptor pins the process: checked after it is opened, the
        // pid cannot be handed to another process before the signal.
        const int pidfd = int(syscall(SYS_pidfd_open, holder.pid, 0));
        if (pidfd < 0)
            continue;
        if (startTime(holder.pid) == holder.startTime && isOurs(holder.pid) && holdsAny(holder.pid, wanted)
            && !spared(holder.pid, programName(holder.pid)) && syscall(SYS_pidfd_send_signal, pidfd, SIGTERM, nullptr, 0) == 0)
            ++signalled;
        close(pidfd);
    }
    return signalled;
}

} // namespace ConflictingApps

// ---- the model's side ----------------------------------------------------------

void BrowserModel::setConflicts(ConflictingApps::Scan scan)
{
    m_conflicts = std::move(scan);
    QStringList names = ConflictingApps::names(m_conflicts.holders);
    if (names == m_conflictingApps)
        return;
    m_conflictingApps = std::move(names);
    Q_EMIT conflictingAppsChanged();
}

QStringList BrowserModel::conflictingApps() const
{
    // What holds the busy phones now, not at the last pass. /proc is read
    // from memory; without a busy phone nothing is read.
    return ConflictingApps::names(ConflictingApps::holders(m_conflicts.nodes));
}

void BrowserModel::quitConflictingApps()
{
    // Those that hold the phone at the moment of the click; the check
    // before each signal reads /proc: off the GUI thread.
    const QStringList nodes = m_conflicts.nodes;
    Task::run(
        this, [nodes](const Cancel&) { return ConflictingApps::quit({nodes, ConflictingApps::holders(nodes)}); },
        [](int) {},
        [this](const std::exception_ptr& error) {
            if (NoThreadError::matches(error))
                setErrorMessage(failureText(error));
        });
    m_clock->after(std::chrono::seconds(1), this, [this] { refreshDevices(); });
}
