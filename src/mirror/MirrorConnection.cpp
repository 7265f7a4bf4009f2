// Starting and stopping the mirroring server on the phone, and the control writer.

#include "MirrorConnection.h"

#include "ADBError.h"
#include "ChildProcess.h"
#include "ControlMessage.h"
#include "Error.h"
#include "MirrorAudio.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const QString MirrorConnection::remoteServerPath = QStringLiteral("/data/local/tmp/vantelorquist-scrcpy-server.jar");

namespace {

const QString serverVersion = QStringLiteral("5.0.1");
constexpr int deviceNameLength = 64;
constexpr qsizetype logLength = 4096;
constexpr auto pollSlice = 100ms; // the longest a wait goes without looking at stop() and the deadline
// A server that sent a codec word it cannot use is given this long to exit
// and say why, so that its reason does not depend on who reads first.
constexpr auto serverLastWords = 1000ms;
// How long the removal of the forward is waited for where it can't be left
// to a thread: a stop that is waiting for it.
constexpr auto forwardRemovalPatience = 1000ms;

QString stoppedOnPhone() { return QStringLiteral("Screen mirroring stopped on the phone."); }

// Linux keeps 15 characters of a thread's name.
void nameThread(const char* name)
{
    char cut[16] = {};
    std::memcpy(cut, name, std::min(std::strlen(name), sizeof cut - 1));
    pthread_setname_np(pthread_self(), cut);
}

// Starts a detached thread; false when the system has no thread to give.
template <class Body>
bool detach(Body&& body)
{
    try {
        WorkerPool::shared().ownThread(std::forward<Body>(body)).detach();
        return true;
    } catch (const NoThreadError&) {
        return false;
    }
}

// The forward's answer: a port number alone on its line.
std::optional<int> portFrom(const QString& answer)
{
    const QString digits = answer.trimmed();
    if (digits.isEmpty() || digits.size() > 5 || !std::all_of(digits.begin(), digits.end(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        }))
        return std::nullopt;
    const int port = digits.toInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

QString serverCommand(const QString& scid, bool audio)
{
    const QStringList arguments {
        serverVersion,
        QStringLiteral("scid=") + scid,
        QStringLiteral("log_level=warn"),
        QStringLiteral("tunnel_forward=true"),
        QStringLiteral("audio=") + (audio ? QStringLiteral("true") : QStringLiteral("false")),
        QStringLiteral("audio_codec=raw"),
        QStringLiteral("control=true"),
        QStringLiteral("clipboard_autosync=true"),
        QStringLiteral("cleanup=true"),
        QStringLiteral("video_codec=h264"),
        QStringLiteral("video_bit_rate=8000000"),
        QStringLiteral("max_fps=60"),
    };
    return QStringLiteral("CLASSPATH=") + MirrorConnection::remoteServerPath +
           QStringLiteral(" app_process / com.genymobile.scrcpy.Server ") + arguments.join(QLatin1Char(' '));
}

// Waits until the descriptor is readable, in slices, so that the deadline and
// a stop are seen even when the other side stays silent. False at the deadline
// or when `gaveUp`, unless something is already there to read.
bool waitReadable(int fd, Clock::time_point deadline, const Cancel& halt, const std::function<bool()>& gaveUp)
{
    while (true) {
        halt.check();
        const auto left = deadline - Clock::now();
        const bool givingUp = left <= 0s || gaveUp();
        pollfd watch {fd, POLLIN, 0};
        const auto slice = std::chrono::ceil<std::chrono::milliseconds>(std::min<Clock::duration>(left, pollSlice));
        const int ready = ::poll(&watch, 1, givingUp ? 0 : int(slice.count()));
        if (ready > 0)
            return true;
        if (ready < 0 && errno != EINTR)
            return true; // the read that follows reports it
        if (givingUp)
            return false;
    }
}

} // namespace

// ---- ServerLog ------------------------------------------------------------------

void ServerLog::append(const QByteArray& bytes)
{
    std::lock_guard lock(m_lock);
    m_text += m_decoder.decode(bytes);
    if (m_text.size() > logLength)
        m_text = adbdetail::lastCharacters(m_text, logLength);
}

std::optional<QString> ServerLog::lastLine() const
{
    std::lock_guard lock(m_lock);
    const QStringList lines = m_text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        QString text = line->trimmed(); // also the \r of a shell's line ends
        if (!text.contains(QStringLiteral("ERROR")) && !text.contains(QStringLiteral("Exception")))
            continue;
        text.remove(QStringLiteral("[server] "));
        text.remove(QStringLiteral("ERROR: "));
        return text;
    }
    return std::nullopt;
}

// ---- the connection ------------------------------------------------------------

class MirrorConnection::Link : public ReaderLink {
public:
    explicit Link(MirrorConnection& connection) : m_connection(connection) {}
    bool stopped() override { return m_connection.stopped(); }
    // The reader's `ended` follows, through the same handler as its frames.
    void stop() override { m_connection.stopItself(); }
    bool keepAudio(std::shared_ptr<MirrorAudio> player) override { return m_connection.keepAudio(std::move(player)); }

private:
    MirrorConnection& m_connection;
};

MirrorConnection::Socket::~Socket()
{
    ::close(fd);
}

QStringList MirrorConnection::defaultServerCandidates()
{
    QStringList candidates;
    if (QCoreApplication::instance()) {
        candidates << QDir::cleanPath(QCoreApplication::applicationDirPath() +
                                      QStringLiteral("/../share/vantelorquist/scrcpy-server"));
    }
    candidates << QDir::cleanPath(QStringLiteral(VANTELORQUIST_SOURCE_DIR "/Resources/scrcpy-server"));
    return candidates;
}

MirrorConnection::MirrorConnection(ADB adb, QString serial, bool audio, EventHandler onEvent, Options options)
    : m_adb(std::move(adb)), m_serial(std::move(serial)), m_onEvent(std::move(onEvent)), m_wantsAudio(audio),
      m_options(std::move(options)), m_controlQueue(m_options.controlQueueLimit)
{
}

std::shared_ptr<MirrorConnection> MirrorConnection::create(ADB adb, QString serial, bool audio, EventHandler onEvent,
                                                           Options options)
{
    std::shared_ptr<MirrorConnection> connection(
        new MirrorConnection(std::move(adb), std::move(serial), audio, std::move(onEvent), std::move(options)));
    if (auto* app = QCoreApplication::instance()) {
        // Direct: runs on the quitting thread, which stop() allows.
        connection->m_quitHook = QObject::connect(
            app, &QCoreApplication::aboutToQuit, [weak = std::weak_ptr(connection)] {
                if (auto alive = weak.lock())
                    alive->stop();
            });
    }
    return connection;
}

MirrorConnection::~MirrorConnection()
{
    QObject::disconnect(m_quitHook);
    stop();
}

std::optional<QString> MirrorConnection::serverJar() const
{
    for (const QString& candidate : m_options.serverCandidates) {
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    return std::nullopt;
}

void MirrorConnection::start(const Cancel& cancel)
{
    // The caller's cancellation and stop() end the same waits.
    std::stop_callback relay(cancel.token(), [this] { m_halt.request_stop(); });
    const Cancel halt(m_halt.get_token());
    SocketPtr video, audio, control;
    try {
        const std::optional<QString> jar = serverJar();
        if (!jar)
            throw ADBError::failed(QStringLiteral("The screen mirroring component is missing from the app."));
        m_adb.run({QStringLiteral("-s"), m_serial, QStringLiteral("push"), *jar, remoteServerPath}, halt);

        const QString scid = QStringLiteral("%1").arg(QRandomGenerator::global()->bounded(1u << 31), 8, 16,
                                                      QLatin1Char('0'));
        const QString answer = m_adb.run({QStringLiteral("-s"), m_serial, QStringLiteral("forward"),
                                          QStringLiteral("tcp:0"), QStringLiteral("localabstract:scrcpy_") + scid},
                                         halt);
        const std::optional<int> port = portFrom(answer);
        if (!port) {
            throw ADBError::failed(QStringLiteral("Couldn't open a connection to the phone (") + ADB::clean(answer) +
                                   QStringLiteral(")."));
        }
        bool kept;
        {
            std::lock_guard lock(m_lock);
            kept = !m_stopped;
            if (kept)
                m_forwardedPort = port;
        }
        if (!kept) { // stop() came first and cannot remove what it never saw
            removeForward(*port);
            throw Cancelled();
        }

        const std::shared_ptr<ServerLog> log = launchServer(scid);
        video = connectWhenReady(*port, *log, halt);
        audio = m_wantsAudio ? connect(*port) : nullptr;
        control = connect(*port);
        registerSockets(video, audio, control);

        char name[deviceNameLength];
        readExact(video->fd, name, sizeof name);
        char codec[4];
        readExact(video->fd, codec, sizeof codec);
        if (QByteArray(codec, 4) != "h264") {
            throw ADBError::failed(
                lastServerLine(serverLastWords).value_or(QStringLiteral("The phone couldn't start its screen encoder.")));
        }
    } catch (...) {
        // Each step's own error is the reason, also when the server has exited
        // meanwhile; the owner hears nothing else of this connection.
        closeDeliveries();
        std::lock_guard lock(m_lock);
        m_starting = false;
        throw;
    }
    bool exited;
    {
        std::lock_guard lock(m_lock);
        m_starting = false;
        exited = m_serverExited;
    }
    if (exited) { // the streams are there, but their server is gone
        endItself(nullptr);
        return;
    }
    try {
        startReaders(video, audio, control);
    } catch (...) {
        closeDeliveries();
        throw;
    }
}

std::optional<QString> MirrorConnection::lastServerLine(std::chrono::milliseconds patience)
{
    std::unique_lock lock(m_lock);
    m_wake.wait_for(lock, m_halt.get_token(), patience, [this] { return m_serverExited; });
    const auto log = m_log;
    lock.unlock();
    return log ? log->lastLine() : std::nullopt;
}

std::shared_ptr<ServerLog> MirrorConnection::launchServer(const QString& scid)
{
    auto log = std::make_shared<ServerLog>();
    ChildProcess::Options options;
    options.program = m_adb.executable;
    options.arguments = {QStringLiteral("-s"), m_serial, QStringLiteral("shell"), serverCommand(scid, m_wantsAudio)};
    options.output = ChildProcess::Output::Merged;
    std::shared_ptr<ChildProcess> server = ChildProcess::start(options);
    ::fcntl(server->outputFd(), F_SETFL, ::fcntl(server->outputFd(), F_GETFL) | O_NONBLOCK);

    bool stoppedFirst;
    {
        std::lock_guard lock(m_lock);
        stoppedFirst = m_stopped;
        if (!stoppedFirst) {
            m_server = server;
            m_log = log;
        }
    }
    if (stoppedFirst)
        server->terminate();

    // The server's watcher: collects its output, then reaps it and reports its end.
    const bool watching = detach([server, log, weak = weak_from_this()] {
        nameThread("Mirror server");
        char buffer[4096];
        pollfd watch[2] = {{server->outputFd(), POLLIN, 0}, {server->exitFd(), POLLIN, 0}};
        bool open = true;
        while (open) {
            // Without a pidfd, the pipe's end stands for the exit.
            const int ready = ::poll(watch, watch[1].fd >= 0 ? 2 : 1, -1);
            if (ready < 0 && errno != EINTR)
                break;
            ssize_t got;
            while ((got = readAvailable(server->outputFd(), buffer, sizeof buffer)) > 0)
                log->append(QByteArray(buffer, got));
            if (got == 0)
                open = false;
            if (watch[1].fd >= 0 && (watch[1].revents & POLLIN))
                break; // ended; what it wrote last was drained above
        }
        server->wait();
        if (auto connection = weak.lock())
            connection->serverEnded();
    });
    if (!watching) {
        server->terminate();
        throw SystemError(QStringLiteral("Couldn't watch the screen mirroring server."));
    }
    if (stoppedFirst)
        throw Cancelled();
    return log;
}

void MirrorConnection::serverEnded()
{
    {
        std::lock_guard lock(m_lock);
        if (m_starting) {
            // start() reports it, with the server's reason.
            m_serverExited = true;
            m_wake.notify_all();
            return;
        }
    }
    endItself(nullptr);
}

bool MirrorConnection::serverHasExited()
{
    std::lock_guard lock(m_lock);
    return m_serverExited;
}

MirrorConnection::SocketPtr MirrorConnection::connectWhenReady(int port, const ServerLog& log, const Cancel& halt)
{
    const auto deadline = Clock::now() + m_options.deadline;
    while (true) {
        if (Clock::now() >= deadline) {
            throw ADBError::failed(log.lastLine().value_or(
                QStringLiteral("The phone didn't start screen mirroring. Make sure it's unlocked.")));
        }
        halt.check();
        if (serverHasExited())
            throw ADBError::failed(log.lastLine().value_or(stoppedOnPhone()));
        SocketPtr socket;
        ++m_attempts;
        try {
            socket = connect(port);
        } catch (const SystemError&) {
        }
        if (socket && waitReadable(socket->fd, deadline, halt, [this] { return serverHasExited(); })) {
            char dummy;
            ssize_t got;
            do {
                got = ::recv(socket->fd, &dummy, 1, MSG_DONTWAIT);
            } while (got < 0 && errno == EINTR);
            if (got == 1)
                return socket;
        }
        socket.reset();
        std::unique_lock lock(m_lock);
        m_wake.wait_for(lock, halt.token(), std::min<Clock::duration>(m_options.pause, deadline - Clock::now()),
                        [this] { return m_serverExited; });
    }
}

MirrorConnection::SocketPtr MirrorConnection::connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw posixError(EIO);
    auto socket = std::make_shared<Socket>(fd);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int result;
    do {
        result = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (result < 0 && errno == EINTR);
    if (result < 0)
        throw posixError(ECONNREFUSED);
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return socket;
}

void MirrorConnection::registerSockets(SocketPtr video, SocketPtr audio, SocketPtr control)
{
    std::lock_guard lock(m_lock);
    if (m_stopped)
        throw Cancelled(); // the caller's references close them
    m_videoSocket = std::move(video);
    m_audioSocket = std::move(audio);
    m_controlSocket = std::move(control);
}

void MirrorConnection::startReaders(const SocketPtr& video, const SocketPtr& audio, const SocketPtr& control)
{
    auto self = shared_from_this();
    const bool started = detach([self, video] {
        nameThread("Mirror video");
        Link link(*self);
        readVideo(video->fd, link, [&self](const Event& event) { self->deliver(event); });
    });
    if (!started)
        throw SystemError(QStringLiteral("Couldn't start reading the phone's screen."));
    if (audio) {
        // Sound that can't start is left out without a word, as every other
        // sound failure is: the picture goes on, and stop() closes the socket.
        detach([self, audio] {
            nameThread("Mirror audio");
            Link link(*self);
            readAudio(audio->fd, link, self->m_options.makePlayer);
        });
    }
    // Without it the phone's clipboard would never come, while the rail
    // shows it copied.
    const bool reading = detach([self, control] {
        nameThread("Mirror device messages");
        readDeviceMessages(control->fd, [&self](const Event& event) { self->deliver(event); });
    });
    if (!reading)
        throw SystemError(QStringLiteral("Couldn't start reading the phone's clipboard."));
    const bool writing = detach([self, control] {
        nameThread("Mirror control");
        self->writeControl(control);
    });
    if (!writing)
        throw SystemError(QStringLiteral("Couldn't start sending to the phone's screen."));
}

void MirrorConnection::deliver(const Event& event)
{
    std::lock_guard lock(m_deliveryLock);
    if (std::holds_alternative<Event::Ended>(event.value)) {
        if (!std::exchange(m_endOwed, false))
            return;
    } else if (!m_delivers) {
        return;
    }
    m_onEvent(event);
}

void MirrorConnection::closeDeliveries()
{
    std::lock_guard lock(m_deliveryLock); // waits for a delivery under way
    m_delivers = false;
    m_endOwed = false;
}

bool MirrorConnection::stopItself()
{
    {
        std::lock_guard lock(m_deliveryLock);
        if (!m_delivers)
            return false;
        m_delivers = false;
        m_endOwed = true;
    }
    halt();
    return true;
}

void MirrorConnection::endItself(std::exception_ptr error)
{
    if (stopItself())
        deliver(Event {Event::Ended {std::move(error)}});
}

bool MirrorConnection::stopped()
{
    std::lock_guard lock(m_lock);
    return m_stopped;
}

bool MirrorConnection::keepAudio(std::shared_ptr<MirrorAudio> player)
{
    std::lock_guard lock(m_lock);
    if (m_stopped)
        return false;
    m_audio = std::move(player);
    return true;
}

void MirrorConnection::stop()
{
    closeDeliveries();
    halt();
}

void MirrorConnection::halt()
{
    SocketPtr sockets[3];
    std::shared_ptr<MirrorAudio> player;
    std::shared_ptr<ChildProcess> server;
    std::optional<int> port;
    {
        std::lock_guard lock(m_lock);
        if (m_stopped)
            return;
        m_stopped = true;
        sockets[0] = std::exchange(m_videoSocket, nullptr);
        sockets[1] = std::exchange(m_audioSocket, nullptr);
        sockets[2] = std::exchange(m_controlSocket, nullptr);
        player = std::exchange(m_audio, nullptr);
        server = std::exchange(m_server, nullptr);
        port = std::exchange(m_forwardedPort, std::nullopt);
        m_controlQueue.clear();
        m_controlWake.notify_all();
    }
    m_halt.request_stop();
    // Shut down, not closed: a reader between two reads must not meet a reused
    // number. Each descriptor closes with its last holder.
    for (const SocketPtr& socket : sockets) {
        if (socket)
            ::shutdown(socket->fd, SHUT_RDWR);
    }
    if (player)
        player->stop();
    if (server)
        server->terminate(); // a no-op once the watcher has reaped it
    if (port)
        removeForward(*port);
}

void MirrorConnection::removeForward(int port) const
{
    ChildProcess::Options options;
    options.program = m_adb.executable;
    options.arguments = {QStringLiteral("-s"), m_serial, QStringLiteral("forward"), QStringLiteral("--remove"),
                         QStringLiteral("tcp:") + QString::number(port)};
    options.output = ChildProcess::Output::Merged;
    // Started here, so that it runs even when the application is quitting;
    // not waited for, but still reaped.
    std::shared_ptr<ChildProcess> child;
    try {
        child = ChildProcess::start(options);
    } catch (const Error&) {
        return;
    }
    const bool reaping = detach([child] {
        nameThread("Mirror forward");
        char discard[512];
        ssize_t got;
        do {
            got = ::read(child->outputFd(), discard, sizeof discard);
        } while (got > 0 || (got < 0 && errno == EINTR));
        child->wait();
    });
    if (reaping)
        return;
    // No thread to wait on it: dropping the child would end it before it
    // removed anything, and the phone's port would stay forwarded for as long
    // as the adb server runs. It is waited for here instead, briefly: an adb
    // that hangs is ended when the time is up.
    const auto deadline = Clock::now() + forwardRemovalPatience;
    char discard[512];
    // An adb server it starts may hold the output open: its exit counts too.
    pollfd watch[2] = {{child->outputFd(), POLLIN, 0}, {child->exitFd(), POLLIN, 0}};
    while (Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        const int ready = ::poll(watch, 2, int(std::max<std::chrono::milliseconds::rep>(1, left.count())));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0 && (watch[1].revents & POLLIN))
            break;
        if (ready > 0 && readAvailable(child->outputFd(), discard, sizeof discard) == 0)
            break; // its end: it has exited or is about to
    }
    while (!child->hasEnded() && Clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
}

QString MirrorConnection::controlStalledText()
{
    return QStringLiteral("The phone stopped taking touches and keys, so screen mirroring stopped.");
}

void MirrorConnection::send(const ControlMessage& message)
{
    std::lock_guard lock(m_lock);
    if (m_stopped || !m_controlSocket)
        return;
    // Dropped whole when full, so that what does reach the phone still parses.
    if (m_controlQueue.push(message))
        m_controlWake.notify_all();
}

void MirrorConnection::writeControl(const SocketPtr& control)
{
    QByteArray message; // being written
    qsizetype written = 0;
    bool stuck = false; // the socket has taken nothing since `stuckSince`
    bool stalled = false;
    Clock::time_point stuckSince;
    while (true) {
        {
            std::unique_lock lock(m_lock);
            if (message.isEmpty()) {
                m_controlWake.wait(lock, [this] { return m_stopped || !m_controlQueue.empty(); });
                if (m_stopped)
                    return;
                message = m_controlQueue.take();
                written = 0;
            }
            if (m_stopped)
                return;
        }
        // Not blocking, so that a stall is seen; the flag is this call's own,
        // the device-message reader keeps its blocking reads on the same socket.
        const ssize_t wrote = ::send(control->fd, message.constData() + written, size_t(message.size() - written),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote > 0) {
            stuck = false;
            written += wrote;
            if (written == message.size())
                message.clear();
            continue;
        }
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Megabytes lie unread in the buffers before this happens at all.
            const auto now = Clock::now();
            if (!std::exchange(stuck, true))
                stuckSince = now;
            else if (now - stuckSince >= m_options.controlStall) {
                stalled = true;
                break;
            }
            pollfd watch {control->fd, POLLOUT, 0};
            ::poll(&watch, 1, int(std::chrono::milliseconds(pollSlice).count()));
            continue;
        }
        break; // the socket is broken (or shut down by stop(), which then delivers nothing)
    }
    // Only a phone that takes nothing is said to stop taking touches; a
    // broken stream ends as a broken picture stream does.
    endItself(stalled ? std::make_exception_ptr(ADBError::failed(controlStalledText()))
                      : std::make_exception_ptr(posixError(ECONNRESET)));
}
