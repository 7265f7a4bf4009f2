#pragma once

#include <QtGlobal>

#include <optional>

// The editing and navigation keys that reach the phone as Android keys.
namespace AndroidKey {

// The Android key code for a Qt key (Qt::Key), or none: such keys go to the
// phone as text, if at all.
std::optional<qint32> code(int qtKey);

} // namespace AndroidKey
