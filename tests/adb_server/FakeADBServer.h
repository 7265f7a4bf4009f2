#pragma once

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
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

// A stand-in for the adb server: listens on a free loopback port, which it
// names in ANDROID_ADB_SERVER_PORT while it lives, and answers each request
// with its script.
class FakeADBServer {
public:
    struct Script {
        QByteArray reply;
        bool bytewise = false; // one byte per send, with a pause between, to split the client's reads
        bool close = true;     // close after the reply, else stay silent until the client goes
        std::function<void()> onConnect = {}; // runs on the server's thread at each connection
    };

    FakeADBServer()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
            || ::listen(m_listener, 8) != 0
            || ::getsockname(m_listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("the fake adb server can't listen");
        m_oldPort = qgetenv("ANDROID_ADB_SERVER_PORT");
        qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(ntohs(address.sin_port)));
        m_thread = std::thread([this] {
            // Ends when the listener is shut down.
            for (int client; (client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                ++m_open;
                const auto serve = [this, client] {
                    answer(client);
                    ::close(client);
                    --m_open;
                };
                // A relayed adb connection lives as long as adb keeps it.
                if (m_relayPort != 0)
                    m_relays.emplace_back(serve);
                else
                    serve();
            }
        });
    }
    // Every client of a test has gone before: answers wait only for clients.
    ~FakeADBServer()
    {
        ::shutdown(m_listener, SHUT_RDWR);
        m_thread.join();
        m_stop = true;
        for (std::thread& relay : m_relays)
            relay.join();
        ::close(m_listener);
        // The process's private port again: unset, adb would take its default.
        qputenv("ANDROID_ADB_SERVER_PORT", m_oldPort);
    }

    void setScript(Script script)
    {
        std::lock_guard guard(m_mutex);
        m_script = std::move(script);
    }
    // From now on only "host:pair:" requests get the script; every other
    // connection is passed byte for byte, both ways, to the adb server on
    // this loopback port.
    void relayTo(uint16_t port) { m_relayPort = port; }
    // Every "host:pair:" request's payload, in order.
    std::vector<QByteArray> pairRequests() const
    {
        std::lock_guard guard(m_mutex);
        return m_pairRequests;
    }
    // Every accepted connection answered and closed.
    bool idle() const { return m_open == 0; }
    // The bytes of the last request, framing included.
    QByteArray request() const
    {
        std::lock_guard guard(m_mutex);
        return m_request;
    }

private:
    void answer(int client)
    {
        Script script;
        {
            std::lock_guard guard(m_mutex);
            script = m_script;
        }
        if (script.onConnect)
            script.onConnect();
        // The request: four hexadecimal digits of length, then that many bytes.
        QByteArray request;
        char buffer[4096];
        while (request.size() < 4 || request.size() < 4 + request.left(4).toInt(nullptr, 16)) {
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
        const qsizetype step = script.bytewise ? 1 : qMax<qsizetype>(script.reply.size(), 1);
        for (qsizetype at = 0; at < script.reply.size(); at += step) {
            if (at > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (::send(client, script.reply.constData() + at, size_t(qMin(step, script.reply.size() - at)),
                       MSG_NOSIGNAL) < 0)
                return;
        }
        while (!script.close && ::recv(client, buffer, sizeof buffer, 0) > 0) {
        }
    }

    // Passes what was read so far, then everything, until either side closes
    // or the server stops.
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
        for (bool closed = false; !closed && !m_stop;) {
            pollfd ends[2] = {{client, POLLIN, 0}, {upstream, POLLIN, 0}};
            if (::poll(ends, 2, 20) <= 0)
                continue;
            for (int i = 0; i < 2 && !closed; ++i) {
                if (!(ends[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t n = ::recv(ends[i].fd, buffer, sizeof buffer, 0);
                closed = n <= 0 || ::send(ends[1 - i].fd, buffer, size_t(n), MSG_NOSIGNAL) != n;
            }
        }
        ::close(upstream);
    }

    int m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::atomic<int> m_open{0};
    std::atomic<uint16_t> m_relayPort{0};
    std::atomic<bool> m_stop{false};
    std::vector<std::thread> m_relays;
    QByteArray m_oldPort;
    std::vector<QByteArray> m_pairRequests;
    mutable std::mutex m_mutex;
    Script m_script;
    QByteArray m_request;
    std::thread m_thread;
};

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
