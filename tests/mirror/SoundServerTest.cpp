// MirrorAudio through the real audio sink, against a private PulseAudio
// server of this test with a null output. Skipped where none can start.
#include "MirrorAudio.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace {

using namespace Qt::Literals::StringLiterals;

struct SoundServer {
    QTemporaryDir dir;
    QProcess process;

    // Starts the server and points this process at it; why it cannot run, or nothing.
    const char* start()
    {
        const QString program = QStandardPaths::findExecutable(u"pulseaudio"_s);
        if (program.isEmpty())
            return "pulseaudio is not installed";
        const QString socket = dir.filePath(u"native"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"HOME", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR"})
            env.insert(QString::fromLatin1(name), dir.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, {u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s,
                                u"--log-level=error"_s, u"--load=module-null-sink"_s,
                                u"--load=module-native-protocol-unix auth-anonymous=1 socket="_s + socket});
        if (!process.waitForStarted(5000)
            || !testsupport::waitUntil([&] { return QFile::exists(socket) || process.state() != QProcess::Running; })
            || !QFile::exists(socket))
            return "pulseaudio did not start or open its socket";
        QFile config(dir.filePath(u"client.conf"_s));
        if (!config.open(QIODevice::WriteOnly) || config.write("autospawn = no\n") < 0)
            return "no client configuration";
        config.close();
        qputenv("PULSE_CLIENTCONFIG", config.fileName().toLocal8Bit());
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
        return nullptr;
    }

    ~SoundServer()
    {
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill(), process.waitForFinished(5000);
    }
};

} // namespace

TEST(MirrorAudioOutput, PlaysASecondOfSoundAtTheRealRate)
{
    SoundServer server;
    if (const char* problem = server.start())
        GTEST_SKIP() << "no private sound server: " << problem;

    MirrorAudio audio;
    // One second in 20 ms packets, topping the queue up as it drains.
    const QByteArray packet(960 * 4, '\x10');
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    const bool drained = testsupport::waitUntil([&] {
        if (sent < 50 && audio.queued() <= MirrorAudio::queueLimit - 960)
            audio.play(packet), ++sent;
        return sent == 50 && audio.queued() == 0;
    }, std::chrono::seconds(20));
    ASSERT_TRUE(drained) << "queued stuck at " << audio.queued();
    // Played, not swallowed: a second of sound cannot drain much faster than a second.
    EXPECT_GT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.8);
}
