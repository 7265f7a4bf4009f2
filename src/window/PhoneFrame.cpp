#include "PhoneFrame.h"

#include "Accessibility.h"
#include "DrawnAhead.h"
#include "Look.h"
#include "Theme.h"

#include <QGraphicsEffect>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr qreal shadowReach = 10;
constexpr QPointF shadowOffset(0, 6);
constexpr qreal shadowAlpha = 0.18;

// Draws the frame, shadow and all, from its picture drawn once: a widget
// drop shadow would grab the frame and blur it again at every repaint.
class FrameEffect final : public QGraphicsEffect {
public:
    explicit FrameEffect(PhoneFrame* frame) : QGraphicsEffect(frame), m_frame(frame) {}

    QRectF boundingRectFor(const QRectF& rect) const override { return PhoneFrame::withShadow(rect); }

protected:
    void draw(QPainter* painter) override { m_frame->paintFrame(*painter); }

private:
    PhoneFrame* m_frame;
};

// One pass of a box blur `reach` pixels either side, along rows (step 1) or
// columns (step = the row's length), over `count` lines of `length` values.
void boxBlur(std::vector<float>& values, int length, int count, int step, int lineStep, int reach)
{
    std::vector<float> line(static_cast<size_t>(length));
    const float span = float(2 * reach + 1);
    for (int l = 0; l < count; ++l) {
        float* first = values.data() + size_t(l) * size_t(lineStep);
        for (int i = 0; i < length; ++i)
            line[size_t(i)] = first[size_t(i) * size_t(step)];
        float sum = 0;
        for (int i = -reach; i <= reach; ++i)
            sum += (i >= 0 && i < length) ? line[size_t(i)] : 0.0f;
        for (int i = 0; i < length; ++i) {
            first[size_t(i) * size_t(step)] = sum / span;
            const int enter = i + reach + 1;
            const int leave = i - reach;
            sum += (enter < length ? line[size_t(enter)] : 0.0f) - (leave >= 0 ? line[size_t(leave)] : 0.0f);
        }
    }
}

// The shadow of `shape` (an alpha mask), softened as a Gaussian blur of a
// few pixels would: three box blurs in each direction.
QImage softShadow(const QImage& shape, qreal devicePixelRatio)
{
    const int width = shape.width();
    const int height = shape.height();
    std::vector<float> alpha(size_t(width) * size_t(height));
    for (int y = 0; y < height; ++y) {
        const uchar* row = shape.constScanLine(y);
        for (int x = 0; x < width; ++x)
            alpha[size_t(y) * size_t(width) + size_t(x)] = float(row[x]) / 255.0f;
    }
    const int reach = std::max(1, int(std::lround(shadowReach / 2.5 * devicePixelRatio)));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, width, height, 1, width, reach);
        boxBlur(alpha, height, width, width, 1, reach);
    }
    QImage shadow(width, height, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(shadow.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const float a = alpha[size_t(y) * size_t(width) + size_t(x)] * float(shadowAlpha);
            row[x] = qRgba(0, 0, 0, std::clamp(int(std::lround(a * 255.0f)), 0, 255));
        }
    }
    return shadow;
}

} // namespace

PhoneFrame::PhoneFrame(const QString& placeholderSymbol, int width, QWidget* parent)
    : QWidget(parent), m_symbol(placeholderSymbol), m_width(width)
{
    const Geometry shape = geometry(width);
    setFixedSize(shape.size.toSize());
    Accessibility::hide(this);
    setGraphicsEffect(new FrameEffect(this));
    // The frame is on the first window: drawn meanwhile, the first paint
    // only copies it.
    m_aheadLook = lookNow(devicePixelRatioF());
    m_ahead = std::make_unique<DrawnAhead>([width, look = m_aheadLook] {
        return picture(width, look.body, look.accent, look.devicePixelRatio);
    });
    Look::drawSymbolAhead(m_symbol, symbolSize(), symbolColor(), m_aheadLook.devicePixelRatio);
}

PhoneFrame::~PhoneFrame() = default;

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

QRectF PhoneFrame::withShadow(const QRectF& rect)
{
    return rect.united(rect.translated(shadowOffset).adjusted(-shadowReach, -shadowReach, shadowReach, shadowReach));
}

QImage PhoneFrame::picture(int width, const QColor& body, const QColor& accent, qreal devicePixelRatio)
{
    const Geometry shape = geometry(width);
    const QRectF bodyRect(QPointF(0, 0), shape.size);
    const QRectF area = withShadow(bodyRect);
    const QSize pixels(int(std::ceil(area.width() * devicePixelRatio)), int(std::ceil(area.height() * devicePixelRatio)));
    QPainterPath outline;
    outline.addRoundedRect(bodyRect, shape.cornerRadius, shape.cornerRadius);

    QImage mask(pixels, QImage::Format_Alpha8);
    mask.setDevicePixelRatio(devicePixelRatio);
    mask.fill(0);
    {
        QPainter painter(&mask);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-area.topLeft() + shadowOffset);
        painter.fillPath(outline, Qt::black);
    }
    QImage result = softShadow(mask, devicePixelRatio);
    result.setDevicePixelRatio(devicePixelRatio);

    QPainter painter(&result);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(-area.topLeft());
    painter.fillPath(outline, body);

    // The rim runs along the inside of the edge.
    QPainterPath rim;
    rim.addRoundedRect(bodyRect.adjusted(0.5, 0.5, -0.5, -0.5), shape.cornerRadius - 0.5, shape.cornerRadius - 0.5);
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

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    const qreal r = shape.cameraDiameter / 2;
    painter.drawEllipse(shape.cameraCentre, r, r);
    painter.end();
    return result;
}

PhoneFrame::Appearance PhoneFrame::lookNow(qreal devicePixelRatio) const
{
    const bool dark = Theme::isDark(palette());
    return {Theme::phoneBody(dark), Theme::accent(dark), devicePixelRatio};
}

QColor PhoneFrame::symbolColor() const
{
    return QColor(255, 255, 255, qRound(0.85 * 255));
}

int PhoneFrame::symbolSize() const
{
    return qRound(0.26 * m_width);
}

void PhoneFrame::paintFrame(QPainter& painter)
{
    const qreal devicePixelRatio = painter.device()->devicePixelRatio();
    const Appearance look = lookNow(devicePixelRatio);
    if (m_picture.isNull() || look != m_pictureLook) {
        m_picture = m_ahead && look == m_aheadLook ? m_ahead->take()
                                                   : picture(m_width, look.body, look.accent, devicePixelRatio);
        m_pictureLook = look;
        m_ahead.reset();
    }
    const Geometry shape = geometry(m_width);
    painter.drawImage(withShadow(QRectF(QPointF(0, 0), shape.size)).topLeft(), m_picture);

    const int size = symbolSize();
    const QPixmap symbol = Look::symbol(m_symbol, size, symbolColor(), devicePixelRatio);
    const QPointF centre = shape.screen.center();
    // Whole pixels: an odd size would put it between two.
    painter.drawPixmap(QPoint(qRound(centre.x() - size / 2.0), qRound(centre.y() - size / 2.0)), symbol);
}

void PhoneFrame::paintEvent(QPaintEvent*)
{
    // Reached only when effects are off.
    QPainter painter(this);
    paintFrame(painter);
}
