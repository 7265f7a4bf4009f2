// The phone's side of screen mirroring: the server that its start command
// runs, and the bridges that carry its streams to adb's forward.

#include "FakeMirrorServer.h"
#include "MirrorStreamWriter.h"
#include "Streams.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace adbphone {

void Phone::startMirror(const QByteArray& scid, bool audio)
{
    stopMirror();
    const QByteArray record = m_config.controlDir.isEmpty() ? QByteArray()
                                                            : m_config.controlDir + '/' + kMirrorControlFile;
    FakeMirrorServer::Scenario scenario;
    if (m_config.mirrorTestCard) {
        scenario.testCard = true;
        scenario.width = 360;
        scenario.height = 780;
    }
    m_mirror = std::make_unique<FakeMirrorServer>(scenario, [record](const QByteArray& bytes) {
        if (record.isEmpty())
            return;
        const int fd = ::open(record.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) < 0)
            std::perror("fakeadbphone: mirror control");
        if (fd >= 0)
            ::close(fd);
    });
    m_mirrorScid = scid;
    m_mirrorAudio = audio;
    m_mirrorStreams = 0;
    m_mirrorClipboardGeneration = knobs().mirrorClipboardGeneration;
    m_mirrorEndGeneration = knobs().mirrorEndGeneration;
}

int Phone::openMirrorStream(const QByteArray& scid)
{
    const int wanted = m_mirrorAudio ? 3 : 2;
    if (!m_mirror || scid != m_mirrorScid || m_mirrorStreams >= wanted)
        return -1;
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        return -1;
    const int role = m_mirrorStreams++;
    if (role == 0)
        m_mirror->serveVideo(fds[1], true);
    else if (role == 1 && m_mirrorAudio)
        m_mirror->serveAudio(fds[1]);
    else
        m_mirror->serveControl(fds[1]);
    ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
    return fds[0];
}

bool Phone::serviceMirror()
{
    if (!m_mirror || m_mirror->videoEnded())
        return false;
    const Knobs& k = knobs();
    if (k.mirrorEndGeneration != m_mirrorEndGeneration) {
        m_mirrorEndGeneration = k.mirrorEndGeneration;
        m_mirror->stop();
        return false;
    }
    if (k.mirrorClipboardGeneration != m_mirrorClipboardGeneration) {
        m_mirrorClipboardGeneration = k.mirrorClipboardGeneration;
        m_mirror->sendDeviceMessage(mirrorstream::clipboard(k.mirrorClipboard));
    }
    return true;
}

void Phone::stopMirror()
{
    m_mirror.reset(); // stops and joins its threads
    m_mirrorScid.clear();
}

std::unique_ptr<Stream> Connection::startMirrorServer(uint32_t localId, uint32_t remoteId, int kind,
                                                     const QByteArray& command)
{
    send(adbwire::kOkay, localId, remoteId);
    const auto shellKind = ShellStream::Kind(kind);
    const Knobs& k = m_phone.knobs();
    if (!k.mirrorExitLines.isEmpty()) {
        auto shell = std::make_unique<ShellStream>(*this, localId, remoteId, shellKind);
        QByteArray out;
        for (const QByteArray& line : k.mirrorExitLines)
            out += line + '\n';
        shell->startScripted(ScriptedReply {out, {}, 1});
        return shell;
    }
    QByteArray scid;
    bool audio = false;
    for (const QByteArray& word : command.split(' ')) {
        if (word.startsWith("scid="))
            scid = word.mid(5);
        else if (word == "audio=true")
            audio = true;
    }
    m_phone.startMirror(scid, audio);
    auto server = std::make_unique<TimedStream>(*this, localId, remoteId, shellKind);
    server->startMirror();
    return server;
}

// ---------------------------------------------------------------- BridgeStream

BridgeStream::BridgeStream(Connection& connection, uint32_t localId, uint32_t remoteId, int fd)
    : Stream(connection, localId, remoteId), m_fd(fd)
{
}

BridgeStream::~BridgeStream()
{
    ::close(m_fd);
}

void BridgeStream::hostWrite(const QByteArray& data)
{
    m_toServer += data;
    service(Clock::now());
}

void BridgeStream::service(Clock::time_point now)
{
    (void)now;
    while (!m_toServer.isEmpty()) {
        const ssize_t wrote = ::send(m_fd, m_toServer.constData(), size_t(m_toServer.size()), MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (wrote <= 0) {
            m_toServer.clear();
            m_ended = true;
            break;
        }
        m_toServer.remove(0, wrote);
        if (m_toServer.isEmpty())
            acknowledge(); // only now may the host send more
    }
    while (!m_ended && m_toHost.size() < qsizetype(m_connection.maxPayload())) {
        char buffer[65536];
        const ssize_t got = ::read(m_fd, buffer, std::min(sizeof buffer, size_t(m_connection.maxPayload())));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (got <= 0) {
            m_ended = true;
            break;
        }
        m_toHost.append(buffer, got);
    }
    if (!canSend())
        return;
    if (!m_toHost.isEmpty())
        sendFrom(m_toHost);
    else if (m_ended)
        finish();
}

void BridgeStream::addPollFds(std::vector<pollfd>& fds) const
{
    short events = 0;
    if (!m_ended && m_toHost.size() < qsizetype(m_connection.maxPayload()))
        events |= POLLIN;
    if (!m_toServer.isEmpty())
        events |= POLLOUT;
    if (events)
        fds.push_back(pollfd {m_fd, events, 0});
}

} // namespace adbphone
