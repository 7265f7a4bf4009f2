#pragma once

#include <optional>

// Whether views should leave out springs and repeating pulses. Qt has no
// such setting, so this one place answers it for every window.
namespace Motion {

// The desktop's wish: off when GTK's "gtk-enable-animations" is false.
bool reduced();

// Tests decide; none goes back to the desktop's setting.
void setReducedOverride(std::optional<bool> reduced);

} // namespace Motion
