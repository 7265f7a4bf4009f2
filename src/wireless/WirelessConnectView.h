#pragma once

#include "Clock.h"
#include "PairingHost.h"
#include "WirelessPairing.h"

#include <QDialog>
#include <QString>

#include <memory>
#include <optional>

class BrowserModel;
class CodePane;
class QAbstractButton;
class QLabel;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;
class QrPane;

// The "Connect over Wi-Fi" sheet: a header, the method picker with the QR
// and pairing-code panes, or the connected pane once a phone is connected,
// and a footer. Each presentation is a new dialog with its own pairing model
// and view state; the model runs while the dialog is shown.
class WirelessConnectView : public QDialog {
    Q_OBJECT

public:
    enum class Method { qr, code };
    // "QR Code" and "Pairing Code"; only those texts name a method.
    static QString methodText(Method method);
    static std::optional<Method> methodFromText(const QString& text);

    // What the sheet reaches outside itself; empty members get the real ones.
    struct Seams {
        std::shared_ptr<Clock> clock;       // the 1-second rounds and the 2.5-second close
        std::shared_ptr<PairingHost> host;  // the browser model and adb pairing
    };

    explicit WirelessConnectView(BrowserModel& model, QWidget* parent = nullptr, Seams seams = {});
    ~WirelessConnectView() override;

    BrowserModel& model() const { return m_model; }
    WirelessPairing& pairing() const { return *m_pairing; }
    const PairingHost& host() const { return *m_host; }

    // ---- the view state the panes share -------------------------------------
    Method method() const { return m_method; }
    void setMethod(Method method);
    // The id of the pairing service whose code entry is open.
    const std::optional<QString>& pairingTarget() const { return m_pairingTarget; }
    void setPairingTarget(const std::optional<QString>& target);
    const QString& code() const { return m_code; }
    // Stores the value filtered to at most six numeric characters.
    void setCode(const QString& code);
    bool showManual() const { return m_showManual; }
    void setShowManual(bool show);
    const QString& address() const { return m_address; }
    void setAddress(const QString& text);
    const QString& pairingAddress() const { return m_pairingAddress; }
    void setPairingAddress(const QString& text);
    const QString& manualCode() const { return m_manualCode; }
    void setManualCode(const QString& text);

    // The status line for the current phase, kept current by itself; the
    // searching text shows while waiting (none: nothing shows).
    QWidget* status(const std::optional<QString>& searching, QWidget* parent);

    // The numeric characters of text (by grapheme cluster), the first six.
    static QString filteredCode(const QString& text);
    // Characters as the filter counts them (grapheme clusters).
    static int codeLength(const QString& code);
    // A code that can be sent: exactly six of those characters.
    static bool isCompleteCode(const QString& code) { return codeLength(code) == 6; }

Q_SIGNALS:
    // Any member of the view state changed.
    void stateChanged();

public Q_SLOTS:
    void done(int result) override;

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void phaseChanged();
    void showBody();
    void stopOnce();
    QWidget* connectedPane();

    BrowserModel& m_model;
    std::shared_ptr<Clock> m_clock;
    std::shared_ptr<PairingHost> m_host;
    WirelessPairing* m_pairing;

    Method m_method = Method::qr;
    std::optional<QString> m_pairingTarget;
    QString m_code;
    bool m_showManual = false;
    QString m_address;
    QString m_pairingAddress;
    QString m_manualCode;

    bool m_started = false;
    bool m_stopped = false;
    bool m_closed = false;
    bool m_fitting = false;

    QWidget* m_picker = nullptr;
    QAbstractButton* m_qrButton = nullptr;
    QAbstractButton* m_codeButton = nullptr;
    QStackedWidget* m_panes = nullptr;
    QrPane* m_qrPane = nullptr;
    CodePane* m_codePane = nullptr;
    QWidget* m_connected = nullptr;
    QLabel* m_connectedText = nullptr;
    QWidget* m_adbWarning = nullptr;
    QPushButton* m_cancel = nullptr;
    QPushButton* m_done = nullptr;
};
