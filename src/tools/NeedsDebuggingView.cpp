#include "NeedsDebuggingView.h"

#include "Accessibility.h"
#include "Look.h"

#include <QEvent>
#include <QLabel>
#include <QVBoxLayout>

NeedsDebuggingView::NeedsDebuggingView(const QString& symbol, const QString& feature, QWidget* parent)
    : QWidget(parent), m_symbol(symbol)
{
    setObjectName(QStringLiteral("needsDebugging"));
    setFocusPolicy(Qt::NoFocus);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 24, 24, 24);
    column->setSpacing(10);
    column->addStretch();

    m_icon = new QLabel(this);
    m_icon->setAlignment(Qt::AlignCenter);
    Accessibility::hide(m_icon);
    column->addWidget(m_icon);

    m_headline = new QLabel(QStringLiteral("No phone with USB debugging"), this);
    m_headline->setFont(Look::headline(font()));
    m_headline->setAlignment(Qt::AlignCenter);
    column->addWidget(m_headline);

    m_sentence = new QLabel(QStringLiteral("Connect a phone with USB debugging turned on to ") + feature +
                                QStringLiteral("."),
                            this);
    m_sentence->setAlignment(Qt::AlignCenter);
    m_sentence->setWordWrap(true);
    Look::setForeground(m_sentence, Look::secondary(palette()));
    column->addWidget(m_sentence);
    column->addStretch();

    for (QLabel* label : {m_icon, m_headline, m_sentence})
        label->setTextInteractionFlags(Qt::NoTextInteraction);
    paintSymbol();
}

QString NeedsDebuggingView::headline() const
{
    return m_headline->text();
}

QString NeedsDebuggingView::sentence() const
{
    return m_sentence->text();
}

void NeedsDebuggingView::paintSymbol()
{
    // Light symbols at 34 points, in the secondary colour.
    m_icon->setPixmap(Look::symbol(m_symbol, 34, Look::secondary(palette()), devicePixelRatioF()));
}

void NeedsDebuggingView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        Look::setForeground(m_sentence, Look::secondary(palette()));
        paintSymbol();
    }
}
