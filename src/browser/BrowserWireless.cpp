#include "BrowserModel.h"

#include "ADBError.h"

#include <QPointer>

#include <chrono>

namespace {

// One automatic attempt per address in this time, counted from its start.
constexpr std::chrono::seconds reconnectPause(60);
// How long the disconnect after a failed connection may take.
constexpr std::chrono::seconds dropLimit(10);

const QString connectSuffix = QStringLiteral("._adb-tls-connect._tcp");
const QString pairingSuffix = QStringLiteral("._adb-tls-pairing._tcp");

std::optional<QString> serialOfName(const QString& serviceName)
{
    WirelessService service;
    service.name = serviceName;
    return service.serial();
}

} // namespace

bool BrowserModel::isConnected(const WirelessService& service) const
{
    const QString mdnsName =
        service.name + (service.kind == WirelessService::Kind::connect ? connectSuffix : pairingSuffix);
    const std::optional<QString> serial = service.serial();
    for (const Device& device : m_devices) {
        if (device.serial == service.address || device.serial == mdnsName || (serial && device.serial == *serial))
            return true;
    }
    return false;
}

QString BrowserModel::name(const QString& serviceName) const
{
    const std::optional<QString> serial = serialOfName(serviceName);
    if (!serial) {
        // The service this application's own QR code makes the phone advertise.
        if (serviceName.startsWith(QStringLiteral("vantelorquist-")))
            return QStringLiteral("Android phone");
        return serviceName;
    }
    const QString stored = m_pairedPhones.value(*serial);
    if (!stored.isEmpty())
        return stored;
    for (const Device& device : m_devices) {
        if (device.serial == *serial)
            return device.model;
    }
    return QStringLiteral("Android phone (") + *serial + QLatin1Char(')');
}

Task BrowserModel::connectWireless(const QString& address, QObject* context,
                                   std::function<void(std::optional<Device>)> done,
                                   std::function<void(std::exception_ptr)> failed)
{
    QPointer<QObject> receiver(context);
    auto fail = [receiver, failed](const std::exception_ptr& error) {
        if (receiver)
            failed(error);
    };
    if (!m_adb) {
        // Answered like every other outcome: later, on the caller's thread.
        QMetaObject::invokeMethod(
            this, [fail] { fail(std::make_exception_ptr(ADBError::notFound())); }, Qt::QueuedConnection);
        return {};
    }

    // The connection shows its message only while no other job does, and
    // takes away only its own message: a job started meanwhile keeps its record.
    const Job shown{QStringLiteral("Connecting to ") + address + QStringLiteral("…"), std::nullopt, false};
    const bool showing = !m_job.has_value();
    if (showing)
        setJob(shown);
    auto clearJob = [this, shown, showing] {
        if (showing && m_job == shown)
            setJob(std::nullopt);
    };

    const std::shared_ptr<AdbSource> source = m_adbSource;
    const ADB adb = *m_adb;
    return Task::run(
        this, [source, adb, address](const Cancel& cancel) { source->connect(adb, address, cancel); },
        [this, address, receiver, done, clearJob] {
            m_disconnectedByUser.remove(address);
            refreshDevices([this, address, receiver, done, clearJob] {
                std::optional<Device> connected;
                for (const Device& device : std::as_const(m_devices)) {
                    if (device.serial == address) {
                        connected = device;
                        break;
                    }
                }
                if (connected)
                    setSelectedSerial(connected->serial);
                clearJob();
                if (receiver)
                    done(connected);
            });
        },
        [this, adb, address, clearJob, fail](const std::exception_ptr& error) {
            if (failureText(error) && !NoThreadError::matches(error))
                dropFailedConnection(adb, address);
            clearJob();
            fail(error);
        });
}

// adb keeps an address it failed to connect to as an offline phone that never
// comes up: the list would say "Connecting…" for good.
void BrowserModel::dropFailedConnection(const ADB& adb, const QString& address)
{
    const std::shared_ptr<AdbSource> source = m_adbSource;
    Task task = Task::run(
        this, [source, adb, address](const Cancel& cancel) { source->disconnect(adb, address, cancel); },
        [this] { refreshDevices(); }, [this](const std::exception_ptr&) { refreshDevices(); });
    m_clock->after(dropLimit, this, [task]() mutable { task.cancel(); });
}

void BrowserModel::disconnect(const Device& device)
{
    if (!m_adb)
        return;
    m_disconnectedByUser.insert(device.serial);
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const ADB adb = *m_adb;
    const QString serial = device.serial;
    Task::run(
        this,
        [source, adb, serial](const Cancel& cancel) {
            try {
                source->disconnect(adb, serial, cancel);
            } catch (const Cancelled&) {
                throw;
            } catch (...) {
                // Not reported; the list shows what happened.
            }
        },
        [this] { refreshDevices(); },
        [this, serial](const std::exception_ptr& error) {
            if (NoThreadError::matches(error)) {
                m_disconnectedByUser.remove(serial);
                setErrorMessage(failureText(error));
            }
            refreshDevices();
        });
}

void BrowserModel::autoReconnect()
{
    if (!m_autoReconnectWireless || !m_adb)
        return;
    const QList<WirelessService> services = m_discovery->connect();

    // A phone the user disconnected may come back by itself once its
    // address has stopped being advertised.
    QSet<QString> advertised;
    for (const WirelessService& service : services)
        advertised.insert(service.address);
    m_disconnectedByUser.intersect(advertised);

    const auto now = m_clock->now();
    for (const WirelessService& service : services) {
        const std::optional<QString> serial = service.serial();
        if (!serial || !m_pairedPhones.contains(*serial) || isConnected(service)
            || m_disconnectedByUser.contains(service.address))
            continue;
        const auto last = m_reconnectAttempts.constFind(service.address);
        if (last != m_reconnectAttempts.cend() && now - *last < reconnectPause)
            continue;
        // Stored before the attempt starts, so the many calls meanwhile start no second one.
        m_reconnectAttempts.insert(service.address, now);
        const std::shared_ptr<AdbSource> source = m_adbSource;
        const ADB adb = *m_adb;
        const QString address = service.address;
        Task::run(
            this,
            [source, adb, address](const Cancel& cancel) {
                try {
                    source->connect(adb, address, cancel);
                    return true;
                } catch (const Cancelled&) {
                    throw;
                } catch (...) {
                    // An automatic attempt fails quietly; the next comes a minute later.
                    return false;
                }
            },
            [this, adb, address](bool connected) {
                // Left as adb's offline entry, the phone would count as
                // connected and never be tried again.
                if (!connected)
                    dropFailedConnection(adb, address);
                else
                    refreshDevices();
            },
            [this](const std::exception_ptr& error) {
                if (NoThreadError::matches(error))
                    setErrorMessage(failureText(error));
            });
    }
}
