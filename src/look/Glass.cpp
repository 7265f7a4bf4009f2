#include "Glass.h"

#include "Look.h"
#include "Theme.h"

#include <QAbstractButton>
#include <QGraphicsDropShadowEffect>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {

constexpr qreal shadowBlur = 12;
constexpr qreal shadowDrop = 4;

// The soft shadow below the surface; it also draws the surface at the
// surface's opacity, shadow included.
class GlassShadow : public QGraphicsDropShadowEffect {
public:
    explicit GlassShadow(QObject* parent) : QGraphicsDropShadowEffect(parent)
    {
        setColor(QColor(0, 0, 0, qRound(0.12 * 255)));
        setBlurRadius(shadowBlur);
        setOffset(0, shadowDrop);
    }

    qreal opacity() const { return m_opacity; }
    void setOpacity(qreal opacity)
    {
        opacity = std::clamp(opacity, 0.0, 1.0);
        if (opacity == m_opacity)
            return;
        m_opacity = opacity;
        update();
    }

protected:
    void draw(QPainter* painter) override
    {
        if (m_opacity <= 0)
            return;
        painter->save();
        painter->setOpacity(painter->opacity() * m_opacity);
        QGraphicsDropShadowEffect::draw(painter);
        painter->restore();
    }

private:
    qreal m_opacity = 1.0;
};

} // namespace

GlassSurface::GlassSurface(Shape shape, qreal radius, bool interactive, QWidget* parent)
    : QWidget(parent), m_shape(shape), m_radius(radius), m_interactive(interactive)
{
    setAttribute(Qt::WA_TranslucentBackground);
    setGraphicsEffect(new GlassShadow(this));
}

QWidget* GlassSurface::shadowHolder() const
{
    return m_shadowBox ? m_shadowBox : const_cast<GlassSurface*>(this);
}

void GlassSurface::setOpacity(qreal opacity)
{
    if (auto* shadow = dynamic_cast<GlassShadow*>(shadowHolder()->graphicsEffect()))
        shadow->setOpacity(opacity);
}

qreal GlassSurface::opacity() const
{
    auto* shadow = dynamic_cast<GlassShadow*>(shadowHolder()->graphicsEffect());
    return shadow ? shadow->opacity() : 1.0;
}

void GlassSurface::castShadowFrom(QWidget* box)
{
    if (box == shadowHolder())
        return;
    const qreal opacity = this->opacity();
    setGraphicsEffect(nullptr);
    m_shadowBox = box;
    auto* shadow = new GlassShadow(box);
    shadow->setOpacity(opacity);
    box->setGraphicsEffect(shadow);
}


QPainterPath GlassSurface::outline(Shape shape, const QRectF& rect, qreal radius)
{
    QPainterPath path;
    switch (shape) {
    case Shape::capsule: {
        const qreal r = std::min(rect.width(), rect.height()) / 2;
        path.addRoundedRect(rect, r, r);
        break;
    }
    case Shape::circle: {
        const qreal d = std::min(rect.width(), rect.height());
        path.addEllipse(QRectF(rect.center().x() - d / 2, rect.center().y() - d / 2, d, d));
        break;
    }
    case Shape::roundedRectangle:
        path.addRoundedRect(rect, radius, radius);
        break;
    }
    return path;
}

void GlassSurface::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Inset by half the hairline so the stroke stays inside the widget.
    const QRectF area = QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25);
    paint(painter, outline(m_shape, area, m_radius), palette());
}

void GlassSurface::paint(QPainter& painter, const QPainterPath& path, const QPalette& palette)
{
    painter.save();
    QColor fill = palette.color(QPalette::Window);
    fill.setAlphaF(0.82f);
    painter.fillPath(path, fill);
    painter.setPen(QPen(QColor(255, 255, 255, qRound(0.12 * 255)), 0.5));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(path);
    painter.restore();
}

void glassButton(QAbstractButton* button, bool prominent)
{
    button->setProperty("glassProminent", prominent);
    if (!prominent) {
        button->setStyleSheet(QString());
        return;
    }
    const QColor accent = Theme::accent(Theme::isDark(button->palette()));
    button->setStyleSheet(QStringLiteral("QAbstractButton { background-color: %1; color: white; border: none;"
                                         " border-radius: 6px; padding: 4px 12px; }"
                                         "QAbstractButton:pressed { background-color: %2; }"
                                         "QAbstractButton:disabled { background-color: palette(mid); }")
                              .arg(accent.name(), accent.darker(120).name()));
}

AccentTile::AccentTile(const QString& symbol, int side, qreal radius, qreal fadedAlpha, QWidget* parent)
    : GlassSurface(Shape::roundedRectangle, radius, false, parent), m_symbol(symbol), m_fadedAlpha(fadedAlpha)
{
    setFixedSize(side, side);
}

void AccentTile::paintEvent(QPaintEvent* event)
{
    GlassSurface::paintEvent(event);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    QColor faded = accent;
    faded.setAlphaF(float(m_fadedAlpha));
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, accent);
    gradient.setColorAt(1, faded);
    painter.fillPath(outline(shape(), QRectF(rect()), radius()), gradient);
    const int size = 22;
    painter.drawPixmap(QRect((width() - size) / 2, (height() - size) / 2, size, size),
                       Look::symbol(m_symbol, size, Qt::white, devicePixelRatioF()));
}
