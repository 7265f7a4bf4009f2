#pragma once

// What the test harness and the fake phone process share: the scripted reply
// table, the knobs, the log of received commands, and the files in the
// control folder that carry them. The phone re-reads the files whenever they
// change, so a change takes effect for the next command.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

namespace adbphone {

struct ScriptedReply {
    QByteArray out;
    QByteArray err;
    int status = 0;
    int delayMs = 0; // the answer comes this long after the command
};

// Exact command text (UTF-8) -> reply.
using ReplyTable = QHash<QByteArray, ScriptedReply>;

struct PhoneIdentity {
    QByteArray product = "sdk_phone";
    QByteArray model = "Pixel_7";
    QByteArray device = "panther";
};

// The phone's log: the command that streams it (as adb words `adb logcat
// ...`) is answered with `history` generated entries after a header line,
// then `extra` lines as they stand, then `burst` live entries every
// `intervalMs` (none when 0) until the host closes the stream.
struct LogScript {
    QByteArray command;
    int history = 0;
    QList<QByteArray> extra;
    int intervalMs = 0;
    int burst = 1;
    qint64 endGeneration = 0;  // a change ends the running logs (logcat exits 0)
    qint64 dropGeneration = 0; // a change drops the connections that carry a log
};

struct Knobs {
    int chunkDelayMs = 0;      // pause before each sync data chunk
    qint64 dropAfterBytes = -1; // close the connection after this many sync data bytes; -1 never
    qint64 dropGeneration = 0; // changes whenever dropAfterBytes is set again; restarts the count
    // Stop answering, without closing anything, after this many more sync data
    // bytes (-1 never), as a phone on a Wi-Fi link that went dead; a new
    // generation (freezeAfterBytes set again) thaws it and restarts the count.
    qint64 freezeAfterBytes = -1;
    qint64 freezeGeneration = 0;
    LogScript log;
    // Package files outside the storage: phone path -> file here, and the
    // phone paths whose pull fails.
    QHash<QByteArray, QByteArray> servedFiles;
    QList<QByteArray> failingPulls;
    // Mirroring: lines the server prints before it exits with status 1 (none:
    // it serves), a clipboard text the phone sends on each new generation,
    // and a generation whose change ends the running server's streams.
    QList<QByteArray> mirrorExitLines;
    QByteArray mirrorClipboard;
    qint64 mirrorClipboardGeneration = 0;
    qint64 mirrorEndGeneration = 0;
    // Faults for the copy tests. Unreachable: the connections drop and new
    // ones are closed at once, as a phone pulled off the cable. Unresponsive:
    // the connections stay open but nothing more is read or answered, as a
    // frozen phone. Moves refused: "mv" fails as a phone refusing a rename
    // does. Storage full: pushed data and new folders fail for want of space.
    bool unreachable = false;
    bool unresponsive = false;
    bool refuseMoves = false;
    bool storageFull = false;
    // A connection that drops under a shell, as adb 29 reports it: the
    // shells whose command holds `cutShells` (none when empty) end with
    // status 0 after the first `cutKeepBytes` bytes of their output, the
    // rest (the host's end mark too) lost; with 0 the command doesn't run.
    // With `leaveAfterCut` the phone is then gone (as unreachable) until the
    // knob is set again, which a new `cutGeneration` says.
    QByteArray cutShells;
    qint64 cutKeepBytes = 0;
    bool leaveAfterCut = false;
    qint64 cutGeneration = 0;
};

// The host's shell commands end by printing a mark of their own and the
// command's status: "(COMMAND" LF "); echo \"" LF "MARK $?\"". The command
// inside and the mark; none for a command not so made. Replies and records
// are by the command inside, as the phone's programs see it.
struct MarkedCommand {
    QByteArray inner;
    QByteArray mark;
};
std::optional<MarkedCommand> unmark(const QByteArray& command);
// What a marked command prints after the command's own output.
QByteArray markLines(const QByteArray& mark, int status);
// `program` run as the host marked its command.
QByteArray remark(const QByteArray& program, const QByteArray& mark);

// The log's lines: entry `index` in threadtime format, with every level
// letter ("A" too), right-aligned ids, and tags with spaces before ": ".
QByteArray logEntry(qint64 index);
inline constexpr char kLogHeader[] = "--------- beginning of main";
// What adb 29 sends for `adb logcat ARGS...`.
QByteArray logcatCommand(const QList<QByteArray>& arguments);

// Files inside the control folder.
inline constexpr char kRepliesFile[] = "replies.json";
inline constexpr char kKnobsFile[] = "knobs.json";
inline constexpr char kReceivedFile[] = "received.log";
inline constexpr char kLogFile[] = "phone.log";
// "NANOSECONDS opened|closed" of each log stream, the steady clock's time.
inline constexpr char kLogEventsFile[] = "log-events.log";
// "PID PORT" of the private adb server, so that a phone whose test died can end it.
inline constexpr char kServerFile[] = "adb-server";
// Every byte the mirroring server read from its control stream.
inline constexpr char kMirrorControlFile[] = "mirror-control.bin";
// Where files pushed to /data/local/tmp/ are kept.
inline constexpr char kPhoneTmpFolder[] = "data-local-tmp";

// The commands a browser asks a phone for, answered plausibly for `identity`.
ReplyTable defaultReplies(const PhoneIdentity& identity);

// What the phone's shell runs for a command that is a program of the phone
// we stand in for; empty when the command runs as it is. The screen
// recorder ("screenrecord ... FILE") records until "pkill -INT screenrecord"
// and then writes FILE; the stop fails, finding no recorder, until the
// recorder runs, which it does only once "/sdcard/.screenrecord-held" is
// gone; while "/sdcard/.screenrecord-fails" exists it fails at once as a
// phone without a video encoder does; while
// "/sdcard/.screenrecord-fails-midway" exists it writes part of FILE, then
// fails (status 1, "Encoder failed (err=-28)"); while "/sdcard/.screenrecord-lingers"
// exists it writes the end of FILE a second after its shell has ended.
QByteArray phoneProgram(const QByteArray& command);

// The failure a shell command meets under the fault knobs (a refused "mv",
// a "mkdir" on full storage); none when it runs as usual.
std::optional<ScriptedReply> faultReply(const Knobs& knobs, const QByteArray& command);

// JSON object: command -> {"out"|"outBase64", "err"|"errBase64", "status"}.
// The plain forms are for hand-written tables, the base64 forms for binary.
QByteArray encodeReplies(const ReplyTable& table);
bool decodeReplies(const QByteArray& json, ReplyTable* table, QString* error);

QByteArray encodeKnobs(const Knobs& knobs);
Knobs decodeKnobs(const QByteArray& json);

// One received command per line: a dot, then base64, so that any byte survives.
QByteArray encodeReceivedLine(const QByteArray& command);
QStringList decodeReceived(const QByteArray& log);

// The adb server that listens on `port` (it runs as "adb -L tcp:PORT
// fork-server server ..."); 0 when there is none.
qint64 findAdbServer(quint16 port);
bool isAdbServer(qint64 pid, quint16 port);

// Replaces the file in one step (write aside, then rename), so that a reader
// never sees half of it.
bool writeFileAtomically(const QString& path, const QByteArray& contents);

} // namespace adbphone
