#include "PairingHost.h"

#include "BrowserModel.h"

std::shared_ptr<PairingHost> PairingHost::of(BrowserModel& model)
{
    return std::make_shared<BrowserPairingHost>(model);
}

std::optional<ADB> BrowserPairingHost::adb() const
{
    return m_model.adb();
}

WirelessDiscovery& BrowserPairingHost::discovery() const
{
    return m_model.discovery();
}

QString BrowserPairingHost::name(const QString& serviceName) const
{
    return m_model.name(serviceName);
}

bool BrowserPairingHost::isConnected(const WirelessService& service) const
{
    return m_model.isConnected(service);
}

void BrowserPairingHost::rememberPaired(const QString& serial)
{
    m_model.rememberPaired(serial, std::nullopt);
}

ADB::PairResult BrowserPairingHost::pair(const ADB& adb, const QString& address, const QString& code,
                                         const Cancel& cancel)
{
    return adb.pair(address, code, cancel);
}

Task BrowserPairingHost::connectWireless(const QString& address, QObject* context,
                                         std::function<void(std::optional<Device>)> done,
                                         std::function<void(std::exception_ptr)> failed)
{
    return m_model.connectWireless(address, context, std::move(done), std::move(failed));
}

std::optional<Device> BrowserPairingHost::listed(const QString& serial) const
{
    for (const Device& device : m_model.devices()) {
        if (device.serial == serial)
            return device;
    }
    return std::nullopt;
}

QMetaObject::Connection BrowserPairingHost::onDevicesListed(QObject* context, std::function<void()> listed)
{
    return QObject::connect(&m_model, &BrowserModel::devicesListed, context, std::move(listed));
}

void BrowserPairingHost::choose(const QString& serial)
{
    m_model.setSelectedSerial(serial);
}
