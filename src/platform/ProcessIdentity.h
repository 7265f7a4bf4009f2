#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// A running process told apart from every other this computer runs or ran:
// a process id alone comes back for another process, and a start time alone
// for another boot. Linux only (/proc).
struct ProcessIdentity {
    QString boot;       // /proc/sys/kernel/random/boot_id
    int64_t pid = 0;
    uint64_t start = 0; // clock ticks after boot, /proc/<pid>/stat

    bool isEmpty() const { return boot.isEmpty() || pid <= 0; }
    bool operator==(const ProcessIdentity&) const = default;

    // "<boot> <pid> <start>", and back; none for anything else.
    QString text() const;
    static std::optional<ProcessIdentity> fromText(const QString& text);

    // This process; empty where /proc can't tell.
    static ProcessIdentity self();
    // The process running now under `pid`; none when there is none or /proc can't tell.
    static std::optional<ProcessIdentity> ofPid(int64_t pid);

    enum class Life { running, gone, unknown };
    // Whether the process still runs on this computer. gone only on proof:
    // another boot, no process under its id, or another process under it.
    Life life() const;
};
