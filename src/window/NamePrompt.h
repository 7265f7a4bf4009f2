#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// An alert that asks for a name: a title, an optional message, a text field,
// and a confirming button beside Cancel. Either button dismisses it.
class NamePrompt : public QDialog {
    Q_OBJECT
public:
    NamePrompt(const QString& title, const QString& placeholder, const QString& confirmTitle, QWidget* parent = nullptr);

    void setMessage(const QString& message);
    QString message() const;
    void setText(const QString& text);
    QString text() const;
    QLineEdit* field() const { return m_field; }
    QPushButton* confirmButton() const { return m_confirm; }
    QPushButton* cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void confirmed(const QString& text);
    // After either button, or Escape.
    void dismissed();

private:
    QLabel* m_title;
    QLabel* m_message;
    QLineEdit* m_field;
    QPushButton* m_confirm;
    QPushButton* m_cancel;
};
