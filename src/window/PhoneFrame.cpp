#include "PhoneFrame.h"

#include "Accessibility.h"
#include "Look.h"
#include "Theme.h"

#include <QGraphicsDropShadowEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

PhoneFrame::PhoneFrame(const QString& placeholderSymbol, int width, QWidget* parent)
    : QWidget(parent), m_symbol(placeholderSymbol), m_width(width)
{
    const Geometry shape = geometry(width);
    setFixedSize(shape.size.toSize());
    Accessibility::hide(this);
    auto* shadow = new QGraphicsDropShadowEffect(this);
    shadow->setColor(QColor(0, 0, 0, qRound(0.18 * 255)));
    shadow->setBlurRadius(10);
    shadow->setOffset(0, 6);
    setGraphicsEffect(shadow);
}

PhoneFrame::Geometry PhoneFrame::geometry(qreal width)
{
    Geometry shape;
    shape.size = QSizeF(width, 2.05 * width);
    shape.cornerRadius = 0.2 * width;
    shape.screen = QRectF(4, 4, width - 8, shape.size.height() - 8);
    shape.screenRadius = shape.cornerRadius - 4;
    shape.cameraDiameter = 0.06 * width;
    shape.cameraCentre = QPointF(width / 2, 0.09 * width);
    return shape;
}

void PhoneFrame::paintEvent(QPaintEvent*)
{
    const Geometry shape = geometry(m_width);
    const bool dark = Theme::isDark(palette());
    const QColor accent = Theme::accent(dark);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF body(QPointF(0, 0), shape.size);
    QPainterPath outline;
    outline.addRoundedRect(body, shape.cornerRadius, shape.cornerRadius);
    painter.fillPath(outline, Theme::phoneBody(dark));

    // The rim runs along the inside of the edge.
    QPainterPath rim;
    rim.addRoundedRect(body.adjusted(0.5, 0.5, -0.5, -0.5), shape.cornerRadius - 0.5, shape.cornerRadius - 0.5);
    painter.setPen(QPen(QColor(255, 255, 255, qRound(0.12 * 255)), 1));
    painter.drawPath(rim);

    QPainterPath screen;
    screen.addRoundedRect(shape.screen, shape.screenRadius, shape.screenRadius);
    QLinearGradient gradient(shape.screen.topLeft(), shape.screen.bottomLeft());
    QColor top = accent;
    top.setAlphaF(0.55f);
    QColor bottom = accent;
    bottom.setAlphaF(0.18f);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.fillPath(screen, gradient);

    const int symbolSize = qRound(0.26 * m_width);
    const QPixmap symbol =
        Look::symbol(m_symbol, symbolSize, QColor(255, 255, 255, qRound(0.85 * 255)), devicePixelRatioF());
    const QPointF centre = shape.screen.center();
    painter.drawPixmap(QPointF(centre.x() - symbolSize / 2.0, centre.y() - symbolSize / 2.0), symbol);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const qreal r = shape.cameraDiameter / 2;
    painter.drawEllipse(shape.cameraCentre, r, r);
}
