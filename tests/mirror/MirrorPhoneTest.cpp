// Mirroring through the real adb tool and a private adb server, the fake
// phone, and the fake mirroring server inside it: what the stub adb cannot
// show is that the real tool carries the forward, the streams and the start.

#include "FakePhoneHarness.h"
#include "MirrorSession.h"
#include "TestSupport.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::waitUntil;

TEST(MirrorPhone, StreamsTakesInputAndRemovesItsForward)
{
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    QTemporaryDir folder;
    QFile standIn(folder.filePath(QStringLiteral("scrcpy-server")));
    ASSERT_TRUE(standIn.open(QIODevice::WriteOnly) && standIn.write(QByteArray(3000, 'z')) == 3000);
    standIn.close();
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    MirrorSession mirror(ADB(phone.adbPath()), phone.serial(), QStringLiteral("Pixel"), &settings);
    MirrorConnection::Options options;
    options.serverCandidates = {standIn.fileName()};
    mirror.setConnectionOptions(options);
    auto forwarded = [&] { return phone.runAdb({QStringLiteral("forward"), QStringLiteral("--list")}).out.contains(" localabstract:scrcpy_"); };
    const struct Stop {
        MirrorSession& session;
        ~Stop() { session.stop(); }
    } stopAtEnd {mirror};

    mirror.start();
    ASSERT_TRUE(waitUntil([&] { return mirror.phase().kind() != MirrorSession::Phase::Kind::connecting; }, 30s));
    ASSERT_EQ(mirror.phase().kind(), MirrorSession::Phase::Kind::streaming) << mirror.phase().message().toStdString();
    EXPECT_TRUE(forwarded());
    EXPECT_TRUE(waitUntil([&] { return mirror.framesPerSecond() > 0; }, 10s));
    mirror.press(3);
    const QByteArray input = ControlMessage::key(0, 3, 0).data() + ControlMessage::key(1, 3, 0).data();
    EXPECT_TRUE(waitUntil([&] { return phone.mirrorControl() == input; }));
    mirror.stop();
    EXPECT_TRUE(waitUntil([&] { return !forwarded(); }));
}
