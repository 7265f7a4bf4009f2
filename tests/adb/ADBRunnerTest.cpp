// The runner, and the app list's concurrent runs, against small shell scripts
// standing in for adb; the text helpers it reads adb's output with.
#include "ADB.h"
#include "ADBStream.h"
#include "ADBTools.h"
#include "Error.h"
#include "TestSupport.h"
#include "WorkingNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextBoundaryFinder>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <future>
#include <iostream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <tuple>

using testsupport::waitUntil;

namespace {

class ADBRunner : public ::testing::Test {
protected:
    QTemporaryDir dir;

    ADB stub(const QByteArray& body, const QString& name = QStringLiteral("adb"))
    {
        return ADB(testsupport::writeScript(dir.path(), name, "#!/bin/sh\n" + body));
    }
    QString marker(const char* name) const { return dir.path() + QLatin1Char('/') + QLatin1String(name); }
    // A stub that writes its pid to the marker, then runs until it is ended.
    ADB endless(const char* pidMarker, const QByteArray& before = {})
    {
        return stub(before + "echo $$ > '" + marker(pidMarker).toUtf8() + "'\nwhile :; do sleep 0.02; done\n");
    }
    long pidIn(const char* pidMarker) const
    {
        waitUntil([&] { return QFileInfo(marker(pidMarker)).size() > 0; });
        QFile f(marker(pidMarker));
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed().toLong() : 0;
    }
};

} // namespace

TEST_F(ADBRunner, ArgumentsPassAndOutputBytesReturnUnchanged)
{
    ADB adb = stub("for a in \"$@\"; do printf '<%s>' \"$a\"; done; printf '\\377\\376ok\\000'\n");
    const QStringList args {QStringLiteral("-s"), QStringLiteral("X Y"), QStringLiteral("shell"), QStringLiteral("echo 'a b'")};
    EXPECT_EQ(adb.runData(args, {}, Cancel()), QByteArray("<-s><X Y><shell><echo 'a b'>\xff\xfeok\0", 33));
    // Text callers get U+FFFD for what is not UTF-8.
    EXPECT_EQ(adb.run(args, Cancel()), QStringLiteral("<-s><X Y><shell><echo 'a b'>\uFFFD\uFFFDok") + QChar(0));
}

// Mended: a phone lost while its screen was read (adb's exec-out then ends
// quietly with nothing) was told to be unlocked.
TEST_F(ADBRunner, AScreenshotThatDoesNotArriveSaysWhetherThePhoneWentAway)
{
    const struct {
        const char* state; // what "adb get-state" does
        QString sentence;
    } cases[] = {
        {"echo 'error: device offline' >&2; exit 1", QStringLiteral("The phone was disconnected before the screenshot arrived.")},
        {"echo 'error: device 'X' not found' >&2; exit 1", QStringLiteral("The phone was disconnected before the screenshot arrived.")},
        {"echo device", QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked.")},
    };
    for (const auto& c : cases) {
        const ADB adb = stub(QByteArray("case \"$3\" in exec-out) exit 0 ;; get-state) ") + c.state + " ;; esac\n");
        QString failure;
        try {
            adb.screenshot(QStringLiteral("X"), Cancel());
        } catch (const Error& error) {
            failure = error.description();
        }
        EXPECT_EQ(failure, c.sentence) << c.state;
    }
}

// Mended: exec-out ends with status 0 and what had arrived when the phone's
// connection drops, and any start of a PNG was saved as the screenshot. Only
// a PNG whose chunks run whole to its end is one.
TEST_F(ADBRunner, AScreenshotIsKeptOnlyWhenItIsAWholePng)
{
    const QByteArray png = testsupport::pngCarrying(QByteArray(3000, 'p'));
    QByteArray longChunk = png;
    longChunk.replace(33, 4, QByteArray("\x7f\xff\xff\xf0", 4)); // the chunk after IHDR claims 2 GB
    QByteArray noHeader = png;
    noHeader.replace(12, 4, "IDAT");
    const QString whole = QStringLiteral("<whole>");
    const QString cutShort = QStringLiteral("The screenshot came from the phone cut short.");
    const QString gone = QStringLiteral("The phone was disconnected before the screenshot arrived.");
    const QString none = QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked.");
    const struct {
        const char* what;
        QByteArray bytes;
        QString there, left; // told while get-state finds the phone, and once it doesn't
    } cases[] = {
        {"whole", png, whole, whole},
        {"whole, bytes after its end", png + "\n\0trailing", whole, whole},
        {"half", png.left(png.size() / 2), cutShort, gone},
        {"the signature alone", png.left(8), cutShort, gone},
        {"all but the end's CRC", png.chopped(1), cutShort, gone},
        {"without its end chunk", png.chopped(12), cutShort, gone},
        {"a chunk longer than what came", longChunk, cutShort, gone},
        {"chunks without the header first", noHeader, cutShort, gone},
        {"the phone's words", "Error: no display\n", none, gone},
        {"nothing", {}, none, gone},
    };
    const QString data = dir.filePath(QStringLiteral("screen"));
    for (const auto& c : cases) {
        for (const bool left : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (left ? ", the phone gone" : ""));
            QFile file(data);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(c.bytes);
            file.close();
            const ADB adb = stub("case \"$3\" in exec-out) cat '" + data.toUtf8() + "' ;; get-state) "
                                 + (left ? "echo 'error: device offline' >&2; exit 1" : "echo device") + " ;; esac\n");
            QString outcome;
            try {
                outcome = adb.screenshot(QStringLiteral("X"), Cancel()) == c.bytes ? whole : QStringLiteral("<changed>");
            } catch (const Error& error) {
                outcome = error.description();
            }
            EXPECT_EQ(outcome, left ? c.left : c.there);
        }
    }
}

// adb reads some addresses otherwise than they are written (a port past
// 65535 wraps around as a 32-bit number): its answer names the entry.
TEST_F(ADBRunner, AConnectionIsNamedAsAdbsAnswerNamesIt)
{
    const std::pair<const char*, std::optional<QString>> answers[] = {
        {"connected to 127.0.0.1:47123\n", QStringLiteral("127.0.0.1:47123")},
        {"already connected to 127.0.0.1:47123\n", QStringLiteral("127.0.0.1:47123")},
        {"connected to [fe80::1%wlan0]:5555\r\n", QStringLiteral("[fe80::1%wlan0]:5555")},
        {"failed to connect to '127.0.0.1:1': Connection refused\n", QStringLiteral("127.0.0.1:1")},
        {"failed to connect to 10.0.0.5:5555\n", QStringLiteral("10.0.0.5:5555")},
        {"failed to connect to 10.0.0.5:5555: timed out\n", QStringLiteral("10.0.0.5:5555")},
        {"failed to authenticate to 10.0.0.5:5555\n", QStringLiteral("10.0.0.5:5555")},
        {"* daemon started successfully\nconnected to 10.0.0.5:5555\n", QStringLiteral("10.0.0.5:5555")},
        {"bad port number '70000' in '127.0.0.1:70000'\n", std::nullopt},
        {"empty address\n", std::nullopt},
    };
    for (const auto& [answer, serial] : answers)
        EXPECT_EQ(ADB::connectionSerial(QString::fromUtf8(answer)), serial) << answer;
    const ADB adb = stub("echo 'connected to 127.0.0.1:47123'\n");
    EXPECT_EQ(adb.connect(QStringLiteral("127.0.0.1:4295014419"), Cancel()), QStringLiteral("127.0.0.1:47123"));
}

TEST_F(ADBRunner, CancellingEndsTheRunAsCancelledWhateverAdbEndsWith)
{
    // The stub catches SIGTERM and exits 0: the caller must still see Cancelled.
    ADB adb = endless("pid", "trap 'exit 0' TERM\n");
    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(adb.run({}, {}, Cancel(early.get_token())), Cancelled);
    EXPECT_FALSE(QFileInfo::exists(marker("pid"))); // an already-cancelled call starts no child

    std::stop_source stop;
    std::thread canceller([&] {
        pidIn("pid");
        stop.request_stop();
    });
    EXPECT_THROW(adb.run({}, {}, Cancel(stop.get_token())), Cancelled);
    canceller.join();
}

// Mended: adb ended by a signal nobody here sent (killall adb, the
// out-of-memory killer, a server restart) ended every run as a cancellation,
// which no one shows: a copy, an install or a screenshot ended in silence.
TEST_F(ADBRunner, AdbEndedByASignalWeDidNotSendFailsInWords)
{
    QTemporaryDir source;
    QFile file(source.path() + QStringLiteral("/f"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(QByteArray(64, 'x')) == 64);
    file.close();
    const struct {
        const char* mode;
        Progress progress;
        std::optional<ADB::Tally> tally;
    } runs[] = {
        {"on pipes", {}, std::nullopt},
        {"on a terminal", [](double) {}, std::nullopt},
        {"counted", [](double) {}, ADB::Tally{64}},
    };
    for (const auto& run : runs) {
        for (const int signal : {SIGTERM, SIGKILL, SIGHUP}) {
            SCOPED_TRACE(std::string(run.mode) + ", signal " + std::to_string(signal));
            QFile::remove(marker("outside"));
            const ADB adb = endless("outside");
            std::thread killer([&] { ::kill(pidIn("outside"), signal); });
            try {
                adb.runData({QStringLiteral("push"), source.path(), QStringLiteral("/sdcard/")}, run.progress, run.tally,
                            Cancel());
                ADD_FAILURE() << "succeeded";
            } catch (const ADBError& error) {
                EXPECT_EQ(error.kind(), ADBError::Kind::stopped);
                EXPECT_EQ(error.description(), QStringLiteral("adb was stopped before it answered."));
            } catch (const Cancelled&) {
                ADD_FAILURE() << "read as a cancellation";
            }
            killer.join();
        }
    }
}

// Mended: "adb connect" ended by a signal nobody here sent threw the
// cancellation error, and the Wi-Fi sheet said "Connecting to …" for good.
TEST_F(ADBRunner, AConnectEndedFromOutsideFailsInWordsAndOnlyOurStopCancels)
{
    for (const int signal : {SIGTERM, SIGKILL}) {
        ADB killed = endless("connect");
        std::thread killer([&] { ::kill(pidIn("connect"), signal); });
        try {
            killed.connect(QStringLiteral("10.0.0.5:5555"), Cancel());
            ADD_FAILURE() << "connected";
        } catch (const ADBError& error) {
            EXPECT_EQ(error.description(), QStringLiteral("adb was stopped before it answered.")) << signal;
        } catch (const Cancelled&) {
            ADD_FAILURE() << "cancelled by signal " << signal;
        }
        killer.join();
        QFile::remove(marker("connect"));
    }
    ADB hanging = endless("stopped");
    std::stop_source stop;
    std::thread stopper([&] {
        pidIn("stopped");
        stop.request_stop();
    });
    EXPECT_THROW(hanging.connect(QStringLiteral("10.0.0.5:5555"), Cancel(stop.get_token())), Cancelled);
    stopper.join();
}

// Mended: adb 29 ends "adb shell" with status 0 and what had come so far
// when the connection drops mid-command, and a Delete, a rename or a listing
// cut short read as done and whole.
TEST_F(ADBRunner, AShellAnswerCountsOnlyWithItsEndMark)
{
    const QString lost = QStringLiteral("The connection to the phone ended before it answered.");
    const QString left = QStringLiteral("The phone was disconnected.");
    const struct {
        const char* shell;    // what "adb shell COMMAND" does ($4 is the command)
        const char* state;    // what "adb get-state" does
        QString command;
        QString result;       // the answer, or the failure's sentence
    } cases[] = {
        {"exec sh -c \"$4\"", "echo device", QStringLiteral("printf 'a\\nb'"), QStringLiteral("a\nb")},
        // A command's own "exit 0" is still a whole answer.
        {"exec sh -c \"$4\"", "echo device", QStringLiteral("echo hi; exit 0; echo not"), QStringLiteral("hi\n")},
        {"exit 0", "echo device", QStringLiteral("rm -rf /sdcard/x"), lost},
        {"exit 0", "echo 'error: device offline' >&2; exit 1", QStringLiteral("rm -rf /sdcard/x"), left},
        // The command ran, its answer was cut after some lines.
        {"sh -c \"$4\" | head -c 9; exit 0", "echo device", QStringLiteral("echo 'file|1|2|./a/'; echo 'file|1|2|./b/'"),
         lost},
        // A failure is told by its status and words, as before.
        {"exec sh -c \"$4\"", "echo device", QStringLiteral("echo 'mkdir: No space left on device' >&2; exit 1"),
         QStringLiteral("mkdir: No space left on device")},
        // A phone without adb's shell protocol: adb ends 0, standard error
        // within standard output; the status comes with the mark.
        {"sh -c \"$4\" 2>&1; exit 0", "echo device",
         QStringLiteral("echo 'mv: bad /sdcard/a: Permission denied' >&2; exit 1"),
         QStringLiteral("mv: bad /sdcard/a: Permission denied")},
        {"sh -c \"$4\" 2>&1; exit 0", "echo device", QStringLiteral("echo ok"), QStringLiteral("ok\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shell);
        const ADB adb = stub(QByteArray("case \"$3\" in shell) ") + c.shell + " ;; get-state) " + c.state + " ;; esac\n");
        QString result;
        try {
            result = adb.shell(QStringLiteral("X"), c.command, Cancel());
        } catch (const ADBError& error) {
            result = error.description();
        }
        EXPECT_EQ(result, c.result);
    }
}

// Mended: an adb that did not end on SIGTERM (one stuck on a phone that
// stopped answering) held the run after Stop for as long as it lived. It is
// killed after a short grace, with and without a terminal.
TEST_F(ADBRunner, StopKillsAnAdbThatIgnoresTheRequestToEnd)
{
    for (const bool terminal : {false, true}) {
        SCOPED_TRACE(terminal ? "on a terminal" : "on pipes");
        const char* pidMarker = terminal ? "deaf-terminal" : "deaf-pipes";
        ADB adb = endless(pidMarker, "trap '' TERM\n");
        std::stop_source stop;
        std::promise<std::chrono::steady_clock::time_point> stoppedAt;
        std::thread canceller([&] {
            pidIn(pidMarker);
            stoppedAt.set_value(std::chrono::steady_clock::now());
            stop.request_stop();
        });
        auto run = std::async(std::launch::async, [&] {
            adb.run({}, terminal ? Progress([](double) {}) : Progress(), Cancel(stop.get_token()));
        });
        const bool ended = run.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
        canceller.join();
        const long pid = pidIn(pidMarker);
        if (!ended && pid > 0)
            ::kill(pid, SIGKILL); // so that the run can end and the test with it
        ASSERT_TRUE(ended);
        EXPECT_THROW(run.get(), Cancelled);
        const auto took = std::chrono::steady_clock::now() - stoppedAt.get_future().get();
        std::cout << "[ adb ignoring SIGTERM ] Stop to the end of the run: "
                  << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms\n";
        EXPECT_NE(::kill(pid, 0), 0); // gone, and reaped
    }
}

TEST_F(ADBRunner, FailureMessagePrefersStandardErrorThenOutputThenTerminalLines)
{
    // With progress, adb runs on a terminal: its last meaningful lines count.
    const std::tuple<QByteArray, bool, QString> cases[] {
        {"echo 'adb: error: device not found' >&2\necho ignored\nexit 1\n", false,
         QStringLiteral("The phone was disconnected.")},
        {"echo 'error: protocol fault'\nexit 1\n", false, QStringLiteral("error: protocol fault")},
        {"exit 1\n", false, QStringLiteral("adb failed without an error message.")},
        {"printf '[ 99%%] /sdcard/big\\r\\n'\nprintf 'adb: error: remote No space left on device\\r\\n\\r\\n'\nexit 1\n",
         true, QStringLiteral("remote No space left on device")},
        // More progress than the runner keeps: the kept tail starts inside a line.
        {"i=0; while [ $i -lt 100 ]; do printf '[  3%%] /sdcard/Movies/holiday.mkv\\033[K\\r'; i=$((i+1)); done\n"
         "exit 1\n",
         true, QStringLiteral("adb failed without an error message.")},
        {"i=0; while [ $i -lt 100 ]; do printf '[  3%%] /sdcard/Movies/holiday.mkv\\033[K\\r'; i=$((i+1)); done\n"
         "printf 'adb: error: failed to read copy response\\r\\n'\nexit 1\n",
         true, QStringLiteral("failed to read copy response")}};
    for (const auto& [body, terminal, sentence] : cases) {
        try {
            stub(body).run({}, terminal ? Progress([](double) {}) : Progress(), Cancel());
            ADD_FAILURE() << "no failure for " << body.toStdString();
        } catch (const ADBError& e) {
            EXPECT_EQ(e.kind(), ADBError::Kind::failed);
            EXPECT_EQ(e.description(), sentence);
        }
    }
    EXPECT_THROW(ADB(dir.path() + QStringLiteral("/missing/adb")).run({}, [](double) {}, Cancel()), SystemError);
}

// Mended: adb's line was read by searching for quotes, so a name holding
// "' to '", "': " or a line end named an item that doesn't exist, or let our
// working name through. The line is read where the paths adb was given stand
// in it, as adb 29 words it, on a terminal (progress) and off it.
TEST_F(ADBRunner, ACopysFailureNamesTheItemWhateverItsNameHolds)
{
    using namespace Qt::Literals::StringLiterals;
    const auto working = [](const QString& name) {
        return workingnameform::make(name, u"bec35cdd"_s, u"81cb53b17713"_s);
    };
    const QString home = u"/home/p"_s;
    const QString saved = u"/home/p/saved/"_s;
    const QString left = u"The phone was disconnected."_s;
    // How adb words a failure about `name`: its arguments, its words and the sentence.
    struct Form {
        const char* what;
        std::function<QStringList(const QString&)> args;
        std::function<QString(const QString&)> words;
        std::function<QString(const QString&)> sentence;
    };
    const auto failed = [](const char* cause) {
        return [cause](const QString& name) { return u"Copying “"_s + name + u"” failed: "_s + QString::fromUtf8(cause) + u"."_s; };
    };
    const std::vector<Form> forms{
        {"a file pushed to a full phone",
         [&](const QString& n) { return QStringList{u"push"_s, home + u"/"_s + n, u"/sdcard/"_s + working(n)}; },
         [&](const QString& n) {
             return u"adb: error: failed to copy '"_s + home + u"/"_s + n + u"' to '/sdcard/"_s + working(n)
                    + u"': remote write failed: No space left on device\n"_s + home + u"/"_s + n
                    + u": 0 files pushed, 0 skipped. 0.0 MB/s (3 bytes in 0.001s)\n"_s;
         },
         failed("No space left on device")},
        {"a file inside a folder pushed to a full phone",
         [&](const QString&) { return QStringList{u"push"_s, home + u"/Album"_s, u"/sdcard/"_s + working(u"Album"_s)}; },
         [&](const QString& n) {
             return u"adb: error: failed to copy '"_s + home + u"/Album/sub/"_s + n + u"' to '/sdcard/"_s
                    + working(u"Album"_s) + u"/sub/"_s + n + u"': remote write failed: No space left on device\n[ 50%] /sdcard/"_s
                    + working(u"Album"_s) + u"/sub/"_s + n + u": 100%\n"_s;
         },
         failed("No space left on device")},
        {"a file pushed with others into a folder",
         [&](const QString& n) { return QStringList{u"push"_s, home + u"/"_s + n, home + u"/Album"_s, u"/sdcard/Download/"_s}; },
         [&](const QString& n) {
             return u"adb: error: failed to copy '"_s + home + u"/"_s + n + u"' to '/sdcard/Download/"_s + n
                    + u"': remote couldn't create file: Permission denied\nadb: error: failed to copy '"_s + home
                    + u"/Album/x' to '/sdcard/Download/Album/x': couldn't read from device\n"_s;
         },
         failed("Permission denied")},
        {"a file pulled to a full disk",
         [&](const QString& n) { return QStringList{u"pull"_s, u"-a"_s, u"/sdcard/"_s + n, saved + working(n)}; },
         [&](const QString& n) { return u"adb: error: cannot write '"_s + saved + working(n) + u"': File too large\n"_s; },
         failed("File too large")},
        {"a file inside a folder pulled to a full disk",
         [&](const QString&) { return QStringList{u"pull"_s, u"-a"_s, u"/sdcard/Pics"_s, saved + working(u"Pics"_s)}; },
         [&](const QString& n) {
             return u"adb: error: cannot write '"_s + saved + working(u"Pics"_s) + u"/"_s + n
                    + u"': No space left on device\npull: building file list...\n"_s;
         },
         failed("No space left on device")},
        {"a file the phone lost mid-pull",
         [&](const QString& n) { return QStringList{u"pull"_s, u"-a"_s, u"/sdcard/"_s + n, saved + working(n)}; },
         [&](const QString& n) {
             return u"adb: error: failed to copy '/sdcard/"_s + n + u"' to '"_s + saved + working(n)
                    + u"': couldn't read from device\n"_s;
         },
         [&](const QString&) { return left; }},
        {"an install whose answer was lost",
         [&](const QString& n) { return QStringList{u"install"_s, u"-r"_s, home + u"/Apps: new/"_s + n}; },
         [&](const QString& n) { return u"adb: failed to install "_s + home + u"/Apps: new/"_s + n + u": \n"_s; },
         [](const QString& n) {
             return u"“"_s + n + u"” may or may not have been installed: the connection to the phone ended before it answered."_s;
         }},
    };
    const QString names[] = {u"Send 'this' to 'Mum'.jpg"_s, u"a\nb.jpg"_s, u"The 'best': a\nb.jpg"_s,
                             u"it': x.txt"_s, u"Mum's video.mp4"_s, u"Notes: 2.apk"_s};
    const QString words = dir.filePath(u"words"_s);
    const ADB adb = stub("cat '" + words.toUtf8() + "' >&2\nexit 1\n");
    for (const Form& form : forms) {
        for (const QString& name : names) {
            SCOPED_TRACE(std::string(form.what) + ": " + name.toStdString());
            QFile file(words);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(form.words(name).toUtf8());
            file.close();
            for (const bool terminal : {false, true}) {
                SCOPED_TRACE(terminal ? "on a terminal" : "off a terminal");
                try {
                    adb.run(QStringList{u"-s"_s, u"X"_s} + form.args(name), terminal ? Progress([](double) {}) : Progress(),
                            Cancel());
                    ADD_FAILURE() << "no failure";
                } catch (const ADBError& error) {
                    EXPECT_EQ(error.description().toStdString(), form.sentence(name).toStdString());
                }
            }
        }
    }
}

// Mended: a phone that vanished mid-copy left adb silent, and the person read
// "adb failed without an error message.".
TEST_F(ADBRunner, ASilentFailureSaysWhetherThePhoneLeft)
{
    const struct {
        const char* state; // what "adb get-state" does
        QStringList args;
        QString sentence;
    } cases[] = {
        {"echo 'error: device offline' >&2; exit 1", {"-s", "X", "pull", "/sdcard/a", "/tmp/a"},
         QStringLiteral("The phone was disconnected.")},
        {"exit 1", {"-s", "X", "push", "/tmp/a", "/sdcard/a"}, QStringLiteral("The phone was disconnected.")},
        {"echo device", {"-s", "X", "pull", "/sdcard/a", "/tmp/a"},
         QStringLiteral("adb failed without an error message.")},
        // Not about one phone: nothing to ask.
        {"echo 'error: device offline' >&2; exit 1", {"devices"}, QStringLiteral("adb failed without an error message.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.state);
        const ADB adb = stub(QByteArray("case \"$3\" in get-state) ") + c.state + " ;; *) exit 1 ;; esac\n");
        for (const bool terminal : {false, true}) {
            try {
                adb.run(c.args, terminal ? Progress([](double) {}) : Progress(), Cancel());
                ADD_FAILURE() << "no failure";
            } catch (const ADBError& error) {
                EXPECT_EQ(error.description(), c.sentence);
            }
        }
    }
}

TEST_F(ADBRunner, LargeOutputOnBothStreamsDoesNotDeadlock)
{
    // Each stream alone overflows a pipe buffer; both must be drained together.
    ADB adb = stub("head -c 1000000 /dev/zero | tr '\\0' e >&2 & head -c 1000000 /dev/zero | tr '\\0' o; wait\n");
    EXPECT_EQ(adb.runData({}, {}, Cancel()).size(), 1000000);
}

// A phone decides how much it answers: memory stays bounded, and a failure's
// message still ends with the reason.
TEST_F(ADBRunner, AnAnswerTooLongToHoldFailsAndOnlyTheEndOfStandardErrorIsKept)
{
    const ADB flood = stub("head -c 200000000 /dev/zero\n");
    std::optional<QString> failure;
    try {
        flood.runData({}, {}, Cancel());
    } catch (const ADBError& error) {
        failure = error.description();
    }
    EXPECT_EQ(failure, QStringLiteral("The phone's answer was too long to read."));

    const ADB noisy = stub("i=0; while [ $i -lt 40000 ]; do echo \"rm: cannot remove 'x$i': Permission denied\"; "
                           "i=$((i+1)); done >&2; echo 'the last line' >&2; exit 1\n");
    try {
        noisy.runData({}, {}, Cancel());
        ADD_FAILURE() << "the run must fail";
    } catch (const ADBError& error) {
        EXPECT_LE(error.description().size(), 64 * 1024);
        EXPECT_TRUE(error.description().startsWith(QStringLiteral("rm: cannot remove 'x")));
        EXPECT_TRUE(error.description().endsWith(QStringLiteral("Permission denied\nthe last line")));
    }
}

TEST_F(ADBRunner, ProgressComesFromTheTerminalOneValuePerChunk)
{
    ADB adb = stub("[ -t 1 ] || { echo 'not a terminal' >&2; exit 9; }\n"
                   "[ \"$TERM\" = xterm-256color ] || { echo \"TERM=$TERM\" >&2; exit 8; }\n"
                   "printf '[ 12%%] /sdcard/a'; sleep 0.2\n"
                   "printf '\\r[ 47%%] /sdcard/a'; sleep 0.2\n"
                   "printf '\\r[150%%] /sdcard/a'; sleep 0.2\n"
                   "echo '/sdcard/a: 1 file pulled.'\n");
    std::mutex mutex;
    std::vector<double> values;
    EXPECT_EQ(adb.run({}, [&](double v) { std::lock_guard lock(mutex); values.push_back(v); }, Cancel()), QString());
    EXPECT_EQ(values, (std::vector<double> {0.12, 0.47}));
}

// A folder of many small files made adb print a line per file to the
// terminal, which cost a third of the copy: with a tally the progress is
// counted from what adb reads, and adb runs without a terminal. The total
// may be counted beside the run, which then starts at once: its count
// here waits for adb to have begun.
TEST_F(ADBRunner, ProgressWithATallyCountsWhatAdbReadsOffTheTerminal)
{
    QFile lines(marker("lines"));
    ASSERT_TRUE(lines.open(QIODevice::WriteOnly));
    for (int i = 0; i < 5000; ++i)
        lines.write("0123456789abcdefghi\n"); // 100,000 bytes
    lines.close();
    // The shell's own reads, a byte at a time, count; a child's would not.
    const QByteArray readAll = "while IFS= read -r l; do :; done < '" + marker("lines").toUtf8() + "'\n";
    const QString begun = marker("begun");
    ADB adb = stub("[ -t 1 ] && { echo 'a terminal' >&2; exit 9; }\n: > '" + begun.toUtf8() + "'\n" + readAll
                   + "sleep 0.4\n" + readAll + "sleep 0.4\necho '2 files pushed.'\n");
    const struct {
        const char* what;
        ADB::Tally tally;
    } cases[] = {
        {"known", ADB::Tally{200000}},
        {"counted beside", ADB::Tally{.count = [begun] {
             return testsupport::waitUntil([&] { return QFile::exists(begun); }, std::chrono::seconds(10)) ? 200000 : 1;
         }}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(begun);
        std::mutex mutex;
        std::vector<double> values;
        const QString out = adb.run({}, [&](double v) { std::lock_guard lock(mutex); values.push_back(v); },
                                    c.tally, Cancel());
        EXPECT_EQ(out.trimmed(), QStringLiteral("2 files pushed."));
        ASSERT_FALSE(values.empty());
        EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
        // Half way during the first pause, all of it during the second.
        EXPECT_TRUE(std::any_of(values.begin(), values.end(), [](double v) { return v > 0.45 && v < 0.6; }));
        EXPECT_GT(values.back(), 0.99);
        EXPECT_LE(values.back(), 1.0);
    }
}

TEST_F(ADBRunner, ManyRunsLeakNoDescriptorsOrChildren)
{
    const ADB ok = stub("echo ok\n"), failing = stub("echo bad >&2\nexit 2\n", QStringLiteral("failing")),
              slow = stub("sleep 5\n", QStringLiteral("slow"));
    ok.run({}, Cancel()); // warm up lazily opened descriptors
    const int before = testsupport::openDescriptorCount();
    for (int i = 0; i < 300; ++i) {
        const Progress progress = i % 8 < 4 ? Progress() : Progress([](double) {});
        std::stop_source stop;
        std::jthread canceller([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            stop.request_stop();
        });
        if (i % 4 == 0)
            ok.run({}, progress, Cancel());
        else if (i % 4 == 3)
            EXPECT_THROW(slow.run({}, progress, Cancel(stop.get_token())), Cancelled);
        else
            EXPECT_THROW(failing.run({}, progress, Cancel()), ADBError);
    }
    EXPECT_EQ(testsupport::openDescriptorCount(), before);
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

// The app list runs its three adb commands at once: a failing one, or a
// cancel, must end the others rather than wait for them.
TEST_F(ADBRunner, AFailedAppListOrACancelEndsEveryOtherCommand)
{
    // Every command runs for half a minute unless ended; for the serial
    // "failing", "pm list packages -3" fails at once.
    const ADB adb = stub("case \"$2 $4\" in \"failing (pm list packages -3\"*)\n"
                         "  echo 'error: protocol fault' >&2; exit 1 ;;\n"
                         "esac\n"
                         "exec sleep 30\n");
    const auto started = std::chrono::steady_clock::now();
    try {
        adb.apps(QStringLiteral("failing"), Cancel());
        ADD_FAILURE() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("error: protocol fault"));
    }
    std::stop_source stop;
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    EXPECT_THROW(adb.apps(QStringLiteral("SER1"), Cancel(stop.get_token())), Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)); // not the 30 s of a command
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

TEST(ADBLocate, AnAdbInAndroidHomeWinsUnlessItCannotRun)
{
    QTemporaryDir sdk;
    const QByteArray oldHome = qgetenv("ANDROID_HOME");
    qputenv("ANDROID_HOME", sdk.path().toLocal8Bit());
    QDir(sdk.path()).mkpath(QStringLiteral("platform-tools"));
    const QString inSdk =
        testsupport::writeScript(sdk.path() + QStringLiteral("/platform-tools"), QStringLiteral("adb"), "#!/bin/sh\n");
    auto found = ADB::locate();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->executable, inSdk); // before /usr/bin/adb
    QFile::setPermissions(inSdk, QFileDevice::ReadOwner);
    found = ADB::locate();
    EXPECT_TRUE(!found || found->executable != inSdk);
    oldHome.isNull() ? qunsetenv("ANDROID_HOME") : qputenv("ANDROID_HOME", oldHome);
}

TEST(ADBClean, RemovesEscapesMarkersControlsAndPrefixesAnywhere)
{
    EXPECT_EQ(ADB::clean(QStringLiteral("\x1b[31madb: error: x\x1b[0m\n")), QStringLiteral("x"));
    EXPECT_EQ(ADB::clean(QStringLiteral("one^Dtwo")), QStringLiteral("onetwo"));
    EXPECT_EQ(ADB::clean(QString::fromUtf8("a\x01\x08" "b\tc")), QStringLiteral("ab\tc"));
    EXPECT_EQ(ADB::clean(QStringLiteral("failed: adb: error: closed")), QStringLiteral("failed: closed"));
}

// Mended, each seen in use: adb's percentage line inside a failure, adb's
// words for a phone that left after a sentence of ours, an install said to
// have failed when it may have finished, our working name in a full disk.
TEST(ADBClean, LeavesTheCauseInTheItemsOwnName)
{
    using namespace Qt::Literals::StringLiterals;
    // A copy's working name of today's form, made by its one definition.
    const auto working = [](const QString& name) {
        return workingnameform::make(name, u"bec35cdd"_s, u"81cb53b17713"_s);
    };
    const QString gone = QStringLiteral("The phone was disconnected.");
    const struct {
        const char* what;
        QString raw, clean;
    } cases[] = {
        {"progress after the reason",
         u"adb: error: failed to copy '/sdcard/Movies/a.mp4' to '/home/p/a.mp4': No space left on device\n"
         u"[ 35%] /sdcard/Movies/a.mp4"_s,
         u"Copying “a.mp4” failed: No space left on device."_s},
        {"progress rewritten in place",
         u"[  3%] /sdcard/a.mp4\x1b[K\r[ 99%] /sdcard/a.mp4\r\nadb: error: remote No space left on device\r\n"_s,
         u"remote No space left on device"_s},
        {"a phone not found", u"adb: failed to get feature set: device '127.0.0.1:49789' not found\n"_s, gone},
        {"a phone offline", u"adb: error: device offline"_s, gone},
        {"no phone at all", u"adb: no devices/emulators found"_s, gone},
        {"a shell's own not found stays", u"/system/bin/sh: screenrecord: not found"_s,
         u"/system/bin/sh: screenrecord: not found"_s},
        {"an install that lost its answer", u"adb: failed to install /home/p/Downloads/Notes 2.apk: \n"_s,
         u"“Notes 2.apk” may or may not have been installed: the connection to the phone ended before it answered."_s},
        {"an install whose phone left",
         u"adb: failed to install /home/p/a.apk: adb: error: failed to read response: device '0A' not found"_s,
         u"“a.apk” may or may not have been installed: the connection to the phone ended before it answered."_s},
        {"an install the phone refused stays",
         u"adb: failed to install /home/p/a.apk: Failure [INSTALL_FAILED_OLDER_SDK]"_s,
         u"failed to install /home/p/a.apk: Failure [INSTALL_FAILED_OLDER_SDK]"_s},
        {"working name with its id",
         u"adb: error: cannot write '/sdcard/Download/.big.bin.0a1b2c3d4e5f.vantelorquist-copy': No space left on device"_s,
         u"Copying “big.bin” failed: No space left on device."_s},
        {"working name without an id, with spaces",
         u"adb: error: failed to copy '/home/p/My File.txt' to '/sdcard/.My File.txt.vantelorquist-copy': remote "
         u"Read-only file system"_s,
         u"Copying “My File.txt” failed: Read-only file system."_s},
        {"a full phone on a push",
         u"adb: error: failed to copy '/home/p/new.bin' to '/sdcard/.new.bin.0a1b2c3d4e5f.vantelorquist-copy': "
         u"remote write failed: No space left on device"_s,
         u"Copying “new.bin” failed: No space left on device."_s},
        {"the tally after a failed push",
         u"adb: error: failed to copy '/home/p/new.bin' to '/sdcard/new.bin': remote write failed: No space left on "
         u"device\n/home/p/new.bin: 0 files pushed, 0 skipped. 89.1 MB/s (120000 bytes in 0.001s)\n"_s,
         u"Copying “new.bin” failed: No space left on device."_s},
        {"a push of several items that went on after the first failed",
         u"adb: error: failed to copy '/home/p/Album/a.txt' to '/sdcard/.Album.0a1b2c3d4e5f.vantelorquist-copy/0/a.txt':"
         u" remote write failed: No space left on device\nadb: error: failed to copy '/home/p/Album/b.txt' to "
         u"'/sdcard/.Album.0a1b2c3d4e5f.vantelorquist-copy/0/b.txt': remote write failed: No space left on device\n"_s,
         u"Copying “a.txt” failed: No space left on device."_s},
        {"a connection that closed", u"adb: error: closed\n"_s, gone},
        {"a word that only ends in closed stays", u"the door is closed"_s, u"the door is closed"_s},
        {"a working name alone", u".a.b.vantelorquist-copy: Permission denied"_s, u"a.b: Permission denied"_s},
        {"a name that only looks like one stays", u"x.vantelorquist-copy: Permission denied"_s,
         u"x.vantelorquist-copy: Permission denied"_s},
        // Mended: the name was read as the phone leaving, and a name holding a
        // line end let adb's raw sentence through with our working name.
        {"a name in the words of a phone that left",
         u"adb: error: failed to copy '/home/p/device offline.txt' to '/sdcard/device offline.txt': remote "
         u"Permission denied"_s,
         u"Copying “device offline.txt” failed: Permission denied."_s},
        // Mended: words inside a name read as the phone leaving, and adb 29's
        // word for a phone lost mid-copy reached the person.
        {"a shell's own line about a folder named like adb's words",
         u"cd: /sdcard/Notes/Device not found: No such file or directory"_s,
         u"cd: /sdcard/Notes/Device not found: No such file or directory"_s},
        {"a quoted name with an apostrophe",
         u"rm: '/sdcard/Mum's device offline.jpg': Permission denied"_s,
         u"rm: '/sdcard/Mum's device offline.jpg': Permission denied"_s},
        {"a name holding a line end of adb's words",
         u"mv: '/sdcard/a\nerror: device offline\nb': Permission denied"_s,
         u"mv: '/sdcard/a\nerror: device offline\nb': Permission denied"_s},
        {"adb 29 losing the phone mid-copy",
         u"adb: error: failed to copy '/home/p/v_08.bin' to '/sdcard/.Album.vantelorquist-copy/v_08.bin': "
         u"couldn't read from device\n/home/p/Album/: 7 files pushed, 0 skipped.\n"_s,
         gone},
        {"adb 29 losing the phone mid-pull",
         u"adb: error: failed to copy '/sdcard/Mum's device offline.jpg' to '/home/p/x.jpg': remote couldn't read "
         u"from device"_s,
         gone},
        {"adb's line under a prefix", u"error: device 'R5C' offline"_s, gone},
        {"a name with a line end",
         u"adb: error: failed to copy '/home/p/a\nb.txt' to '/sdcard/.a\nb.txt.0a1b2c3d4e5f.vantelorquist-copy': "
         u"remote Read-only file system"_s,
         u"Copying “a\nb.txt” failed: Read-only file system."_s},
        // Mended: a full computer disk named our working name, and a name
        // with an apostrophe let adb's raw line through, paths and all.
        {"a full computer disk",
         u"adb: error: cannot create '/home/p/saved/"_s + working(u"movie.mkv"_s) + u"': No space left on device"_s,
         u"Copying “movie.mkv” failed: No space left on device."_s},
        {"an apostrophe, to a full phone",
         u"adb: error: failed to copy '/home/p/Mum's video.mp4' to '/sdcard/"_s + working(u"Mum's video.mp4"_s)
             + u"': remote write failed: No space left on device"_s,
         u"Copying “Mum's video.mp4” failed: No space left on device."_s},
        {"an apostrophe inside a folder",
         u"adb: error: failed to copy '/home/p/Album/Mum's video.mp4' to '/sdcard/"_s + working(u"Album"_s)
             + u"/sent/Mum's video.mp4': remote write failed: No space left on device"_s,
         u"Copying “Mum's video.mp4” failed: No space left on device."_s},
        {"a quote and a colon in a name",
         u"adb: error: failed to copy '/home/p/it': x.txt' to '/sdcard/"_s + working(u"it': x.txt"_s)
             + u"': remote Permission denied"_s,
         u"Copying “it': x.txt” failed: Permission denied."_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ADB::clean(c.raw), c.clean) << c.what;
}

TEST(ADBLastPercent, TakesTheLastBracketedPercentUpToAHundred)
{
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("no brackets")), std::nullopt);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[100%]")), 100);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[1000%]")), std::nullopt);
    EXPECT_EQ(ADB::lastPercent(QStringLiteral("[ 10%] x\r[ 20%] y")), 20);
}

TEST(ADBLastLines, KeepsTheLastTwoMeaningfulLines)
{
    EXPECT_EQ(adbdetail::lastLines("one\r\ntwo\nthree\n"), QStringLiteral("two\nthree"));
    EXPECT_EQ(adbdetail::lastLines("[ 10%] a\r[ 20%] b\n"), QString());
    EXPECT_EQ(adbdetail::lastLines("\x1b\x07  \x01"), QStringLiteral("  "));
}

TEST(ADBStreamLines, SplitsAtLineFeedsAndKeepsTheUnfinishedRest)
{
    QByteArray pending;
    EXPECT_TRUE(adbdetail::takeLines(pending, "abc").isEmpty());
    EXPECT_EQ(adbdetail::takeLines(pending, "def\nx"), (QStringList {"abcdef"}));
    EXPECT_EQ(pending, QByteArray("x"));
    pending.clear();
    EXPECT_EQ(adbdetail::takeLines(pending, "\n\na\r"), (QStringList {"", ""}));
    EXPECT_EQ(adbdetail::takeLines(pending, "\n"), (QStringList {"a"})); // CR LF split between reads
    EXPECT_EQ(adbdetail::takeLines(pending, "\r\rabc\r\na\rb\n"), (QStringList {"abc", "a\rb"}));
}

// A read may end inside a character, and a phone may send a line without end.
TEST(ADBStreamLines, ACharacterCutBetweenReadsStaysWholeAndALineWithoutEndIsBounded)
{
    QByteArray pending;
    const QByteArray text = "caf\xc3\xa9 \xf0\x9f\x98\x80\n";
    QStringList lines;
    for (qsizetype i = 0; i < text.size(); ++i)
        lines << adbdetail::takeLines(pending, text.sliced(i, 1));
    EXPECT_EQ(lines, (QStringList {QStringLiteral("caf\u00e9 \U0001F600")}));

    lines.clear();
    for (int i = 0; i < 10; ++i)
        lines << adbdetail::takeLines(pending, QByteArray(300, 'x'), 1000);
    EXPECT_EQ(lines, (QStringList {QString(1200, u'x'), QString(1200, u'x')}));
    EXPECT_EQ(pending.size(), 600);
}

// The runner keeps the tail of adb's terminal output by user-perceived
// characters; plain ASCII takes a shortcut that must agree with full
// segmentation wherever other characters come near the cut. The reference:
// the last `count` grapheme clusters, found by full segmentation.
static QString reference(const QString& text, int count)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype position = text.size();
    for (int i = 0; i < count; ++i) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            break;
        position = previous;
    }
    return text.mid(position);
}

TEST(TerminalTail, AgreesWithFullSegmentationAtEveryCut)
{
    // CR LF pairs, combining marks, a flag of two regional indicators, a
    // joined emoji and a non-ASCII character right before ASCII.
    const QStringList texts {QStringLiteral("[ 10%] /sdcard/a\r\x1b[K[ 11%] /sdcard/a\r\n"),
                             QStringLiteral("xx\r\n[ 5%]\r\n\r\n\r\n"),
                             QStringLiteral("caf\u00e9 \u05d0\u05b8 ok\r\n"),
                             QStringLiteral("x\U0001F1E9\U0001F1EAyz"),
                             QStringLiteral("\U0001F468\u200D\U0001F469 family\r\n\r"),
                             QStringLiteral("e\u0301\u0301\u0301 x\u00e9abc")};
    for (const QString& text : texts) {
        for (int count = 1; count <= text.size() + 1; ++count)
            EXPECT_EQ(adbdetail::lastCharacters(text, count), reference(text, count)) << count;
    }
    EXPECT_EQ(adbdetail::lastCharacters(QStringLiteral("abe\u0301cd"), 3), QStringLiteral("e\u0301cd"));
}

