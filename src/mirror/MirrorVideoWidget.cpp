#include "MirrorVideoWidget.h"

#include "MirrorVideoSurface.h"

#include <QPainter>
#include <QPainterPath>

MirrorVideoWidget::MirrorVideoWidget(MirrorVideoSurface& surface, QWidget* parent)
    : QWidget(parent), m_surface(surface)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Called on the video thread; the surface asks again only after a paint
    // has taken the picture, so at most one repaint is ever queued.
    m_surface.setRepaintRequest([this] { QMetaObject::invokeMethod(this, [this] { update(); }, Qt::QueuedConnection); });
    m_redraw.setSingleShot(true);
    m_redraw.setInterval(120);
    connect(&m_redraw, &QTimer::timeout, this, [this] { m_surface.redraw(); });
    updateViewSize();
}

MirrorVideoWidget::~MirrorVideoWidget()
{
    m_surface.setRepaintRequest({});
}

void MirrorVideoWidget::setCornerRadius(qreal radius)
{
    if (radius == m_cornerRadius)
        return;
    m_cornerRadius = radius;
    // Rounded corners leave the parent's background showing behind them.
    setAttribute(Qt::WA_OpaquePaintEvent, radius <= 0);
    update();
}

void MirrorVideoWidget::updateViewSize()
{
    const QSize view = (QSizeF(size()) * devicePixelRatioF()).toSize();
    if (view == m_viewSize)
        return;
    m_viewSize = view;
    m_surface.setViewSize(view);
    m_redraw.start();
}

void MirrorVideoWidget::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    updateViewSize();
}

void MirrorVideoWidget::paintEvent(QPaintEvent*)
{
    updateViewSize(); // the device-pixel ratio may have changed with the screen
    const MirrorVideoSurface::Picture picture = m_surface.takePicture();
    QPainter painter(this);
    if (m_cornerRadius > 0) {
        QPainterPath clip;
        clip.addRoundedRect(QRectF(rect()), m_cornerRadius, m_cornerRadius);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipPath(clip);
    }
    painter.fillRect(rect(), Qt::black);
    if (picture.image.isNull())
        return;
    // The picture was converted for the device-pixel size the widget had
    // then; after a resize it is stretched until it is converted again.
    const qreal ratio = devicePixelRatioF();
    const QRect target = MirrorVideoSurface::fitted(picture.videoSize, (QSizeF(size()) * ratio).toSize());
    const QRectF logical(target.x() / ratio, target.y() / ratio, target.width() / ratio, target.height() / ratio);
    painter.drawImage(logical, picture.image);
}
