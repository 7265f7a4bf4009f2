// The session through the stub adb and the fake mirroring server.

#include "BrowserFakes.h"
#include "MirrorAudio.h"
#include "MirrorSession.h"
#include "StoredValue.h"
#include "StubAdb.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

using namespace std::chrono_literals;
using testsupport::waitUntil;
using Kind = MirrorSession::Phase::Kind;

namespace {

// One session over its own stub adb, with settings in a private INI file.
struct Mirroring {
    explicit Mirroring(const StubAdb::Server& server = {}, std::initializer_list<std::pair<const char*, const char*>> stored = {})
        : stub(server), options(stub.options())
    {
        for (const auto& [key, value] : stored)
            settings.setValue(QLatin1String(key), QLatin1String(value));
        // Sound goes nowhere, but its reader and player run as with a device.
        options.makePlayer = [] { return std::make_shared<MirrorAudio>(MirrorAudio::Output::pulled); };
    }
    ~Mirroring()
    {
        if (session)
            session->stop();
        session.reset();
        waitUntil(noMirrorThreads);
    }
    MirrorSession& make()
    {
        session = std::make_unique<MirrorSession>(stub.adb(), QStringLiteral("S1"), QStringLiteral("Pixel"), &settings);
        session->setConnectionOptions(options);
        return *session;
    }
    MirrorSession& start()
    {
        make().start();
        return *session;
    }
    bool reaches(Kind kind, std::chrono::milliseconds limit = 15s)
    {
        return waitUntil([&] { return session->phase().kind() == kind; }, limit);
    }

    QTemporaryDir folder;
    QSettings settings {folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    StubAdb stub;
    MirrorConnection::Options options;
    std::unique_ptr<MirrorSession> session;
};

} // namespace

TEST(MirrorSession, StartsWithTheExactCommandsStreamsWithSoundAndQuittingRemovesTheForward)
{
    Mirroring run({}, {{"mirrorSound", "maybe"}}); // unreadable: on
    run.start();
    EXPECT_TRUE(run.session->syncsClipboard());
    ASSERT_TRUE(run.reaches(Kind::streaming));
    const QStringList calls = run.stub.calls();
    ASSERT_EQ(calls.size(), 3);
    EXPECT_EQ(calls[0], QStringLiteral("push ") + run.stub.path(QStringLiteral("scrcpy-server")) +
                            QStringLiteral(" /data/local/tmp/vantelorquist-scrcpy-server.jar"));
    const auto forward = QRegularExpression(QStringLiteral("^forward tcp:0 localabstract:scrcpy_([0-9a-f]{8})$")).match(calls[1]);
    ASSERT_TRUE(forward.hasMatch()) << calls[1].toStdString();
    const QString scid = forward.captured(1);
    EXPECT_LT(scid.toULong(nullptr, 16), 1ul << 31);
    EXPECT_EQ(calls[2], QStringLiteral("shell CLASSPATH=/data/local/tmp/vantelorquist-scrcpy-server.jar app_process / "
                                       "com.genymobile.scrcpy.Server 5.0.1 scid=") +
                            scid + QStringLiteral(" log_level=warn tunnel_forward=true audio=true audio_codec=raw "
                                                  "control=true clipboard_autosync=true cleanup=true video_codec=h264 "
                                                  "video_bit_rate=8000000 max_fps=60"));
    EXPECT_EQ(run.session->videoSize(), QSizeF(320, 640));
    EXPECT_TRUE(threadNames().contains(QStringLiteral("Mirror audio")));
    EXPECT_TRUE(waitUntil([&] { return run.session->framesPerSecond() > 0; }, 5s));

    // Quitting the application removes the forward.
    QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    EXPECT_TRUE(waitUntil([&] { return run.stub.removals() == 1; }));
}

TEST(MirrorSession, EveryFailureIsShownAndReleasesTheForward)
{
    struct Case {
        const char* name;
        StubAdb::Server server;
        std::function<void(Mirroring&)> setUp;
        QString message; // %1: the stub's folder
        bool forwarded = true;
    };
    const QString noConnection = QStringLiteral("Couldn't open a connection to the phone (%2).");
    auto answer = [](QByteArray text) { return [text](Mirroring& run) { run.stub.setForwardAnswer(text); }; };
    const std::vector<Case> cases {
        {"missing server file", {}, [](Mirroring& run) { run.options.serverCandidates.removeLast(); },
         QStringLiteral("The screen mirroring component is missing from the app."), false},
        {"failing push", {}, [](Mirroring& run) { run.stub.failPush(); },
         QStringLiteral("Copying “scrcpy-server” failed: No space left on device."), false},
        {"forward error text", {}, answer("adb: error: cannot bind listener\n"), noConnection.arg(QStringLiteral("cannot bind listener")), false},
        {"port 70000", {}, answer("70000\n"), noConnection.arg(QStringLiteral("70000")), false},
        // The forward is made, but the stand-in that would remove it can no longer run.
        {"server that cannot be launched", {}, [](Mirroring& run) { run.stub.failLaunch(); },
         QStringLiteral("Couldn't start %1/adb: ") + QString::fromLocal8Bit(std::strerror(EACCES)) + u'.', false},
        {"silent server", {.scenario = QStringLiteral("silent")}, [](Mirroring& run) { run.options.deadline = 1s; },
         QStringLiteral("The phone didn't start screen mirroring. Make sure it's unlocked.")},
        {"error line", {.scenario = QStringLiteral("exit"), .lines = {QStringLiteral("[server] ERROR: Could not open the encoder"), QStringLiteral("[server] INFO: cleaning up")}},
         {}, QStringLiteral("Could not open the encoder")},
        {"codec h265", {.scenario = QStringLiteral("h265")}, {}, QStringLiteral("The phone couldn't start its screen encoder.")},
        {"end in the middle", {.scenario = QStringLiteral("end-midway")}, {}, QString::fromLocal8Bit(std::strerror(ECONNRESET))},
        {"server exit after the start", {.scenario = QStringLiteral("exit-after-start")}, {}, QStringLiteral("Screen mirroring stopped.")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Mirroring run(c.server);
        if (c.setUp)
            c.setUp(run);
        run.start();
        ASSERT_TRUE(run.reaches(Kind::stopped));
        EXPECT_EQ(run.session->phase().message(), QString(c.message).replace(QStringLiteral("%1"), run.stub.path({})));
        run.session.reset(); // its decoder's threads are named after the video thread
        EXPECT_TRUE(waitUntil([&] { return noMirrorThreads() && run.stub.removals() == (c.forwarded ? 1 : 0); }));
    }
}

// Mended: with no thread to start on, starting threw to the window and
// ended the application.
TEST(MirrorSession, AStartThatGetsNoThreadStopsWithTheReason)
{
    Mirroring run;
    WorkerPool::shared().refuseThreadsForTesting(true);
    EXPECT_NO_THROW(run.start());
    const bool stopped = run.reaches(Kind::stopped, 5s);
    WorkerPool::shared().refuseThreadsForTesting(false);
    ASSERT_TRUE(stopped);
    EXPECT_TRUE(run.session->phase().message().startsWith(QStringLiteral("Couldn't start a worker thread")))
        << run.session->phase().message().toStdString();
    EXPECT_EQ(run.stub.removals(), 0);
}

TEST(MirrorSession, SendsControlMessagesOnlyWhileRunning)
{
    Mirroring run;
    run.make().press(4); // before start(): nothing to send to
    MirrorSession& session = run.start();
    session.start(); // a second start changes nothing
    ASSERT_TRUE(run.reaches(Kind::streaming));
    EXPECT_EQ(run.stub.calls().filter(QStringLiteral("push ")).size(), 1);

    using Message = ControlMessage;
    const QSizeF screen(320, 640);
    session.press(4);
    session.touch(Message::TouchAction::down, {10.5, 20});
    session.scroll({1, 2}, 0, -16);
    session.type(QStringLiteral("héllo"));
    session.paste(QStringLiteral("pasted"));
    session.rotate();
    QByteArray sent = Message::key(0, 4, 0).data() + Message::key(1, 4, 0).data() +
                      Message::touch(Message::TouchAction::down, {10.5, 20}, screen).data() +
                      Message::scroll({1, 2}, screen, 0, -16).data() + Message::text(QStringLiteral("héllo")).data() +
                      Message::setClipboard(QStringLiteral("pasted"), true).data() + QByteArray(1, '\x0b');
    EXPECT_TRUE(waitUntil([&] { return run.stub.control() == sent; }, 5s)) << run.stub.control().toHex().toStdString();
    // The rotation reaches the picture's size, and touches follow it.
    ASSERT_TRUE(waitUntil([&] { return session.videoSize() == QSizeF(640, 320); }));
    session.touch(Message::TouchAction::up, {1, 1});
    sent += Message::touch(Message::TouchAction::up, {1, 1}, {640, 320}).data();
    EXPECT_TRUE(waitUntil([&] { return run.stub.control() == sent; }, 5s));

    session.stop();
    session.press(4);
    EXPECT_EQ(run.stub.control(), sent);
    EXPECT_EQ(session.phase().kind(), Kind::streaming); // a stop by the owner keeps the phase
}

namespace {

// Far more than the socket buffers and the connection's queue hold; each
// message differs from the others.
std::vector<QByteArray> pasteFlood(MirrorSession& session)
{
    std::vector<QByteArray> sent;
    for (int i = 0; i < 24; ++i) {
        const QString text(512 * 1024, QLatin1Char('a' + i));
        session.paste(text);
        sent.push_back(ControlMessage::setClipboard(text, true).data());
    }
    return sent;
}

// How many of `messages`, whole and in their order, make up `bytes`; -1 when
// the bytes are not such a sequence.
int wholeMessagesIn(QByteArrayView bytes, const std::vector<QByteArray>& messages)
{
    int count = 0;
    for (const QByteArray& message : messages) {
        if (bytes.startsWith(message)) {
            bytes = bytes.sliced(message.size());
            ++count;
        }
    }
    return bytes.isEmpty() ? count : -1;
}

} // namespace

TEST(MirrorSession, APhoneThatPausesReadingGetsWholeMessagesInOrderAndKeepsStreaming)
{
    Mirroring run({.scenario = QStringLiteral("deaf")});
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    std::vector<QByteArray> sent = pasteFlood(session);
    session.press(4);
    sent.push_back(ControlMessage::key(0, 4, 0).data());
    sent.push_back(ControlMessage::key(1, 4, 0).data());
    ASSERT_TRUE(waitUntil([&] { return run.stub.command("listen"); }));
    // Once the queue has drained (nothing new for a while), the phone takes
    // touches and keys again.
    QByteArray seen;
    auto changed = std::chrono::steady_clock::now();
    ASSERT_TRUE(waitUntil([&] {
        const QByteArray now = run.stub.control();
        if (now != seen)
            seen = now, changed = std::chrono::steady_clock::now();
        return !seen.isEmpty() && std::chrono::steady_clock::now() - changed > 300ms;
    }, 15s));
    session.press(3);
    sent.push_back(ControlMessage::key(0, 3, 0).data());
    sent.push_back(ControlMessage::key(1, 3, 0).data());
    ASSERT_TRUE(waitUntil([&] { return run.stub.control().endsWith(sent.back()); }, 5s));
    // What arrived is whole messages in their order, the last key press
    // included; those that found the queue full are left out.
    const int arrived = wholeMessagesIn(run.stub.control(), sent);
    EXPECT_GT(arrived, 2);
    EXPECT_LT(arrived, int(sent.size()));
    EXPECT_EQ(session.phase().kind(), Kind::streaming);
}

// Mended: the window's thread wrote to a phone that had stopped reading, and
// after one time-out every later message was dropped without a word.
TEST(MirrorSession, APhoneThatStopsReadingStopsMirroringWithASentence)
{
    Mirroring run({.scenario = QStringLiteral("deaf")});
    run.options.controlStall = 1s;
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    pasteFlood(session);
    session.press(4);
    ASSERT_TRUE(run.reaches(Kind::stopped, 10s));
    EXPECT_EQ(session.phase().message(), MirrorConnection::controlStalledText());
    EXPECT_TRUE(waitUntil([&] { return run.stub.removals() == 1; }));
}

// Mended: a control stream the phone broke read as a phone that stopped
// taking touches and keys; it ends as a broken picture stream does.
TEST(MirrorSession, ABrokenControlStreamEndsAsABrokenStreamDoes)
{
    Mirroring run;
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    ASSERT_TRUE(waitUntil([&] { return run.stub.command("reset-control"); }));
    // Each key goes out until one meets the reset.
    ASSERT_TRUE(waitUntil([&] {
        session.press(4);
        return session.phase().kind() == Kind::stopped;
    }, 10s));
    EXPECT_EQ(session.phase().message(), QString::fromLocal8Bit(std::strerror(ECONNRESET)));
    EXPECT_TRUE(waitUntil([&] { return run.stub.removals() == 1; }));
}

TEST(MirrorSession, CopiesPhoneClipboardTextsThatAreNewWhileSyncIsOn)
{
    Mirroring run;
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    auto phoneCopies = [&](const QByteArray& text, int arrivals) {
        return waitUntil([&] { return run.stub.command("clipboard " + text); }) &&
               waitUntil([&] { return session.clipboardArrivals() == arrivals; }, 5s) &&
               QGuiApplication::clipboard()->text() == QString::fromUtf8(text);
    };
    ASSERT_TRUE(phoneCopies("hello", 1));
    ASSERT_TRUE(run.stub.command("clipboard hello")); // the same text again: not counted
    ASSERT_TRUE(phoneCopies("world", 2));
    session.setSyncsClipboard(false);
    ASSERT_TRUE(run.stub.command("clipboard unseen"));
    // Nothing shows that it arrived; it is given far more time than it needs.
    waitUntil([] { return false; }, 500ms);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("world"));
    session.setSyncsClipboard(true);
    ASSERT_TRUE(phoneCopies("last", 3));
}

TEST(MirrorSession, StoredOffSettingsAreReadAndTheSoundToggleRestartsWithTheOtherFlag)
{
    Mirroring run({}, {{"mirrorSound", "false"}, {"mirrorClipboard", "false"}});
    MirrorSession& session = run.start();
    EXPECT_FALSE(session.syncsClipboard());
    ASSERT_TRUE(run.reaches(Kind::streaming));
    EXPECT_FALSE(threadNames().contains(QStringLiteral("Mirror audio")));
    auto shells = [&] { return run.stub.calls().filter(QStringLiteral("shell ")); };
    session.setPlaysSound(false); // no change: no restart
    ASSERT_EQ(shells().size(), 1);
    EXPECT_TRUE(shells()[0].contains(QStringLiteral(" audio=false ")));
    session.setPlaysSound(true);
    EXPECT_EQ(storedBool(run.settings, QStringLiteral("mirrorSound")), true);
    ASSERT_TRUE(run.reaches(Kind::streaming));
    ASSERT_TRUE(waitUntil([&] { return shells().size() == 2; }));
    EXPECT_TRUE(shells()[1].contains(QStringLiteral(" audio=true ")));
    session.stop(); // a toggle also starts a stopped session
    session.setPlaysSound(false);
    ASSERT_TRUE(waitUntil([&] { return shells().size() == 3; }));
    EXPECT_TRUE(shells()[2].contains(QStringLiteral(" audio=false ")));
}

// Mended: a frame of the stream being replaced could reach the picture after
// the restart had reset it, so the new stream never counted as started.
TEST(MirrorSession, EverySoundToggleOfARunningStreamReachesStreamingAgain)
{
    Mirroring run({.framesPerSecond = 60, .width = 1080, .height = 2340}); // decoding takes a while
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    for (int toggle = 0; toggle < 12; ++toggle) {
        SCOPED_TRACE(toggle);
        waitUntil([] { return false; }, 30ms); // frames keep coming until the toggle
        session.setPlaysSound(!session.playsSound());
        ASSERT_EQ(session.phase().kind(), Kind::connecting);
        ASSERT_TRUE(run.reaches(Kind::streaming, 10s));
    }
}

TEST(MirrorSession, AnEndOfAConnectionNoLongerHeldChangesNothing)
{
    Mirroring run({.scenario = QStringLiteral("end-midway"), .framesPerSecond = 4});
    MirrorSession& session = run.start();
    ASSERT_TRUE(run.reaches(Kind::streaming));
    // The stream ends; its connection stops itself and posts `ended` while the
    // event loop is held here.
    for (int i = 0; i < 200 && run.stub.removals() == 0; ++i)
        std::this_thread::sleep_for(50ms);
    ASSERT_EQ(run.stub.removals(), 1);
    session.stop();
    session.start();
    // That late `ended` would stop the new connection before it streams.
    EXPECT_TRUE(run.reaches(Kind::streaming));
}

class MakeMirror : public browsertest::ModelTest {};

TEST_F(MakeMirror, GivesAnUnstartedSessionOnlyForAPhoneReadyOverAdb)
{
    using namespace browsertest;
    const std::vector<std::tuple<std::vector<Device>, std::vector<Device>, bool>> cases {
        {{}, {}, false},
        {{adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized"))}, {}, false},
        {{}, {mtpPhone(QStringLiteral("M1"))}, false},
        {{adbPhone(QStringLiteral("A1"))}, {}, true},
    };
    for (const auto& [adbPhones, mtpPhones, made] : cases) {
        adb->setDevices(adbPhones);
        mtp->setDevices(mtpPhones);
        pass();
        EXPECT_EQ(model().makeMirror() != nullptr, made) << adbPhones.size() << mtpPhones.size();
    }
    const auto made = model().makeMirror();
    ASSERT_TRUE(made);
    EXPECT_EQ(std::tuple(made->name(), made->serial(), made->phase().kind()), std::tuple(QStringLiteral("Pixel 7"), QStringLiteral("A1"), Kind::connecting));
    adb->setInstalled(false);
    auto without = makeModel(settings());
    settle();
    EXPECT_EQ(without->makeMirror(), nullptr);
}

// Mended: a damaged picture asks the phone for one key frame, not one per
// picture until it comes, and the picture resumes.
TEST(MirrorSession, ACorruptPictureAsksForOneKeyFrameAndThePictureResumes)
{
    Mirroring run({.scenario = QStringLiteral("corrupt")});
    MirrorSession& session = run.start();
    ASSERT_TRUE(waitUntil([&] { return run.stub.control() == QByteArray(1, '\x11'); }));
    int rates = 0;
    QObject::connect(&session, &MirrorSession::framesPerSecondChanged, [&] { rates += session.framesPerSecond() > 0; });
    EXPECT_TRUE(waitUntil([&] { return rates > 0; }, 5s));
    EXPECT_EQ(run.stub.control(), QByteArray(1, '\x11'));
}
