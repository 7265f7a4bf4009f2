#include "OneInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>

#include <optional>

#include <cerrno>
#include <cstdio>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// "reopen", then the start's token in words, if it has one.
const QByteArray reopenWord = "reopen";
const QByteArray doneLine = "shown\n";
constexpr qint64 longestLine = 2048;

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
    if (state == Lock::unusable || m_inRuntimeFolder) {
        // Another login, or a start that could lock beside the settings, may
        // hold the place this lock doesn't see.
        for (const QString& socket : sockets()) {
            if (handOver(socket, token, deadline))
                return Start::handedOver;
        }
    }
    listen();
    return Start::first;
}

bool OneInstance::listen()
{
    // A socket left by a process that crashed would refuse the listen.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                // One short line; anything else is not a start of ours.
                if (!peer->canReadLine()) {
                    if (peer->bytesAvailable() > longestLine)
                        peer->abort();
                    return;
                }
                const QByteArray line = peer->readLine(longestLine + 1);
                std::optional<ActivationToken> token;
                if (line == reopenWord + '\n')
                    token = ActivationToken();
                else if (line.startsWith(reopenWord + ' ') && line.endsWith('\n'))
                    token = ActivationToken::decoded(line.mid(reopenWord.size() + 1).chopped(1));
                if (token) {
                    Q_EMIT reopenRequested(*token);
                    peer->write(doneLine);
                    peer->flush();
                }
                peer->disconnectFromServer();
            });
        }
    });
    if (!m_server->listen(socketPath())) {
        qWarning("Vantelorquist can't listen for later starts at %s: %s", qPrintable(socketPath()),
                 qPrintable(m_server->errorString()));
        return false;
    }
    return true;
}

void OneInstance::noteWhereListening()
{
    if (!m_server || !m_server->isListening() || m_inRuntimeFolder)
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
    const auto left = [&deadline] { return int(std::max<qint64>(1, deadline.remainingTime())); };
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(std::min(left(), 1000)))
        return false;
    const QByteArray words = token.encoded();
    socket.write(reopenWord + (words.isEmpty() ? QByteArray() : ' ' + words) + '\n');
    if (!socket.waitForBytesWritten(left()))
        return false;
    // The window is up once the answer comes (opening it again may take a
    // while); a holder that closes without one was no application of ours.
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState && !deadline.hasExpired())
        socket.waitForReadyRead(left());
    return socket.canReadLine() && socket.readLine(64) == doneLine;
}
