#pragma once

#include <QPainterPath>
#include <QRectF>

// Four corner brackets around a rectangle, like a camera's viewfinder. The
// arms reach 26 points from each corner whatever the rectangle's size; the
// path is only ever stroked, 3 points wide with round caps.
namespace ViewfinderCorners {

QPainterPath path(const QRectF& rect);

} // namespace ViewfinderCorners
