#include "OneInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>
#include <QThread>

#include <optional>

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

OneInstance::~OneInstance() = default;

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

OneInstance::Start OneInstance::claim(const ActivationToken& token, int wait)
{
    m_lock = std::make_unique<QLockFile>(lockPath());
    // Held for the life of the process: no age makes it stale, only its
    // owner being gone.
    m_lock->setStaleLockTime(0);
    const QDeadlineTimer deadline(wait);
    while (true) {
        if (m_lock->tryLock(0)) {
            listen();
            return Start::first;
        }
        if (m_lock->error() != QLockFile::LockFailedError) {
            // The folder can't hold a lock: nothing tells of another start.
            qWarning("Vantelorquist can't tell whether it already runs: %s can't be locked.", qPrintable(lockPath()));
            m_lock.reset();
            return Start::first;
        }
        // The holder may still be starting and not listen yet; it may listen
        // in another login's runtime folder.
        QStringList sockets{socketPath()};
        QFile where(wherePath());
        if (where.open(QIODevice::ReadOnly)) {
            const QString noted = QString::fromUtf8(where.readLine(1024)).trimmed();
            if (!noted.isEmpty() && noted != socketPath())
                sockets.prepend(noted);
        }
        for (const QString& socket : sockets) {
            if (handOver(socket, token, deadline))
                return Start::handedOver;
        }
        if (deadline.hasExpired())
            return Start::unanswered;
        QThread::msleep(100);
    }
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
    if (!m_server || !m_server->isListening())
        return;
    // For a start from another login, whose runtime folder is another.
    QSaveFile where(wherePath());
    if (!where.open(QIODevice::WriteOnly) || where.write(socketPath().toUtf8() + '\n') < 0 || !where.commit())
        qWarning("Vantelorquist can't note where it listens at %s.", qPrintable(wherePath()));
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
