#pragma once

#include "ADB.h"
#include "Clock.h"
#include "PairingHost.h"
#include "WirelessDiscovery.h"

#include <QImage>
#include <QMetaObject>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <stop_token>

class BrowserModel;

// The model behind the "Connect over Wi-Fi" sheet: a QR code for the phone
// to scan, pairing with a typed code or address, then connecting through the
// browser model. One pairing or connection runs at a time; every outcome
// ends in `phase`. Lives on the GUI thread.
class WirelessPairing : public QObject {
    Q_OBJECT

public:
    // What the sheet shows.
    class Phase {
    public:
        enum class Kind { pairing, connecting, done, failed, waiting };

        Phase() = default; // waiting
        static Phase pairing(QString address) { return {Kind::pairing, std::move(address)}; }
        static Phase connecting(QString name) { return {Kind::connecting, std::move(name)}; }
        static Phase done(QString name) { return {Kind::done, std::move(name)}; }
        static Phase failed(QString message) { return {Kind::failed, std::move(message)}; }
        static Phase waiting() { return {}; }

        Kind kind() const { return m_kind; }
        // The address, name or sentence the case carries; empty for waiting.
        const QString& text() const { return m_text; }
        // Pairing or connecting: the sheet's controls wait.
        bool isBusy() const { return m_kind == Kind::pairing || m_kind == Kind::connecting; }

        friend bool operator==(const Phase&, const Phase&) = default;

    private:
        Phase(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}
        Kind m_kind = Kind::waiting;
        QString m_text;
    };

    // The one-second rounds of waiting for a paired phone go through `clock`.
    explicit WirelessPairing(std::shared_ptr<Clock> clock = nullptr, QObject* parent = nullptr);
    ~WirelessPairing() override;

    const Phase& phase() const { return m_phase; }
    // The current code's QR image; null until the first code.
    const QImage& qrImage() const { return m_qrImage; }
    // The browser model's discovery once started; an idle one before.
    WirelessDiscovery& discovery() const { return *m_discovery; }
    // What the QR code says: "WIFI:T:ADB;S:<service name>;P:<password>;;".
    QString qrText() const;
    const QString& serviceName() const { return m_serviceName; }
    const QString& password() const { return m_password; }

    // Shares the model's discovery with adb polling on, makes a code and
    // follows the service list.
    void start(BrowserModel& model);
    void start(std::shared_ptr<PairingHost> host);
    // Cancels the task, stops following the list and stops adb polling.
    void stop();
    // Cancels the task and shows a fresh code.
    void newCode();
    // Pairs with a listed pairing service using the typed code, then connects.
    void pair(const WirelessService& service, const QString& code);
    // Connects to a listed connect service.
    void connect(const WirelessService& service);
    using QObject::connect;
    // Pairs with pairingAddress first when it and code are both given, then
    // connects to address, or waits for the paired phone when address is empty.
    void connectManually(const QString& address, const QString& pairingAddress, const QString& code);

    // `length` characters drawn from the system's secure random source.
    static QString random(int length);
    // The QR code of the text's UTF-8 bytes at level M, 10 pixels a module,
    // shown at half its pixel size; null when it cannot be encoded.
    static QImage qrCode(const QString& text);

Q_SIGNALS:
    void phaseChanged();
    void qrImageChanged();

private:
    // The one pairing or connection under way. Its steps check their own
    // stop source, so a replaced or stopped run changes nothing after its
    // awaited step returns.
    struct Run {
        std::stop_source stop;
        Task step; // the awaited adb work, cancelled with the run
    };
    using RunPtr = std::shared_ptr<Run>;
    using Paired = std::function<void(std::optional<ADB::PairResult>)>;

    RunPtr startRun();
    void cancelRun();
    // Ends a run: clears the slot only while it still holds this run.
    void finish(const RunPtr& run);
    static bool cancelled(const RunPtr& run) { return run->stop.stop_requested(); }

    void servicesChanged();
    void pairStep(const RunPtr& run, const QString& address, const QString& code, bool viaQR, Paired then);
    void connectAfterPairing(const RunPtr& run, const ADB::PairResult& result);
    void searchRound(const RunPtr& run, const ADB::PairResult& result, const QString& host, int attempt);
    void connectStep(const RunPtr& run, const QString& address, const std::optional<QString>& guid);
    void setPhase(const Phase& phase);
    // A phone kept waiting for the person's Allow: the sheet ends connected,
    // and the phone is chosen, once adb lists that entry as ready; it says
    // so while the entry is offline, and once it has left the list (or when
    // the passes after the connection never show it).
    void followUntilReady(const std::shared_ptr<PairingHost>& host, const QString& serial, const QString& address,
                          const Phase& asking);
    void endFollowing();

    Phase m_phase;
    QImage m_qrImage;
    std::unique_ptr<WirelessDiscovery> m_ownDiscovery; // until start
    WirelessDiscovery* m_discovery;
    std::shared_ptr<PairingHost> m_host;
    std::shared_ptr<Clock> m_clock;
    QString m_serviceName;
    QString m_password;
    std::optional<QString> m_triedAddress;
    RunPtr m_task;
    QMetaObject::Connection m_watcher;
    QMetaObject::Connection m_following; // the phone list, while a phone waits for Allow
};
