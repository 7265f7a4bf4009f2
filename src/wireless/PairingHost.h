#pragma once

#include "ADB.h"
#include "Task.h"

#include <QMetaObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>
#include <optional>

class BrowserModel;
class QObject;
class WirelessDiscovery;

// What the pairing model asks of the browser model and of adb. The
// application hands over the browser model itself; tests script it.
class PairingHost {
public:
    virtual ~PairingHost() = default;

    virtual std::optional<ADB> adb() const = 0;
    virtual WirelessDiscovery& discovery() const = 0;
    // The display name for a phone's mDNS instance name.
    virtual QString name(const QString& serviceName) const = 0;
    virtual bool isConnected(const WirelessService& service) const = 0;
    // Records a freshly paired phone, keeping a name already known.
    virtual void rememberPaired(const QString& serial) = 0;
    // Blocks a worker thread: the adb server's pairing request.
    virtual ADB::PairResult pair(const ADB& adb, const QString& address, const QString& code,
                                 const Cancel& cancel) = 0;
    // Connects and chooses the phone; see BrowserModel::connectWireless.
    virtual Task connectWireless(const QString& address, QObject* context,
                                 std::function<void(std::optional<Device>)> done,
                                 std::function<void(std::exception_ptr)> failed) = 0;
    // The phone listed under this serial now, if any.
    virtual std::optional<Device> listed(const QString& serial) const = 0;
    // Calls `listed` on context's thread after each pass of the phone list,
    // whether or not the list changed, until the connection is broken or
    // context is gone.
    virtual QMetaObject::Connection onDevicesListed(QObject* context, std::function<void()> listed) = 0;
    // Makes the phone the chosen one, as a connection that finds it ready does.
    virtual void choose(const QString& serial) = 0;

    // The browser model and the real adb pairing.
    static std::shared_ptr<PairingHost> of(BrowserModel& model);
};

// The production host; tests derive from it to script adb's answers.
class BrowserPairingHost : public PairingHost {
public:
    explicit BrowserPairingHost(BrowserModel& model) : m_model(model) {}

    std::optional<ADB> adb() const override;
    WirelessDiscovery& discovery() const override;
    QString name(const QString& serviceName) const override;
    bool isConnected(const WirelessService& service) const override;
    void rememberPaired(const QString& serial) override;
    ADB::PairResult pair(const ADB& adb, const QString& address, const QString& code, const Cancel& cancel) override;
    Task connectWireless(const QString& address, QObject* context, std::function<void(std::optional<Device>)> done,
                         std::function<void(std::exception_ptr)> failed) override;
    std::optional<Device> listed(const QString& serial) const override;
    QMetaObject::Connection onDevicesListed(QObject* context, std::function<void()> listed) override;
    void choose(const QString& serial) override;

protected:
    BrowserModel& m_model;
};
