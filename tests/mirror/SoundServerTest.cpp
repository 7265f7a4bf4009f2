// MirrorAudio through the real sound library, against a private PulseAudio
// server of this test with a null output. Skipped where none can start.
#include "Error.h"
#include "MirrorAudio.h"
#include "MirrorConnection.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr qint64 packetFrames = 960; // 20 ms, as the phone sends it

// A private sound server with a null output, reached by this process only
// through PULSE_SERVER; nothing is ever spawned in its place.
class SoundServer {
public:
    SoundServer()
    {
        QFile config(m_dir.filePath(u"client.conf"_s));
        if (config.open(QIODevice::WriteOnly))
            config.write("autospawn = no\n");
        config.close();
        qputenv("PULSE_CLIENTCONFIG", config.fileName().toLocal8Bit());
        qputenv("PULSE_SERVER", "unix:" + socket().toLocal8Bit());
    }
    ~SoundServer() { kill(); }

    QString socket() const { return m_dir.filePath(u"native"_s); }

    // False when pulseaudio is missing or does not listen on its socket.
    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"HOME", "PULSE_RUNTIME_PATH", "XDG_RUNTIME_DIR"})
            env.insert(QString::fromLatin1(name), m_dir.path());
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QStandardPaths::findExecutable(u"pulseaudio"_s),
                        {u"-n"_s, u"--daemonize=no"_s, u"--exit-idle-time=-1"_s, u"--use-pid-file=no"_s, u"--log-level=error"_s,
                         u"--load=module-null-sink"_s, u"--load=module-native-protocol-unix auth-anonymous=1 socket="_s + socket()});
        return testsupport::waitUntil([&] { return accepts() || m_process.state() == QProcess::NotRunning; }) && accepts();
    }

    // Listening, not only bound: the socket's file comes a moment before.
    bool accepts() const
    {
        const QByteArray path = socket().toLocal8Bit();
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof address.sun_path)
            return false;
        std::memcpy(address.sun_path, path.constData(), size_t(path.size()));
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const bool connected = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        if (fd >= 0)
            ::close(fd);
        return connected;
    }

    qint64 pid() const { return m_process.processId(); }

    void kill()
    {
        m_process.kill(); // also when stopped
        m_process.waitForFinished(5000);
    }

    // What pactl lists, or an empty text.
    QString list(const QString& what) const
    {
        QProcess pactl;
        pactl.start(QStandardPaths::findExecutable(u"pactl"_s), {u"list"_s, what});
        if (!pactl.waitForFinished(5000)) {
            pactl.kill();
            pactl.waitForFinished(5000);
            return {};
        }
        return QString::fromUtf8(pactl.readAllStandardOutput());
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

// The first number in `text` that follows `label`, or -1.
qint64 numberAfter(const QString& text, const QString& label)
{
    const QRegularExpressionMatch match = QRegularExpression(QRegularExpression::escape(label) + u"(\\d+)"_s).match(text);
    return match.hasMatch() ? match.captured(1).toLongLong() : -1;
}

qint64 framesOf(qint64 usec) { return usec * MirrorAudio::sampleRate / 1'000'000; }

} // namespace

TEST(MirrorAudioOutput, PlaysASecondAtTheRealRateAndThrowsOnceTheSoundServerIsGone)
{
    SoundServer server;
    if (!server.start())
        GTEST_SKIP() << "pulseaudio is missing, or did not start or open its socket";

    MirrorAudio audio;
    // One second in 20 ms packets, topping the queue up as it drains.
    const QByteArray packet(packetFrames * 4, '\x10');
    const auto start = std::chrono::steady_clock::now();
    int sent = 0;
    ASSERT_TRUE(testsupport::waitUntil([&] {
        if (sent < 50 && audio.queued() <= MirrorAudio::queueLimit - 2 * packetFrames)
            audio.play(packet), ++sent;
        return sent == 50 && audio.queued() == 0;
    }, std::chrono::seconds(20))) << "queued stuck at " << audio.queued();
    // Played, not swallowed: a second of sound cannot drain much faster than a second.
    EXPECT_GT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 0.8);

    // No server left to reach and none to spawn: a machine without sound.
    // The running player ends its sound and takes nothing more.
    server.kill();
    EXPECT_TRUE(testsupport::waitUntil([&] {
        audio.play(packet);
        return audio.queued() == 0;
    })) << "still queueing with the server gone";
    EXPECT_THROW(MirrorAudio(), SystemError);
}

TEST(MirrorAudioOutput, WhatWaitsForTheDeviceStaysWithinTheBoundWhileFlooded)
{
    SoundServer server;
    if (!server.start())
        GTEST_SKIP() << "pulseaudio is missing, or did not start or open its socket";

    MirrorAudio audio;
    const QByteArray packet(packetFrames * 4, '\0');
    // Far more than real time, so that the queue is always full when the
    // server is asked what it holds for the stream; for long enough that the
    // null output has begun to play.
    for (int sample = 0; sample < 25; ++sample) {
        for (int i = 0; i < 20; ++i)
            audio.play(packet);
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // lets the output feed the server
        for (int i = 0; i < 20; ++i)
            audio.play(packet);
        const QString input = server.list(u"sink-inputs"_s);
        const qint64 buffer = numberAfter(input, u"Buffer Latency: "_s);
        const qint64 device = numberAfter(server.list(u"sinks"_s), u"configured "_s);
        ASSERT_GE(buffer, 0) << qPrintable(input);
        ASSERT_GE(device, 0);
        // Of the bound the device takes its configured share, the stream's
        // buffer in the server the next, and the player's own queue the rest.
        EXPECT_LE(framesOf(buffer) + framesOf(device), MirrorAudio::queueLimit + packetFrames)
            << "buffer " << buffer << " us, device " << device << " us";
        EXPECT_LE(audio.queued() + framesOf(device), MirrorAudio::queueLimit + packetFrames) << "device " << device << " us";
    }
}

TEST(MirrorAudioOutput, WithoutASoundServerThereIsNoPlayerAndTheReaderEndsQuietly)
{
    SoundServer absent; // never started: its socket does not exist
    EXPECT_THROW(MirrorAudio(), SystemError);

    // The reader with the real player: the codec word, then sound it cannot play.
    struct Link : MirrorConnection::ReaderLink {
        std::shared_ptr<MirrorAudio> audio;
        int stops = 0;
        bool stopped() override { return false; }
        void stop() override { ++stops; }
        bool keepAudio(std::shared_ptr<MirrorAudio> player) override { return bool(audio = std::move(player)); }
    } link;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    QByteArray stream = "\0raw"_ba + QByteArray(8, '\0') + "\0\0\x0f\0"_ba + QByteArray(packetFrames * 4, '\0');
    ASSERT_EQ(::write(fds[1], stream.constData(), size_t(stream.size())), stream.size());
    ::shutdown(fds[1], SHUT_RDWR);
    MirrorConnection::readAudio(fds[0], link, {});
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_FALSE(link.audio);
    EXPECT_EQ(link.stops, 0);
}

TEST(MirrorAudioOutput, StoppingAndReleasingWhileTheServerIsStuckReturn)
{
    SoundServer server;
    if (!server.start())
        GTEST_SKIP() << "pulseaudio is missing, or did not start or open its socket";

    auto audio = std::make_shared<MirrorAudio>();
    const QByteArray packet(packetFrames * 4, '\0');
    audio->play(packet);
    ASSERT_EQ(::kill(pid_t(server.pid()), SIGSTOP), 0);
    for (int i = 0; i < 20; ++i)
        audio->play(packet);
    // On a thread of its own, so that a hang fails the test instead of the suite.
    auto released = std::make_shared<std::promise<void>>();
    std::future<void> done = released->get_future();
    std::thread([audio = std::exchange(audio, nullptr), released]() mutable {
        audio->stop();
        audio.reset();
        released->set_value();
    }).detach();
    EXPECT_EQ(done.wait_for(std::chrono::seconds(10)), std::future_status::ready) << "the player waited for a stuck server";
    server.kill();
}
