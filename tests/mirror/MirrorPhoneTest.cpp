// Mirroring end to end: the real adb tool and a private adb server, the fake
// phone, and the fake mirroring server inside it.

#include "FakePhoneHarness.h"
#include "MirrorSession.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::waitUntil;
using Kind = MirrorSession::Phase::Kind;

namespace {

// adb processes whose parent is this process.
int adbChildren()
{
    int count = 0;
    const QByteArray parent = QByteArray::number(::getpid());
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        count += text.contains("(adb)") && fields.size() > 1 && fields[1] == parent;
    }
    return count;
}

class MirrorPhone : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
        QFile standIn(folder.filePath(QStringLiteral("scrcpy-server")));
        ASSERT_TRUE(standIn.open(QIODevice::WriteOnly));
        standIn.write(QByteArray("stand-in server ") + QByteArray(3000, 'z'));
    }
    void TearDown() override
    {
        if (session)
            session->stop();
        session.reset();
        phone.stop();
    }
    MirrorSession& start()
    {
        session = std::make_unique<MirrorSession>(ADB(phone.adbPath()), phone.serial(), QStringLiteral("Pixel"),
                                                  &settings);
        MirrorConnection::Options options;
        options.serverCandidates = {folder.filePath(QStringLiteral("scrcpy-server"))};
        session->setConnectionOptions(options);
        session->start();
        return *session;
    }
    QString forwards() const { return QString::fromUtf8(phone.runAdb({QStringLiteral("forward"), QStringLiteral("--list")}).out); }

    FakePhoneHarness phone;
    QTemporaryDir folder;
    QSettings settings {folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::unique_ptr<MirrorSession> session;
};

} // namespace

TEST_F(MirrorPhone, StreamsWithSoundTakesInputAndCleansUp)
{
    MirrorSession& mirror = start();
    ASSERT_TRUE(waitUntil([&] { return mirror.phase().kind() != Kind::connecting; }, 30s));
    ASSERT_EQ(mirror.phase().kind(), Kind::streaming) << mirror.phase().message().toStdString();

    QFile pushed(phone.phoneTmpFile(QStringLiteral("vantelorquist-scrcpy-server.jar")));
    ASSERT_TRUE(pushed.open(QIODevice::ReadOnly));
    QFile standIn(folder.filePath(QStringLiteral("scrcpy-server")));
    ASSERT_TRUE(standIn.open(QIODevice::ReadOnly));
    EXPECT_EQ(pushed.readAll(), standIn.readAll());

    const QStringList started = phone.receivedCommands().filter(QStringLiteral("app_process"));
    ASSERT_EQ(started.size(), 1);
    const auto command = QRegularExpression(QStringLiteral(
        "^CLASSPATH=/data/local/tmp/vantelorquist-scrcpy-server.jar app_process / com.genymobile.scrcpy.Server "
        "5.0.1 scid=([0-9a-f]{8}) log_level=warn tunnel_forward=true audio=true audio_codec=raw control=true "
        "clipboard_autosync=true cleanup=true video_codec=h264 video_bit_rate=8000000 max_fps=60$")).match(started[0]);
    ASSERT_TRUE(command.hasMatch()) << started[0].toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("tcp:\\d+ localabstract:scrcpy_") + command.captured(1))
                    .match(forwards())
                    .hasMatch())
        << forwards().toStdString();
    EXPECT_TRUE(waitUntil([&] { return mirror.framesPerSecond() > 0; }, 10s));

    mirror.touch(ControlMessage::TouchAction::down, {5, 6});
    mirror.press(3);
    const QByteArray input = ControlMessage::touch(ControlMessage::TouchAction::down, {5, 6}, {320, 640}).data() +
                             ControlMessage::key(0, 3, 0).data() + ControlMessage::key(1, 3, 0).data();
    EXPECT_TRUE(waitUntil([&] { return phone.mirrorControl().size() >= input.size(); }));
    EXPECT_EQ(phone.mirrorControl(), input);

    phone.sendMirrorClipboard("from the phone");
    EXPECT_TRUE(waitUntil([&] { return mirror.clipboardArrivals() == 1; }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("from the phone"));

    mirror.stop();
    EXPECT_TRUE(waitUntil([&] { return !forwards().contains(QStringLiteral("localabstract")); }));
    EXPECT_TRUE(waitUntil([] { return adbChildren() == 0; }));
}

TEST_F(MirrorPhone, AServerThatFailsShowsItsErrorLine)
{
    phone.setMirrorExit({"[server] INFO: Device: fake", "[server] ERROR: Could not create the video encoder",
                         "[server] INFO: bye"});
    MirrorSession& mirror = start();
    ASSERT_TRUE(waitUntil([&] { return mirror.phase().kind() == Kind::stopped; }, 30s));
    EXPECT_EQ(mirror.phase().message(), QStringLiteral("Could not create the video encoder"));
    EXPECT_TRUE(waitUntil([&] { return !forwards().contains(QStringLiteral("localabstract")); }));
}
