#pragma once

#include <QEasingCurve>

#include <optional>

// Whether views should leave out springs and repeating pulses. Qt has no
// such setting, so this one place answers it for every window.
namespace Motion {

// The desktop's wish: off when GTK's "gtk-enable-animations" is false.
bool reduced();

// Tests decide; none goes back to the desktop's setting.
void setReducedOverride(std::optional<bool> reduced);

// The ease-out curve: quick at first, settling gently (0, 0, 0.58, 1).
QEasingCurve easeOut();

// A spring that settles from 0 to 1: where it is `seconds` after the start,
// for a response (the period of the undamped spring) and a damping
// fraction below 1, and how long it takes to come within a thousandth.
double spring(double seconds, double response, double damping);
int springMilliseconds(double response, double damping);

} // namespace Motion
