#pragma once

#include <QColor>
#include <QPalette>

// What the mirroring window's parts share of their look.
namespace MirrorLook {

// The dark colour scheme the overlay and the rail keep whatever the desktop's.
QPalette darkPalette(const QPalette& base);

// White at a given opacity, the mirroring window's foreground.
inline QColor white(qreal opacity)
{
    QColor color(Qt::white);
    color.setAlphaF(float(opacity));
    return color;
}

} // namespace MirrorLook
