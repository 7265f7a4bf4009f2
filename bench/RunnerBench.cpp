// Per-command overhead of the adb runner against a bare posix_spawn + wait of
// the same program, and the memory of a run that prints 100 MB of progress.
#include "ADB.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

QString writeStub(const QString& dir, const QString& name, const QByteArray& body)
{
    QFile f(dir + QLatin1Char('/') + name);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return f.fileName();
}

double bareSpawn(const QByteArray& path, int runs)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    for (int i = 0; i < runs; ++i) {
        pid_t pid;
        char* argv[] = {const_cast<char*>(path.constData()), nullptr};
        posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
        int status;
        waitpid(pid, &status, 0);
    }
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count() / runs;
}

long rssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    f.open(QIODevice::ReadOnly);
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const int runs = 300;

    const QString quick = writeStub(dir.path(), QStringLiteral("quick"), "echo ok\n");
    ADB adb(quick);
    adb.run({}, Cancel()); // warm up
    double bare = bareSpawn(quick.toLocal8Bit(), runs);
    auto start = Clock::now();
    for (int i = 0; i < runs; ++i)
        adb.run({}, Cancel());
    double runner = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / runs;
    start = Clock::now();
    for (int i = 0; i < runs; ++i)
        adb.run({}, [](double) {}, Cancel());
    double runnerPty = std::chrono::duration<double, std::micro>(Clock::now() - start).count() / runs;
    std::printf("per-command: bare posix_spawn+wait %.0f us, runner %.0f us (ratio %.2f), runner with "
                "pseudo-terminal %.0f us (ratio %.2f)\n",
                bare, runner, runner / bare, runnerPty, runnerPty / bare);

    // 100 MB of terminal output with a percentage now and then.
    const QString chatty = writeStub(dir.path(), QStringLiteral("chatty"),
                                     "i=0; while [ $i -lt 100 ]; do head -c 1000000 /dev/zero | tr '\\0' x; "
                                     "printf '\\r[%3d%%] /sdcard/file' $i; i=$((i+1)); done\n");
    const long before = rssKiB();
    long peak = before;
    long calls = 0;
    start = Clock::now();
    ADB(chatty).run({}, [&](double) {
        ++calls;
        long now = rssKiB();
        if (now > peak)
            peak = now;
    }, Cancel());
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("100 MB of progress output: %.2f s (%.0f MB/s), %ld progress calls, RSS before %ld KiB, peak %ld KiB "
                "(+%ld KiB)\n",
                seconds, 100.0 / seconds, calls, before, peak, peak - before);
    return 0;
}
