#pragma once

// The fake phone: the device side of adb's transport on a loopback port, one
// thread with a poll loop. Each connection carries its streams (shell, exec,
// sync); shell commands run in the sandbox unless the reply table answers them.

#include "PhoneControl.h"
#include "Sandbox.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <vector>

class FakeMirrorServer;

namespace adbphone {

class Connection;

struct PhoneConfig {
    QByteArray storage;     // the folder the phone's shell sees as /sdcard
    QByteArray mountPoint;  // an empty folder of ours for the shell's root
    QByteArray controlDir;  // replies, knobs and the received log; may be empty
    QByteArray repliesFile; // an extra hand-written reply table; may be empty
    QByteArray logFile;     // diagnostics; empty: standard error
    PhoneIdentity identity;
    bool authorized = true;
    pid_t parentPid = 0;    // stop when this parent goes away; 0: never
    uint16_t port = 0;      // 0: any free port
    bool mirrorTestCard = false; // the mirroring server shows a test card, phone-shaped
    QByteArray toolbox;     // a multi-call program (toybox, busybox) for the file tools; empty: the host's
    // Without it (Android 6 and older) adb's shell gives no exit status
    // (adb ends 0) and standard error comes within standard output.
    bool shellProtocol = true;
};

class Phone {
public:
    using Clock = std::chrono::steady_clock;

    explicit Phone(PhoneConfig config);
    ~Phone();

    Phone(const Phone&) = delete;
    Phone& operator=(const Phone&) = delete;

    // Whether the shell can run here; an empty text when it can.
    QString checkShell() const;
    bool listen(QString* error);
    uint16_t port() const { return m_port; }
    // Serves until `stop` turns non-zero or the parent goes away.
    int run(const volatile sig_atomic_t& stop);

    // For the connections and their streams.
    const PhoneConfig& config() const { return m_config; }
    const Sandbox& sandbox() const { return m_sandbox; }
    int storageFd() const { return m_storageFd; }
    QByteArray banner() const;
    const ReplyTable& replies();
    const Knobs& knobs();
    void record(const QByteArray& command);
    // "opened", "closed" (by the host), "ended" or "dropped" for a log stream.
    void recordLogEvent(const QByteArray& event);
    void log(const QByteArray& line);

    // Sync data accounting for the drop knob: how many bytes may still pass,
    // and counting some; true when the connection must now be dropped.
    qint64 syncAllowance();
    bool countSyncBytes(qint64 bytes);
    // Whether the freeze knob has stopped the phone answering.
    bool frozen();
    // Gone after a cut shell (Knobs::leaveAfterCut) until the knob is set again.
    void leave() { m_left = true; }
    bool gone() { return knobs().unreachable || m_left; }

    // Where pushes to /data/local/tmp/ go; -1 without a control folder.
    int tmpFd() const { return m_tmpFd; }

    // The mirroring server, started by its shell command. Until then (and for
    // another scid) the phone has no socket for its streams.
    void startMirror(const QByteArray& scid, bool audio);
    // The next stream of the server (video, audio when asked for, control) as
    // our end of a connected socket; -1 when the server is not there.
    int openMirrorStream(const QByteArray& scid);
    // False once the server's video stream has ended; sends the clipboard
    // knob's text on each new generation, and ends the streams on a new end one.
    bool serviceMirror();
    void stopMirror();

    // Children are reaped in one place; streams ask for their status here.
    std::optional<int> exitStatus(pid_t pid);
    void forgetChild(pid_t pid);
    void abandonChild(pid_t pid); // killed; reap it without anyone asking

private:
    struct WatchedFile {
        QByteArray path;
        bool seen = false;
        bool present = false;
        struct stat info {};
        bool changed();
    };

    void acceptConnections();
    void endOrphanedServer();
    void reapChildren();
    void reloadReplies();

    PhoneConfig m_config;
    Sandbox m_sandbox;
    int m_listenFd = -1;
    int m_storageFd = -1;
    int m_tmpFd = -1;
    std::unique_ptr<FakeMirrorServer> m_mirror;
    QByteArray m_mirrorScid;
    bool m_mirrorAudio = false;
    int m_mirrorStreams = 0;
    qint64 m_mirrorClipboardGeneration = 0;
    qint64 m_mirrorEndGeneration = 0;
    uint16_t m_port = 0;
    std::vector<std::unique_ptr<Connection>> m_connections;

    ReplyTable m_defaults;
    ReplyTable m_replies;
    WatchedFile m_repliesWatch;
    WatchedFile m_extraRepliesWatch;
    Knobs m_knobs;
    WatchedFile m_knobsWatch;
    qint64 m_syncBytes = 0;
    bool m_dropFired = false;
    qint64 m_freezeBytes = 0;
    bool m_frozen = false;
    bool m_left = false;

    std::map<pid_t, int> m_exited;
    std::set<pid_t> m_abandoned;
    FILE* m_log = nullptr;
};

} // namespace adbphone
