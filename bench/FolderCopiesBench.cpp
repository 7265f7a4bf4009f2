// Folder copies through the browser model against bare "adb pull" / "adb
// push" of the same folder, side by side in one run, served by the pretend
// phone: 10,000 files of 4 KiB and 200 files of 5 MiB, both directions, into
// a new folder and merged into one that holds the same names (Replace).
// Goal: the model within 1.15 times the bare adb run. A merge into the phone
// of many files goes in one transfer into a working folder, the finished
// files moved in while the rest is sent; "merged in one" does so whatever
// the folder holds (a large folder of few files otherwise goes in parts).
// Such a merge keeps each old file until its new one is whole, so it writes
// into storage the bare push (which overwrites) would have freed: "beside"
// is a bare push of the folder into a new folder next to the old one, the
// cost of that storage on this machine. The bare pull
// of the small files also shows whether the phone keeps a USB phone's pace (at
// least 500 files a second), without which the ratio would hide a cost per
// file.
//
// The phone's storage is kept in memory where there is room: a phone writes
// to its own flash, and on this computer's disk the phone's write-back and
// the computer side's land on each other's time (bare runs then swing by a
// factor of two). VANTELORQUIST_BENCH_PHONE_ON_DISK=1 keeps it on the disk.
//
// "paired", the figure to judge by, is the median over the rounds of each
// model run over the bare run beside it: a busy moment of the machine moves
// one pair, not the figure. "best" is the best model run over the best bare
// one, which one lucky bare run moves.
//
// Usage: folder_copies_bench [rounds (5)] [seconds a model copy may take before it is stopped (90)]
//                            [only the cases whose label holds this text]
#include "BareAdb.h"
#include "BenchSupport.h"
#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include <climits>
#include <cstdio>
#include <limits>
#include <fcntl.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace browsertest;

namespace {

struct Shape {
    QString name;
    int files;
    qint64 size;
};
const Shape shapes[] = {{QStringLiteral("small"), 10000, 4 * 1024}, {QStringLiteral("large"), 200, 5 * 1024 * 1024}};

// Runs the event loop until done() holds or `limitMs` passes; false on the
// limit. It sleeps between events, as an application's loop does: with a
// time limit processEvents() ignores WaitForMoreEvents and spins, and the
// core it took was the model's handicap alone (the bare run waits in waitpid).
bool spinUntil(const std::function<bool()>& done, qint64 limitMs = 600000)
{
    QTimer tick;
    tick.start(10);
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

void fill(const QString& folder, const Shape& shape)
{
    QDir().mkpath(folder);
    QByteArray bytes(shape.size, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 131 + i / 4096) % 251);
    for (int i = 0; i < shape.files; ++i) {
        QFile file(folder + QStringLiteral("/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')));
        file.open(QIODevice::WriteOnly);
        file.write(bytes);
    }
}

struct Figure {
    double seconds = 1e9;
    bool stopped = false; // the model's copy passed the limit; seconds then estimates the whole
};

void keepBest(Figure& best, const Figure& run)
{
    if (run.seconds < best.seconds)
        best = run;
}

QString shown(const Figure& f)
{
    return (f.stopped ? QStringLiteral("~") : QString()) + QString::number(f.seconds, 'f', 2) + QStringLiteral(" s");
}

class Bench {
public:
    Bench(FakePhoneHarness& phone, const QString& work, int rounds, int limitSeconds, const QString& only)
        : m_phone(phone), m_work(work), m_rounds(rounds), m_limitMs(limitSeconds * 1000LL), m_only(only)
    {
    }

    bool start()
    {
        for (const Shape& shape : shapes) {
            fill(m_phone.storage() + QLatin1Char('/') + shape.name, shape);
            fill(m_work + QStringLiteral("/source/") + shape.name, shape);
        }
        QDir().mkpath(m_phone.storage() + QStringLiteral("/up"));
        QDir().mkpath(saveFolder());
        desktop->answer = 0; // Replace: folders merge
        m_model = newModel(makeSystemAdbSource(), std::make_shared<FakeMtpSource>(), m_settings,
                           std::make_shared<ManualClock>(), desktop);
        bool passed = false;
        m_model->refreshDevices([&] { passed = true; });
        if (!spinUntil([&] { return passed && m_model->readyDevice() && !m_model->isLoading(); }, 30000))
            return false;
        m_model->setAskWhereToSave(false);
        m_model->setRevealAfterCopy(false);
        m_model->setSaveFolder(saveFolder());
        return true;
    }

    void run()
    {
        std::printf("%-28s %10s %10s %7s %7s\n", "", "bare adb", "model", "paired", "best");
        for (const Shape& shape : shapes) {
            for (const bool merged : {false, true})
                report(QStringLiteral("pull %1 %2").arg(shape.name, merged ? u"merged" : u"new"), shape, true, merged);
            for (const bool merged : {false, true})
                report(QStringLiteral("push %1 %2").arg(shape.name, merged ? u"merged" : u"new"), shape, false, merged);
            // The same merge sent in one transfer and moved in after it, for comparison.
            m_model->setPushBatchLimits({.bytes = std::numeric_limits<int64_t>::max(), .files = INT_MAX});
            report(QStringLiteral("push %1 merged in one").arg(shape.name), shape, false, true);
            m_model->setPushBatchLimits({});
        }
    }

private:
    QString saveFolder() const { return m_work + QStringLiteral("/saved"); }
    QString pulled(const Shape& shape) const { return saveFolder() + QLatin1Char('/') + shape.name; }
    QString pushed(const Shape& shape) const { return m_phone.storage() + QStringLiteral("/up/") + shape.name; }

    // The copy's target as the case wants it: absent, or a whole earlier copy.
    void prepare(const Shape& shape, bool pull, bool merged)
    {
        const QString target = pull ? pulled(shape) : pushed(shape);
        QDir(target).removeRecursively();
        if (merged) {
            if (pull)
                bench::bareAdb({QStringLiteral("-s"), m_phone.serial(), QStringLiteral("pull"), QStringLiteral("-a"),
                         QStringLiteral("/sdcard/") + shape.name, saveFolder()});
            else
                bench::bareAdb({QStringLiteral("-s"), m_phone.serial(), QStringLiteral("push"),
                         m_work + QStringLiteral("/source/") + shape.name, QStringLiteral("/sdcard/up/")});
        }
        // Both sides start from files on the disk, as an earlier copy's are,
        // and neither pays for what the other left to write back.
        ::sync();
    }

    Figure bare(const Shape& shape, bool pull)
    {
        if (pull)
            return {bench::bareAdb({QStringLiteral("-s"), m_phone.serial(), QStringLiteral("pull"), QStringLiteral("-a"),
                             QStringLiteral("/sdcard/") + shape.name, saveFolder()})};
        return {bench::bareAdb({QStringLiteral("-s"), m_phone.serial(), QStringLiteral("push"),
                         m_work + QStringLiteral("/source/") + shape.name, QStringLiteral("/sdcard/up/")})};
    }

    std::optional<RemoteEntry> entry(const QString& name)
    {
        for (const RemoteEntry& e : m_model->entries())
            if (e.name == name)
                return e;
        return std::nullopt;
    }

    Figure model(const Shape& shape, bool pull)
    {
        QElapsedTimer clock;
        clock.start();
        if (pull) {
            m_model->navigate(QStringLiteral("/sdcard"));
            if (!spinUntil([&] { return !m_model->isLoading() && entry(shape.name); }, 30000)) {
                std::printf("the phone's folder isn't listed\n");
                return {};
            }
            clock.restart();
            m_model->download({*entry(shape.name)});
        } else {
            m_model->upload({QUrl::fromLocalFile(m_work + QStringLiteral("/source/") + shape.name)},
                            QStringLiteral("/sdcard/up"));
        }
        if (spinUntil([&] { return !m_model->job(); }, m_limitMs)) {
            const double seconds = clock.nsecsElapsed() / 1e9;
            if (m_model->errorMessage())
                std::printf("the model's copy failed: %s\n", qPrintable(*m_model->errorMessage()));
            return {seconds};
        }
        // Too slow to wait for: stopped, and the whole estimated from its progress.
        const double seconds = clock.nsecsElapsed() / 1e9;
        const double done = m_model->job() ? m_model->job()->progress.value_or(0) : 0;
        m_model->cancelJob();
        spinUntil([&] { return !m_model->job(); });
        std::printf("  (model stopped after %.0f s at %.1f%%: about %.1f files a second)\n", seconds, done * 100,
                    done * shape.files / seconds);
        return {done > 0 ? seconds / done : 1e9, true};
    }

    void report(const QString& label, const Shape& shape, bool pull, bool merged)
    {
        if (!label.contains(m_only))
            return;
        Figure bestBare, bestModel, bestBeside;
        // Each round's model over its bare run: the median of these pairs
        // leaves out what a busy moment did to one round alone.
        std::vector<double> paired;
        for (int round = 0; round < m_rounds; ++round) {
            if (!pull && merged) {
                prepare(shape, pull, merged);
                keepBest(bestBeside, {bench::bareAdb({QStringLiteral("-s"), m_phone.serial(), QStringLiteral("push"),
                                                      m_work + QStringLiteral("/source/") + shape.name,
                                                      QStringLiteral("/sdcard/up/.beside")})});
                QDir(m_phone.storage() + QStringLiteral("/up/.beside")).removeRecursively();
            }
            // Each side goes first every other round.
            Figure b, m;
            for (const bool bareTurn : {round % 2 == 0, round % 2 != 0}) {
                prepare(shape, pull, merged);
                if (bareTurn)
                    b = bare(shape, pull);
                else
                    m = model(shape, pull);
            }
            keepBest(bestBare, b);
            keepBest(bestModel, m);
            paired.push_back(m.seconds / b.seconds);
            if (m.stopped)
                break; // one slow measure is enough
        }
        std::printf("%-28s %10s %10s %7.2f %7.2f", qPrintable(label), qPrintable(shown(bestBare)),
                    qPrintable(shown(bestModel)), bench::median(paired), bestModel.seconds / bestBare.seconds);
        if (shape.size < 1024 * 1024)
            std::printf("   bare %.0f files/s", shape.files / bestBare.seconds);
        else
            std::printf("   bare %.0f MB/s", shape.files * double(shape.size) / 1e6 / bestBare.seconds);
        if (bestBeside.seconds > 0 && bestBeside.seconds < 1e9)
            std::printf("   beside %s, model/beside %.2f", qPrintable(shown(bestBeside)),
                        bestModel.seconds / bestBeside.seconds);
        std::printf("\n");
        std::fflush(stdout);
    }

    FakePhoneHarness& m_phone;
    QString m_work;
    int m_rounds;
    qint64 m_limitMs;
    QString m_only;
    QTemporaryDir m_settingsFolder;
    QSettings m_settings{m_settingsFolder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> m_model;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 5;
    const int limit = argc > 2 ? std::max(1, atoi(argv[2])) : 90;
    const QString only = argc > 3 ? QString::fromLocal8Bit(argv[3]) : QString();
    FakePhoneHarness::Options options;
    // Both shapes, an earlier copy of each and the working copies: about 2.5 GB.
    struct statvfs memory {};
    if (qEnvironmentVariableIntValue("VANTELORQUIST_BENCH_PHONE_ON_DISK") == 0 && ::statvfs("/dev/shm", &memory) == 0
        && double(memory.f_bavail) * memory.f_frsize > 4e9)
        options.folder = QStringLiteral("/dev/shm");
    std::printf("the phone's storage: %s\n", options.folder.isEmpty() ? "on disk" : "in memory");
    FakePhoneHarness phone(options);
    QString error;
    if (!phone.start(&error)) {
        std::fprintf(stderr, "the pretend phone did not start: %s\n", qPrintable(error));
        return 1;
    }
    int status = 0;
    {
        QTemporaryDir work(TempFolder::path() + QStringLiteral("/folder-copies-bench-XXXXXX"));
        Bench bench(phone, work.path(), rounds, limit, only);
        if (bench.start())
            bench.run();
        else {
            std::fprintf(stderr, "the model did not find the pretend phone\n");
            status = 1;
        }
    }
    phone.stop();
    return status;
}
