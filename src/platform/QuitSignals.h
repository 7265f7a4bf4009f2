#pragma once

#include <functional>

class QObject;

// SIGTERM, SIGINT and SIGHUP as a call on the GUI thread, so that a session
// that ends or a Ctrl+C in a terminal quits through the normal clean-up
// (work stopped, USB sessions closed, staged files removed) rather than
// killing the process where it stands. Each signal is a request to quit,
// as the Quit command is: one while the application still waits for its
// work (a recording's copy) asks again. A second signal while the GUI
// thread has not taken the first, or while the application's clean-up
// runs, ends the process at once.
namespace QuitSignals {

// Call from the GUI thread, after the application object exists. `quit`
// runs for each signal until `owner` is destroyed or installs end; then
// the signals end the process again.
void install(QObject* owner, std::function<void()> quit);

} // namespace QuitSignals
