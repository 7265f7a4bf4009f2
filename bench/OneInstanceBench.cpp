// What taking the place of the running application costs a start before its
// first window: the first start in a fresh settings folder, and a later one
// that finds the lock file and the note of its socket left by the one
// before. For comparison, the lock file of a QLockFile, as starts took it
// before. The settings go in the folder given (default: a new one in the
// current folder, so on the disk a home folder would be on); the runtime
// folder in /dev/shm, a memory file system as the runtime folder is.
//
//   one_instance_bench [runs] [folder]

#include "BenchSupport.h"
#include "OneInstance.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    QTemporaryDir root(argc > 2 ? QString::fromLocal8Bit(argv[2]) + QStringLiteral("/one-instance-XXXXXX")
                                : QDir::currentPath() + QStringLiteral("/one-instance-XXXXXX"));
    QTemporaryDir runtime(QStringLiteral("/dev/shm/one-instance-run-XXXXXX"));
    if (!root.isValid() || !runtime.isValid()) {
        std::fprintf(stderr, "one_instance_bench: can't make a folder in the one given or in /dev/shm\n");
        return 1;
    }
    QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));

    std::vector<double> fresh, again, before;
    for (int run = 0; run < runs; ++run) {
        const QString settings = root.filePath(QStringLiteral("c%1/Vantelorquist.conf").arg(run));
        for (std::vector<double>* times : {&fresh, &again}) {
            QElapsedTimer clock;
            clock.start();
            OneInstance instance(settings);
            if (instance.claim({}, 1000) != OneInstance::Start::first) {
                std::fprintf(stderr, "one_instance_bench: the place was taken\n");
                return 1;
            }
            times->push_back(double(clock.nsecsElapsed()) / 1e6);
        }
        QDir(root.filePath(QStringLiteral("c%1").arg(run))).mkpath(QStringLiteral("."));
        QElapsedTimer clock;
        clock.start();
        QLockFile lock(root.filePath(QStringLiteral("c%1/old.lock").arg(run)));
        lock.setStaleLockTime(0);
        lock.tryLock(0);
        before.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::printf("claim, first start in a fresh folder:   median %.3f ms, worst %.3f ms\n", bench::median(fresh),
                *std::max_element(fresh.begin(), fresh.end()));
    std::printf("claim, a later start (lock, note left): median %.3f ms, worst %.3f ms\n", bench::median(again),
                *std::max_element(again.begin(), again.end()));
    std::printf("QLockFile::tryLock alone (as before):   median %.3f ms\n", bench::median(before));
    return 0;
}
