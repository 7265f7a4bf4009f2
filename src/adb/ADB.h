#pragma once

#include "ADBError.h"
#include "Cancel.h"
#include "Models.h"

#include <QByteArray>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

struct InstalledApp;
struct DeviceDetails;
struct WirelessService;

// Fraction done, 0 to 1; may be called on any thread.
using Progress = std::function<void(double)>;

// Where the adb tool is, and the commands run through it. Every operation
// blocks its (worker) thread until adb ends and takes the caller's Cancel;
// cancelling terminates adb and throws Cancelled. adb ended by any other
// signal throws ADBError::stopped(). The per-phone operations take the
// phone's serial first.
class ADB {
public:
    explicit ADB(QString executablePath) : executable(std::move(executablePath)) {}

    QString executable; // absolute path of the adb executable

    // The first executable adb of the usual places, read afresh on each call.
    static std::optional<ADB> locate();
    // The places locate() tries, in order.
    static QStringList candidatePaths();

    // ---- running commands --------------------------------------------------
    // Runs adb with args (nothing is added or quoted). Returns its standard
    // output; with a progress callback adb runs on a terminal, its percentage
    // lines are reported and the result is empty. Throws ADBError::failed on a
    // non-zero exit or an output too large to hold (adb is then ended),
    // Cancelled only when `cancel` asked for the end (also when adb then
    // exits 0), ADBError::stopped when a signal we did not send ended adb,
    // or SystemError when adb cannot start.
    QByteArray runData(const QStringList& args, const Progress& progress, const Cancel& cancel) const;
    // How many bytes adb reads in a run that sends them (a push). Given with
    // a progress callback, the progress is counted from the system's tally of
    // adb's reads instead of its terminal lines: adb prints a line for each
    // file there, which makes a folder of many small files take up to half
    // as long again. Where the tally can't be read (no /proc), the terminal.
    // `count`, where given, counts the bytes beside the run as it begins
    // (a walk of a large folder would hold up its start); until it is done
    // no progress is told.
    struct Tally {
        int64_t bytes = 0;
        std::function<int64_t()> count;
    };
    QByteArray runData(const QStringList& args, const Progress& progress, const std::optional<Tally>& tally,
                       const Cancel& cancel) const;
    // The same, decoded as UTF-8 with invalid bytes replaced.
    QString run(const QStringList& args, const Progress& progress, const Cancel& cancel) const;
    QString run(const QStringList& args, const Progress& progress, const Tally& tally, const Cancel& cancel) const;
    QString run(const QStringList& args, const Cancel& cancel) const { return run(args, {}, cancel); }
    // Runs a command text in the phone's shell ("-s", serial, "shell", and
    // the command with a mark after it). Only an answer that ends with the
    // mark is one: without it (the connection dropped, which adb may report
    // with status 0) it throws ADBError::failed with phoneLeftSentence() when
    // adb then says the phone is gone, else answerLostSentence().
    // A command that ends with a non-zero status throws ADBError::failed in
    // the phone's words, on every phone.
    QByteArray shellData(const QString& serial, const QString& command, const Cancel& cancel) const;
    QString shell(const QString& serial, const QString& command, const Cancel& cancel) const;
    // The phone's answer whatever the command's status; the same failures
    // for an answer that didn't arrive. `err` is empty on a phone without
    // adb's shell protocol, whose standard error comes within `out`.
    struct ShellAnswer {
        QByteArray out;
        QByteArray err;
        int status = 0;
    };
    ShellAnswer shellAnswer(const QString& serial, const QString& command, const Cancel& cancel) const;

    // adb's raw output made fit for a user sentence: no terminal codes,
    // prefixes or percentage lines, a copy's working name read as the item's
    // own; a phone that left reads as phoneLeftSentence(), and an install
    // whose answer was lost says it may or may not have happened.
    static QString clean(const QString& text);
    // The paths a copy or install names: adb's failure line about them is
    // read where they stand in it, whatever the names hold.
    struct Named {
        QStringList sources;
        QString destination; // none for an install
    };
    static QString clean(const QString& text, const Named& named);
    // The paths of an adb push, pull or install command line.
    static Named namedIn(const QStringList& args);
    // Whether adb's words say the phone is no longer there.
    static bool saysThePhoneLeft(const QString& text);
    // "The phone was disconnected."
    static QString phoneLeftSentence();
    // "The connection to the phone ended before it answered."
    static QString answerLostSentence();
    // The last "[ nn%]" of terminal output, 0 to 100.
    static std::optional<int> lastPercent(const QString& text);

    // ---- wireless debugging (ADBServer.cpp, WirelessDiscovery.cpp) --------
    struct PairResult {
        QString address;             // the pairing address passed in
        std::optional<QString> guid; // as the server named it, if it did
        friend bool operator==(const PairResult&, const PairResult&) = default;
    };
    // Starts the adb server and asks it to pair with the phone at address
    // ("host:port") using code. Throws ADBError::pairing, the server
    // exchange's ADBError::failed, or Cancelled.
    PairResult pair(const QString& address, const QString& code, const Cancel& cancel) const;
    // adb's own list of wireless-debugging services ("adb mdns services");
    // empty on any failure, cancellation included.
    std::vector<WirelessService> mdnsServices(const Cancel& cancel) const;

    // ---- phone queries, files, apps and details ---------------------------
    // Text single-quoted for the phone's shell, a quote written as '\''.
    static QString quote(const QString& text);

    std::vector<Device> devices(const Cancel& cancel) const;
    // The user-visible name; none on any failure, cancellation included.
    std::optional<QString> displayName(const QString& serial, const Cancel& cancel) const;
    DeviceInfo info(const QString& serial, const Cancel& cancel) const;
    // Fails also when adb exits 0 without having connected. Returns the
    // serial adb lists the phone under, as its answer names it: adb reads
    // some addresses otherwise than they are written (a port past 65535
    // wraps around as a 32-bit number).
    QString connect(const QString& address, const Cancel& cancel) const;
    // The address an answer of "adb connect" names ("connected to HOST:PORT",
    // "already connected to …", "failed to connect to …", "failed to
    // authenticate to …"); none when it names none.
    static std::optional<QString> connectionSerial(const QString& answer);
    // The phone's own serial number; none on any failure.
    std::optional<QString> serialNumber(const QString& serial, const Cancel& cancel) const;
    // PNG bytes of the screen, only ever a whole PNG: one cut short fails
    // in words (as cut short, or as the phone gone).
    QByteArray screenshot(const QString& serial, const Cancel& cancel) const;

    // Names are read byte-exact; bytes that are not UTF-8 become U+DC80 to
    // U+DCFF (one per byte), which no UTF-8 name decodes to, so every name is
    // unique and the operations below can tell and refuse it.
    std::vector<RemoteEntry> list(const QString& serial, const QString& path, bool showHidden,
                                  const Cancel& cancel) const;
    // Throws ADBError::failed naming the item when the path holds a name
    // that stands for no bytes (paths::carriesExactly()): it could only be
    // sent as another name. A name that isn't UTF-8 goes byte for byte.
    static void checkSendable(const QString& path);
    // Whether the phone has an item at `path`; nullopt when it can't tell.
    std::optional<bool> existence(const QString& serial, const QString& path, const Cancel& cancel) const;
    // Never fails: any failure reads as false.
    bool exists(const QString& serial, const QString& path, const Cancel& cancel) const;
    void remove(const QString& serial, const QString& path, const Cancel& cancel) const;
    // One folder, in a folder that must be there (PhoneFiles::makeFolder).
    void makeFolder(const QString& serial, const QString& path, const Cancel& cancel) const;
    void move(const QString& serial, const QString& from, const QString& to, const Cancel& cancel) const;

    // Installed apps sorted by package name (ADBTools.h defines the types).
    std::vector<InstalledApp> apps(const QString& serial, const Cancel& cancel) const;
    void launch(const QString& serial, const QString& package, const Cancel& cancel) const;
    void forceStop(const QString& serial, const QString& package, const Cancel& cancel) const;
    void clearData(const QString& serial, const QString& package, const Cancel& cancel) const;
    void uninstall(const QString& serial, const QString& package, const Cancel& cancel) const;
    void showAppInfo(const QString& serial, const QString& package, const Cancel& cancel) const;
    // The app's process ids; empty on any failure.
    QSet<QString> pids(const QString& serial, const QString& package, const Cancel& cancel) const;
    // The values of the "package:" lines of a package manager's output, in order.
    static QStringList packageNames(const QString& output);

    DeviceDetails details(const QString& serial, const Cancel& cancel) const;
};

namespace adbdetail {
// A shell command's end mark, new for each run.
QByteArray newShellMark();
// The command as the phone's shell runs it: the command, then a line break
// and the mark with the command's status on a line of their own.
QString markedCommand(const QString& command, const QByteArray& mark);
struct Marked {
    QByteArray answer; // the output before the mark's line
    int status = 0;
};
// The output without its mark, and the status; none when it doesn't end with them.
std::optional<Marked> beforeMark(const QByteArray& output, const QByteArray& mark);
// The last two meaningful lines of terminal output (not percentage lines).
QString lastLines(const QByteArray& output);
// The text keeping only its last `count` user-perceived characters.
QString lastCharacters(const QString& text, qsizetype count);
} // namespace adbdetail
