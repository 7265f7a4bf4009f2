#pragma once

#include "ServiceBrowser.h"
#include "WirelessDiscovery.h"


#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>
#include <stdexcept>

// Socket addresses as service discovery hands them over: IPv6 when the text holds ":".
inline QByteArray socketAddress(const char* ip, uint16_t port = 0)
{
    sockaddr_in6 six{AF_INET6, htons(port), 0, {}, 0};
    sockaddr_in four{AF_INET, htons(port), {}, {}};
    const bool v6 = std::strchr(ip, ':');
    ::inet_pton(v6 ? AF_INET6 : AF_INET, ip, v6 ? static_cast<void*>(&six.sin6_addr) : &four.sin_addr);
    return v6 ? QByteArray(reinterpret_cast<const char*>(&six), sizeof six)
              : QByteArray(reinterpret_cast<const char*>(&four), sizeof four);
}

// What the discovery browses, kept by the test after the backend is handed
// over, and reports sent through it.
struct Browses : std::vector<std::pair<QString, ServiceBrowser::Handlers>> {
    ServiceBrowser::Handlers& of(WirelessService::Kind kind)
    {
        const QString type = kind == WirelessService::Kind::pairing ? QStringLiteral("_adb-tls-pairing._tcp.")
                                                                    : QStringLiteral("_adb-tls-connect._tcp.");
        for (auto& [browsed, handlers] : *this) {
            if (browsed == type)
                return handlers;
        }
        throw std::logic_error("type not browsed");
    }
    void resolveAt(WirelessService::Kind kind, const QString& name, QList<QByteArray> addresses, uint16_t port)
    {
        of(kind).resolved({name, std::move(addresses), port});
    }
    void resolve(WirelessService::Kind kind, const QString& name, const char* ip = "192.168.1.20", uint16_t port = 5555)
    {
        resolveAt(kind, name, {socketAddress(ip, port)}, port);
    }
    void remove(WirelessService::Kind kind, const QString& name) { of(kind).removed(name); }
};

// A service discovery backend driven by the test. Only browsing in "local."
// is recorded, so a test that counts the browses notices any other domain.
class FakeServiceBrowser : public ServiceBrowser {
public:
    explicit FakeServiceBrowser(Browses* record) : m_browses(record) {}

    void browse(const QString& type, const QString& domain, Handlers handlers) override
    {
        if (domain == QStringLiteral("local."))
            m_browses->emplace_back(type, std::move(handlers));
    }

private:
    Browses* m_browses;
};
