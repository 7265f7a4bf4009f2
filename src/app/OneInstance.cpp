#include "OneInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// "reopen", then the start's token in words, if it has one.
const QByteArray reopenWord = "reopen";
const QByteArray doneLine = "shown\n";
constexpr qint64 longestLine = 2048;

// The address of a socket at `path`; none when the path is too long for one.
std::optional<sockaddr_un> addressOf(const QString& path)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (name.isEmpty() || size_t(name.size()) >= sizeof address.sun_path)
        return std::nullopt;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    return address;
}

// One later start talking to the running application: a line asking for the
// window, answered once it has been asked for. Anything else is not a start
// of ours and is hung up on.
class Peer final : public QObject {
public:
    Peer(int fd, QObject* parent, std::function<void(const ActivationToken&)> reopen)
        : QObject(parent), m_fd(fd), m_reopen(std::move(reopen)), m_readable(fd, QSocketNotifier::Read, this)
    {
        connect(&m_readable, &QSocketNotifier::activated, this, &Peer::read);
    }
    ~Peer() override
    {
        m_readable.setEnabled(false);
        ::close(m_fd);
    }

private:
    void read()
    {
        char buffer[512];
        while (true) {
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (got <= 0)
                return hangUp();
            m_line.append(buffer, got);
            const qsizetype end = m_line.indexOf('\n');
            if (end >= 0 && end <= longestLine)
                return answer(m_line.left(end + 1));
            if (end >= 0 || m_line.size() > longestLine)
                return hangUp();
        }
    }

    void answer(const QByteArray& line)
    {
        std::optional<ActivationToken> token;
        if (line == reopenWord + '\n')
            token = ActivationToken();
        else if (line.startsWith(reopenWord + ' '))
            token = ActivationToken::decoded(line.mid(reopenWord.size() + 1).chopped(1));
        if (token) {
            // Bringing the window back may end this object's owner.
            QPointer<Peer> self(this);
            m_reopen(*token);
            if (!self)
                return;
            // A few bytes into a socket that has sent only its question: they fit.
            (void)::send(m_fd, doneLine.constData(), size_t(doneLine.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        }
        hangUp();
    }

    void hangUp()
    {
        m_readable.setEnabled(false);
        deleteLater();
    }

    const int m_fd;
    std::function<void(const ActivationToken&)> m_reopen;
    QSocketNotifier m_readable;
    QByteArray m_line;
};

} // namespace

OneInstance::OneInstance(const QString& settingsFile, QObject* parent) : QObject(parent)
{
    // The runtime folder is the user's own (mode 0700), gone at logout; a
    // socket's path has room for about 100 bytes, so the key goes in hashed.
    // Each login may have a runtime folder of its own, so the lock goes
    // beside the settings, which every login of the person shares.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString name = QStringLiteral("vantelorquist-")
                         + QString::fromLatin1(
                             QCryptographicHash::hash(settingsFile.toUtf8(), QCryptographicHash::Sha256).toHex().left(16));
    m_base = QDir(folder).filePath(name);
    const QString settingsFolder = QFileInfo(settingsFile).absolutePath();
    m_place = !settingsFile.isEmpty() && QDir().mkpath(settingsFolder) ? QDir(settingsFolder).filePath(name) : m_base;
}

OneInstance::~OneInstance()
{
    // While the lock is still held, so that the socket removed is this one's
    // and not that of a start which took over.
    stopListening();
    // The file stays: removing it would let a start lock a file the next one no longer finds.
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

QString OneInstance::lockPath() const
{
    return m_place + QStringLiteral(".lock");
}

QString OneInstance::wherePath() const
{
    return m_place + QStringLiteral(".socket-path");
}

QString OneInstance::socketPath() const
{
    return m_base + QStringLiteral(".socket");
}

OneInstance::Lock OneInstance::lock(const QString& path, int& fd)
{
    const QByteArray name = QFile::encodeName(path);
    // Closed on exec: an adb server the application starts outlives it and
    // must not hold its place. flock needs no write access, so a lock file
    // on a disk gone read-only or made by another user still serves.
    int file = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
    if (file < 0)
        file = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (file < 0)
        return Lock::unusable;
    if (::flock(file, LOCK_EX | LOCK_NB) == 0) {
        fd = file;
        return Lock::held;
    }
    const int error = errno;
    ::close(file);
    return error == EWOULDBLOCK ? Lock::taken : Lock::unusable;
}

QStringList OneInstance::sockets() const
{
    // The holder may listen in another login's runtime folder.
    QStringList sockets{socketPath()};
    QFile where(wherePath());
    if (where.open(QIODevice::ReadOnly)) {
        const QString noted = QString::fromUtf8(where.readLine(1024)).trimmed();
        if (!noted.isEmpty() && noted != socketPath())
            sockets.prepend(noted);
    }
    return sockets;
}

OneInstance::Start OneInstance::claim(const ActivationToken& token, int wait)
{
    const QDeadlineTimer deadline(wait);
    QString path = lockPath();
    Lock state = lock(path, m_lockFd);
    if (state == Lock::unusable && m_place != m_base) {
        // A read-only or full disk, or a folder another user owns: the
        // starts of this login still meet in its runtime folder.
        m_inRuntimeFolder = true;
        path = m_base + QStringLiteral(".lock");
        state = lock(path, m_lockFd);
    }
    while (state == Lock::taken) {
        // The holder may still be starting and not listen yet.
        for (const QString& socket : sockets()) {
            if (handOver(socket, token, deadline))
                return Start::handedOver;
        }
        if (deadline.hasExpired())
            return Start::unanswered;
        QThread::msleep(100);
        state = lock(path, m_lockFd);
    }
    if (state == Lock::unusable)
        qWarning("Vantelorquist can't tell whether it already runs: %s can't be locked.", qPrintable(path));
    // A start that had to lock in the runtime folder (or another login's
    // start) holds a place this lock doesn't see.
    for (const QString& socket : sockets()) {
        if (handOver(socket, token, deadline))
            return Start::handedOver;
    }
    // One that listens there without answering is alive all the same: its
    // place is never taken.
    if (someoneListens(socketPath()))
        return Start::unanswered;
    listen();
    return Start::first;
}

bool OneInstance::someoneListens(const QString& path)
{
    const auto address = addressOf(path);
    if (!address)
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    // A full backlog is someone too.
    return ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 || errno == EAGAIN;
}

bool OneInstance::listen()
{
    const QString path = socketPath();
    const auto address = addressOf(path);
    const auto fail = [this, &path](const char* why) {
        qWarning("Vantelorquist can't listen for later starts at %s: %s", qPrintable(path), why);
        stopListening();
        return false;
    };
    if (!address)
        return fail("the path is too long for a socket");
    m_serverFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_serverFd < 0)
        return fail(std::strerror(errno));
    // A socket left by a process that crashed would refuse the bind; the
    // claim found no one listening on it.
    ::unlink(address->sun_path);
    if (::bind(m_serverFd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return fail(std::strerror(errno));
    struct stat bound {};
    if (::stat(address->sun_path, &bound) == 0) {
        m_socketDevice = bound.st_dev;
        m_socketNode = bound.st_ino;
    }
    // Only this user's starts may ask; set before anyone can connect.
    if (::chmod(address->sun_path, S_IRUSR | S_IWUSR) != 0 || ::listen(m_serverFd, 16) != 0)
        return fail(std::strerror(errno));
    m_accepting = new QSocketNotifier(m_serverFd, QSocketNotifier::Read, this);
    connect(m_accepting, &QSocketNotifier::activated, this, &OneInstance::acceptPeers);
    return true;
}

void OneInstance::acceptPeers()
{
    while (true) {
        const int peer = ::accept4(m_serverFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (peer < 0) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            if ((errno == EMFILE || errno == ENFILE) && m_accepting) {
                // The start waiting stays readable: looked at again shortly
                // instead of at once, over and over.
                m_accepting->setEnabled(false);
                QTimer::singleShot(200, m_accepting, [notifier = m_accepting] { notifier->setEnabled(true); });
            }
            return; // none left, or out of descriptors for now
        }
        new Peer(peer, this, [this](const ActivationToken& token) { Q_EMIT reopenRequested(token); });
    }
}

void OneInstance::stopListening()
{
    delete m_accepting;
    m_accepting = nullptr;
    if (m_serverFd < 0)
        return;
    ::close(m_serverFd);
    m_serverFd = -1;
    const QByteArray path = QFile::encodeName(socketPath());
    struct stat now {};
    if (m_socketNode != 0 && ::stat(path.constData(), &now) == 0 && now.st_dev == m_socketDevice
        && now.st_ino == m_socketNode)
        ::unlink(path.constData());
    m_socketNode = 0;
}

void OneInstance::noteWhereListening()
{
    if (m_serverFd < 0 || m_inRuntimeFolder)
        return;
    // For a start from another login, whose runtime folder is another. Most
    // starts find the note already right. It is only a hint, written once
    // the window is up (such a start keeps trying until it is there): it is
    // renamed into place without waiting for the disk, and one a power cut
    // emptied is read as none.
    const QByteArray line = socketPath().toUtf8() + '\n';
    QFile noted(wherePath());
    if (noted.open(QIODevice::ReadOnly) && noted.read(longestLine) == line)
        return;
    QFile fresh(wherePath() + QStringLiteral(".new"));
    bool written = fresh.open(QIODevice::WriteOnly | QIODevice::Truncate) && fresh.write(line) == line.size();
    fresh.close();
    written = written && fresh.error() == QFileDevice::NoError
              && ::rename(QFile::encodeName(fresh.fileName()).constData(), QFile::encodeName(wherePath()).constData()) == 0;
    if (!written) {
        fresh.remove();
        qWarning("Vantelorquist can't note where it listens at %s.", qPrintable(wherePath()));
    }
}

bool OneInstance::handOver(const QString& path, const ActivationToken& token, const QDeadlineTimer& deadline)
{
    const auto address = addressOf(path);
    if (!address)
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    // Waits for `events` on the socket, at most `most` ms and never past the deadline.
    const auto await = [fd, &deadline](short events, qint64 most) {
        pollfd ready {fd, events, 0};
        int got = 0;
        do {
            const qint64 left = std::min(most, std::max<qint64>(1, deadline.remainingTime()));
            got = ::poll(&ready, 1, int(left));
        } while (got < 0 && errno == EINTR);
        return got > 0;
    };
    // A local socket connects at once or not at all (a full backlog says
    // EAGAIN, and the claim tries again).
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0)
        return false;
    const QByteArray words = token.encoded();
    const QByteArray question = reopenWord + (words.isEmpty() ? QByteArray() : ' ' + words) + '\n';
    for (qsizetype sent = 0; sent < question.size();) {
        const ssize_t wrote = ::send(fd, question.constData() + sent, size_t(question.size() - sent), MSG_NOSIGNAL);
        if (wrote > 0)
            sent += wrote;
        else if (wrote < 0 && errno == EINTR)
            continue;
        else if (wrote < 0 && errno == EAGAIN && !deadline.hasExpired())
            await(POLLOUT, deadline.remainingTime());
        else
            return false;
    }
    // The window is up once the answer comes (opening it again may take a
    // while); a holder that closes without one was no application of ours.
    QByteArray answer;
    while (!answer.contains('\n') && answer.size() < 64) {
        char buffer[64];
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got > 0)
            answer.append(buffer, got);
        else if (got == 0)
            break;
        else if (errno == EINTR)
            continue;
        else if (errno != EAGAIN || deadline.hasExpired() || !await(POLLIN, deadline.remainingTime()))
            break;
    }
    return answer.left(answer.indexOf('\n') + 1) == doneLine;
}
