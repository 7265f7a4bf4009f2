#include "ViewfinderCorners.h"

namespace ViewfinderCorners {

QPainterPath path(const QRectF& rect)
{
    // Inset by half the stroke, so a 3-point stroke lies just inside.
    const QRectF r = rect.adjusted(1.5, 1.5, -1.5, -1.5);
    constexpr qreal arm = 26;
    constexpr qreal bend = 20;
    QPainterPath path;
    // Each corner: its point, and which way the edges run from it.
    const struct {
        QPointF corner;
        qreal dx, dy;
    } corners[] = {
        {r.topLeft(), 1, 1},
        {r.topRight(), -1, 1},
        {r.bottomLeft(), 1, -1},
        {r.bottomRight(), -1, -1},
    };
    for (const auto& [corner, dx, dy] : corners) {
        path.moveTo(corner.x(), corner.y() + dy * arm);
        path.lineTo(corner.x(), corner.y() + dy * bend);
        path.quadTo(corner, QPointF(corner.x() + dx * bend, corner.y()));
        path.lineTo(corner.x() + dx * arm, corner.y());
    }
    return path;
}

} // namespace ViewfinderCorners
