#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QLabel;
class QPushButton;

// A terminal command shown as selectable text, with a button that copies it
// and one that opens a terminal.
class CommandBox : public QWidget {
    Q_OBJECT
public:
    explicit CommandBox(const QString& command, QWidget* parent = nullptr);

    bool copied() const { return m_copied; }
    QPushButton* copyButton() const { return m_copy; }

    // How long "Copied" shows after a click.
    static constexpr int copiedMilliseconds = 1600;

    // Runs `done` once `milliseconds` have passed; a timer of the event loop
    // unless a test steps it by hand.
    using Later = std::function<void(int milliseconds, std::function<void()> done)>;
    void setLater(Later later);

private:
    void copy();
    void setCopied(bool copied);
    void openTerminal();

    QString m_command;
    QLabel* m_text;
    QPushButton* m_copy;
    QPushButton* m_terminal;
    bool m_copied = false;
    Later m_later;
};
