#pragma once

#include <functional>

// SIGTERM, SIGINT and SIGHUP as a call on the GUI thread, so that a session
// that ends or a Ctrl+C in a terminal quits through the normal clean-up
// (work stopped, USB sessions closed, staged files removed) rather than
// killing the process where it stands. A second signal while that quit is
// still under way ends the process at once.
namespace QuitSignals {

// Call once, from the GUI thread, after the application object exists.
void install(std::function<void()> quit);

} // namespace QuitSignals
