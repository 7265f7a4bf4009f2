#include "ADBServer.h"

#include "ADB.h"
#include "ADBError.h"
#include "Error.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <mutex>
#include <stop_token>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

constexpr uint16_t defaultPort = 5037;
constexpr int readSize = 4096;
// Far above the largest framed reply (status, "FAIL", length, 65535 bytes);
// a server that streams more than this is not an adb server we understand.
constexpr qsizetype replyLimit = 1 << 20;
// The length field has four hexadecimal digits.
constexpr qsizetype requestLimit = 0xffff;

ADBError failure(const char* sentence)
{
    return ADBError::failed(QString::fromUtf8(sentence));
}

// Each send and receive waits at most this long. The fraction is kept: a
// limit below one second must not become zero, which the socket reads as
// "wait forever".
timeval limitFor(double seconds)
{
    if (!(seconds > 0)) // also NaN
        seconds = 0;
    seconds = std::min(seconds, 1e9);
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>((seconds - static_cast<double>(limit.tv_sec)) * 1e6);
    if (limit.tv_sec == 0 && limit.tv_usec == 0)
        limit.tv_usec = 1;
    return limit;
}

std::optional<int> hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return std::nullopt;
}

// Shared by the exchange and the cancel handler. The lock orders storing the
// descriptor against the cancellation; the descriptor is forgotten under the
// lock before it is closed, so the handler never shuts down a number the
// system has meanwhile given to someone else's socket.
class SocketBox {
public:
    void cancel()
    {
        std::lock_guard guard(m_lock);
        m_cancelled = true;
        if (m_fd >= 0)
            ::shutdown(m_fd, SHUT_RDWR);
    }

    ADBServer::Reply exchange(const QString& request, double timeout);

private:
    bool isCancelled()
    {
        std::lock_guard guard(m_lock);
        return m_cancelled;
    }

    void close()
    {
        std::lock_guard guard(m_lock);
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }

    // A failure, unless the query was cancelled meanwhile: a cancellation
    // is never reported as a failure.
    [[noreturn]] void fail(const char* sentence)
    {
        if (isCancelled())
            throw Cancelled();
        throw failure(sentence);
    }

    std::mutex m_lock;
    int m_fd = -1;
    bool m_cancelled = false;
};

ADBServer::Reply SocketBox::exchange(const QString& request, double timeout)
{
    const QByteArray payload = request.toUtf8();
    if (payload.size() > requestLimit)
        throw failure("Couldn't send the request to the adb server.");

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw failure("Couldn't open a connection to the adb server.");
    {
        std::lock_guard guard(m_lock);
        if (m_cancelled) {
            ::close(fd);
            throw Cancelled();
        }
        m_fd = fd;
    }
    struct Closer {
        SocketBox* box;
        ~Closer() { box->close(); }
    } closer{this};

    const timeval limit = limitFor(timeout);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);

    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(ADBServer::port());
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
        fail("The adb server isn't running.");

    const QByteArray framed = QByteArray::number(payload.size(), 16).rightJustified(4, '0') + payload;
    qsizetype sent = 0;
    while (sent < framed.size()) {
        // MSG_NOSIGNAL: a server that went away gives an error, not SIGPIPE.
        const ssize_t n = ::send(fd, framed.constData() + sent, size_t(framed.size() - sent), MSG_NOSIGNAL);
        if (n <= 0)
            fail("Couldn't send the request to the adb server.");
        sent += n;
    }

    char buffer[readSize];
    QByteArray body;
    std::optional<QByteArray> status;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0) {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (isCancelled())
                throw Cancelled();
            if (error == EAGAIN || error == EWOULDBLOCK)
                throw failure("The adb server didn't answer in time.");
            throw failure("Lost the connection to the adb server.");
        }
        if (n == 0) {
            if (isCancelled())
                throw Cancelled();
            if (!status || *status != "OKAY")
                throw failure("The adb server closed the connection.");
            if (body.isEmpty())
                return ADBServer::Reply::okay({});
            if (auto reply = ADBServer::parse(body))
                return *reply;
            // Some replies are not framed: the text runs to the end.
            return ADBServer::Reply::okay(QString::fromUtf8(body));
        }

        body.append(buffer, n);
        if (!status) {
            if (body.size() < 4)
                continue;
            status = body.left(4);
            body.remove(0, 4);
        }
        if (*status == "OKAY") {
            if (auto reply = ADBServer::parse(body))
                return *reply;
        } else if (*status == "FAIL") {
            auto reply = ADBServer::parse(body);
            if (reply && reply->kind == ADBServer::Reply::Kind::okay)
                return ADBServer::Reply::fail(reply->text);
        } else {
            throw failure("Unexpected reply from the adb server.");
        }
        if (body.size() > replyLimit)
            throw failure("Unexpected reply from the adb server.");
    }
}

} // namespace

uint16_t ADBServer::port()
{
    const QByteArray value = qgetenv("ANDROID_ADB_SERVER_PORT");
    if (value.isEmpty())
        return defaultPort;
    uint32_t number = 0;
    for (char c : value) {
        if (c < '0' || c > '9')
            return defaultPort;
        number = number * 10 + uint32_t(c - '0');
        if (number > 65535)
            return defaultPort;
    }
    return uint16_t(number);
}

ADBServer::Reply ADBServer::query(const QString& request, double timeout, const Cancel& cancel)
{
    SocketBox box;
    // Runs at once when the query is already cancelled.
    std::stop_callback onCancel(cancel.token(), [&box] { box.cancel(); });
    return box.exchange(request, timeout);
}

std::optional<ADBServer::Reply> ADBServer::parse(const QByteArray& body)
{
    qsizetype at = 0;
    bool failed = false;
    if (body.size() >= 4 && body.first(4) == "FAIL") {
        failed = true;
        at = 4;
    }
    if (body.size() - at < 4)
        return std::nullopt;
    // Digits only: no sign, no spaces, so a length is never negative.
    qsizetype length = 0;
    for (qsizetype i = 0; i < 4; ++i) {
        const auto digit = hexDigit(body.at(at + i));
        if (!digit)
            return std::nullopt;
        length = length * 16 + *digit;
    }
    at += 4;
    if (body.size() - at < length)
        return std::nullopt;
    QString payload = QString::fromUtf8(body.constData() + at, length);
    return failed ? Reply::fail(std::move(payload)) : Reply::okay(std::move(payload));
}

ADB::PairResult ADB::pair(const QString& address, const QString& code, const Cancel& cancel) const
{
    // A server that is already up answers at once; one that cannot be
    // started shows up below as "isn't running".
    try {
        run({QStringLiteral("start-server")}, cancel);
    } catch (const Error&) {
    }

    const QString request = QStringLiteral("host:pair:") + code + QLatin1Char(':') + address;
    const ADBServer::Reply reply = ADBServer::query(request, 90.0, cancel);
    const QString& text = reply.text;

    if (reply.kind == ADBServer::Reply::Kind::fail) {
        if (text.contains(QStringLiteral("Unable to start pairing client"))
            || text.contains(QStringLiteral("Unable to connect")))
            throw ADBError::pairing(PairingFailure::unreachable(address));
        if (text.contains(QStringLiteral("Wrong password")))
            throw ADBError::pairing(PairingFailure::rejected());
        throw ADBError::pairing(PairingFailure::other(text));
    }

    if (!text.startsWith(QStringLiteral("Successful")))
        throw ADBError::pairing(PairingFailure::other(text));
    PairResult result{address, std::nullopt};
    static const QString marker = QStringLiteral("[guid=");
    const qsizetype start = text.indexOf(marker);
    if (start >= 0) {
        const qsizetype from = start + marker.size();
        const qsizetype end = text.indexOf(QLatin1Char(']'), from);
        result.guid = text.mid(from, end < 0 ? -1 : end - from);
    }
    return result;
}
