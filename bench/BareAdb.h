#pragma once

// adb run as a person runs it, its output to /dev/null: the baseline the
// copy benchmarks compare with.

#include <QByteArray>
#include <QElapsedTimer>
#include <QFile>
#include <QStringList>

#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace bench {

// Seconds the run took; a failure is said on standard error.
inline double bareAdb(const QStringList& args)
{
    std::vector<QByteArray> storage {QByteArrayLiteral("/usr/bin/adb")};
    for (const QString& arg : args)
        storage.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        waitpid(pid, &status, 0);
    const double elapsed = double(clock.nsecsElapsed()) / 1e9;
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0)
        std::fprintf(stderr, "bare adb failed: %s\n", qPrintable(args.join(QLatin1Char(' '))));
    return elapsed;
}

} // namespace bench
