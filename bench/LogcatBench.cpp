// The log window's two hot paths: parsing and filtering threadtime lines on
// one core, and a 5,000-line burst landing in a window that shows 20,000
// records with follow on (parse, cap trimming, row inserts and removals, the
// scroll to the last line), with the longest stall of the GUI thread.

#include "BenchSupport.h"
#include "LogcatModel.h"
#include "LogcatView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListView>
#include <QScrollBar>
#include <QTimer>

#include <cstdio>

namespace {

// A realistic mix: every level, ids of several processes, short and long
// messages, padded tags, and now and then a line that is no entry.
QStringList mixedLines(int count, int offset = 0)
{
    static const char* const tags[] = {"ActivityManager", "chatty  ", "Zygote", "wifi ", "AndroidRuntime",
                                       "SurfaceFlinger", "NetworkController"};
    static const char* const pids[] = {"1234", "812", "4321", "77", "23190", "1500"};
    static const char levels[] = "VDIWEFA";
    QStringList lines;
    lines.reserve(count);
    for (int i = offset; i < offset + count; ++i) {
        if (i % 97 == 0) {
            lines << QStringLiteral("--------- beginning of main");
            continue;
        }
        const QString message = i % 11 == 0 ? QStringLiteral("Start proc %1:com.example.app/u0a123 for activity "
                                                             "{com.example.app/com.example.app.MainActivity} "
                                                             "caller=com.android.launcher3").arg(i)
                                            : QStringLiteral("event %1 done in %2 ms").arg(i).arg(i % 300);
        lines << QStringLiteral("01-15 10:%1:%2.%3 %4 %5 %6 %7: %8")
                     .arg(i / 60000 % 60, 2, 10, QLatin1Char('0'))
                     .arg(i / 1000 % 60, 2, 10, QLatin1Char('0'))
                     .arg(i % 1000, 3, 10, QLatin1Char('0'))
                     .arg(QLatin1String(pids[i % 6]), 5)
                     .arg(1000 + i % 13, 5)
                     .arg(QLatin1Char(levels[i % 7]))
                     .arg(QLatin1String(tags[i % 7]), message);
    }
    return lines;
}

void parseAndFilter()
{
    const QStringList lines = mixedLines(200000);
    const std::optional<QSet<QString>> pids = QSet<QString> {QStringLiteral("1234"), QStringLiteral("812")};
    const QString search = QStringLiteral("EXAMPLE");
    qsizetype kept = 0;
    const bench::Figures figures = bench::bestOf(5, [&] {
        kept = 0;
        int64_t id = 0;
        for (const QString& raw : lines) {
            if (std::optional<LogLine> line = LogLine::parse(id, raw)) {
                ++id;
                kept += LogcatModel::passes(*line, LogLine::Level::info, pids, search);
            }
        }
    });
    std::printf("parse and filter: %.0f lines/s on one core (%lld of %lld kept; goal 200000)\n",
                double(lines.size()) / figures.cpu, static_cast<long long>(kept),
                static_cast<long long>(lines.size()));
}

void burstIntoWindow()
{
    LogcatModel model(ADB(QStringLiteral("/nonexistent/adb")), QStringLiteral("bench"), QStringLiteral("Bench"));
    model.setTiming({.flush = std::chrono::milliseconds(0), .pidPoll = std::chrono::milliseconds(3000)});
    LogcatView view;
    view.setModel(&model);
    view.resize(960, 600);
    view.show();
    auto settle = [&](int64_t lastId) {
        QElapsedTimer wait;
        wait.start();
        while ((model.lines().isEmpty() || model.lines().last().id < lastId) && wait.elapsed() < 20000)
            QApplication::processEvents();
        for (int i = 0; i < 20; ++i)
            QApplication::processEvents();
    };
    const QStringList history = mixedLines(20400);
    model.receive(history);
    settle(19999);

    // A fast timer notices every stall of the GUI thread.
    QElapsedTimer clock;
    qint64 lastTick = 0;
    qint64 longest = 0;
    QTimer ticker;
    ticker.setInterval(1);
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - lastTick);
        lastTick = now;
    });
    qint64 flushed = 0;
    QObject::connect(&model, &LogcatModel::shownUpdated, &view, [&] { flushed = clock.nsecsElapsed(); },
                     Qt::QueuedConnection);
    QStringList burst = mixedLines(5050, 20400);
    const int64_t target = model.lines().last().id + 5000;
    clock.start();
    ticker.start();
    model.receive(burst);
    settle(target);
    QElapsedTimer after;
    after.start();
    while (after.elapsed() < 300)
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
    ticker.stop();
    QScrollBar* bar = view.list()->verticalScrollBar();
    std::printf("5,000-line burst into 20,000 shown: flush %.1f ms on the GUI thread, longest stall %.1f ms "
                "(goal under 50); %lld rows, at the bottom: %s\n",
                double(flushed) / 1e6, double(longest) / 1e6, static_cast<long long>(model.shownCount()),
                bar->value() == bar->maximum() ? "yes" : "no");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    parseAndFilter();
    burstIntoWindow();
    return 0;
}
