#include "NamePrompt.h"

#include "Accessibility.h"
#include "Look.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

NamePrompt::NamePrompt(const QString& title, const QString& placeholder, const QString& confirmTitle, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(title);
    setWindowModality(Qt::WindowModal);
    setMinimumWidth(300);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 16);
    column->setSpacing(10);

    m_title = new QLabel(title, this);
    m_title->setFont(Look::headline(font()));
    m_title->setAlignment(Qt::AlignCenter);
    column->addWidget(m_title);
    m_message = new QLabel(this);
    // It names a phone folder: never markup.
    m_message->setTextFormat(Qt::PlainText);
    m_message->setWordWrap(true);
    m_message->setAlignment(Qt::AlignCenter);
    m_message->hide();
    column->addWidget(m_message);
    m_field = new QLineEdit(this);
    m_field->setPlaceholderText(placeholder);
    // A screen reader doesn't read a placeholder as the field's name.
    Accessibility::setName(m_field, placeholder, {});
    column->addWidget(m_field);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    m_cancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_confirm = new QPushButton(confirmTitle, this);
    m_confirm->setDefault(true);
    buttons->addWidget(m_cancel);
    buttons->addWidget(m_confirm);
    column->addLayout(buttons);

    connect(m_confirm, &QPushButton::clicked, this, [this] {
        Q_EMIT confirmed(m_field->text());
        accept();
    });
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(this, &QDialog::finished, this, &NamePrompt::dismissed);
}

void NamePrompt::setMessage(const QString& message)
{
    m_message->setText(message);
    m_message->setHidden(message.isEmpty());
}

QString NamePrompt::message() const
{
    return m_message->text();
}

void NamePrompt::setText(const QString& text)
{
    m_field->setText(text);
    m_field->selectAll();
}

QString NamePrompt::text() const
{
    return m_field->text();
}
