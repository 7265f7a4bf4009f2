// Listing a 10,000-item folder through ADB.list against the bare "adb shell"
// command with the same text, in the same run, and the parse time alone.
// Goal: ratio <= 1.2.
#include "ADB.h"
#include "BenchSupport.h"
#include "ADBParsing.h"
#include "FakePhoneHarness.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int items = 10000;
constexpr int rounds = 15;

double milliseconds(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double fastest(const std::vector<double>& values)
{
    return *std::min_element(values.begin(), values.end());
}

double bareShell(const QString& serial, const QString& command)
{
    QByteArray adb("/usr/bin/adb"), s("-s"), ser = serial.toLocal8Bit(), sh("shell"), cmd = command.toLocal8Bit();
    char* argv[] = {adb.data(), s.data(), ser.data(), sh.data(), cmd.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = Clock::now();
    pid_t pid = 0;
    int status = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ) == 0)
        waitpid(pid, &status, 0);
    const double elapsed = milliseconds(start);
    posix_spawn_file_actions_destroy(&actions);
    return elapsed;
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
    const QString folder = phone.storage() + QStringLiteral("/many");
    QDir().mkpath(folder);
    for (int i = 0; i < items; ++i) {
        const QByteArray path = QFile::encodeName(folder + QStringLiteral("/IMG_%1 holiday.jpg").arg(i, 5, 10, QLatin1Char('0')));
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        if (fd >= 0)
            ::close(fd);
    }

    const ADB adb(phone.adbPath());
    const QString command =
        QStringLiteral("cd '/sdcard/many' || exit 1; stat -L -c '%F|%s|%Y|%n' -- * 2>/dev/null; true");
    std::vector<double> listing, bare;
    size_t listed = 0;
    for (int round = 0; round < rounds; ++round) {
        auto start = Clock::now();
        listed = adb.list(phone.serial(), QStringLiteral("/sdcard/many"), false, Cancel()).size();
        listing.push_back(milliseconds(start));
        bare.push_back(bareShell(phone.serial(), command));
    }

    // The listing's own format: each name as "./name" and ended with "/".
    QString ours = command;
    ours.replace(QStringLiteral("%n'"), QStringLiteral("%n/'"));
    ours.replace(QStringLiteral("-- *"), QStringLiteral("-- ./*"));
    const QByteArray output = adb.shellData(phone.serial(), ours, Cancel());
    std::vector<double> parse;
    for (int round = 0; round < rounds; ++round) {
        const auto start = Clock::now();
        listed = std::min(listed, adbparse::listing(output, true).size());
        parse.push_back(milliseconds(start));
    }

    std::printf("listing %d items (%zu read), %d rounds each, interleaved\n", items, listed, rounds);
    std::printf("median:  ADB.list %8.1f ms   bare adb shell %8.1f ms   ratio %.3f (goal <= 1.2)\n", bench::median(listing),
                bench::median(bare), bench::median(listing) / bench::median(bare));
    std::printf("fastest: ADB.list %8.1f ms   bare adb shell %8.1f ms   ratio %.3f\n", fastest(listing), fastest(bare),
                fastest(listing) / fastest(bare));
    std::printf("parse alone (median) %6.2f ms (%lld bytes of output)\n", bench::median(parse), static_cast<long long>(output.size()));
    return 0;
}
