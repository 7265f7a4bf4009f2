#include "FakeMirrorServer.h"

#include "H264StreamGenerator.h"
#include "MirrorStreamWriter.h"

#include <QtEndian>

#include <chrono>
#include <cmath>
#include <sys/socket.h>
#include <unistd.h>

using namespace mirrorstream;
using namespace std::chrono;

namespace {

constexpr quint8 rotateDevice = 11;
constexpr quint8 resetVideo = 17;

// Length of the control message at the head of `bytes`; 0 while incomplete,
// -1 for a type that cannot be framed.
qsizetype messageLength(const QByteArray& bytes)
{
    if (bytes.isEmpty())
        return 0;
    auto need = [&](qsizetype fixed, qsizetype lengthAt) -> qsizetype {
        if (lengthAt < 0)
            return bytes.size() >= fixed ? fixed : 0;
        if (bytes.size() < lengthAt + 4)
            return 0;
        const qsizetype total = fixed + qFromBigEndian<quint32>(bytes.constData() + lengthAt);
        return bytes.size() >= total ? total : 0;
    };
    switch (quint8(bytes[0])) {
    case 0: return need(14, -1);
    case 1: return need(5, 1);
    case 2: return need(32, -1);
    case 3: return need(21, -1);
    case 9: return need(14, 10);
    case rotateDevice:
    case resetVideo: return 1;
    default: return -1;
    }
}

// 10 ms of a 440 Hz tone, 48 kHz stereo, signed 16-bit little-endian.
QByteArray tone(int& phase)
{
    QByteArray pcm(480 * 4, Qt::Uninitialized);
    for (int i = 0; i < 480; ++i, ++phase) {
        const auto sample = qint16(8000 * std::sin(2 * M_PI * 440 * phase / 48000.0));
        qToLittleEndian(sample, pcm.data() + i * 4);
        qToLittleEndian(sample, pcm.data() + i * 4 + 2);
    }
    return pcm;
}

} // namespace

FakeMirrorServer::FakeMirrorServer(Scenario scenario, std::function<void(const QByteArray&)> record)
    : m_scenario(std::move(scenario)), m_record(std::move(record))
{
}

FakeMirrorServer::~FakeMirrorServer()
{
    stop();
    for (std::thread& thread : m_threads)
        thread.join();
    for (int fd : m_fds)
        ::close(fd);
}

void FakeMirrorServer::serveVideo(int fd, bool dummyByte)
{
    std::lock_guard lock(m_lock);
    m_fds.push_back(fd);
    m_threads.emplace_back([this, fd, dummyByte] { videoLoop(fd, dummyByte); });
}

void FakeMirrorServer::serveAudio(int fd)
{
    std::lock_guard lock(m_lock);
    m_fds.push_back(fd);
    m_threads.emplace_back([this, fd] { audioLoop(fd); });
}

void FakeMirrorServer::serveControl(int fd)
{
    std::lock_guard lock(m_lock);
    m_fds.push_back(fd);
    m_controlFd = fd;
    m_threads.emplace_back([this, fd] { controlLoop(fd); });
}

void FakeMirrorServer::sendDeviceMessage(const QByteArray& message)
{
    std::lock_guard lock(m_lock);
    if (m_controlFd >= 0 && !m_stopped)
        writeAll(m_controlFd, message);
}

void FakeMirrorServer::stop()
{
    std::lock_guard lock(m_lock);
    m_stopped = true;
    for (int fd : m_fds)
        ::shutdown(fd, SHUT_RDWR);
    m_changed.notify_all();
}

void FakeMirrorServer::waitForVideoEnd()
{
    std::unique_lock lock(m_lock);
    m_changed.wait(lock, [this] { return m_videoEnded; });
}

int FakeMirrorServer::picturesSent()
{
    std::lock_guard lock(m_lock);
    return m_picturesSent;
}

bool FakeMirrorServer::videoEnded()
{
    std::lock_guard lock(m_lock);
    return m_videoEnded;
}

void FakeMirrorServer::videoLoop(int fd, bool dummyByte)
{
    auto ended = [this] {
        std::lock_guard lock(m_lock);
        m_videoEnded = true;
        m_changed.notify_all();
    };
    if (m_scenario.silent) { // connected, and never a byte
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_stopped; });
        m_videoEnded = true;
        return;
    }
    QByteArray name("fake phone");
    name.resize(64, '\0');
    if (!writeAll(fd, (dummyByte ? QByteArray(1, '\0') : QByteArray()) + name + m_scenario.codec)) {
        ended();
        return;
    }

    const auto interval = microseconds(1000000 / std::max(1, m_scenario.framesPerSecond));
    int restartsSeen = -1;
    bool rotated = false;
    std::unique_ptr<H264StreamGenerator> stream;
    for (int index = 0;; ++index) {
        QByteArray out;
        {
            std::unique_lock lock(m_lock);
            if (m_stopped)
                break;
            if (restartsSeen != m_restarts) {
                // A new encoder starts with a key frame, after a new size and configuration.
                restartsSeen = m_restarts;
                rotated = m_rotated;
                stream.reset();
            }
        }
        if (!stream) {
            H264StreamGenerator::Options options;
            options.width = rotated ? m_scenario.height : m_scenario.width;
            options.height = rotated ? m_scenario.width : m_scenario.height;
            options.keyFrameInterval = 600;
            options.testCard = m_scenario.testCard;
            stream = std::make_unique<H264StreamGenerator>(options);
            out += videoSize(quint32(options.width), quint32(options.height));
            out += videoConfiguration(stream->configuration());
        }
        QByteArray picture = stream->picture(index, true);
        if (m_scenario.corruptPicture && index == 5) {
            for (qsizetype at = picture.size() / 3; at < picture.size(); at += 7)
                picture[at] = char(picture[at] ^ 0x5A);
        }
        out += videoPicture(picture);
        if (m_scenario.hugeLength && index == 3)
            out = header(0, 1u << 25);
        if (m_scenario.endMidway && index == 3) {
            writeAll(fd, out.left(out.size() / 2));
            break;
        }
        if (!writeAll(fd, out))
            break;
        std::unique_lock lock(m_lock);
        ++m_picturesSent;
        m_changed.wait_for(lock, interval, [&] { return m_stopped || restartsSeen != m_restarts; });
    }
    ::shutdown(fd, SHUT_RDWR);
    ended();
}

void FakeMirrorServer::audioLoop(int fd)
{
    if (!writeAll(fd, audioCodec() + audioConfiguration(QByteArray(4, '\1'))))
        return;
    int phase = 0;
    const auto start = steady_clock::now();
    for (int packet = 0;; ++packet) {
        if (!writeAll(fd, audioPcm(tone(phase))))
            return;
        std::unique_lock lock(m_lock);
        if (m_changed.wait_until(lock, start + milliseconds(10 * (packet + 1)), [this] { return m_stopped; }))
            return;
    }
}

void FakeMirrorServer::listen()
{
    std::lock_guard lock(m_lock);
    m_listening = true;
    m_changed.notify_all();
}

void FakeMirrorServer::resetControl()
{
    std::lock_guard lock(m_lock);
    if (m_controlFd < 0 || m_stopped)
        return;
    m_resetControl = true;
    m_listening = true;
    m_changed.notify_all();
    ::shutdown(m_controlFd, SHUT_RD); // the reader returns, and resets the stream below
}

void FakeMirrorServer::controlLoop(int fd)
{
    struct Reset {
        FakeMirrorServer& server;
        int fd;
        ~Reset()
        {
            std::lock_guard lock(server.m_lock);
            if (!server.m_resetControl)
                return;
            // Closed with no lingering: the peer gets a reset. The number stays
            // taken by an unconnected socket, closed with the others.
            const linger none {1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &none, sizeof none);
            const int blank = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (blank >= 0) {
                ::dup2(blank, fd);
                ::close(blank);
            }
        }
    } reset {*this, fd};
    if (m_scenario.deaf) { // a phone that stops reading
        std::unique_lock lock(m_lock);
        m_changed.wait(lock, [this] { return m_listening || m_stopped; });
    }
    char buffer[4096];
    while (true) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return;
        takeControl(QByteArray(buffer, got));
    }
}

void FakeMirrorServer::takeControl(const QByteArray& bytes)
{
    if (m_record)
        m_record(bytes);
    std::lock_guard lock(m_lock);
    m_pending += bytes;
    while (true) {
        const qsizetype length = messageLength(m_pending);
        if (length < 0) {
            m_pending.clear(); // nothing after an unknown type can be framed
            return;
        }
        if (length == 0)
            return;
        const auto type = quint8(m_pending[0]);
        if (type == rotateDevice) {
            m_rotated = !m_rotated;
            ++m_restarts;
        } else if (type == resetVideo) {
            ++m_restarts;
        }
        m_pending.remove(0, length);
        m_changed.notify_all();
    }
}
