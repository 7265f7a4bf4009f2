#include "PhoneFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

std::unique_ptr<FakePhoneHarness> PhoneTest::s_phone;
QString PhoneTest::s_startError;

void PhoneTest::SetUpTestSuite()
{
    s_phone = std::make_unique<FakePhoneHarness>();
    if (!s_phone->start(&s_startError))
        s_phone.reset();
}

void PhoneTest::SetUp()
{
    ASSERT_TRUE(s_phone) << "the fake phone did not start: " << s_startError.toStdString();
    s_phone->clearReceived();
}

namespace phonetest {

QString storagePath(const FakePhoneHarness& phone, const QString& phonePath)
{
    return phone.storage() + phonePath.mid(QStringLiteral("/sdcard").size());
}

bool writeFile(const QString& path, const QByteArray& content, const QDateTime& modified)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size()
        && file.flush() && (!modified.isValid() || file.setFileTime(modified, QFileDevice::FileModificationTime));
}

void makeItems(const QString& folder, const std::vector<QByteArray>& names, bool folders)
{
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QByteArray& name : names) {
        const QByteArray path = QFile::encodeName(folder) + '/' + name;
        const int fd = folders ? ::mkdir(path.constData(), 0755) : ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0) << path.toStdString();
        if (!folders)
            ::close(fd);
    }
}

QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ADBError& error) {
        return error.description();
    }
    return QStringLiteral("<no failure>");
}

namespace {

// The parent of a process, or 0 when it can't be read.
qint64 parentOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    // "pid (name) state ppid ...": the name may hold spaces and parentheses.
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 1).simplified().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

// Other programs on this computer (another test binary, the user's adb)
// run adb clients too; only the ones this process started are its own.
bool startedHere(qint64 pid)
{
    const qint64 self = ::getpid();
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        pid = parentOf(pid);
        if (pid == self)
            return true;
    }
    return false;
}

} // namespace

QStringList adbClientsWith(const QString& needle)
{
    QStringList found;
    // An ended process that is not yet reaped has an empty command line.
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        if (!startedHere(pid.toLongLong(&number)) || !number)
            continue;
        QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QStringList words = QString::fromLocal8Bit(file.readAll()).split(QChar(0));
        if (QFileInfo(words.first()).fileName().startsWith(QStringLiteral("adb"))
            && !words.contains(QStringLiteral("server")) && words.join(QLatin1Char(' ')).contains(needle))
            found << pid + QStringLiteral(": ") + words.join(QLatin1Char(' '));
    }
    return found;
}

} // namespace phonetest
