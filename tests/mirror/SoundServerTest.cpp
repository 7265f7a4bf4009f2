// MirrorAudio through the real audio sink, against a private PulseAudio
// server of this test with a null output. Skipped where none can start.
#include "Error.h"
#include "MirrorAudio.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(MirrorAudioOutput, PlaysASecondAtTheRealRateAndThrowsOnceTheSoundServerIsGone)
{
    QTemporaryDir dir;
    const QString socket = dir.filePath(u"native"_s);
    QFile config(dir.filePath(u"client.conf"_s));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly) && config.write("autospawn = no\n") > 0);
    config.close();
    qputenv("PULSE_CLIENTCONFIG", config.fileName().toLocal8Bit());
    qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
    QProcess server;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"HOME", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR"})
        env.insert(QString::fromLatin1(name), dir.path());
    server.setProcessEnvironment(env);
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.start(QStandardPaths::findExecutable(u"pulseaudio"_s), {u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s,
                           u"--log-level=error"_s, u"--load=module-null-sink"_s,
                           u"--load=module-native-protocol-unix auth-anonymous=1 socket="_s + socket});
    const struct Stop {
        QProcess& process;
        ~Stop() { process.kill(), process.waitForFinished(5000); }
    } stopAtEnd {server};
    if (!testsupport::waitUntil([&] { return QFile::exists(socket) || server.state() == QProcess::NotRunning; })
        || !QFile::exists(socket))
        GTEST_SKIP() << "pulseaudio is missing, or did not start or open its socket";

    MirrorAudio audio;
    // One second in 20 ms packets, topping the queue up as it drains.
    const QByteArray packet(960 * 4, '\x10');
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        if (sent < 50 && audio.queued() <= MirrorAudio::queueLimit - 960)
            audio.play(packet), ++sent;
        return sent == 50 && audio.queued() == 0;
    }, std::chrono::seconds(20))) << "queued stuck at " << audio.queued();
    // Played, not swallowed: a second of sound cannot drain much faster than a second.
    EXPECT_GT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.8);

    // No server left to reach and none to spawn: a machine without sound.
    server.kill();
    server.waitForFinished(5000);
    EXPECT_THROW(MirrorAudio(), SystemError);
}
