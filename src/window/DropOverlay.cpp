#include "DropOverlay.h"

#include "Glass.h"
#include "Look.h"
#include "Theme.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

DropOverlay::DropOverlay(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("dropOverlay"));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    const QColor accent = Theme::accent(Theme::isDark(palette()));

    auto* centre = new QVBoxLayout(this);
    // The card stays inside the dashed outline.
    const int inside = outlineInset + 2;
    centre->setContentsMargins(inside, inside, inside, inside);
    auto* card = m_card = new GlassSurface(GlassSurface::Shape::roundedRectangle, 18, false, this);
    auto* stack = new QVBoxLayout(card);
    stack->setContentsMargins(cardPadding, 16, cardPadding, 16);
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
    m_folder = folder;
    fit();
}

void DropOverlay::fit()
{
    // A long name is shortened in the middle, so the sentence keeps its
    // own words and the name both its ends.
    const QString before = QStringLiteral("Copy to “"), after = QStringLiteral("”");
    const QMargins around = layout()->contentsMargins();
    const int room = width() - around.left() - around.right() - 2 * cardPadding;
    const QFontMetrics metrics(m_text->font());
    QString name = m_folder;
    if (metrics.horizontalAdvance(before + name + after) > room)
        name = metrics.elidedText(m_folder, Qt::ElideMiddle,
                                  std::max(0, room - metrics.horizontalAdvance(before + after)));
    m_text->setText(before + name + after);
}

void DropOverlay::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fit();
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
    painter.drawRoundedRect(QRectF(rect()).adjusted(outlineInset + 1, outlineInset + 1, -outlineInset - 1, -outlineInset - 1), 13, 13);
}
