#include "Spinner.h"

#include "Look.h"

#include <QPainter>
#include <QTimerEvent>

Spinner::Spinner(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
}

void Spinner::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    QColor track = Look::tertiary(palette());
    track.setAlphaF(track.alphaF() * 0.5f);
    painter.setPen(QPen(track, 2));
    painter.drawEllipse(area);
    painter.setPen(QPen(Look::secondary(palette()), 2, Qt::SolidLine, Qt::RoundCap));
    // Qt angles are sixteenths of a degree, counter-clockwise.
    painter.drawArc(area, -m_step * 30 * 16, 100 * 16);
}

void Spinner::showEvent(QShowEvent* event)
{
    m_timer.start(80, this);
    QWidget::showEvent(event);
}

void Spinner::hideEvent(QHideEvent* event)
{
    m_timer.stop();
    QWidget::hideEvent(event);
}

void Spinner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != m_timer.timerId()) {
        QWidget::timerEvent(event);
        return;
    }
    m_step = (m_step + 1) % 12;
    update();
}
