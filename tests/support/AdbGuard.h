#pragma once

// Keeps every test's adb away from the person's own server and makes each
// test binary end what adb servers its tests left.
//
// adb's default port 5037 is where a developer's server lives, with real
// phones on it: a test that reached it could list, copy to or disconnect
// one. So each test process gets a private port unless its run chose one,
// and marks its environment, which every adb it starts and every server
// those fork inherit; at the end the servers carrying the mark are ended
// and the run fails, naming them.
namespace adbguard {

// Call first in main(), before any thread exists.
void begin(const char* testName);

// Ends the adb processes this process started that are still running;
// false when a server was among them (a test left it), after saying so.
bool end();

} // namespace adbguard
