#include "ProcessIdentity.h"

#include <QFile>
#include <QStringList>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

QString currentBoot()
{
    static const QString boot = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        if (!file.open(QIODevice::ReadOnly))
            return QString();
        return QString::fromLatin1(file.read(64).trimmed());
    }();
    return boot;
}

enum class Read { found, none, unknown };

// The start time in /proc/<pid>/stat: its 22nd field, counted after the
// name in parentheses (which may hold spaces and parentheses itself).
Read startOf(int64_t pid, uint64_t& start)
{
    const QByteArray path = "/proc/" + QByteArray::number(qlonglong(pid)) + "/stat";
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT || errno == ESRCH ? Read::none : Read::unknown;
    char buffer[1024];
    ssize_t got = 0;
    do
        got = ::read(fd, buffer, sizeof buffer - 1);
    while (got < 0 && errno == EINTR);
    const int error = errno;
    ::close(fd);
    if (got <= 0)
        return got < 0 && error == ESRCH ? Read::none : Read::unknown;
    const QByteArray text(buffer, got);
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return Read::unknown;
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    // Fields from the 3rd (state) on.
    constexpr qsizetype startField = 22 - 3;
    if (fields.size() <= startField)
        return Read::unknown;
    bool ok = false;
    start = fields.at(startField).toULongLong(&ok);
    return ok ? Read::found : Read::unknown;
}

} // namespace

QString ProcessIdentity::text() const
{
    return boot + QLatin1Char(' ') + QString::number(pid) + QLatin1Char(' ') + QString::number(start);
}

std::optional<ProcessIdentity> ProcessIdentity::fromText(const QString& text)
{
    const QStringList parts = text.split(QLatin1Char(' '));
    if (parts.size() != 3 || parts.at(0).isEmpty() || parts.at(0).size() > 64)
        return std::nullopt;
    for (const QChar c : parts.at(0)) {
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-')) || c.unicode() > 0x7f)
            return std::nullopt;
    }
    bool pidOk = false;
    bool startOk = false;
    ProcessIdentity identity{parts.at(0), parts.at(1).toLongLong(&pidOk), parts.at(2).toULongLong(&startOk)};
    if (!pidOk || !startOk || identity.pid <= 0)
        return std::nullopt;
    return identity;
}

ProcessIdentity ProcessIdentity::self()
{
    static const ProcessIdentity identity = [] {
        return ofPid(::getpid()).value_or(ProcessIdentity{});
    }();
    return identity;
}

std::optional<ProcessIdentity> ProcessIdentity::ofPid(int64_t pid)
{
    uint64_t start = 0;
    const QString boot = currentBoot();
    if (boot.isEmpty() || pid <= 0 || startOf(pid, start) != Read::found)
        return std::nullopt;
    return ProcessIdentity{boot, pid, start};
}

ProcessIdentity::Life ProcessIdentity::life() const
{
    const QString now = currentBoot();
    if (isEmpty() || now.isEmpty())
        return Life::unknown;
    if (boot != now)
        return Life::gone;
    uint64_t started = 0;
    switch (startOf(pid, started)) {
    case Read::none:
        return Life::gone;
    case Read::unknown:
        return Life::unknown;
    case Read::found:
        break;
    }
    return started == start ? Life::running : Life::gone;
}
