#pragma once

#include <QByteArray>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// A stand-in for the adb server: listens on a free loopback port, which it
// names in ANDROID_ADB_SERVER_PORT while it lives, reads each request and
// answers with a script of its own.
class FakeADBServer {
public:
    struct Script {
        std::vector<QByteArray> chunks;      // sent one by one after the request
        std::chrono::milliseconds gap{0};    // pause between two chunks
        bool close = true;                   // close after the last chunk, else stay silent
    };

    FakeADBServer();
    ~FakeADBServer();

    void setScript(Script script);
    // Runs on the server's thread when a connection is accepted.
    void setOnConnect(std::function<void()> onConnect);

    uint16_t port() const { return m_port; }
    int connections() const { return m_connections; }
    // The bytes of the last request, framing included.
    QByteArray request() const;

    // The reply as separate one-byte chunks.
    static std::vector<QByteArray> bytewise(const QByteArray& reply);

private:
    void serve();
    void answer(int client);

    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex;
    Script m_script;
    std::function<void()> m_onConnect;
    QByteArray m_request;
    std::thread m_thread;
};
