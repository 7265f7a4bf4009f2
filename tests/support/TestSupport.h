#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <QTemporaryDir>

#include <chrono>
#include <functional>

namespace testsupport {

// Writes an executable shell script and returns its path.
QString writeScript(const QString& folder, const QString& name, const QByteArray& body);

// A whole PNG file (a one-pixel image) whose chunks carry `payload` too,
// in a private chunk before the image data; its CRCs are right.
QByteArray pngCarrying(const QByteArray& payload = {});

// Runs the Qt event loop until cond() holds or the limit passes.
bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds limit = std::chrono::seconds(10));

// Open descriptors of this process.
int openDescriptorCount();

// Reaps every exited child of this process; returns how many were zombies.
int reapZombies();

// Whether a process with this pid still exists (and is not a zombie).
bool processAlive(long pid);

// A loopback port nothing listens on, for a server a test starts later.
// It lies outside the kernel's range for outgoing connections: a client
// connecting to an unused port of that range may be given that very port
// and connect to itself, reading its own request back as the answer.
quint16 unusedLoopbackPort();

} // namespace testsupport
