#include "EmptyStateView.h"

#include "CommandBox.h"
#include "Look.h"
#include "PhoneFrame.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace {
constexpr int textWidth = 380;
constexpr int commandWidth = 440;
} // namespace

EmptyStateView::EmptyStateView(const QString& symbol, const QString& title, const QString& detail,
                               const std::optional<QString>& command, QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("emptyState"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(40, 40, 40, 40);
    column->setSpacing(14);
    column->addStretch();

    m_frame = new PhoneFrame(symbol, 80, this);
    column->addWidget(m_frame, 0, Qt::AlignHCenter);
    column->addSpacing(6);

    m_title = new QLabel(title, this);
    m_title->setObjectName(QStringLiteral("title"));
    m_title->setFont(Look::title2(font()));
    // Phone names are shown as they are.
    m_title->setTextFormat(Qt::PlainText);
    m_title->setAlignment(Qt::AlignCenter);
    m_title->setWordWrap(true);
    // Wrapped labels take the width they are given, not a guess of their own.
    m_title->setFixedWidth(textWidth);
    m_title->setMinimumHeight(m_title->heightForWidth(textWidth));
    column->addWidget(m_title, 0, Qt::AlignHCenter);

    m_detail = new QLabel(detail, this);
    m_detail->setObjectName(QStringLiteral("detail"));
    m_detail->setTextFormat(Qt::PlainText);
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setWordWrap(true);
    m_detail->setFixedWidth(textWidth);
    m_detail->setMinimumHeight(m_detail->heightForWidth(textWidth));
    Look::setForeground(m_detail, Look::secondary(palette()));
    column->addWidget(m_detail, 0, Qt::AlignHCenter);

    if (command) {
        column->addSpacing(4);
        m_commandBox = new CommandBox(*command, this);
        // As wide as there is room for, up to its limit, and centred.
        m_commandBox->setMaximumWidth(commandWidth);
        auto* row = new QHBoxLayout;
        row->addStretch();
        row->addWidget(m_commandBox, 1);
        row->addStretch();
        column->addLayout(row);
    }
    column->addStretch();
}

QString EmptyStateView::title() const
{
    return m_title->text();
}

QString EmptyStateView::detail() const
{
    return m_detail->text();
}

void EmptyStateView::setDetail(const QString& detail)
{
    m_detail->setText(detail);
    m_detail->setMinimumHeight(m_detail->heightForWidth(m_detail->width()));
}
