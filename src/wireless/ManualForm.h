#pragma once

#include <QWidget>

class QLineEdit;
class QPushButton;
class WirelessConnectView;

// Connecting by typed address, with an optional pairing address and code
// for a phone that was never paired. The texts live in the sheet.
class ManualForm : public QWidget {
    Q_OBJECT
public:
    explicit ManualForm(WirelessConnectView& sheet, QWidget* parent = nullptr);

    QLineEdit* addressField() const { return m_address; }
    QLineEdit* pairingAddressField() const { return m_pairingAddress; }
    QLineEdit* codeField() const { return m_code; }
    QPushButton* connectButton() const { return m_connect; }

    // Blanks and tabs removed from both ends; line breaks stay.
    static QString trimmed(const QString& text);

private:
    void update();
    void submit();

    WirelessConnectView& m_sheet;
    QLineEdit* m_address;
    QLineEdit* m_pairingAddress;
    QLineEdit* m_code;
    QPushButton* m_connect;
};
