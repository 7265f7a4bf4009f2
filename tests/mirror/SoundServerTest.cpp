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

#include <chrono>
#include <thread>

namespace {

class SoundServer {
public:
    SoundServer()
    {
        const QString program = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (program.isEmpty()) {
            m_problem = "pulseaudio is not installed";
            return;
        }
        const QString runtime = m_dir.filePath(QStringLiteral("run"));
        QDir().mkpath(runtime);
        QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString socket = runtime + QStringLiteral("/native");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_dir.path());
        env.insert(QStringLiteral("PULSE_RUNTIME_PATH"), runtime);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_server.start(program, {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                                 QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"),
                                 QStringLiteral("--load=module-null-sink sink_name=quiet"),
                                 QStringLiteral("--load=module-native-protocol-unix auth-anonymous=1 socket=") + socket});
        if (!m_server.waitForStarted(5000)) {
            m_problem = "pulseaudio did not start";
            return;
        }
        if (!testsupport::waitUntil([&] { return QFile::exists(socket) || m_server.state() != QProcess::Running; },
                                    std::chrono::seconds(10))
            || !QFile::exists(socket)) {
            m_problem = "pulseaudio did not open its socket";
            return;
        }
        QFile config(m_dir.filePath(QStringLiteral("client.conf")));
        if (config.open(QIODevice::WriteOnly))
            config.write("autospawn = no\n");
        config.close();
        qputenv("PULSE_CLIENTCONFIG", config.fileName().toLocal8Bit());
        qputenv("PULSE_SERVER", "unix:" + socket.toLocal8Bit());
    }

    ~SoundServer()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }

    // Why the server cannot be used; empty when it runs.
    const char* problem() const { return m_problem; }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    const char* m_problem = nullptr;
};

} // namespace

TEST(MirrorAudioOutput, PlaysASecondOfSoundAtTheRealRate)
{
    SoundServer server;
    if (server.problem())
        GTEST_SKIP() << "no private sound server: " << server.problem();

    MirrorAudio audio;
    // One second in 20 ms packets, topping the queue up as it drains.
    const QByteArray packet(960 * 4, '\x10');
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    const bool drained = testsupport::waitUntil([&] {
        if (sent < 50 && audio.queued() <= MirrorAudio::queueLimit - 960) {
            audio.play(packet);
            ++sent;
        }
        return sent == 50 && audio.queued() == 0;
    }, std::chrono::seconds(20));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(drained) << "queued stuck at " << audio.queued();
    // Played, not swallowed: a second of sound cannot drain much faster than a second.
    EXPECT_GT(seconds, 0.8);
    audio.stop();
}
