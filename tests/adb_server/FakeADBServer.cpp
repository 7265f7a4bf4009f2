#include "FakeADBServer.h"

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

constexpr int tickMs = 20;

// Waits for the descriptor to become readable while the server runs.
bool waitReadable(int fd, const std::atomic<bool>& stop)
{
    while (!stop) {
        pollfd entry{fd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, tickMs);
        if (ready > 0)
            return true;
    }
    return false;
}

} // namespace

FakeADBServer::FakeADBServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::listen(m_listener, 8) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("the fake adb server can't listen");
    m_port = ntohs(address.sin_port);
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(m_port));
    m_thread = std::thread([this] { serve(); });
}

FakeADBServer::~FakeADBServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
    qunsetenv("ANDROID_ADB_SERVER_PORT");
}

void FakeADBServer::setScript(Script script)
{
    std::lock_guard guard(m_mutex);
    m_script = std::move(script);
}

void FakeADBServer::setOnConnect(std::function<void()> onConnect)
{
    std::lock_guard guard(m_mutex);
    m_onConnect = std::move(onConnect);
}

QByteArray FakeADBServer::request() const
{
    std::lock_guard guard(m_mutex);
    return m_request;
}

std::vector<QByteArray> FakeADBServer::bytewise(const QByteArray& reply)
{
    std::vector<QByteArray> chunks;
    for (char c : reply)
        chunks.emplace_back(1, c);
    return chunks;
}

void FakeADBServer::serve()
{
    while (waitReadable(m_listener, m_stop)) {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        ++m_connections;
        answer(client);
        ::close(client);
    }
}

void FakeADBServer::answer(int client)
{
    Script script;
    std::function<void()> onConnect;
    {
        std::lock_guard guard(m_mutex);
        script = m_script;
        onConnect = m_onConnect;
    }
    if (onConnect)
        onConnect();

    // The request: four hexadecimal digits of length, then that many bytes.
    QByteArray request;
    char buffer[4096];
    for (;;) {
        if (request.size() >= 4) {
            bool ok = false;
            const int length = request.left(4).toInt(&ok, 16);
            if (!ok || request.size() >= 4 + length)
                break;
        }
        if (!waitReadable(client, m_stop))
            return;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, n);
    }
    {
        std::lock_guard guard(m_mutex);
        m_request = request;
    }

    for (size_t i = 0; i < script.chunks.size() && !m_stop; ++i) {
        if (i > 0 && script.gap.count() > 0)
            std::this_thread::sleep_for(script.gap);
        const QByteArray& chunk = script.chunks[i];
        if (::send(client, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) < 0)
            return;
    }
    if (script.close)
        return;
    // Silence until the client goes away or the server stops.
    while (waitReadable(client, m_stop)) {
        if (::recv(client, buffer, sizeof buffer, 0) <= 0)
            return;
    }
}
