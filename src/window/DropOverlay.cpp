#include "DropOverlay.h"

#include "Glass.h"
#include "Look.h"
#include "Theme.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

DropOverlay::DropOverlay(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("dropOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QColor accent = Theme::accent(Theme::isDark(palette()));

    auto* centre = new QVBoxLayout(this);
    auto* card = m_card = new GlassSurface(GlassSurface::Shape::roundedRectangle, 18, false, this);
    auto* stack = new QVBoxLayout(card);
    stack->setContentsMargins(22, 16, 22, 16);
    stack->setSpacing(8);
    auto* symbol = new QLabel(card);
    symbol->setPixmap(Look::symbol(QStringLiteral("arrow.down.to.line"), 28, accent, devicePixelRatioF()));
    symbol->setAlignment(Qt::AlignCenter);
    stack->addWidget(symbol);
    m_text = new QLabel(card);
    m_text->setFont(Look::headline(font()));
    // A folder name that looks like markup stays text.
    m_text->setTextFormat(Qt::PlainText);
    m_text->setAlignment(Qt::AlignCenter);
    stack->addWidget(m_text);
    centre->addWidget(card, 0, Qt::AlignCenter);
}

void DropOverlay::setFolder(const QString& folder)
{
    m_text->setText(QStringLiteral("Copy to “") + folder + QStringLiteral("”"));
}

void DropOverlay::setOpacity(qreal opacity)
{
    if (opacity == m_opacity)
        return;
    m_opacity = opacity;
    m_card->setOpacity(opacity);
    update();
}

QString DropOverlay::text() const
{
    return m_text->text();
}

void DropOverlay::paintEvent(QPaintEvent*)
{
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(m_opacity);
    QColor wash = accent;
    wash.setAlphaF(0.08f);
    painter.fillRect(rect(), wash);

    // A dashed outline 2 wide, inside a rectangle inset by 10.
    QPen dashes(accent, 2);
    dashes.setCapStyle(Qt::FlatCap);
    dashes.setJoinStyle(Qt::MiterJoin);
    dashes.setDashPattern({8.0 / 2, 6.0 / 2}); // in pen widths
    painter.setPen(dashes);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(rect()).adjusted(11, 11, -11, -11), 13, 13);
}
