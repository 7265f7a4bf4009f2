#pragma once

#include <QAbstractButton>
#include <QHash>
#include <QPointer>
#include <QString>
#include <QWidget>

class ManualForm;
class QLabel;
class QLineEdit;
class QPropertyAnimation;
class QPushButton;
class QVBoxLayout;
struct WirelessService;
class WirelessConnectView;

// "Connect by IP address": a chevron that turns down while open, the title
// and, while closed, a hint.
class DisclosureButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit DisclosureButton(QWidget* parent = nullptr);

    void setExpanded(bool expanded);
    bool isExpanded() const { return m_expanded; }
    // 90 while expanded (pointing down), else 0.
    int chevronAngle() const { return m_expanded ? 90 : 0; }
    QString hint() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_expanded = false;
};

// The body of the sheet on "Pairing Code": phones offering pairing, each
// with "Pair" and a code entry under the chosen one; phones offering a
// connection with "Connect"; the manual form; the status line.
class CodePane : public QWidget {
    Q_OBJECT
public:
    explicit CodePane(WirelessConnectView& sheet);

    // Rows by service id; null when not listed.
    QWidget* row(const QString& id) const;
    QWidget* searching() const { return m_searching; }
    QWidget* pairedSection() const { return m_pairedSection; }
    QWidget* entry() const { return m_entry; }
    QLineEdit* codeField() const { return m_codeField; }
    QPushButton* entryPair() const { return m_entryPair; }
    QPushButton* entryBack() const { return m_entryBack; }
    QWidget* footStatus() const { return m_footStatus; }
    DisclosureButton* disclosure() const { return m_disclosure; }
    ManualForm* manualForm() const { return m_form; }

private:
    struct Row {
        QWidget* widget = nullptr;
        QLabel* name = nullptr;
        QLabel* subtitle = nullptr;
        QPushButton* button = nullptr; // "Pair" or "Connect"
        QWidget* mark = nullptr;       // "Pairing…", or the "Connected" label with its symbol
    };

    Row makeRow(const WirelessService& service);
    void refresh();
    void syncRows(QHash<QString, Row>& rows, const QList<WirelessService>& services, QVBoxLayout* list);
    void toggleManual();
    void showManualForm(bool show);

    WirelessConnectView& m_sheet;
    QHash<QString, Row> m_pairRows;
    QHash<QString, Row> m_connectRows;
    QVBoxLayout* m_pairList;
    QVBoxLayout* m_connectList;
    QWidget* m_searching;
    QWidget* m_pairedSection;
    QWidget* m_entry;
    QLabel* m_entryPrompt;
    QLineEdit* m_codeField;
    QPushButton* m_entryPair;
    QPushButton* m_entryBack;
    QWidget* m_footStatus;
    DisclosureButton* m_disclosure;
    ManualForm* m_form;
    QPointer<QPropertyAnimation> m_formFade;
};
