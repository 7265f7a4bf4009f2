#include "WirelessPairing.h"

#include "ADBError.h"
#include "BrowserModel.h"
#include "Error.h"
#include "SharedLibrary.h"

#include <QPainter>

#include <qrencode.h>
#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <vector>

namespace {

// libqrencode's functions, or nullptr where it cannot be opened. Opened when
// the first code is drawn, so a start that never pairs does not load it.
struct QrEncode {
    decltype(&::QRcode_encodeData) encodeData = nullptr;
    decltype(&::QRcode_free) free = nullptr;
    bool loaded = false;
};

const QrEncode* qrEncode()
{
    static const QrEncode table = [] {
        QrEncode t;
        SharedLibrary library("libqrencode.so.4");
        library.resolve(t.encodeData, "QRcode_encodeData");
        library.resolve(t.free, "QRcode_free");
        t.loaded = library.complete();
        return t;
    }();
    return table.loaded ? &table : nullptr;
}

// Lower-case letters without "l" and "o", and the digits 2 to 9: nothing
// that reads as another character.
constexpr char alphabet[] = "abcdefghijkmnpqrstuvwxyz23456789";
static_assert(sizeof alphabet - 1 == 32, "a draw takes the low five bits of a byte");

constexpr int searchRounds = 15;
// How many passes of the phone list may go by without the phone that adb
// listed to its connection before it counts as gone.
constexpr int passesToShowUp = 2;
constexpr std::chrono::seconds searchPause(1);
constexpr int modulePixels = 10;

const QString connectSuffix = QStringLiteral("._adb-tls-connect._tcp");
// What a cancellation that nobody here asked for is told as.
const QString stoppedUnasked = QStringLiteral("adb was stopped before it answered.");

// The host part of "host:port"; the whole text when there is no colon.
QString hostOf(const QString& address)
{
    const qsizetype colon = address.lastIndexOf(QLatin1Char(':'));
    return colon < 0 ? address : address.left(colon);
}

std::optional<QString> serialOf(const QString& guid)
{
    WirelessService service;
    service.name = guid;
    return service.serial();
}

// The sentence for a failed pairing; none for a cancellation.
std::optional<QString> pairingFailure(const std::exception_ptr& error, bool viaQR)
{
    try {
        std::rethrow_exception(error);
    } catch (const ADBError& adbError) {
        if (adbError.kind() != ADBError::Kind::pairing || !adbError.pairingFailure())
            return adbError.description();
        const PairingFailure& failure = *adbError.pairingFailure();
        switch (failure.kind()) {
        case PairingFailure::Kind::unreachable:
            return QStringLiteral("Couldn’t reach the phone at ") + failure.text()
                   + QStringLiteral(". Make sure the phone and this computer are on the same Wi-Fi network, then try again.");
        case PairingFailure::Kind::other:
            return QString(failure.text()).remove(QStringLiteral("Failed: "));
        case PairingFailure::Kind::rejected:
            return viaQR ? QStringLiteral("The phone dropped the pairing. Scan the code again; if it keeps failing, "
                                          "check that both are on the same Wi-Fi network (guest networks block this).")
                         : QStringLiteral("The phone turned the pairing down. Check the code, make sure both are on "
                                          "the same Wi-Fi network, then try again.");
        }
        return adbError.description();
    } catch (...) {
        return failureText(std::current_exception());
    }
}

} // namespace

WirelessPairing::WirelessPairing(std::shared_ptr<Clock> clock, QObject* parent)
    : QObject(parent),
      m_ownDiscovery(std::make_unique<WirelessDiscovery>()),
      m_discovery(m_ownDiscovery.get()),
      m_clock(clock ? std::move(clock) : Clock::system())
{
}

WirelessPairing::~WirelessPairing()
{
    // Nobody is left to hear the answer.
    cancelRun();
}

QString WirelessPairing::qrText() const
{
    return QStringLiteral("WIFI:T:ADB;S:") + m_serviceName + QStringLiteral(";P:") + m_password
           + QStringLiteral(";;");
}

// ---- codes ------------------------------------------------------------------------

QString WirelessPairing::random(int length)
{
    if (length <= 0)
        return {};
    std::vector<unsigned char> bytes(static_cast<size_t>(length));
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t n = ::getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SystemError::fromErrno(QStringLiteral("Couldn't read the system's random source"), errno);
        }
        filled += size_t(n);
    }
    QString text;
    text.reserve(length);
    for (unsigned char byte : bytes)
        text.append(QLatin1Char(alphabet[byte & 31]));
    return text;
}

QImage WirelessPairing::qrCode(const QString& text)
{
    const QrEncode* qr = qrEncode();
    if (!qr)
        return {};
    const QByteArray bytes = text.toUtf8();
    QRcode* code = qr->encodeData(int(bytes.size()), reinterpret_cast<const unsigned char*>(bytes.constData()), 0,
                                  QR_ECLEVEL_M);
    if (!code)
        return {};
    const int width = code->width;
    QImage image(width * modulePixels, width * modulePixels, QImage::Format_RGB32);
    if (image.isNull()) {
        qr->free(code);
        return {};
    }
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        for (int y = 0; y < width; ++y) {
            for (int x = 0; x < width; ++x) {
                // The lowest bit of a module is its colour; black is 1.
                if (code->data[y * width + x] & 1)
                    painter.fillRect(x * modulePixels, y * modulePixels, modulePixels, modulePixels, Qt::black);
            }
        }
    }
    qr->free(code);
    image.setDevicePixelRatio(2);
    return image;
}

void WirelessPairing::newCode()
{
    cancelRun();
    m_serviceName = QStringLiteral("vantelorquist-") + random(8);
    m_password = random(12);
    m_qrImage = qrCode(qrText());
    Q_EMIT qrImageChanged();
    m_triedAddress.reset();
    setPhase(Phase::waiting());
}

// ---- life ------------------------------------------------------------------------

void WirelessPairing::start(BrowserModel& model)
{
    start(PairingHost::of(model));
}

void WirelessPairing::start(std::shared_ptr<PairingHost> host)
{
    m_host = std::move(host);
    m_discovery = &m_host->discovery();
    m_ownDiscovery.reset();
    m_discovery->start();
    m_discovery->setPolling(m_host->adb());
    newCode();
    QObject::disconnect(m_watcher);
    // Queued: the model never runs inside the discovery's own update.
    m_watcher = QObject::connect(m_discovery, &WirelessDiscovery::servicesChanged, this,
                                 &WirelessPairing::servicesChanged, Qt::QueuedConnection);
    // The list as it stands now, delivered like a change.
    QMetaObject::invokeMethod(this, &WirelessPairing::servicesChanged, Qt::QueuedConnection);
}

void WirelessPairing::stop()
{
    cancelRun();
    QObject::disconnect(m_watcher);
    m_watcher = {};
    m_discovery->setPolling(std::nullopt);
}

// ---- the task slot ---------------------------------------------------------------

WirelessPairing::RunPtr WirelessPairing::startRun()
{
    cancelRun();
    m_task = std::make_shared<Run>();
    return m_task;
}

void WirelessPairing::cancelRun()
{
    endFollowing();
    if (!m_task)
        return;
    m_task->stop.request_stop();
    m_task->step.cancel();
    m_task.reset();
}

void WirelessPairing::finish(const RunPtr& run)
{
    // A replaced run that ends late leaves its successor's handle alone.
    if (m_task == run)
        m_task.reset();
}

void WirelessPairing::setPhase(const Phase& phase)
{
    if (phase == m_phase)
        return;
    m_phase = phase;
    Q_EMIT phaseChanged();
}

// ---- operations ------------------------------------------------------------------

void WirelessPairing::servicesChanged()
{
    // A queued delivery from before stop() is not a change to act on.
    if (!m_watcher || m_task || m_serviceName.isEmpty())
        return;
    std::optional<WirelessService> scanned;
    for (const WirelessService& service : m_discovery->pairing()) {
        if (service.name == m_serviceName) {
            scanned = service;
            break;
        }
    }
    if (!scanned || m_triedAddress == scanned->address)
        return;
    m_triedAddress = scanned->address;
    const RunPtr run = startRun();
    pairStep(run, scanned->address, m_password, true, [this, run](std::optional<ADB::PairResult> result) {
        if (result)
            connectAfterPairing(run, *result);
        else
            finish(run);
    });
}

void WirelessPairing::pair(const WirelessService& service, const QString& code)
{
    const RunPtr run = startRun();
    pairStep(run, service.address, code, false, [this, run](std::optional<ADB::PairResult> result) {
        if (result)
            connectAfterPairing(run, *result);
        else
            finish(run);
    });
}

void WirelessPairing::connect(const WirelessService& service)
{
    connectStep(startRun(), service.address, service.name);
}

void WirelessPairing::connectManually(const QString& address, const QString& pairingAddress, const QString& code)
{
    const RunPtr run = startRun();
    if (pairingAddress.isEmpty() || code.isEmpty()) {
        connectStep(run, address, std::nullopt);
        return;
    }
    pairStep(run, pairingAddress, code, false, [this, run, address](std::optional<ADB::PairResult> result) {
        if (!result)
            finish(run);
        else if (address.isEmpty())
            connectAfterPairing(run, *result);
        else
            connectStep(run, address, std::nullopt);
    });
}

// ---- steps -----------------------------------------------------------------------

void WirelessPairing::pairStep(const RunPtr& run, const QString& address, const QString& code, bool viaQR,
                               Paired then)
{
    const std::optional<ADB> adb = m_host ? m_host->adb() : std::nullopt;
    if (!adb) {
        setPhase(Phase::failed(QStringLiteral("adb isn’t installed.")));
        then(std::nullopt);
        return;
    }
    setPhase(Phase::pairing(address));
    const std::shared_ptr<PairingHost> host = m_host;
    run->step = Task::run(
        this, [host, adb, address, code](const Cancel& cancel) { return host->pair(*adb, address, code, cancel); },
        [this, run, host, then](ADB::PairResult result) {
            // The phone is paired whatever happened meanwhile; that is worth keeping.
            if (result.guid) {
                if (const std::optional<QString> serial = serialOf(*result.guid))
                    host->rememberPaired(*serial);
            }
            if (cancelled(run))
                return finish(run);
            then(result);
        },
        [this, run, viaQR, then](const std::exception_ptr& error) {
            if (cancelled(run))
                return finish(run);
            // A cancellation this run did not ask for ends it in words too.
            setPhase(Phase::failed(pairingFailure(error, viaQR).value_or(stoppedUnasked)));
            then(std::nullopt);
        });
}

void WirelessPairing::connectAfterPairing(const RunPtr& run, const ADB::PairResult& result)
{
    setPhase(Phase::connecting(result.guid && m_host ? m_host->name(*result.guid) : result.address));
    searchRound(run, result, hostOf(result.address), 0);
}

void WirelessPairing::searchRound(const RunPtr& run, const ADB::PairResult& result, const QString& host,
                                  int attempt)
{
    const QList<WirelessService> services = m_discovery->connect();
    const WirelessService* found = nullptr;
    if (result.guid) {
        for (const WirelessService& service : services) {
            if (service.name == *result.guid) {
                found = &service;
                break;
            }
        }
    }
    for (qsizetype i = 0; !found && i < services.size(); ++i) {
        if (hostOf(services[i].address) == host)
            found = &services[i];
    }
    if (found) {
        connectStep(run, found->address, result.guid);
        return;
    }
    m_clock->after(searchPause, this, [this, run, result, host, attempt] {
        if (cancelled(run))
            return finish(run);
        if (attempt + 1 < searchRounds) {
            searchRound(run, result, host, attempt + 1);
        } else if (result.guid) {
            // An mDNS name that adb resolves itself.
            connectStep(run, *result.guid + connectSuffix, result.guid);
        } else {
            setPhase(Phase::failed(QStringLiteral("Paired, but the phone didn’t show up on the network. Make sure "
                                                  "Wireless debugging is still on; it will appear under Pairing Code.")));
            finish(run);
        }
    });
}

void WirelessPairing::connectStep(const RunPtr& run, const QString& address, const std::optional<QString>& guid)
{
    if (!m_host)
        return finish(run);
    const std::shared_ptr<PairingHost> host = m_host;
    setPhase(Phase::connecting(guid ? host->name(*guid) : address));
    run->step = host->connectWireless(
        address, this,
        [this, run, host, address, guid](std::optional<Device> device) {
            if (cancelled(run))
                return finish(run);
            const QString name = guid ? host->name(*guid) : address;
            // Kept, not ready: the phone asks whether to allow debugging, and
            // becomes ready once the person taps Allow.
            if (device && device->state == QStringLiteral("unauthorized")) {
                const Phase asking = Phase::failed(
                    QStringLiteral("Allow USB debugging on your phone. Unlock ") + name
                    + QStringLiteral(" and tap Allow on the “Allow USB debugging?” prompt. Tick “Always allow from "
                                     "this computer” to skip this next time."));
                setPhase(asking);
                finish(run);
                return followUntilReady(host, device->serial, address, asking);
            }
            setPhase(Phase::done(device ? device->model : name));
            finish(run);
        },
        [this, run, address](const std::exception_ptr& error) {
            // A cancellation this run did not ask for ends it in words too.
            if (!cancelled(run))
                setPhase(Phase::failed(QStringLiteral("Couldn’t connect to ") + address + QStringLiteral(": ")
                                       + failureText(error).value_or(stoppedUnasked)));
            finish(run);
        });
}

void WirelessPairing::followUntilReady(const std::shared_ptr<PairingHost>& host, const QString& serial,
                                       const QString& address, const Phase& asking)
{
    // Only the entry that asked is followed: once it has left the list, the
    // address may be another phone's.
    // The browser's list may not show it yet (adb listed it to the connection);
    // one that the next passes don't show either has left.
    auto seen = std::make_shared<bool>(false);
    auto unseenPasses = std::make_shared<int>(0);
    auto check = [this, host, serial, address, asking, seen, unseenPasses](bool pass) {
        const std::optional<Device> device = host->listed(serial);
        if (!device && !*seen && (!pass || ++*unseenPasses < passesToShowUp))
            return;
        *seen = true;
        if (!device) {
            endFollowing();
            setPhase(Phase::failed(QStringLiteral("Couldn’t connect to ") + address
                                   + QStringLiteral(": the phone left before Allow was tapped. Make sure Wireless "
                                                    "debugging is still on, then connect again.")));
            return;
        }
        if (device->isReady()) {
            endFollowing();
            host->choose(serial);
            setPhase(Phase::done(device->model));
            return;
        }
        // Still followed while offline: it may come back and be allowed.
        if (device->state == QStringLiteral("offline"))
            setPhase(Phase::failed(QStringLiteral("Couldn’t connect to ") + address
                                   + QStringLiteral(": the phone doesn’t answer; adb lists it as offline.")));
        else
            setPhase(asking);
    };
    m_following = host->onDevicesListed(this, [check] { check(true); });
    check(false);
}

void WirelessPairing::endFollowing()
{
    QObject::disconnect(m_following);
    m_following = {};
}
