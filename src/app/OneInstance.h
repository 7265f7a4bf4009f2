#pragma once

#include "ActivationToken.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <sys/types.h>


class QDeadlineTimer;
class QSocketNotifier;

// One running application per settings file: the first start holds a lock
// on a file beside the settings, whatever login it came from, and listens on
// a local socket in its private runtime folder, whose path it leaves beside
// the lock; a later start (from any login: another runtime folder) asks it
// to bring its window back and ends. The kernel holds the lock for the
// holder's life, so what a crashed process left is taken over whatever the
// file says, and so is its socket. Settings in a folder that can't hold the
// lock are guarded by a lock in the runtime folder.
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
    // login. A file written on the settings' disk, so it waits until the
    // window is up: such a start keeps trying until it is there.
    void noteWhereListening();

    // Where the lock, the socket, and the note of the socket's path are.
    QString lockPath() const;
    QString socketPath() const;
    QString wherePath() const;

Q_SIGNALS:
    // A later start asked for the window, with its token (perhaps empty).
    void reopenRequested(const ActivationToken& token);

private:
    enum class Lock { held, taken, unusable };
    // Whether a process accepts connections on the socket at `path`.
    static bool someoneListens(const QString& path);
    static Lock lock(const QString& path, int& fd);
    QStringList sockets() const;
    bool listen();
    void stopListening();
    void acceptPeers();
    bool handOver(const QString& path, const ActivationToken& token, const QDeadlineTimer& deadline);

    QString m_base;  // in the runtime folder
    QString m_place; // beside the settings
    int m_lockFd = -1;            // open for the process's life
    bool m_inRuntimeFolder = false; // the settings folder can't hold the lock
    // A plain socket: Qt's local server would bring in its network library
    // and a dozen more, which every start would pay for before its window.
    int m_serverFd = -1;
    QSocketNotifier* m_accepting = nullptr;
    dev_t m_socketDevice = 0; // what was bound, so that only it is removed
    ino_t m_socketNode = 0;
};
