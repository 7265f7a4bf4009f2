#pragma once

#include <QString>
#include <QWidget>

class QLabel;

// What a phone tool window shows without a phone ready over adb: a symbol,
// "No phone with USB debugging" and what the window would do with one. It
// only draws.
class NeedsDebuggingView : public QWidget {
    Q_OBJECT
public:
    // `feature` ends the sentence "Connect a phone with USB debugging turned on to …".
    NeedsDebuggingView(const QString& symbol, const QString& feature, QWidget* parent = nullptr);

    const QString& symbol() const { return m_symbol; }
    QString headline() const;
    QString sentence() const;

protected:
    void changeEvent(QEvent* event) override;

private:
    void paintSymbol();

    QString m_symbol;
    QLabel* m_icon;
    QLabel* m_headline;
    QLabel* m_sentence;
};
