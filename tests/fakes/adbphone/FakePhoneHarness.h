#pragma once

// Starts a fake phone and a private adb server for one test, and connects the
// two, so that the test (and the code it tests) can use the real adb tool
// against a phone whose storage, scripted answers and misbehaviour it controls.
//
// start() sets ANDROID_ADB_SERVER_PORT and HOME in this process's environment
// (so every adb run by the code under test reaches the private server) and
// stop() puts the previous values back. Harnesses may follow one another in a
// process; only one should be started at a time.
//
// What the phone records, in order (receivedCommands()):
//   - a shell command ("shell,v2,...:<cmd>" or "shell:<cmd>") as <cmd> alone;
//   - "exec:<cmd>" (adb exec-out) as it stands, e.g. "exec:screencap '-p'";
//   - each sync request as "sync:STAT <path>", "sync:LIST <path>",
//     "sync:RECV <path>", "sync:SEND <path>" (without the ",mode");
//   - a "localabstract:scrcpy_<scid>" stream of the mirroring server that is
//     not running, as its text (it is refused); the server's streams are not
//     recorded. The server runs from its start command (recorded as a shell
//     command) until adb closes that shell; pushes to /data/local/tmp/ are
//     kept in a folder of the phone's own (phoneTmpFile()).
//   - any other service as its text (it is refused).
// The reply table is looked up with <cmd> for both shell and exec, so
// setReply("screencap '-p'", ...) answers `adb exec-out screencap -p`.
// Without a reply the command runs in the phone's real shell (mksh) with the
// storage folder as /sdcard. The phone starts with plausible answers for the
// informational commands (getprop, dumpsys battery, the facts, details and
// app listings); setReply overrides them.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>

class ChildProcess;
class QTemporaryDir;

class FakePhoneHarness {
public:
    struct Options {
        QString product = "sdk_phone";
        QString model = "Pixel_7";
        QString device = "panther";
        bool authorized = true;
        // Joins the adb server of that (started) harness instead of starting
        // one; the environment stays as that harness set it.
        const FakePhoneHarness* shareServerOf = nullptr;
        // A multi-call program ("/usr/bin/toybox", "/usr/bin/busybox") whose
        // file tools the phone's shell runs instead of the host's.
        QString toolbox;
        // As a phone without adb's shell protocol (Android 6 and older):
        // "adb shell" always ends with status 0, standard error mixed into
        // standard output.
        bool shellProtocol = true;
        // Storage that ignores letter case (and keeps it), for the phone's
        // shell, its file transfers and storage() alike: a FUSE file system
        // mounted over the storage folder from start() to stop(). Check
        // caselessStorageUnavailable() first.
        bool caselessStorage = false;
        // The folder the phone's own folders (its storage among them) are
        // made in; empty: the system's temporary folder.
        QString folder;
    };
    struct Reply {
        QByteArray out;
        QByteArray err;
        int status = 0;
        int delayMs = 0; // the phone answers after this long
    };
    // The phone's log for `adb logcat ARGUMENTS`: a header line and `history`
    // entries (logEntry(0), ...), then `extra` lines as they stand, then
    // `burst` further entries every `intervalMs` (0: none) until adb closes it.
    struct Log {
        QStringList arguments = {"-v", "threadtime", "-T", "1000"};
        int history = 0;
        QList<QByteArray> extra;
        int intervalMs = 0;
        int burst = 1;
    };
    // What became of the phone's log streams, on the steady clock.
    struct LogEvent {
        qint64 nanoseconds = 0;
        QString what; // "opened", "closed" (by adb), "ended", "dropped"
    };
    // What an adb run gave; status -1 when it did not end within its time.
    struct Result {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    FakePhoneHarness();
    explicit FakePhoneHarness(Options options);
    ~FakePhoneHarness();

    FakePhoneHarness(const FakePhoneHarness&) = delete;
    FakePhoneHarness& operator=(const FakePhoneHarness&) = delete;

    // Why storage that ignores letter case can't be had here; empty when it can.
    static QString caselessStorageUnavailable();

    // A computer folder shown, in place, as a disk of another kind (through
    // caselessfs, so without birth times) for the mount's lifetime.
    struct Disk {
        bool ignoresCase = true;
        QString renames = "all"; // "all", "noreplace" (vfat, exfat) or "plain" (many FUSE and network mounts)
        bool links = true;
        // Nodes numbered per spelling looked up, as exfat-fuse numbers them.
        bool numbersPerSpelling = false;
        int renameDelayMs = 0; // each rename answered this much later
        // The Nth change of a name (1 for the first) is held, unmade, until release().
        int holdAt = 0;
        // A person's stick: names vfat can't hold refused, folders' write
        // rights kept even from root, and full while `fullWhen` is there.
        bool vfatNames = false;
        bool honourModes = false;
        QString fullWhen;
    };
    class DiskMount {
    public:
        ~DiskMount(); // unmounts
        DiskMount(const DiskMount&) = delete;
        DiskMount& operator=(const DiskMount&) = delete;
        // Whether the change asked to be held came within `wait`.
        bool held(std::chrono::milliseconds wait);
        // The change held fails unmade, as if its process had been killed first.
        void release();

    private:
        friend class FakePhoneHarness;
        DiskMount() = default;
        QString m_folder;
        std::unique_ptr<ChildProcess> m_process;
        QByteArray m_output;
    };
    // Needs what caselessStorageUnavailable() asks for; none, and why, when it fails.
    static std::unique_ptr<DiskMount> mountDisk(const QString& folder, const Disk& disk, QString* error = nullptr);

    // Makes a temporary folder, starts the phone on a free port and a private
    // adb server on another, connects them and waits (about 10 s at most)
    // until adb lists the phone as "device" (or "unauthorized").
    bool start(QString* error = nullptr);
    // Stops the phone and the adb server it started (the server's process is
    // gone when this returns), restores the environment, removes the files.
    void stop();

    QString serial() const;  // "127.0.0.1:PORT"
    QString adbPath() const; // "/usr/bin/adb"
    QString storage() const; // the local folder the phone shows as /sdcard

    void setReply(const QString& command, const Reply& reply); // for the next command on
    void clearReplies(); // back to the phone's default answers
    QStringList receivedCommands() const;
    void clearReceived();
    void setChunkDelay(int milliseconds);  // before each sync data chunk; 0: none
    // Drops the connection once that many more sync data bytes have passed
    // (-1: never). It happens once; adb reconnects to the phone afterwards.
    void dropAfterBytes(qint64 bytes);
    // Stops the phone answering, without closing its connection, once that
    // many more sync data bytes have passed (0: now; -1: never; setting it
    // again thaws a frozen phone).
    void freezeAfterBytes(qint64 bytes);
    // Faults that last until turned off (see adbphone::Knobs): the phone
    // unreachable (connections drop, adb lists it as offline, then reconnects
    // once it is reachable again; waitForState("device") waits for that),
    // unresponsive (frozen: nothing is read or answered, nothing closes),
    // "mv" refused, storage full (pushed data and "mkdir" fail with no space).
    void setUnreachable(bool unreachable);
    void setUnresponsive(bool unresponsive);
    void setRefuseMoves(bool refuse);
    void setStorageFull(bool full);
    // The connection drops under shells whose command holds `matching`, as
    // adb 29 tells it: status 0 after the first `keepBytes` bytes of their
    // output (0: the command doesn't run). With `thenLeave` the phone is
    // gone afterwards (adb lists it as offline) until this is called again;
    // an empty `matching` cuts nothing.
    void cutShells(const QString& matching, qint64 keepBytes = 0, bool thenLeave = false);

    // Pulls of `phonePath` (a package file that "pm path" names) get the
    // file at `localPath`; failPull makes that path's pull fail. Both last
    // until clearPulls.
    void servePull(const QString& phonePath, const QString& localPath);
    void failPull(const QString& phonePath);
    void clearPulls();
    // Mirroring: the server prints these lines and exits with status 1 (none:
    // it serves); a clipboard text the phone sends now; every byte the
    // server read from its control stream; a file pushed to /data/local/tmp/.
    void setMirrorExit(const QList<QByteArray>& lines);
    void sendMirrorClipboard(const QByteArray& text);
    QByteArray mirrorControl() const;
    QString phoneTmpFile(const QString& name) const;

    void setLog(const Log& log);
    void endLog();  // the running logs' logcat exits with status 0
    void dropLog(); // the connections that carry a log drop
    QList<LogEvent> logEvents() const;
    // The log's entry `index` (threadtime format).
    static QByteArray logEntry(qint64 index);
    // The phone's record of `adb logcat ARGUMENTS` (adb 29 makes it a shell command).
    static QString logcatCommand(const QStringList& arguments);

    // Runs adb against this harness's server, bounded in time.
    Result runAdb(const QStringList& arguments, int timeoutMs = 15000) const;
    // "adb -s SERIAL shell COMMAND".
    Result shell(const QString& command, int timeoutMs = 15000) const;
    // adb's state word for the phone ("device", "offline", ...); empty when not listed.
    QString state() const;
    // Waits until adb shows the phone in that state (after a drop, "device" again).
    bool waitForState(const QString& state, int timeoutMs = 10000) const;
    qint64 phonePid() const;
    qint64 serverPid() const { return m_serverPid; }

private:
    QString controlPath(const char* name) const;
    void writeReplies() const;
    void writeKnobs() const;
    bool fail(QString* error, const QString& message);
    void stopServer();
    static void waitForBackgroundWork();
    bool connectPhone(QString* error);
    bool mountCaseless(QString* error);

    Options m_options;
    std::unique_ptr<QTemporaryDir> m_temp;
    std::unique_ptr<ChildProcess> m_phone;
    std::unique_ptr<DiskMount> m_caselessFs;
    quint16 m_phonePort = 0;
    quint16 m_serverPort = 0;
    bool m_sharedServer = false;
    qint64 m_serverPid = 0;
    bool m_environmentSet = false;
    bool m_hadHome = false;
    bool m_hadPort = false;
    QByteArray m_oldHome;
    QByteArray m_oldPort;
    struct State;
    std::unique_ptr<State> m_state;
};
