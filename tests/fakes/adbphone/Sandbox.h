#pragma once

// The phone's shell: Debian's mksh run in a private mount namespace whose root
// is a throw-away tmpfs holding read-only binds of the host's programs and
// libraries and a writable bind of the phone's storage at /sdcard. Mounts made
// there vanish with the namespace; nothing outside the storage folder can be
// written. Without root the namespace is opened inside a user namespace.

#include <QByteArray>
#include <QString>
#include <vector>

#include <sys/types.h>

namespace adbphone {

class Sandbox {
public:
    // `mountPoint`: an empty folder of our own where each child builds its root.
    // `toolbox`: a multi-call program (toybox, busybox) that runs the file
    // tools a phone's shell finds first, as on a phone; empty: the host's.
    Sandbox(QByteArray storage, QByteArray mountPoint, QByteArray toolbox = {});

    // Runs `true` in the sandbox; an empty text when it works, otherwise why not.
    QString probe() const;

    // Forks the shell for `command` (an empty command reads commands from
    // standard input). The child leads its own process group, so the whole
    // command can be killed with kill(-pid). Returns -1 with errno set when
    // fork fails; a failing setup is reported by the child on `stderrFd` and
    // exit status 125.
    pid_t spawn(const QByteArray& command, const QByteArray& term, int stdinFd, int stdoutFd, int stderrFd) const;

    static constexpr int kSetupFailed = 125;

private:
    struct TopEntry {
        QByteArray name;       // "usr", "bin", ...
        QByteArray linkTarget; // non-empty: recreate the symbolic link
    };

    QByteArray m_storage;
    QByteArray m_mountPoint;
    QByteArray m_toolbox;
    std::vector<TopEntry> m_entries;
};

} // namespace adbphone
