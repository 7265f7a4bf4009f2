// The status line's text for a folder of 100,000 items with 50,000 selected,
// as the window works it out on every change of the selection.
//
//   status_summary_bench [items] [rounds]

#include "BrowserTypes.h"
#include "StatusBar.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(2, std::atoi(argv[1])) : 100000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 50;

    QList<RemoteEntry> selected;
    for (int i = 0; i < count / 2; ++i)
        selected.append(RemoteEntry{QStringLiteral("IMG_%1.jpg").arg(i), i % 10 == 0, int64_t(i) * 7919, {}});
    DeviceInfo info;
    info.storageFree = 3'200'000'000;

    std::vector<double> times;
    QString text;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        text = StatusBar::summary(count, true, selected, info);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("status_summary_bench: %d items, %d selected, %d rounds: median %.3f ms, worst %.3f ms (\"%s\")\n",
                count, count / 2, rounds, times[times.size() / 2], times.back(), qPrintable(text));
    return 0;
}
