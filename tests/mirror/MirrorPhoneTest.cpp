// Mirroring end to end: the real adb tool and a private adb server, the fake
// phone, and the fake mirroring server inside it. Failures and leftovers are
// covered through the stub adb; this checks what the real tool passes on.

#include "FakePhoneHarness.h"
#include "MirrorSession.h"
#include "TestSupport.h"

#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::waitUntil;
using Kind = MirrorSession::Phase::Kind;

TEST(MirrorPhone, StreamsWithSoundTakesInputAndRemovesItsForward)
{
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    QTemporaryDir folder;
    const QByteArray server = QByteArray("stand-in server ") + QByteArray(3000, 'z');
    QFile standIn(folder.filePath(QStringLiteral("scrcpy-server")));
    ASSERT_TRUE(standIn.open(QIODevice::WriteOnly) && standIn.write(server) == server.size());
    standIn.close();
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    MirrorSession mirror(ADB(phone.adbPath()), phone.serial(), QStringLiteral("Pixel"), &settings);
    MirrorConnection::Options options;
    options.serverCandidates = {standIn.fileName()};
    mirror.setConnectionOptions(options);
    auto forwards = [&] { return QString::fromUtf8(phone.runAdb({QStringLiteral("forward"), QStringLiteral("--list")}).out); };
    struct Stop {
        MirrorSession& session;
        ~Stop() { session.stop(); }
    } stopAtEnd {mirror};

    mirror.start();
    ASSERT_TRUE(waitUntil([&] { return mirror.phase().kind() != Kind::connecting; }, 30s));
    ASSERT_EQ(mirror.phase().kind(), Kind::streaming) << mirror.phase().message().toStdString();
    QFile pushed(phone.phoneTmpFile(QStringLiteral("vantelorquist-scrcpy-server.jar")));
    ASSERT_TRUE(pushed.open(QIODevice::ReadOnly));
    EXPECT_EQ(pushed.readAll(), server);
    // The command arrives whole, and the forward names the same server.
    const QStringList started = phone.receivedCommands().filter(QStringLiteral("app_process"));
    ASSERT_EQ(started.size(), 1);
    const auto command = QRegularExpression(QStringLiteral(
        "^CLASSPATH=/data/local/tmp/vantelorquist-scrcpy-server.jar app_process / com.genymobile.scrcpy.Server "
        "5.0.1 scid=([0-9a-f]{8}) log_level=warn tunnel_forward=true audio=true .* max_fps=60$")).match(started[0]);
    ASSERT_TRUE(command.hasMatch()) << started[0].toStdString();
    EXPECT_TRUE(forwards().contains(QStringLiteral(" localabstract:scrcpy_") + command.captured(1))) << forwards().toStdString();
    EXPECT_TRUE(waitUntil([&] { return mirror.framesPerSecond() > 0; }, 10s));

    mirror.press(3);
    const QByteArray input = ControlMessage::key(0, 3, 0).data() + ControlMessage::key(1, 3, 0).data();
    EXPECT_TRUE(waitUntil([&] { return phone.mirrorControl().size() >= input.size(); }));
    EXPECT_EQ(phone.mirrorControl(), input);
    phone.sendMirrorClipboard("from the phone");
    EXPECT_TRUE(waitUntil([&] { return mirror.clipboardArrivals() == 1; }));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("from the phone"));

    mirror.stop();
    EXPECT_TRUE(waitUntil([&] { return !forwards().contains(QStringLiteral("localabstract")); }));
}
