#include "WirelessDiscovery.h"

#include "ADBParsing.h"
#include "LocalNetwork.h"
#include "ServiceBrowser.h"

#include <QPointer>

#include <algorithm>
#include <chrono>

namespace {

constexpr std::chrono::seconds pollPeriod(1);

const QString pairingType = QStringLiteral("_adb-tls-pairing._tcp.");
const QString connectType = QStringLiteral("_adb-tls-connect._tcp.");

bool listOrder(const WirelessService& a, const WirelessService& b)
{
    if (a.kind != b.kind)
        return a.kind < b.kind;
    return adbparse::codePointLess(a.name, b.name);
}

} // namespace

// ---- WirelessService ---------------------------------------------------------

QString WirelessService::id() const
{
    return (kind == Kind::pairing ? QStringLiteral("pairing:") : QStringLiteral("connect:")) + name;
}

std::optional<QString> WirelessService::serial() const
{
    const QStringList pieces = name.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    if (pieces.size() < 3 || pieces.first() != QStringLiteral("adb"))
        return std::nullopt;
    return pieces.mid(1, pieces.size() - 2).join(QLatin1Char('-'));
}

size_t qHash(const WirelessService& service, size_t seed)
{
    return qHashMulti(seed, int(service.kind), service.name, service.address);
}

// ---- WirelessDiscovery ---------------------------------------------------------

// One browsed service type, reporting services of one kind. The backend keeps
// it in its handlers, so it holds the discovery weakly, like every callback
// into it.
struct WirelessDiscovery::BonjourBrowser {
    WirelessService::Kind kind;
    QPointer<WirelessDiscovery> discovery;

    void resolved(const ServiceBrowser::Resolved& resolved) const
    {
        if (!discovery)
            return;
        // Without an IPv4 address the service is not listed.
        const auto address = LocalNetwork::reachableIPv4(resolved.addresses);
        if (address)
            discovery->bonjourChanged(
                {kind, resolved.name, *address + QLatin1Char(':') + QString::number(resolved.port)}, true);
    }
    void removed(const QString& name) const
    {
        if (discovery)
            discovery->bonjourChanged({kind, name, {}}, false);
    }
};

WirelessDiscovery::WirelessDiscovery(QObject* parent) : WirelessDiscovery(nullptr, parent) {}

WirelessDiscovery::WirelessDiscovery(std::unique_ptr<ServiceBrowser> backend, QObject* parent)
    : QObject(parent), m_backend(std::move(backend))
{
    m_pollTimer.setSingleShot(true);
    QObject::connect(&m_pollTimer, &QTimer::timeout, this, &WirelessDiscovery::poll);
}

WirelessDiscovery::~WirelessDiscovery()
{
    // Ends the adb command a poll may be waiting for.
    m_pollTask.cancel();
}

void WirelessDiscovery::start()
{
    if (m_started)
        return;
    m_started = true;
    if (!m_backend)
        m_backend = ServiceBrowser::createSystem();
    for (auto [type, kind] : {std::pair{pairingType, WirelessService::Kind::pairing},
                              std::pair{connectType, WirelessService::Kind::connect}}) {
        const BonjourBrowser browser{kind, this};
        ServiceBrowser::Handlers handlers;
        handlers.resolved = [browser](const ServiceBrowser::Resolved& resolved) { browser.resolved(resolved); };
        handlers.removed = [browser](const QString& name) { browser.removed(name); };
        m_backend->browse(type, QStringLiteral("local."), std::move(handlers));
    }
}

void WirelessDiscovery::setPolling(const std::optional<ADB>& adb)
{
    m_pollTask.cancel();
    m_pollTask = Task();
    m_pollTimer.stop();
    ++m_pollGeneration;
    m_pollADB = adb;
    if (!adb) {
        m_fromADB.clear();
        publish();
        return;
    }
    poll();
}

void WirelessDiscovery::poll()
{
    if (!m_pollADB)
        return;
    const ADB adb = *m_pollADB;
    const uint64_t generation = m_pollGeneration;
    auto apply = [this, generation](std::vector<WirelessService> list) {
        // A poll of an earlier setting, finished after all: dropped.
        if (generation != m_pollGeneration)
            return;
        QHash<QString, WirelessService> fresh;
        for (WirelessService& service : list) {
            const QString id = service.id();
            if (!fresh.contains(id))
                fresh.insert(id, std::move(service));
        }
        m_fromADB = std::move(fresh);
        publish();
        // One period after each publish, not at a fixed rate.
        m_pollTimer.start(pollPeriod);
    };
    m_pollTask = Task::run(
        this, [adb](const Cancel& cancel) { return adb.mdnsServices(cancel); }, apply,
        [apply](const std::exception_ptr&) { apply({}); });
}

QList<WirelessService> WirelessDiscovery::pairing() const
{
    QList<WirelessService> result;
    for (const WirelessService& service : m_services) {
        if (service.kind == WirelessService::Kind::pairing)
            result << service;
    }
    return result;
}

QList<WirelessService> WirelessDiscovery::connect() const
{
    QList<WirelessService> result;
    for (const WirelessService& service : m_services) {
        if (service.kind == WirelessService::Kind::connect)
            result << service;
    }
    return result;
}

void WirelessDiscovery::bonjourChanged(const WirelessService& service, bool added)
{
    if (added)
        m_bonjour.insert(service.id(), service);
    else
        m_bonjour.remove(service.id());
    publish();
}

void WirelessDiscovery::publish()
{
    QHash<QString, WirelessService> merged = m_fromADB;
    for (auto it = m_bonjour.cbegin(); it != m_bonjour.cend(); ++it)
        merged.insert(it.key(), it.value()); // service discovery's address wins
    QList<WirelessService> list = merged.values();
    std::sort(list.begin(), list.end(), listOrder);
    if (list == m_services)
        return;
    m_services = std::move(list);
    Q_EMIT servicesChanged();
}
