#pragma once

// A stand-in for the adb server, and what its tests share.

#include "ADBError.h"
#include "ADBServer.h"
#include "Error.h"

#include <gtest/gtest.h>

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>
#include <vector>

// Listens on a free loopback port, which it names in ANDROID_ADB_SERVER_PORT
// while it lives, reads each request and answers with a script of its own.
class FakeADBServer {
public:
    struct Script {
        std::vector<QByteArray> chunks;   // sent one by one after the request
        std::chrono::milliseconds gap{0}; // pause between two chunks
        bool close = true;                // close after the last chunk, else stay silent
    };

    FakeADBServer()
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
        qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(ntohs(address.sin_port)));
        m_thread = std::thread([this] { serve(); });
    }

    ~FakeADBServer()
    {
        m_stop = true;
        m_thread.join();
        for (std::thread& relay : m_relays)
            relay.join();
        ::close(m_listener);
        qunsetenv("ANDROID_ADB_SERVER_PORT");
    }

    void setScript(Script script)
    {
        std::lock_guard guard(m_mutex);
        m_script = std::move(script);
    }
    // Runs on the server's thread when a connection is accepted.
    void setOnConnect(std::function<void()> onConnect)
    {
        std::lock_guard guard(m_mutex);
        m_onConnect = std::move(onConnect);
    }

    // From now on only "host:pair:" requests get the script; every other
    // connection is passed byte for byte, both ways and for its whole life,
    // to the adb server on this loopback port. Each connection gets a thread.
    void relayTo(uint16_t port) { m_relayPort = port; }
    // Every "host:pair:" request's payload, in order.
    std::vector<QByteArray> pairRequests() const
    {
        std::lock_guard guard(m_mutex);
        return m_pairRequests;
    }

    int connections() const { return m_connections; }
    // Every accepted connection answered and closed.
    bool idle() const { return m_closed == m_connections; }
    // The bytes of the last request, framing included.
    QByteArray request() const
    {
        std::lock_guard guard(m_mutex);
        return m_request;
    }

    // The reply as separate one-byte chunks.
    static std::vector<QByteArray> bytewise(const QByteArray& reply)
    {
        std::vector<QByteArray> chunks;
        for (char c : reply)
            chunks.emplace_back(1, c);
        return chunks;
    }

private:
    // Waits for the descriptor to become readable while the server runs.
    bool readable(int fd) const
    {
        while (!m_stop) {
            pollfd entry{fd, POLLIN, 0};
            if (::poll(&entry, 1, 20) > 0)
                return true;
        }
        return false;
    }

    void serve()
    {
        while (readable(m_listener)) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            ++m_connections;
            if (m_relayPort != 0) {
                m_relays.emplace_back([this, client] {
                    answer(client);
                    ::close(client);
                    ++m_closed;
                });
                continue;
            }
            answer(client);
            ::close(client);
            ++m_closed;
        }
    }

    void answer(int client)
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
        const auto complete = [&request] {
            bool ok = false;
            const int length = request.left(4).toInt(&ok, 16);
            return request.size() >= 4 && (!ok || request.size() >= 4 + length);
        };
        while (!complete()) {
            if (!readable(client))
                return;
            const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            request.append(buffer, n);
        }
        if (m_relayPort != 0) {
            if (!request.mid(4).startsWith("host:pair:")) {
                relay(client, request);
                return;
            }
            std::lock_guard guard(m_mutex);
            m_pairRequests.push_back(request.mid(4));
        }
        {
            std::lock_guard guard(m_mutex);
            m_request = request;
        }

        for (size_t i = 0; i < script.chunks.size() && !m_stop; ++i) {
            if (i > 0)
                std::this_thread::sleep_for(script.gap);
            const QByteArray& chunk = script.chunks[i];
            if (::send(client, chunk.constData(), size_t(chunk.size()), MSG_NOSIGNAL) < 0)
                return;
        }
        // Unless closing, silent until the client goes away or the server stops.
        while (!script.close && readable(client)) {
            if (::recv(client, buffer, sizeof buffer, 0) <= 0)
                return;
        }
    }

    // Passes what was read so far, then everything, until either side closes.
    void relay(int client, const QByteArray& already)
    {
        const int upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(m_relayPort);
        if (upstream < 0 || ::connect(upstream, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::send(upstream, already.constData(), size_t(already.size()), MSG_NOSIGNAL) < 0) {
            if (upstream >= 0)
                ::close(upstream);
            return;
        }
        char buffer[16384];
        while (!m_stop) {
            pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
            if (::poll(ends, 2, 20) <= 0)
                continue;
            bool closed = false;
            for (int i = 0; i < 2 && !closed; ++i) {
                if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(ends[i].fd, buffer, sizeof buffer, 0);
                closed = n <= 0
                         || ::send(ends[1 - i].fd, buffer, size_t(n), MSG_NOSIGNAL) != n;
            }
            if (closed)
                break;
        }
        ::close(upstream);
    }

    std::atomic<uint16_t> m_relayPort{0};
    std::vector<std::thread> m_relays;
    std::vector<QByteArray> m_pairRequests;
    int m_listener = -1;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::atomic<int> m_closed{0};
    mutable std::mutex m_mutex;
    Script m_script;
    std::function<void()> m_onConnect;
    QByteArray m_request;
    std::thread m_thread;
};

inline void PrintTo(const ADBServer::Reply& reply, std::ostream* out)
{
    *out << (reply.kind == ADBServer::Reply::Kind::okay ? "okay(" : "fail(") << '"' << reply.text.toStdString()
         << "\")";
}

// The description of the ADBError::failed that work throws, or a note of
// what happened instead.
inline QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ADBError& error) {
        if (error.kind() != ADBError::Kind::failed)
            return QStringLiteral("<ADBError of another kind: %1>").arg(error.description());
        return error.description();
    } catch (const Cancelled&) {
        return QStringLiteral("<cancelled>");
    } catch (const Error& error) {
        return QStringLiteral("<other error: %1>").arg(error.description());
    }
    return QStringLiteral("<no failure>");
}
