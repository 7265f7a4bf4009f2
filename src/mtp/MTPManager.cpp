#include "MTPManager.h"

#include "LibusbHost.h"

#include <unordered_set>

MTPManager::MTPManager(std::shared_ptr<UsbHost> host) : m_host(std::move(host)) {}

MTPManager::~MTPManager()
{
    closeAll();
}

MTPManager& MTPManager::shared()
{
    // Never destroyed: connections may still be closing while the process ends.
    static MTPManager* manager = new MTPManager(std::make_shared<LibusbHost>());
    return *manager;
}

std::vector<MTPManager::Found> MTPManager::scan()
{
    std::vector<Found> found;
    for (const UsbInterfaceRecord& record : m_host->interfaces()) {
        // The interface's own name decides, whatever its class codes say.
        if (!record.name || *record.name != QStringLiteral("MTP"))
            continue;
        Found item{record.registryID, QString::number(record.registryID), QStringLiteral("Android phone"),
                   record.busNumber, record.deviceAddress};
        if (record.serial && !record.serial->isEmpty())
            item.serial = *record.serial;
        if (record.product && !record.product->isEmpty())
            item.name = QString(*record.product).replace(QLatin1Char('_'), QLatin1Char(' '));
        found.push_back(std::move(item));
    }
    return found;
}

std::vector<std::shared_ptr<MTPConnection>> MTPManager::update(const std::vector<Found>& found,
                                                              const QSet<QString>& skipping)
{
    std::lock_guard lock(m_lock);
    std::unordered_set<uint64_t> seen;
    for (const Found& item : found)
        seen.insert(item.registryID);
    for (auto it = m_connections.begin(); it != m_connections.end();) {
        if (seen.count(it->first)) {
            ++it;
            continue;
        }
        it->second->close(); // the interface vanished
        it = m_connections.erase(it);
    }
    std::vector<std::shared_ptr<MTPConnection>> live;
    for (const Found& item : found) {
        if (skipping.contains(item.serial)) {
            auto it = m_connections.find(item.registryID);
            if (it != m_connections.end()) {
                it->second->close();
                m_connections.erase(it);
            }
            continue;
        }
        auto connection = m_connections.find(item.registryID);
        if (connection == m_connections.end()) {
            // Made before it is entered: a connection that cannot start (no
            // thread for its queue) leaves no empty entry behind.
            auto made = std::make_shared<MTPConnection>(m_host, item.registryID, item.serial, item.name);
            connection = m_connections.emplace(item.registryID, std::move(made)).first;
        }
        live.push_back(connection->second);
    }
    return live;
}

std::vector<Device> MTPManager::devices(const QSet<QString>& skipping, const Cancel& cancel)
{
    const auto connections = update(scan(), skipping);
    std::vector<Device> devices;
    for (const auto& connection : connections) {
        if (cancel.isCancelled())
            return {};
        connection->check();
        QString state;
        switch (connection->status()) {
        case MTPConnection::Status::connecting: state = QStringLiteral("offline"); break;
        case MTPConnection::Status::ready: state = QStringLiteral("device"); break;
        case MTPConnection::Status::locked: state = QStringLiteral("locked"); break;
        case MTPConnection::Status::busy: state = QStringLiteral("busy"); break;
        }
        devices.push_back(Device{connection->serial(), state, connection->name(), Device::Transport::mtp});
    }
    return devices;
}

std::shared_ptr<MTPConnection> MTPManager::connection(const QString& serial)
{
    std::lock_guard lock(m_lock);
    for (const auto& [id, connection] : m_connections) {
        if (connection->serial() == serial && connection->status() == MTPConnection::Status::ready)
            return connection;
    }
    return nullptr;
}

QString MTPManager::deviceNode(const QString& serial)
{
    for (const Found& item : scan()) {
        if (item.serial == serial && item.bus && item.address)
            return QStringLiteral("/dev/bus/usb/%1/%2")
                .arg(*item.bus, 3, 10, QLatin1Char('0'))
                .arg(*item.address, 3, 10, QLatin1Char('0'));
    }
    return {};
}

void MTPManager::closeAll(std::chrono::milliseconds limit)
{
    std::map<uint64_t, std::shared_ptr<MTPConnection>> taken;
    {
        std::lock_guard lock(m_lock);
        taken.swap(m_connections);
    }
    std::vector<std::shared_future<void>> closing;
    for (const auto& [id, connection] : taken)
        closing.push_back(connection->close());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (const auto& closed : closing)
        closed.wait_until(deadline);
}
