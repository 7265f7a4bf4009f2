#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>
#include <sys/types.h>

// How a child ended: a normal exit with a status, or death by a signal.
struct ExitStatus {
    bool signalled = false;
    int code = 0;   // exit status when !signalled
    int signal = 0; // signal number when signalled

    bool succeeded() const { return !signalled && code == 0; }
};

// One child process started with fork/exec. Its standard input is the null
// device. Every descriptor we create is close-on-exec, so neither the child
// nor anything it forks (an adb server) keeps our pipes open.
//
// The child is reaped exactly once, under a lock that terminate() also takes,
// so a signal never reaches a process that merely reuses the pid.
class ChildProcess {
public:
    enum class Output {
        Pipes,    // stdout and stderr on separate pipes
        Merged,   // stdout and stderr on one pipe (outputFd)
        Terminal, // stdout and stderr on a pseudo-terminal; outputFd is its master
    };

    struct Options {
        QString program;
        QStringList arguments;
        QMap<QString, QString> environment; // added to or replacing this process's environment
        Output output = Output::Pipes;
        // Ended (SIGTERM) when the thread that started it ends, the whole
        // process killed included: a transfer must not go on writing after
        // us, where the next start has already cleaned up. Only for a child
        // the starting thread waits for.
        bool endsWithUs = false;
    };

    // Throws SystemError when the program cannot be started.
    static std::unique_ptr<ChildProcess> start(const Options& options);

    // Terminates a child that still runs (SIGTERM, then SIGKILL after a grace
    // period) and reaps it. Blocks at most that grace period.
    ~ChildProcess();

    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t pid() const { return m_pid; }
    // Reading ends; -1 where the mode has none. Owned by this object.
    int outputFd() const { return m_outputFd; }
    int errorFd() const { return m_errorFd; }
    // Becomes readable when the child has ended (a pidfd); -1 if unsupported.
    int exitFd() const { return m_pidFd; }

    // Closes our reading ends early (for example once they reached their end).
    void closeOutput();
    void closeError();

    // Sends a signal unless the child was already reaped. Safe from any thread.
    void signal(int sig);
    void terminate(); // SIGTERM

    // Blocks until the child ends and reaps it; later calls return the same.
    ExitStatus wait();
    // True when the child has ended (without blocking); reaps it then.
    bool tryWait();
    bool hasEnded();

private:
    ChildProcess() = default;
    bool reapLocked(bool block);


    pid_t m_pid = -1;
    int m_outputFd = -1;
    int m_errorFd = -1;
    int m_pidFd = -1;
    std::mutex m_mutex; // guards m_reaped and m_status against signal()
    bool m_reaped = false;
    ExitStatus m_status;
};

// Reads everything available from a descriptor without blocking; used by
// poll loops. Returns the number of bytes appended, 0 at end of stream and
// -1 when nothing is available now. A terminal's EIO counts as its end.
ssize_t readAvailable(int fd, char* buffer, size_t size);
