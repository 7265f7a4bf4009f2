// Finding the holders of a busy phone in /proc with a few hundred extra idle
// processes running: the time per scan.

#include "BenchSupport.h"
#include "ConflictingApps.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>
#include <vector>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int extra = argc > 1 ? std::atoi(argv[1]) : 300;
    QTemporaryDir folder;
    const QString node = folder.filePath(QStringLiteral("node"));
    QFile(node).open(QIODevice::WriteOnly);

    std::vector<std::unique_ptr<QProcess>> idle;
    for (int i = 0; i < extra; ++i) {
        auto process = std::make_unique<QProcess>();
        process->start(QStringLiteral("sleep"), {QStringLiteral("120")});
        idle.push_back(std::move(process));
    }
    QProcess holder;
    holder.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec sleep 120"), node});
    for (auto& process : idle)
        process->waitForStarted();
    holder.waitForStarted();

    const int processes = int(QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs).size());
    std::vector<double> times;
    size_t found = 0;
    for (int run = 0; run < 20; ++run) {
        const bench::Figures figures = bench::bestOf(1, [&] { found = ConflictingApps::holders({node}).size(); });
        times.push_back(figures.wall);
    }
    std::printf("conflictingApps scan: %d processes in /proc, %zu holder(s) found\n", processes, found);
    std::printf("  median %.2f ms per scan, best %.2f ms\n", bench::median(times) * 1000,
                *std::min_element(times.begin(), times.end()) * 1000);

    for (auto& process : idle)
        process->kill();
    holder.kill();
    for (auto& process : idle)
        process->waitForFinished();
    holder.waitForFinished();
    return 0;
}
