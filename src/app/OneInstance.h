#pragma once

#include "ActivationToken.h"

#include <QObject>
#include <QString>

#include <memory>

class QDeadlineTimer;
class QLocalServer;
class QLockFile;

// One running application per settings file: the first start holds a lock
// file beside the settings, whatever login it came from, and listens on a
// local socket in its private runtime folder, whose path it leaves beside
// the lock; a later start (from any login: another runtime folder) asks it
// to bring its window back and ends. A lock left by a process that crashed
// is taken over, and so is its socket.
class OneInstance : public QObject {
    Q_OBJECT
public:
    // `settingsFile` tells whose application it is: starts with other
    // settings run side by side.
    explicit OneInstance(const QString& settingsFile, QObject* parent = nullptr);
    ~OneInstance() override;

    enum class Start {
        // This process is the application; reopenRequested() tells of later starts.
        first,
        // The running application was asked to show its window; this one ends.
        handedOver,
        // Another process holds the place but doesn't answer.
        unanswered,
    };
    // Takes the place of the running application, or hands over to the
    // process that holds it, with this start's `token` for bringing its
    // window forward; waits at most `wait` milliseconds for it.
    Start claim(const ActivationToken& token = {}, int wait = 5000);
    // Leaves the socket's path beside the lock, for a start from another
    // login. Written and flushed to the disk, so it waits until the window
    // is up: such a start keeps trying until it is there.
    void noteWhereListening();

    // Where the lock, the socket, and the note of the socket's path are.
    QString lockPath() const;
    QString socketPath() const;
    QString wherePath() const;

Q_SIGNALS:
    // A later start asked for the window, with its token (perhaps empty).
    void reopenRequested(const ActivationToken& token);

private:
    bool listen();
    bool handOver(const QString& path, const ActivationToken& token, const QDeadlineTimer& deadline);

    QString m_base;  // in the runtime folder
    QString m_place; // beside the settings
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
};
