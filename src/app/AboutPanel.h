#pragma once

class QDialog;

namespace Mirvek {

// The About panel: name and version, the credits and the copyright line with
// the year current when it opens. One panel: opening it again raises it.
QDialog* showAboutPanel();

} // namespace Mirvek
