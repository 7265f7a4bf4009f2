// Copies of a 256 MiB file through ADBFiles with progress, against plain
// "adb pull" / "adb push" of the same file from the same fake phone, in the
// same run. Goal: ratio <= 1.05.
#include "BareAdb.h"
#include "ADBFiles.h"
#include "BenchSupport.h"
#include "ChildProcess.h"
#include "FakePhoneHarness.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr qint64 fileSize = 256LL * 1024 * 1024;
constexpr int rounds = 5;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

// adb on a terminal, as for progress, with its output only drained: what
// asking adb for its progress display costs by itself.
double terminalAdb(const QStringList& args)
{
    ChildProcess::Options options;
    options.program = QStringLiteral("/usr/bin/adb");
    options.arguments = args;
    options.output = ChildProcess::Output::Terminal;
    options.environment.insert(QStringLiteral("TERM"), QStringLiteral("xterm-256color"));
    const auto start = Clock::now();
    auto child = ChildProcess::start(options);
    char buffer[64 * 1024];
    for (;;) {
        pollfd fd{child->outputFd(), POLLIN, 0};
        ::poll(&fd, 1, -1);
        if (readAvailable(child->outputFd(), buffer, sizeof buffer) == 0)
            break;
    }
    child->wait();
    return seconds(start);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    FakePhoneHarness phone;
    QString error;
    if (!phone.start(&error)) {
        std::fprintf(stderr, "the fake phone did not start: %s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir local;
    const QString source = local.filePath(QStringLiteral("source.bin"));
    {
        QFile file(source);
        file.open(QIODevice::WriteOnly);
        QByteArray block(1024 * 1024, Qt::Uninitialized);
        for (qsizetype i = 0; i < block.size(); ++i)
            block[i] = static_cast<char>(i * 7 + i / 1021);
        for (qint64 written = 0; written < fileSize; written += block.size())
            file.write(block);
    }
    QFile::copy(source, phone.storage() + QStringLiteral("/big.bin"));

    ADBFiles files(ADB(phone.adbPath()), phone.serial());
    std::atomic<int> reports{0};
    const Progress progress = [&reports](double) { ++reports; };
    const QString pulled = local.filePath(QStringLiteral("pulled.bin"));

    std::vector<double> pullOurs, pullPlain, pushOurs, pushPlain, pullTerminal, pushTerminal;
    double readerCpu = 0;
    for (int round = 0; round < rounds; ++round) {
        double cpu = bench::cpuSeconds();
        auto start = Clock::now();
        files.pull(QStringLiteral("/sdcard/big.bin"), pulled, progress, Cancel());
        pullOurs.push_back(seconds(start));
        readerCpu += bench::cpuSeconds() - cpu;
        QFile::remove(pulled);
        pullPlain.push_back(bench::bareAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("pull"), QStringLiteral("-a"),
                                      QStringLiteral("/sdcard/big.bin"), pulled}));
        QFile::remove(pulled);
        pullTerminal.push_back(terminalAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("pull"),
                                            QStringLiteral("-a"), QStringLiteral("/sdcard/big.bin"), pulled}));
        QFile::remove(pulled);

        cpu = bench::cpuSeconds();
        start = Clock::now();
        files.push(source, QStringLiteral("/sdcard/pushed.bin"), progress, Cancel());
        pushOurs.push_back(seconds(start));
        readerCpu += bench::cpuSeconds() - cpu;
        pushPlain.push_back(bench::bareAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("push"), source,
                                      QStringLiteral("/sdcard/pushed.bin")}));
        pushTerminal.push_back(terminalAdb({QStringLiteral("-s"), phone.serial(), QStringLiteral("push"), source,
                                            QStringLiteral("/sdcard/pushed.bin")}));
    }

    const double mib = double(fileSize) / (1024 * 1024);
    auto line = [mib](const char* what, const std::vector<double>& ours, const std::vector<double>& plain) {
        const double a = bench::median(ours);
        const double b = bench::median(plain);
        std::printf("%-5s median:  ADBFiles with progress %6.2f s (%6.1f MiB/s)   plain adb %6.2f s (%6.1f MiB/s)   "
                    "ratio %.3f (goal <= 1.05)\n",
                    what, a, mib / a, b, mib / b, a / b);
        const double c = *std::min_element(ours.begin(), ours.end());
        const double d = *std::min_element(plain.begin(), plain.end());
        std::printf("%-5s fastest: ADBFiles with progress %6.2f s   plain adb %6.2f s   ratio %.3f\n", what, c, d, c / d);
    };
    std::printf("256 MiB through the fake phone, %d rounds each, interleaved\n", rounds);
    line("pull", pullOurs, pullPlain);
    line("push", pushOurs, pushPlain);
    std::printf("adb on a terminal, output drained (median): pull %.2f s, push %.2f s\n", bench::median(pullTerminal),
                bench::median(pushTerminal));
    std::printf("progress reports: %d; CPU of this process per copy with progress: %.1f ms\n", reports.load(),
                readerCpu * 1000 / (2 * rounds));
    return 0;
}
