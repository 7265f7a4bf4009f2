#pragma once

#include <QColor>
#include <QPalette>

// The application's own two colours, each with a light and a dark variant.
namespace Theme {

// Whether a palette reads as dark (its window colour is dark).
bool isDark(const QPalette& palette);

QColor accent(bool dark);
QColor phoneBody(bool dark);

// The variant for the application's current palette.
QColor accent();
QColor phoneBody();

} // namespace Theme
