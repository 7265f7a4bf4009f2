#pragma once

class QWidget;

// Where the keyboard focus goes when the control holding it is disabled or
// hidden. Qt hands it on to the next control in the Tab chain, so that a key
// pressed again acts on a control nobody chose (Space on a disabled
// Screenshot button would start a recording beside it). Instead the focus
// rests on the window itself, where a key starts nothing and Tab goes on
// from the start, and comes back to the control when it is enabled or shown
// again, unless it has gone elsewhere meanwhile. Windows in the back are
// kept the same way.
namespace FocusRest {

// Watches the application's focus; once for the application, before its
// windows. Calling it again changes nothing.
void install();

} // namespace FocusRest
