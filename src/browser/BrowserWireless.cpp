#include "BrowserModel.h"

#include "ADBError.h"

#include <QPointer>

#include <chrono>

namespace {

// One automatic attempt per address in this time, counted from its start.
constexpr std::chrono::seconds reconnectPause(60);
// How long removing what a failed or stopped connection left may take.
constexpr std::chrono::seconds dropLimit(10);
// How long an automatic attempt may hold its address.
constexpr std::chrono::seconds reconnectLimit(20);

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

// One connection attempt: queued behind any other for its address, then
// adb's answer, then (when it added an entry that is no phone) its clean-up.
struct BrowserModel::ConnectAttempt {
    // `stopped`: a Stop ended it once it ran; `notStarted`: a Stop came while
    // it waited for its turn, so nothing of it ran. Either is the caller's
    // cancellation unless a Disconnect of the address made it.
    enum class Result { ready, awaitingAllow, failed, stopped, notStarted };
    using Ended = std::function<void(Result, const std::optional<Device>&, std::exception_ptr)>;

    QString address;
    std::stop_source stop; // the caller's Stop, a Disconnect's or a bound's
    Task work;             // adb's run, once the turn has come
    bool started = false;
    bool answered = false;
    bool disconnected = false; // the person disconnected the address meanwhile
    Ended ended; // on the GUI thread, once
    std::optional<std::stop_callback<std::function<void()>>> onStop;

    void end(Result result, const std::optional<Device>& device = std::nullopt, std::exception_ptr error = {})
    {
        if (answered)
            return;
        answered = true;
        // Nobody who asked for this connection stopped it: that is told.
        if (disconnected && (result == Result::stopped || result == Result::notStarted)) {
            result = Result::failed;
            error = std::make_exception_ptr(ADBError::failed(QStringLiteral("it was disconnected meanwhile.")));
        }
        ended(result, device, error);
    }
};

// What the worker found: the serial adb's answer named (the address as
// written when it named none), whether it was listed before (unknown counts
// as listed, so nothing is removed), adb's failure, and its entry afterwards.
struct BrowserModel::ConnectOutcome {
    QString serial;
    bool listedBefore = true;
    bool cancelled = false; // by our own Stop only
    std::exception_ptr error;
    bool listedAfterKnown = false;
    std::optional<Device> listedAfter;
    std::exception_ptr listingError; // why the list afterwards couldn't be read
};

namespace {

// An address as adb reads it for "adb connect": the host as typed, the port
// as a number (5555 when none is given). adb lists it as "host:port", an IPv6
// host in brackets.
struct AdbAddress {
    QString host;
    int port = 5555;
    bool ipv6 = false;

    QString listed() const
    {
        const QString port = QLatin1Char(':') + QString::number(this->port);
        return ipv6 ? QLatin1Char('[') + host + QLatin1Char(']') + port : host + port;
    }
    friend bool operator==(const AdbAddress&, const AdbAddress&) = default;
};

// The port as adb reads it: spaces and a sign first, decimal digits, and
// whatever follows them ignored.
std::optional<int> adbPort(QStringView text)
{
    qsizetype at = 0;
    while (at < text.size() && QStringView(u" \t\n\v\f\r").contains(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-'))
        negative = text[at++] == u'-';
    qint64 value = 0;
    const qsizetype digits = at;
    while (at < text.size() && text[at] >= u'0' && text[at] <= u'9' && value <= 65535)
        value = value * 10 + (text[at++].unicode() - u'0');
    if (at == digits || negative || value < 1 || value > 65535)
        return std::nullopt;
    return int(value);
}

// None for what adb refuses or reads otherwise (a phone's service name).
std::optional<AdbAddress> adbAddress(const QString& text)
{
    if (text.contains(QLatin1StringView("._adb-")))
        return std::nullopt;
    AdbAddress address;
    std::optional<QStringView> port;
    const qsizetype colons = text.count(QLatin1Char(':'));
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1StringView("]:"));
        if (close < 0)
            return std::nullopt;
        address.host = text.mid(1, close - 1);
        address.ipv6 = true;
        port = QStringView(text).mid(text.lastIndexOf(QLatin1StringView("]:")) + 2);
    } else if (!text.contains(QLatin1Char('.')) && colons >= 2 && colons <= 7) {
        // A bare IPv6 address: its colons are its own.
        address.host = text;
        address.ipv6 = true;
    } else if (colons <= 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        address.host = text.left(colon);
        if (colon >= 0)
            port = QStringView(text).mid(colon + 1);
    } else {
        return std::nullopt;
    }
    if (address.host.isEmpty())
        return std::nullopt;
    if (port) {
        const std::optional<int> number = adbPort(*port);
        if (!number)
            return std::nullopt;
        address.port = *number;
    }
    return address;
}

// As adb lists an address; what it does not read as one stays as given.
QString listedAddress(const QString& address)
{
    const std::optional<AdbAddress> read = adbAddress(address);
    return read ? read->listed() : address;
}

// Whether adb's entry is the one for this address, however either is written.
bool sameAddress(const QString& serial, const QString& address)
{
    if (serial == address)
        return true;
    const std::optional<AdbAddress> listed = adbAddress(serial);
    return listed && listed == adbAddress(address);
}

template <class Devices>
std::optional<Device> entryFor(const Devices& devices, const QString& address)
{
    for (const Device& device : devices) {
        if (device.serial == address)
            return device;
    }
    for (const Device& device : devices) {
        if (sameAddress(device.serial, address))
            return device;
    }
    return std::nullopt;
}

// adb said it connected, yet the address is no phone: "already connected"
// to an entry that never came up.
std::exception_ptr notReady(const std::optional<Device>& listed)
{
    if (listed && listed->state == QStringLiteral("offline"))
        return std::make_exception_ptr(
            ADBError::failed(QStringLiteral("the phone doesn’t answer; adb lists it as offline.")));
    if (listed)
        return std::make_exception_ptr(
            ADBError::failed(QStringLiteral("adb lists it as “") + listed->state + QStringLiteral("”.")));
    return std::make_exception_ptr(ADBError::failed(QStringLiteral("adb doesn’t list it as a phone.")));
}

} // namespace

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

    auto attempt = std::make_shared<ConnectAttempt>();
    attempt->address = listedAddress(address);
    attempt->ended = [this, address = attempt->address, receiver, done, fail, clearJob](ConnectAttempt::Result result,
                                                                     const std::optional<Device>& listed,
                                                                     std::exception_ptr error) {
        using Result = ConnectAttempt::Result;
        if (result != Result::ready && result != Result::awaitingAllow) {
            clearJob();
            fail(result == Result::failed ? error : std::make_exception_ptr(Cancelled()));
            return;
        }
        m_disconnectedByUser.remove(address);
        refreshDevices([this, address, receiver, done, clearJob, listed] {
            // Under the serial adb named, which may be written otherwise.
            std::optional<Device> connected = entryFor(m_devices, listed ? listed->serial : address);
            // Only a ready phone takes the window; one waiting for Allow is
            // named as adb lists it when the list keeps it otherwise.
            if (connected && connected->isReady())
                setSelectedSerial(connected->serial);
            if (!connected && listed && !listed->isReady())
                connected = listed;
            clearJob();
            if (receiver)
                done(connected);
        });
    };
    queueAttempt(attempt);
    return Task::waitingOn(attempt->stop);
}

void BrowserModel::queueAttempt(const AttemptPtr& attempt)
{
    // A Stop may come on any thread; the attempt is ended on ours.
    QPointer<BrowserModel> self(this);
    std::weak_ptr<ConnectAttempt> weak = attempt;
    attempt->onStop.emplace(attempt->stop.get_token(), std::function<void()>([self, weak] {
                                if (self)
                                    QMetaObject::invokeMethod(
                                        self.data(),
                                        [self, weak] {
                                            if (const AttemptPtr stopped = weak.lock(); stopped && self)
                                                self->stopAttempt(stopped);
                                        },
                                        Qt::QueuedConnection);
                            }));
    QList<AttemptPtr>& queue = m_connectAttempts[attempt->address];
    queue.append(attempt);
    if (queue.size() == 1)
        beginAttempt(attempt);
}

void BrowserModel::stopAttempt(const AttemptPtr& attempt)
{
    if (attempt->started) {
        attempt->work.cancel();
        return;
    }
    // Still waiting for its turn: nothing ran, nothing to undo.
    auto it = m_connectAttempts.find(attempt->address);
    if (it != m_connectAttempts.end()) {
        it->removeOne(attempt);
        if (it->isEmpty())
            m_connectAttempts.erase(it);
    }
    attempt->end(ConnectAttempt::Result::notStarted);
}

void BrowserModel::beginAttempt(const AttemptPtr& attempt)
{
    attempt->started = true;
    if (attempt->stop.stop_requested()) {
        attempt->end(ConnectAttempt::Result::notStarted);
        return endTurn(attempt);
    }
    if (!m_adb) {
        attempt->end(ConnectAttempt::Result::failed, std::nullopt, std::make_exception_ptr(ADBError::notFound()));
        return endTurn(attempt);
    }
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const ADB adb = *m_adb;
    const QString address = attempt->address;
    attempt->work = Task::run(
        this,
        [source, adb, address](const Cancel& cancel) {
            // Only the attempt's own stop cancels; adb ended by someone
            // else's signal is a failure in words.
            const auto stoppedFromOutside = [] {
                return std::make_exception_ptr(
                    ADBError::failed(QStringLiteral("adb was stopped before it answered.")));
            };
            ConnectOutcome outcome;
            outcome.serial = address;
            std::optional<std::vector<Device>> before;
            try {
                before = source->devices(adb, cancel);
            } catch (const Cancelled&) {
                if (cancel.isCancelled())
                    throw; // nothing started
                // Unknown: whatever is listed afterwards may not be ours.
            } catch (...) {
                // Unknown, as above.
            }
            // adb's answer names the entry: it reads some addresses otherwise
            // than they are written, a failed connection's too.
            try {
                outcome.serial = source->connect(adb, address, cancel);
            } catch (const Cancelled&) {
                if (cancel.isCancelled()) {
                    outcome.cancelled = true;
                    outcome.listedBefore = !before || entryFor(*before, address).has_value();
                    return outcome;
                }
                outcome.error = stoppedFromOutside();
            } catch (const ADBError& error) {
                outcome.serial = ADB::connectionSerial(error.message()).value_or(address);
                outcome.error = std::current_exception();
            } catch (...) {
                outcome.error = std::current_exception();
            }
            outcome.listedBefore = !before || entryFor(*before, outcome.serial).has_value();
            // A listing ended from outside is asked once more: the phone
            // may well be connected.
            for (int tries = 0; tries < 2 && !outcome.listedAfterKnown; ++tries) {
                try {
                    outcome.listedAfter = entryFor(source->devices(adb, cancel), outcome.serial);
                    outcome.listedAfterKnown = true;
                } catch (const Cancelled&) {
                    outcome.cancelled = true;
                    return outcome;
                } catch (...) {
                    outcome.listingError = std::current_exception();
                }
            }
            return outcome;
        },
        [this, attempt](const ConnectOutcome& outcome) { attemptAnswered(attempt, outcome); },
        [this, attempt](const std::exception_ptr& error) {
            if (failureText(error))
                attempt->end(ConnectAttempt::Result::failed, std::nullopt, error);
            else
                attempt->end(ConnectAttempt::Result::stopped);
            endTurn(attempt);
        });
    // A Stop that came before the work had a handle reaches it now.
    if (attempt->stop.stop_requested())
        attempt->work.cancel();
}

void BrowserModel::attemptAnswered(const AttemptPtr& attempt, const ConnectOutcome& outcome)
{
    using Result = ConnectAttempt::Result;
    if (outcome.cancelled) {
        attempt->end(Result::stopped);
        // adb keeps the address it was asked for as an offline entry.
        if (!outcome.listedBefore)
            return removeLeftover(attempt, outcome.serial);
        return endTurn(attempt);
    }
    const std::optional<Device>& listed = outcome.listedAfter;
    if (listed && listed->isReady()) {
        attempt->end(Result::ready, listed);
        return endTurn(attempt);
    }
    if (listed && listed->state == QStringLiteral("unauthorized")) {
        attempt->end(Result::awaitingAllow, listed);
        return endTurn(attempt);
    }
    // adb may have connected although its list afterwards couldn't be read:
    // that failure is the one told, not a phone adb doesn't list.
    std::exception_ptr error = outcome.error;
    if (!error)
        error = outcome.listedAfterKnown ? notReady(listed) : outcome.listingError;
    attempt->end(Result::failed, listed, error ? error : notReady(listed));
    if (!outcome.listedBefore && (listed || !outcome.listedAfterKnown))
        return removeLeftover(attempt, outcome.serial);
    endTurn(attempt);
}

// Disconnects the entry this attempt added (under `address`, as adb named
// it), only while it is what adb leaves of a failed connection (offline):
// one that is a phone by now, waits for Allow or is being connected is
// someone's. Bounded: a hanging adb does not hold the address for good.
void BrowserModel::removeLeftover(const AttemptPtr& attempt, const QString& address)
{
    if (!m_adb || address.isEmpty())
        return endTurn(attempt);
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const ADB adb = *m_adb;
    Task task = Task::run(
        this,
        [source, adb, address](const Cancel& cancel) {
            const std::optional<Device> listed = entryFor(source->devices(adb, cancel), address);
            if (!listed || listed->state != QStringLiteral("offline"))
                return;
            source->disconnect(adb, listed->serial, cancel);
        },
        [this, attempt] {
            refreshDevices();
            endTurn(attempt);
        },
        [this, attempt](const std::exception_ptr&) {
            refreshDevices();
            endTurn(attempt);
        });
    m_clock->after(dropLimit, this, [task]() mutable { task.cancel(); });
}

void BrowserModel::endTurn(const AttemptPtr& attempt)
{
    auto it = m_connectAttempts.find(attempt->address);
    if (it == m_connectAttempts.end() || it->isEmpty() || it->first() != attempt)
        return;
    it->removeFirst();
    if (it->isEmpty()) {
        m_connectAttempts.erase(it);
        return;
    }
    beginAttempt(it->first());
}

void BrowserModel::disconnect(const Device& device)
{
    // adb takes an empty address for every phone.
    if (!m_adb || device.serial.isEmpty())
        return;
    m_disconnectedByUser.insert(device.serial);
    // An attempt on the address would connect it again right after.
    for (auto queue = m_connectAttempts.cbegin(); queue != m_connectAttempts.cend(); ++queue) {
        if (!sameAddress(device.serial, queue.key()))
            continue;
        for (const AttemptPtr& attempt : queue.value()) {
            attempt->disconnected = true;
            attempt->stop.request_stop();
        }
    }
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
        // Not while another attempt (the sheet's) has this address.
        if (!serial || !m_pairedPhones.contains(*serial) || isConnected(service)
            || m_disconnectedByUser.contains(service.address) || m_connectAttempts.contains(service.address))
            continue;
        const auto last = m_reconnectAttempts.constFind(service.address);
        if (last != m_reconnectAttempts.cend() && now - *last < reconnectPause)
            continue;
        // Stored before the attempt starts, so the many calls meanwhile start no second one.
        m_reconnectAttempts.insert(service.address, now);
        auto attempt = std::make_shared<ConnectAttempt>();
        attempt->address = service.address;
        // An automatic attempt fails quietly; the next comes a minute later.
        attempt->ended = [this](ConnectAttempt::Result result, const std::optional<Device>&, std::exception_ptr error) {
            if (result == ConnectAttempt::Result::failed && NoThreadError::matches(error))
                setErrorMessage(failureText(error));
            else
                refreshDevices();
        };
        queueAttempt(attempt);
        // Bounded: a hanging adb must not hold the address, and a Connect
        // the person asks for behind it, for good.
        m_clock->after(reconnectLimit, this, [weak = std::weak_ptr<ConnectAttempt>(attempt)] {
            if (const AttemptPtr running = weak.lock())
                running->stop.request_stop();
        });
    }
}
