#include "PhoneControl.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace adbphone {

namespace {

// A small PNG (4×8 pixels) so that a screenshot shows something.
const char kScreenPng[] =
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00\x00\x08"
    "\x08\x02\x00\x00\x00\x51\x51\xc9\x52\x00\x00\x00\x11\x49\x44\x41\x54\x78\xda\x63\x50\x48\x58\x00"
    "\x47\x0c\xb4\xe3\x00\x00\x40\xd1\x24\x01\x51\xa0\x17\xa1\x00\x00\x00\x00\x49\x45\x4e\x44\xae\x42"
    "\x60\x82";

QByteArray joinStatements(std::initializer_list<const char*> statements)
{
    QByteArray text;
    for (const char* statement : statements) {
        if (!text.isEmpty())
            text += "; ";
        text += statement;
    }
    return text;
}

ScriptedReply ok(const QByteArray& out)
{
    return ScriptedReply{out, {}, 0};
}

QJsonObject encodeReply(const ScriptedReply& reply)
{
    QJsonObject object;
    object.insert(QStringLiteral("outBase64"), QString::fromLatin1(reply.out.toBase64()));
    object.insert(QStringLiteral("errBase64"), QString::fromLatin1(reply.err.toBase64()));
    object.insert(QStringLiteral("status"), reply.status);
    object.insert(QStringLiteral("delayMs"), reply.delayMs);
    return object;
}

QByteArray decodeField(const QJsonObject& object, const QString& name)
{
    const QJsonValue base64 = object.value(name + QStringLiteral("Base64"));
    if (base64.isString())
        return QByteArray::fromBase64(base64.toString().toLatin1());
    return object.value(name).toString().toUtf8();
}

} // namespace

QByteArray phoneProgram(const QByteArray& command)
{
    // The stop request leaves a mark in the storage that the recorder waits
    // for. As pkill, it finds the recorder only once it runs, and fails
    // (status 1) before.
    static const QByteArray mark = "/sdcard/.screenrecord-stop";
    static const QByteArray running = "/sdcard/.screenrecord-running";
    if (command == "pkill -INT screenrecord")
        return "[ -e " + running + " ] && touch " + mark;
    if (command.startsWith("screenrecord ")) {
        const QByteArray file = command.mid(command.lastIndexOf(' ') + 1);
        // A phone whose encoder can't be had, as some emulators and locked-down phones.
        // While "/sdcard/.screenrecord-lingers" exists the recorder outlives its
        // shell, as a phone's does when adb's connection ends: part of the
        // video is written, the rest a second after the shell is gone. It
        // runs in a session of its own, so that ending the shell's process
        // group leaves it, and under the recorder's command line, so that
        // pgrep finds it.
        const QByteArray lingering =
            "if [ -e /sdcard/.screenrecord-lingers ]; then "
            "setsid mksh -c 'printf \"fake vi\" > \"$1\"; "
            "while kill -0 \"$2\" 2>/dev/null && [ ! -e " + mark + " ]; do sleep 0.05; done; "
            "sleep 1; printf deo >> \"$1\"; rm -f " + mark + "' '" + command + "' " + file + " $$ & wait $!; exit 0; fi; ";
        // A recorder whose encoder fails after some video, as on a phone whose storage fills.
        const QByteArray midway = "if [ -e /sdcard/.screenrecord-fails-midway ]; then printf 'fake vi' > " + file
                                  + "; echo 'Encoder failed (err=-28)' >&2; exit 1; fi; ";
        return "if [ -e /sdcard/.screenrecord-fails ]; then echo 'ERROR: unable to create video encoder' >&2; exit 1; fi; "
               + midway + lingering +
               // A recorder slow to start, for as long as the test holds it (30 s at most).
               "i=0; while [ -e /sdcard/.screenrecord-held ] && [ $i -lt 600 ]; do sleep 0.05; i=$((i+1)); done; "
               "rm -f " + mark + "; touch " + running + "; "
               // The phone's own recorder ends at its time limit (3 minutes).
               "i=0; while [ ! -e " + mark + " ] && [ $i -lt 3600 ]; do sleep 0.05; i=$((i+1)); done; "
               "rm -f " + mark + " " + running + "; printf 'fake video' > " + file;
    }
    return {};
}

std::optional<ScriptedReply> faultReply(const Knobs& knobs, const QByteArray& command)
{
    // Worded as toybox on a phone words them.
    if (knobs.refuseMoves && command.startsWith("mv "))
        return ScriptedReply {{}, "mv: bad " + command.mid(3).split(' ').value(0) + ": Permission denied\n", 1};
    // New Folder's "test -d P || mkdir P" as well as a bare mkdir.
    if (const qsizetype at = command.startsWith("mkdir ") ? 0 : command.indexOf("|| mkdir ") + 3;
        knobs.storageFull && at >= 0 && command.mid(at).startsWith("mkdir "))
        return ScriptedReply {{}, "mkdir: " + command.mid(at + 6).split(' ').last() + ": No space left on device\n", 1};
    return std::nullopt;
}

namespace {
const QByteArray markBetween = "\n); echo \"\n";
const QByteArray markEnd = " $?\"";
} // namespace

std::optional<MarkedCommand> unmark(const QByteArray& command)
{
    const qsizetype at = command.lastIndexOf(markBetween);
    if (!command.startsWith('(') || at < 0 || !command.endsWith(markEnd))
        return std::nullopt;
    const QByteArray mark = command.mid(at + markBetween.size()).chopped(markEnd.size());
    if (mark.isEmpty() || mark.contains(' ') || mark.contains('\n') || mark.contains('"'))
        return std::nullopt;
    return MarkedCommand{command.mid(1, at - 1), mark};
}

QByteArray markLines(const QByteArray& mark, int status)
{
    return "\n" + mark + ' ' + QByteArray::number(status & 0xff) + "\n";
}

QByteArray remark(const QByteArray& program, const QByteArray& mark)
{
    return "(" + program + markBetween + mark + markEnd;
}

ReplyTable defaultReplies(const PhoneIdentity& identity)
{
    QByteArray model = identity.model;
    model.replace('_', ' ');
    const QByteArray manufacturer = "Google";
    const QByteArray serial = "FAKE" + identity.device.toUpper() + "0001";

    ReplyTable table;
    table.insert("getprop ro.product.model", ok(model + '\n'));
    table.insert("getprop ro.product.manufacturer", ok(manufacturer + '\n'));
    table.insert("getprop ro.product.marketname", ok("\n"));
    table.insert("getprop ro.build.version.release", ok("14\n"));
    table.insert("getprop ro.build.version.sdk", ok("34\n"));
    table.insert("getprop ro.serialno", ok(serial + '\n'));
    table.insert("settings get global device_name", ok(model + '\n'));
    table.insert("settings get global device_name 2>/dev/null; getprop ro.product.marketname; getprop ro.product.model",
                 ok(model + "\n\n" + model + '\n'));

    const QByteArray battery = "Current Battery Service state:\n"
                               "  AC powered: false\n"
                               "  USB powered: true\n"
                               "  Wireless powered: false\n"
                               "  status: 2\n"
                               "  health: 2\n"
                               "  present: true\n"
                               "  level: 85\n"
                               "  scale: 100\n";
    table.insert("dumpsys battery", ok(battery));

    // The device panel's facts in one command.
    const QByteArray facts = joinStatements({
        "echo \"ver=$(getprop ro.build.version.release)\"",
        "echo \"mfr=$(getprop ro.product.manufacturer)\"",
        "dumpsys battery 2>/dev/null | grep -E '^ *(level|status):'",
        "echo \"df=$(df -k /sdcard/ 2>/dev/null | tail -n 1)\"",
    });
    table.insert(facts, ok("ver=14\nmfr=" + manufacturer.toLower() +
                           "\n  status: 2\n  level: 85\n"
                           "df=/dev/fuse 115678780 30000000 85678780 26% /storage/emulated\n"));

    // The device details popover in one command.
    const QByteArray details = joinStatements({
        "echo \"Model=$(getprop ro.product.manufacturer) $(getprop ro.product.model)\"",
        "echo \"Android=$(getprop ro.build.version.release) (API $(getprop ro.build.version.sdk))\"",
        "echo \"Security patch=$(getprop ro.build.version.security_patch)\"",
        "echo \"Build=$(getprop ro.build.display.id)\"",
        "echo \"Screen=$(wm size | tail -n 1 | sed 's/.*: //') at $(wm density | tail -n 1 | sed 's/.*: //') dpi\"",
        "echo \"Processor=$(getprop ro.product.cpu.abi)\"",
        "echo \"Wi-Fi address=$(ip -f inet addr show wlan0 2>/dev/null | grep -o 'inet [0-9.]*' | cut -d' ' -f2)\"",
        "echo \"Serial number=$(getprop ro.serialno)\"",
    });
    table.insert(details, ok("Model=" + manufacturer + ' ' + model + "\n"
                             "Android=14 (API 34)\n"
                             "Security patch=2024-05-05\n"
                             "Build=UQ1A.240505.004\n"
                             "Screen=1080x2400 at 420 dpi\n"
                             "Processor=arm64-v8a\n"
                             "Wi-Fi address=\n"
                             "Serial number=" + serial + '\n'));

    // The apps window's three listings.
    table.insert("pm list packages", ok("package:com.android.settings\n"
                                        "package:com.google.android.youtube\n"
                                        "package:com.example.notes\n"));
    table.insert("pm list packages -3", ok("package:com.example.notes\n"));
    table.insert("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='",
                 ok("  Package [com.android.settings] (5f1a2b3):\n"
                    "    versionName=14\n"
                    "    firstInstallTime=2009-01-01 08:00:00\n"
                    "  Package [com.google.android.youtube] (7c4d5e6):\n"
                    "    versionName=19.20.34\n"
                    "    firstInstallTime=2009-01-01 08:00:00\n"
                    "  Package [com.example.notes] (9a8b7c6):\n"
                    "    versionName=2.3.1\n"
                    "    firstInstallTime=2024-03-15 10:22:41\n"));

    const QByteArray png(kScreenPng, sizeof kScreenPng - 1);
    table.insert("screencap '-p'", ok(png));
    table.insert("screencap -p", ok(png));

    // Clearing the log answers nothing.
    table.insert(logcatCommand({"-c"}), ok({}));
    return table;
}

QByteArray encodeReplies(const ReplyTable& table)
{
    QJsonObject root;
    for (auto it = table.begin(); it != table.end(); ++it)
        root.insert(QString::fromUtf8(it.key()), encodeReply(it.value()));
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

bool decodeReplies(const QByteArray& json, ReplyTable* table, QString* error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error)
            *error = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                  : QStringLiteral("the reply table is not a JSON object");
        return false;
    }
    const QJsonObject root = document.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        const QJsonObject object = it.value().toObject();
        ScriptedReply reply;
        reply.out = decodeField(object, QStringLiteral("out"));
        reply.err = decodeField(object, QStringLiteral("err"));
        reply.status = object.value(QStringLiteral("status")).toInt(0);
        reply.delayMs = qMax(0, object.value(QStringLiteral("delayMs")).toInt(0));
        table->insert(it.key().toUtf8(), reply);
    }
    return true;
}

QByteArray encodeKnobs(const Knobs& knobs)
{
    QJsonObject object;
    object.insert(QStringLiteral("chunkDelayMs"), knobs.chunkDelayMs);
    object.insert(QStringLiteral("dropAfterBytes"), static_cast<double>(knobs.dropAfterBytes));
    object.insert(QStringLiteral("dropGeneration"), static_cast<double>(knobs.dropGeneration));
    object.insert(QStringLiteral("freezeAfterBytes"), static_cast<double>(knobs.freezeAfterBytes));
    object.insert(QStringLiteral("freezeGeneration"), static_cast<double>(knobs.freezeGeneration));
    QJsonObject log;
    log.insert(QStringLiteral("command"), QString::fromLatin1(knobs.log.command.toBase64()));
    log.insert(QStringLiteral("history"), knobs.log.history);
    QJsonArray extra;
    for (const QByteArray& line : knobs.log.extra)
        extra.append(QString::fromLatin1(line.toBase64()));
    log.insert(QStringLiteral("extra"), extra);
    log.insert(QStringLiteral("intervalMs"), knobs.log.intervalMs);
    log.insert(QStringLiteral("burst"), knobs.log.burst);
    log.insert(QStringLiteral("endGeneration"), static_cast<double>(knobs.log.endGeneration));
    log.insert(QStringLiteral("dropGeneration"), static_cast<double>(knobs.log.dropGeneration));
    object.insert(QStringLiteral("log"), log);
    QJsonObject served;
    for (auto it = knobs.servedFiles.begin(); it != knobs.servedFiles.end(); ++it)
        served.insert(QString::fromLatin1(it.key().toBase64()), QString::fromLatin1(it.value().toBase64()));
    object.insert(QStringLiteral("servedFiles"), served);
    QJsonArray failing;
    for (const QByteArray& path : knobs.failingPulls)
        failing.append(QString::fromLatin1(path.toBase64()));
    object.insert(QStringLiteral("failingPulls"), failing);
    QJsonObject mirror;
    QJsonArray exitLines;
    for (const QByteArray& line : knobs.mirrorExitLines)
        exitLines.append(QString::fromLatin1(line.toBase64()));
    mirror.insert(QStringLiteral("exitLines"), exitLines);
    mirror.insert(QStringLiteral("clipboard"), QString::fromLatin1(knobs.mirrorClipboard.toBase64()));
    mirror.insert(QStringLiteral("clipboardGeneration"), static_cast<double>(knobs.mirrorClipboardGeneration));
    mirror.insert(QStringLiteral("endGeneration"), static_cast<double>(knobs.mirrorEndGeneration));
    object.insert(QStringLiteral("mirror"), mirror);
    object.insert(QStringLiteral("cutShellsBase64"), QString::fromLatin1(knobs.cutShells.toBase64()));
    object.insert(QStringLiteral("cutKeepBytes"), double(knobs.cutKeepBytes));
    object.insert(QStringLiteral("leaveAfterCut"), knobs.leaveAfterCut);
    object.insert(QStringLiteral("cutGeneration"), double(knobs.cutGeneration));
    object.insert(QStringLiteral("unreachable"), knobs.unreachable);
    object.insert(QStringLiteral("unresponsive"), knobs.unresponsive);
    object.insert(QStringLiteral("refuseMoves"), knobs.refuseMoves);
    object.insert(QStringLiteral("storageFull"), knobs.storageFull);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

Knobs decodeKnobs(const QByteArray& json)
{
    const QJsonObject object = QJsonDocument::fromJson(json).object();
    Knobs knobs;
    knobs.chunkDelayMs = qMax(0, object.value(QStringLiteral("chunkDelayMs")).toInt(0));
    knobs.dropAfterBytes = static_cast<qint64>(object.value(QStringLiteral("dropAfterBytes")).toDouble(-1));
    knobs.dropGeneration = static_cast<qint64>(object.value(QStringLiteral("dropGeneration")).toDouble(0));
    knobs.freezeAfterBytes = static_cast<qint64>(object.value(QStringLiteral("freezeAfterBytes")).toDouble(-1));
    knobs.freezeGeneration = static_cast<qint64>(object.value(QStringLiteral("freezeGeneration")).toDouble(0));
    const QJsonObject log = object.value(QStringLiteral("log")).toObject();
    knobs.log.command = QByteArray::fromBase64(log.value(QStringLiteral("command")).toString().toLatin1());
    knobs.log.history = qMax(0, log.value(QStringLiteral("history")).toInt(0));
    for (const QJsonValue& line : log.value(QStringLiteral("extra")).toArray())
        knobs.log.extra.append(QByteArray::fromBase64(line.toString().toLatin1()));
    knobs.log.intervalMs = qMax(0, log.value(QStringLiteral("intervalMs")).toInt(0));
    knobs.log.burst = qMax(1, log.value(QStringLiteral("burst")).toInt(1));
    knobs.log.endGeneration = static_cast<qint64>(log.value(QStringLiteral("endGeneration")).toDouble(0));
    knobs.log.dropGeneration = static_cast<qint64>(log.value(QStringLiteral("dropGeneration")).toDouble(0));
    const QJsonObject served = object.value(QStringLiteral("servedFiles")).toObject();
    for (auto it = served.begin(); it != served.end(); ++it)
        knobs.servedFiles.insert(QByteArray::fromBase64(it.key().toLatin1()),
                                 QByteArray::fromBase64(it.value().toString().toLatin1()));
    for (const QJsonValue& path : object.value(QStringLiteral("failingPulls")).toArray())
        knobs.failingPulls.append(QByteArray::fromBase64(path.toString().toLatin1()));
    const QJsonObject mirror = object.value(QStringLiteral("mirror")).toObject();
    for (const QJsonValue& line : mirror.value(QStringLiteral("exitLines")).toArray())
        knobs.mirrorExitLines.append(QByteArray::fromBase64(line.toString().toLatin1()));
    knobs.mirrorClipboard = QByteArray::fromBase64(mirror.value(QStringLiteral("clipboard")).toString().toLatin1());
    knobs.mirrorClipboardGeneration =
        static_cast<qint64>(mirror.value(QStringLiteral("clipboardGeneration")).toDouble(0));
    knobs.mirrorEndGeneration = static_cast<qint64>(mirror.value(QStringLiteral("endGeneration")).toDouble(0));
    knobs.cutShells = QByteArray::fromBase64(object.value(QStringLiteral("cutShellsBase64")).toString().toLatin1());
    knobs.cutKeepBytes = qint64(object.value(QStringLiteral("cutKeepBytes")).toDouble(0));
    knobs.leaveAfterCut = object.value(QStringLiteral("leaveAfterCut")).toBool(false);
    knobs.cutGeneration = qint64(object.value(QStringLiteral("cutGeneration")).toDouble(0));
    knobs.unreachable = object.value(QStringLiteral("unreachable")).toBool(false);
    knobs.unresponsive = object.value(QStringLiteral("unresponsive")).toBool(false);
    knobs.refuseMoves = object.value(QStringLiteral("refuseMoves")).toBool(false);
    knobs.storageFull = object.value(QStringLiteral("storageFull")).toBool(false);
    return knobs;
}

QByteArray logEntry(qint64 index)
{
    static const char kLevels[] = "VDIWEFA";
    static const char* const kPids[] = {"1234", "812", "4321", "77"};
    // Tags as phones print them: some padded before their ": ".
    static const char* const kTags[] = {"ActivityManager", "chatty  ", "Zygote", "wifi ", "AndroidRuntime"};
    const int second = static_cast<int>(index / 1000 % 60);
    const int millis = static_cast<int>(index % 1000);
    const char* pid = kPids[index % 4];
    const QByteArray time = QByteArray::number(second).rightJustified(2, '0') + '.' +
                            QByteArray::number(millis).rightJustified(3, '0');
    return "01-15 10:00:" + time + ' ' + QByteArray(pid).rightJustified(5, ' ') + ' ' +
           QByteArray::number(1000 + index % 7).rightJustified(5, ' ') + ' ' + kLevels[index % 7] + ' ' +
           kTags[index % 5] + ": line " + QByteArray::number(index) + " says: hello";
}

QByteArray logcatCommand(const QList<QByteArray>& arguments)
{
    QByteArray command = "export ANDROID_LOG_TAGS=\"''\"; exec logcat";
    for (const QByteArray& argument : arguments)
        command += " '" + argument + '\'';
    return command;
}

QByteArray encodeReceivedLine(const QByteArray& command)
{
    // The dot keeps an empty command (an interactive shell) from being an empty line.
    return '.' + command.toBase64() + '\n';
}

QStringList decodeReceived(const QByteArray& log)
{
    QStringList commands;
    const QList<QByteArray> lines = log.split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith('.'))
            commands.append(QString::fromUtf8(QByteArray::fromBase64(line.mid(1))));
    }
    return commands;
}

bool isAdbServer(qint64 pid, quint16 port)
{
    QFile file(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (port == 0 || !file.open(QIODevice::ReadOnly))
        return false;
    const QList<QByteArray> arguments = file.readAll().split('\0');
    return arguments.contains("fork-server") && arguments.contains("tcp:" + QByteArray::number(port));
}

qint64 findAdbServer(quint16 port)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& entry : entries) {
        bool numeric = false;
        const qint64 pid = entry.toLongLong(&numeric);
        if (numeric && isAdbServer(pid, port))
            return pid;
    }
    return 0;
}

bool writeFileAtomically(const QString& path, const QByteArray& contents)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (file.write(contents) != contents.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace adbphone
