#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

class MtpSource;
struct Device;

// The programs that hold a busy phone's USB device open: the user's own
// processes with a descriptor on the phone's device node.
namespace ConflictingApps {

// One holding process, as it was when it was seen.
struct Holder {
    int pid = 0;
    uint64_t startTime = 0; // clock ticks after boot: tells a reused pid apart
    QString program;        // base name of the executable

    friend bool operator==(const Holder&, const Holder&) = default;
};

// What one poll pass found: the busy phones' device nodes and their holders.
struct Scan {
    QStringList nodes;
    std::vector<Holder> holders;

    friend bool operator==(const Scan&, const Scan&) = default;
};

// The processes of this user that hold one of `nodes` open, leaving out
// this process, every process it started and the adb server. Processes
// that go away while being read are left out too. Reads /proc only.
std::vector<Holder> holders(const QStringList& nodes);

// The nodes of the MTP phones of `mtp` whose state is "busy", and their holders.
Scan scan(MtpSource& source, const std::vector<Device>& mtp);

// The names to show: "Android File Transfer" for every name that begins with
// it, no duplicates, in plain character order.
QStringList names(const std::vector<Holder>& holders);

// Asks each holder to quit (SIGTERM) through a pidfd, after checking that the
// pid still is the same process of this user, still holds a node and is
// none of those holders() leaves out; others are skipped without an error.
// Returns how many were signalled.
int quit(const Scan& scan);

} // namespace ConflictingApps
