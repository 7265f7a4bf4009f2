#include "Phone.h"

#include "FakeMirrorServer.h"
#include "Streams.h"

#include <QFile>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <random>
#include <csignal>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace adbphone {

using namespace adbwire;

// ---------------------------------------------------------------- Stream

Stream::Stream(Connection& connection, uint32_t localId, uint32_t remoteId)
    : m_connection(connection), m_localId(localId), m_remoteId(remoteId)
{
}

Phone& Stream::phone()
{
    return m_connection.phone();
}

bool Stream::canSend() const
{
    return !m_awaitingOkay && !m_finished && !m_connection.dead();
}

void Stream::sendFrom(QByteArray& queue)
{
    const qsizetype size = std::min<qsizetype>(queue.size(), m_connection.maxPayload());
    m_connection.send(kWrte, m_localId, m_remoteId, queue.left(size));
    queue.remove(0, size);
    m_awaitingOkay = true;
}

void Stream::acknowledge()
{
    m_connection.send(kOkay, m_localId, m_remoteId);
}

void Stream::finish()
{
    if (!m_finished)
        m_connection.send(kClse, m_localId, m_remoteId);
    m_finished = true;
}

// ---------------------------------------------------------------- Connection

Connection::Connection(Phone& phone, int fd) : m_phone(phone), m_fd(fd) {}

Connection::~Connection()
{
    m_streams.clear();
    close();
}

void Connection::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_dead = true;
}

void Connection::drop()
{
    m_phone.log("dropping the connection as asked");
    m_dropping = true;
}

void Connection::send(uint32_t command, uint32_t arg0, uint32_t arg1, const QByteArray& data)
{
    if (m_dead)
        return;
    m_out += encode(command, arg0, arg1, data);
}

void Connection::readAvailable()
{
    if (m_dead || m_dropping)
        return;
    char buffer[64 * 1024];
    // A bounded amount per turn, so that one busy link cannot starve the others.
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            m_in.append(buffer, n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        m_phone.log("the host closed the connection");
        close();
        return;
    }
    Message message;
    for (;;) {
        const Parse result = takeMessage(m_in, message);
        if (result == Parse::Incomplete)
            break;
        if (result == Parse::Invalid) {
            m_phone.log("garbage on the connection; closing it");
            close();
            return;
        }
        handle(message);
        if (m_dead || m_dropping)
            return;
    }
}

void Connection::handle(const Message& message)
{
    switch (message.command) {
    case kCnxn: {
        // A new handshake starts the link afresh.
        m_streams.clear();
        m_online = false;
        const uint32_t hostMax = message.arg1 == 0 ? 4096 : message.arg1;
        m_maxPayload = std::max<uint32_t>(64, std::min(hostMax, kMaxPayload));
        if (m_phone.config().authorized) {
            send(kCnxn, kVersion, kMaxPayload, m_phone.banner());
            m_online = true;
        } else {
            sendAuthToken();
        }
        break;
    }
    case kAuth:
        if (m_phone.config().authorized) {
            if (!m_online) {
                send(kCnxn, kVersion, kMaxPayload, m_phone.banner());
                m_online = true;
            }
        } else if (message.arg0 == kAuthSignature) {
            // No signature is ever good enough; the public key goes unanswered.
            sendAuthToken();
        }
        break;
    case kOpen:
        if (m_online)
            open(message.arg0, message.data);
        break;
    case kOkay: {
        auto it = m_streams.find(message.arg1);
        if (it != m_streams.end())
            it->second->hostOkay();
        break;
    }
    case kWrte: {
        if (!m_online)
            break;
        auto it = m_streams.find(message.arg1);
        if (it == m_streams.end()) {
            send(kClse, 0, message.arg0);
            break;
        }
        it->second->hostWrite(message.data);
        break;
    }
    case kClse:
        // The host's side is gone; the stream cleans up without answering.
        m_streams.erase(message.arg1);
        break;
    default:
        break;
    }
}

void Connection::sendAuthToken()
{
    static std::mt19937 random(std::random_device {}());
    QByteArray token(20, '\0');
    for (char& c : token)
        c = static_cast<char>(random() & 0xff);
    send(kAuth, kAuthToken, 0, token);
}

void Connection::open(uint32_t remoteId, QByteArray service)
{
    while (service.endsWith('\0'))
        service.chop(1);
    if (remoteId == 0)
        return;
    const uint32_t localId = m_nextLocalId++;
    if (m_nextLocalId == 0)
        m_nextLocalId = 1;

    std::unique_ptr<Stream> stream;
    int fd = -1;
    auto answer = [&](ShellStream::Kind kind, const QByteArray& sent, const QByteArray& term) {
        // The phone's programs see the host's command without its end mark;
        // the shell around them still prints it.
        const std::optional<MarkedCommand> marked = unmark(sent);
        const QByteArray command = marked ? marked->inner : sent;
        // The mark's line comes after all of the command's output; without
        // the shell protocol standard error is within standard output.
        const auto withMark = [&marked, kind](ScriptedReply reply) {
            if (!marked)
                return reply;
            if (kind == ShellStream::Kind::Raw) {
                reply.out += reply.err;
                reply.err.clear();
            }
            reply.out += markLines(marked->mark, reply.status);
            reply.status = 0;
            return reply;
        };
        const auto asSent = [&marked](const QByteArray& program) {
            return marked ? remark(program, marked->mark) : program;
        };
        const ReplyTable& table = m_phone.replies();
        auto reply = table.find(command);
        const Knobs& knobs = m_phone.knobs();
        const LogScript& log = knobs.log;
        const bool isLog = !log.command.isEmpty() && command == log.command;
        const bool cut = !knobs.cutShells.isEmpty() && command.contains(knobs.cutShells);
        if (!cut && (isLog || (reply != table.end() && reply->delayMs > 0))) {
            auto timed = std::make_unique<TimedStream>(*this, localId, remoteId, kind);
            send(kOkay, localId, remoteId);
            if (isLog)
                timed->startLog(log, Clock::now());
            else
                timed->startReply(withMark(reply.value()), Clock::now());
            stream = std::move(timed);
            return;
        }
        auto shell = std::make_unique<ShellStream>(*this, localId, remoteId, kind);
        send(kOkay, localId, remoteId);
        if (cut) {
            shell->cutAfter(knobs.cutKeepBytes);
            if (knobs.leaveAfterCut)
                m_leaving.insert(localId);
        }
        if (cut && knobs.cutKeepBytes <= 0)
            shell->startScripted({});
        else if (const std::optional<ScriptedReply> refusal = faultReply(knobs, command))
            shell->startScripted(withMark(*refusal));
        else if (reply != table.end())
            shell->startScripted(withMark(reply.value()));
        else if (const QByteArray program = phoneProgram(command); !program.isEmpty())
            shell->startCommand(asSent(program), term);
        else if (knobs.refuseMoves && command.contains("mv "))
            // A script of the host's renames through mv inside it, subshells
            // included: each finds a mv that refuses, as a phone's would.
            shell->startCommand("mkdir -p /tmp/.refusing && printf '#!/bin/mksh\\necho \"mv: bad $1: Permission "
                                "denied\" >&2\\nexit 1\\n' >/tmp/.refusing/mv && chmod 755 /tmp/.refusing/mv && "
                                "PATH=/tmp/.refusing:$PATH && export PATH && "
                                    + sent,
                                term);
        else
            shell->startCommand(sent, term);
        stream = std::move(shell);
    };

    if (service.startsWith("shell:") || service.startsWith("shell,")) {
        const qsizetype colon = service.indexOf(':');
        const QList<QByteArray> arguments = service.mid(6, colon - 6).split(',');
        const QByteArray command = service.mid(colon + 1);
        bool v2 = false;
        QByteArray term;
        for (const QByteArray& argument : arguments) {
            if (argument == "v2")
                v2 = true;
            else if (argument.startsWith("TERM="))
                term = argument.mid(5);
        }
        const std::optional<MarkedCommand> marked = unmark(command);
        m_phone.record(marked ? marked->inner : command);
        const ShellStream::Kind kind = v2 ? ShellStream::Kind::ShellV2 : ShellStream::Kind::Raw;
        if (command.startsWith(kMirrorServerCommand)) {
            stream = startMirrorServer(localId, remoteId, int(kind), command);
            if (!stream)
                return;
        } else {
            answer(kind, command, term);
        }
    } else if (service.startsWith("exec:")) {
        m_phone.record(service);
        answer(ShellStream::Kind::Raw, service.mid(5), {});
    } else if (service.startsWith("localabstract:scrcpy_") &&
               (fd = m_phone.openMirrorStream(service.mid(int(std::strlen("localabstract:scrcpy_"))))) >= 0) {
        send(kOkay, localId, remoteId);
        stream = std::make_unique<BridgeStream>(*this, localId, remoteId, fd);
    } else if (service == "sync:") {
        send(kOkay, localId, remoteId);
        stream = std::make_unique<SyncStream>(*this, localId, remoteId);
    } else {
        m_phone.record(service);
        m_phone.log("refusing the service " + service);
        send(kClse, 0, remoteId);
        return;
    }
    m_streams.emplace(localId, std::move(stream));
}

void Connection::service(Clock::time_point now)
{
    if (m_dead || m_dropping)
        return;
    for (auto it = m_streams.begin(); it != m_streams.end();) {
        it->second->service(now);
        if (m_dead || m_dropping)
            return;
        if (it->second->finished()) {
            // Its last words are queued; the drop comes once they went out.
            if (m_leaving.erase(it->first))
                m_phone.leave();
            it = m_streams.erase(it);
        } else {
            ++it;
        }
    }
}

void Connection::flush()
{
    while (!m_dead && m_outOffset < m_out.size()) {
        const ssize_t n = ::send(m_fd, m_out.constData() + m_outOffset, static_cast<size_t>(m_out.size() - m_outOffset),
                                 MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            m_outOffset += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            break;
        close();
    }
    if (m_outOffset == m_out.size()) {
        m_out.clear();
        m_outOffset = 0;
        if (m_dropping && !m_dead) {
            m_streams.clear();
            close();
        }
    } else if (m_outOffset > 1024 * 1024) {
        m_out.remove(0, m_outOffset);
        m_outOffset = 0;
    }
}

void Connection::addPollFds(std::vector<pollfd>& fds) const
{
    if (m_dead)
        return;
    fds.push_back(pollfd {m_fd, static_cast<short>(POLLIN | (m_outOffset < m_out.size() ? POLLOUT : 0)), 0});
    if (m_dropping)
        return;
    for (const auto& entry : m_streams)
        entry.second->addPollFds(fds);
}

std::optional<Clock::time_point> Connection::wakeAt() const
{
    std::optional<Clock::time_point> earliest;
    if (m_dead || m_dropping)
        return earliest;
    for (const auto& entry : m_streams) {
        const auto at = entry.second->wakeAt();
        if (at && (!earliest || *at < *earliest))
            earliest = at;
    }
    return earliest;
}

// ---------------------------------------------------------------- Phone

bool Phone::WatchedFile::changed()
{
    struct stat now {};
    const bool exists = !path.isEmpty() && ::stat(path.constData(), &now) == 0;
    const bool same = seen && exists == present &&
                      (!exists || (now.st_ino == info.st_ino && now.st_dev == info.st_dev && now.st_size == info.st_size &&
                                   now.st_mtim.tv_sec == info.st_mtim.tv_sec &&
                                   now.st_mtim.tv_nsec == info.st_mtim.tv_nsec));
    seen = true;
    present = exists;
    info = now;
    return !same;
}

Phone::Phone(PhoneConfig config)
    : m_config(std::move(config)), m_sandbox(m_config.storage, m_config.mountPoint, m_config.toolbox)
{
    if (!m_config.logFile.isEmpty())
        m_log = std::fopen(m_config.logFile.constData(), "ae");
    m_storageFd = ::open(m_config.storage.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    m_defaults = defaultReplies(m_config.identity);
    m_replies = m_defaults;
    if (!m_config.controlDir.isEmpty()) {
        m_repliesWatch.path = m_config.controlDir + '/' + kRepliesFile;
        m_knobsWatch.path = m_config.controlDir + '/' + kKnobsFile;
        const QByteArray tmp = m_config.controlDir + '/' + kPhoneTmpFolder;
        ::mkdir(tmp.constData(), 0700);
        m_tmpFd = ::open(tmp.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    m_extraRepliesWatch.path = m_config.repliesFile;
}

Phone::~Phone()
{
    m_connections.clear();
    stopMirror();
    // The commands were killed; collect them before going.
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    reapChildren();
    while (!m_abandoned.empty() && Clock::now() < deadline) {
        ::usleep(5000);
        reapChildren();
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_storageFd >= 0)
        ::close(m_storageFd);
    if (m_tmpFd >= 0)
        ::close(m_tmpFd);
    if (m_log)
        std::fclose(m_log);
}

QString Phone::checkShell() const
{
    if (m_storageFd < 0)
        return QStringLiteral("the storage folder %1 can't be opened: %2")
            .arg(QString::fromLocal8Bit(m_config.storage), QString::fromLocal8Bit(::strerror(errno)));
    return m_sandbox.probe();
}

bool Phone::listen(QString* error)
{
    m_listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_config.port);
    socklen_t length = sizeof address;
    // A phone started again on its old port must not wait out the closed
    // connections' TIME_WAIT, as a replugged phone doesn't.
    const int reuse = 1;
    if (m_listenFd >= 0)
        ::setsockopt(m_listenFd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (m_listenFd < 0 || ::bind(m_listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(m_listenFd, 16) != 0 ||
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (error)
            *error = QStringLiteral("couldn't listen on 127.0.0.1:%1: %2")
                         .arg(m_config.port)
                         .arg(QString::fromLocal8Bit(::strerror(errno)));
        return false;
    }
    m_port = ntohs(address.sin_port);
    return true;
}

QByteArray Phone::banner() const
{
    const PhoneIdentity& id = m_config.identity;
    return "device::ro.product.name=" + id.product + ";ro.product.model=" + id.model +
           ";ro.product.device=" + id.device + ";features=" + (m_config.shellProtocol ? "shell_v2," : "") + "cmd,fixed_push_mkdir";
}

void Phone::log(const QByteArray& line)
{
    FILE* out = m_log ? m_log : stderr;
    std::fprintf(out, "fakeadbphone[%d]: %s\n", static_cast<int>(::getpid()), line.constData());
    std::fflush(out);
}

void Phone::reloadReplies()
{
    ReplyTable table = m_defaults;
    for (const WatchedFile* file : {&m_extraRepliesWatch, &m_repliesWatch}) {
        if (!file->present)
            continue;
        QFile input(QString::fromLocal8Bit(file->path));
        QString error;
        if (!input.open(QIODevice::ReadOnly) || !decodeReplies(input.readAll(), &table, &error))
            log("couldn't read the reply table " + file->path + ": " + error.toLocal8Bit());
    }
    m_replies = table;
}

const ReplyTable& Phone::replies()
{
    // Both checks must run, so that each file's state stays current.
    const bool extraChanged = m_extraRepliesWatch.changed();
    const bool controlChanged = m_repliesWatch.changed();
    if (extraChanged || controlChanged)
        reloadReplies();
    return m_replies;
}

const Knobs& Phone::knobs()
{
    if (m_knobsWatch.changed()) {
        Knobs knobs;
        if (m_knobsWatch.present) {
            QFile input(QString::fromLocal8Bit(m_knobsWatch.path));
            if (input.open(QIODevice::ReadOnly))
                knobs = decodeKnobs(input.readAll());
        }
        if (knobs.dropGeneration != m_knobs.dropGeneration || knobs.dropAfterBytes != m_knobs.dropAfterBytes) {
            m_syncBytes = 0;
            m_dropFired = false;
        }
        if (knobs.cutGeneration != m_knobs.cutGeneration)
            m_left = false;
        if (knobs.freezeGeneration != m_knobs.freezeGeneration) {
            m_freezeBytes = 0;
            m_frozen = knobs.freezeAfterBytes == 0;
        }
        m_knobs = knobs;
    }
    return m_knobs;
}

void Phone::record(const QByteArray& command)
{
    if (m_config.controlDir.isEmpty())
        return;
    const QByteArray path = m_config.controlDir + '/' + kReceivedFile;
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const QByteArray line = encodeReceivedLine(command);
    ssize_t ignored = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
    (void)ignored;
    ::close(fd);
}

void Phone::recordLogEvent(const QByteArray& event)
{
    if (m_config.controlDir.isEmpty())
        return;
    const QByteArray path = m_config.controlDir + '/' + kLogEventsFile;
    const int fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch());
    const QByteArray line = QByteArray::number(static_cast<qint64>(now.count())) + ' ' + event + '\n';
    ssize_t ignored = ::write(fd, line.constData(), static_cast<size_t>(line.size()));
    (void)ignored;
    ::close(fd);
}

qint64 Phone::syncAllowance()
{
    const Knobs& k = knobs();
    if (k.dropAfterBytes < 0 || m_dropFired)
        return std::numeric_limits<qint64>::max();
    return std::max<qint64>(0, k.dropAfterBytes - m_syncBytes);
}

bool Phone::frozen()
{
    return knobs().freezeAfterBytes >= 0 && m_frozen;
}

bool Phone::countSyncBytes(qint64 bytes)
{
    const Knobs& k = knobs();
    if (k.freezeAfterBytes >= 0 && !m_frozen) {
        m_freezeBytes += bytes;
        m_frozen = m_freezeBytes >= k.freezeAfterBytes;
    }
    m_syncBytes += bytes;
    if (k.dropAfterBytes < 0 || m_dropFired || m_syncBytes < k.dropAfterBytes)
        return false;
    // Once: the host reconnects afterwards and finds the phone again.
    m_dropFired = true;
    return true;
}

std::optional<int> Phone::exitStatus(pid_t pid)
{
    auto it = m_exited.find(pid);
    if (it == m_exited.end())
        return std::nullopt;
    return it->second;
}

void Phone::forgetChild(pid_t pid)
{
    m_exited.erase(pid);
}

void Phone::abandonChild(pid_t pid)
{
    if (m_exited.erase(pid) == 0)
        m_abandoned.insert(pid);
}

void Phone::reapChildren()
{
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        if (m_abandoned.erase(pid) == 0)
            m_exited[pid] = status;
    }
}

// A test that died cannot stop the adb server it started; the phone does it
// for the test, so that no server outlives the tests.
void Phone::endOrphanedServer()
{
    if (m_config.controlDir.isEmpty())
        return;
    QFile file(QString::fromLocal8Bit(m_config.controlDir + '/' + kServerFile));
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> fields = file.readAll().simplified().split(' ');
    if (fields.size() != 2)
        return;
    const qint64 pid = fields.at(0).toLongLong();
    const quint16 port = static_cast<quint16>(fields.at(1).toUInt());
    if (pid <= 0 || !isAdbServer(pid, port))
        return;
    log("ending the adb server " + fields.at(0) + " that the test left behind");
    ::kill(static_cast<pid_t>(pid), SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (isAdbServer(pid, port) && Clock::now() < deadline)
        ::usleep(10000);
    if (isAdbServer(pid, port))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
}

void Phone::acceptConnections()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            return;
        if (gone()) {
            ::close(fd);
            continue;
        }
        log("host connected");
        // A USB link sends each message at once; without this the kernel
        // holds a small message back for the host's delayed acknowledgement,
        // about 40 ms per file of a folder.
        const int noDelay = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
        m_connections.push_back(std::make_unique<Connection>(*this, fd));
    }
}

int Phone::run(const volatile sig_atomic_t& stop)
{
    while (!stop) {
        if (m_config.parentPid > 0 && ::getppid() != m_config.parentPid) {
            log("the parent went away; stopping");
            endOrphanedServer();
            break;
        }
        if (frozen()) {
            // Nothing is read, answered or closed until the knob thaws it.
            ::poll(nullptr, 0, 20);
            continue;
        }
        // An unresponsive phone leaves its connections as they are, unread.
        const bool unresponsive = knobs().unresponsive;
        std::vector<pollfd> fds;
        fds.push_back(pollfd {m_listenFd, POLLIN, 0});
        if (!unresponsive) {
            for (const auto& connection : m_connections)
                connection->addPollFds(fds);
        }

        Clock::time_point now = Clock::now();
        Clock::duration wait = std::chrono::milliseconds(500);
        for (const auto& connection : m_connections) {
            if (const auto at = connection->wakeAt())
                wait = std::min(wait, std::max<Clock::duration>(Clock::duration::zero(), *at - now));
        }
        const int timeout =
            static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(wait).count());
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            log("poll failed: " + QByteArray(::strerror(errno)));
            return 1;
        }

        acceptConnections();
        reapChildren();
        if (gone()) {
            for (const auto& connection : m_connections)
                connection->drop();
        } else if (knobs().unresponsive) {
            continue;
        }
        for (const auto& connection : m_connections)
            connection->readAvailable();
        now = Clock::now();
        for (const auto& connection : m_connections)
            connection->service(now);
        for (const auto& connection : m_connections)
            connection->flush();
        std::erase_if(m_connections, [](const std::unique_ptr<Connection>& c) { return c->dead(); });
    }
    m_connections.clear();
    return 0;
}

} // namespace adbphone
