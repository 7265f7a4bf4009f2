#pragma once

#include "ServiceBrowser.h"
#include "WirelessDiscovery.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

// Socket addresses as service discovery hands them over.
inline QByteArray ipv4Address(const char* dottedQuad, uint16_t port = 0)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, dottedQuad, &address.sin_addr);
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
}

inline QByteArray ipv6Address(const char* text, uint16_t port = 0)
{
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    ::inet_pton(AF_INET6, text, &address.sin6_addr);
    return QByteArray(reinterpret_cast<const char*>(&address), sizeof address);
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
        resolveAt(kind, name, {ipv4Address(ip, port)}, port);
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
