#pragma once

#include "ADB.h"
#include "Task.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class ServiceBrowser;

// A phone's wireless-debugging service on the local network.
struct WirelessService {
    enum class Kind { pairing, connect };

    Kind kind = Kind::pairing;
    QString name;    // the DNS-SD instance name
    QString address; // "host:port"; empty in the value that reports a removal

    // "pairing:" or "connect:" and the name; the kinds are separate services.
    QString id() const;
    // The phone serial inside an instance name such as "adb-<serial>-<tag>".
    std::optional<QString> serial() const;

    friend bool operator==(const WirelessService&, const WirelessService&) = default;
};

size_t qHash(const WirelessService& service, size_t seed = 0);

// The phones on the local network that offer wireless debugging, from DNS
// service discovery and, while polling is on, from adb's own list. Lives on
// the GUI thread; the list is republished only when it really changes.
class WirelessDiscovery : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<WirelessService> services READ services NOTIFY servicesChanged)

public:
    // Browses through the system's service discovery once started.
    explicit WirelessDiscovery(QObject* parent = nullptr);
    // Browses through `backend` instead.
    explicit WirelessDiscovery(std::unique_ptr<ServiceBrowser> backend, QObject* parent = nullptr);
    ~WirelessDiscovery() override;

    // Begins service discovery; does nothing the second time.
    void start();
    // Stops any adb polling; with an adb, asks it for its list once a second
    // from now on; without, drops the services adb listed.
    void setPolling(const std::optional<ADB>& adb);

    // Pairing services first, then connect services, each by name.
    const QList<WirelessService>& services() const { return m_services; }
    QList<WirelessService> pairing() const;
    QList<WirelessService> connect() const;

Q_SIGNALS:
    void servicesChanged();

private:
    struct BonjourBrowser;

    void bonjourChanged(const WirelessService& service, bool added);
    void publish();
    void poll();

    std::unique_ptr<ServiceBrowser> m_backend;
    bool m_started = false;
    QList<WirelessService> m_services;
    QHash<QString, WirelessService> m_bonjour;
    QHash<QString, WirelessService> m_fromADB;

    std::optional<ADB> m_pollADB;
    Task m_pollTask;
    QTimer m_pollTimer;
    // Bumped by setPolling, so that a poll of an earlier setting is dropped.
    uint64_t m_pollGeneration = 0;
};
