// How long the browser's shown listing takes to work out for a folder of
// 100,000 items: after a new listing (sort keys made by the listing's worker,
// or on the first read), after a change of sort or search (keys reused), and
// a read with nothing changed.

#include "VisibleEntries.h"

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr int itemCount = 100000;
constexpr int rounds = 7;

QList<RemoteEntry> makeListing()
{
    std::mt19937 random(20240601);
    const QStringList stems = {QStringLiteral("IMG_"), QStringLiteral("Screenshot_"), QStringLiteral("VID_"),
                               QStringLiteral("document "), QStringLiteral("Track "), QStringLiteral("notes-")};
    const QStringList extensions = {QStringLiteral(".jpg"), QStringLiteral(".png"), QStringLiteral(".mp4"),
                                    QStringLiteral(".pdf"), QStringLiteral(".mp3"), QStringLiteral(".txt")};
    QList<RemoteEntry> entries;
    entries.reserve(itemCount);
    for (int i = 0; i < itemCount; ++i) {
        RemoteEntry entry;
        entry.isDirectory = random() % 20 == 0;
        const QString stem = stems[int(random() % stems.size())];
        entry.name = stem + QString::number(random() % 1000000) + QLatin1Char('_') + QString::number(i)
                     + (entry.isDirectory ? QString() : extensions[int(random() % extensions.size())]);
        entry.size = entry.isDirectory ? 4096 : int64_t(random() % 50000000);
        entry.modified = QDateTime::fromSecsSinceEpoch(1600000000 + qint64(random() % 100000000), Qt::UTC);
        entries.append(entry);
    }
    return entries;
}

double milliseconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

void report(const char* what, std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    std::printf("%-52s median %8.2f ms   min %8.2f ms   max %8.2f ms\n", what, times[times.size() / 2], times.front(),
                times.back());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QList<RemoteEntry> listing = makeListing();
    std::printf("visible entries of %d items (%d rounds each)\n", itemCount, rounds);

    const SortOrder byName{SortKey{}};
    const SortOrder byNameDescending{SortKey{SortKey::Column::name, Qt::DescendingOrder}};
    const SortOrder bySize{SortKey{SortKey::Column::size, Qt::AscendingOrder}};
    const SortOrder byDate{SortKey{SortKey::Column::modified, Qt::DescendingOrder}};

    std::vector<double> keysMade, fresh, unprepared, name, size, date, search, cached;
    qsizetype shown = 0;
    for (int round = 0; round < rounds; ++round) {
        VisibleEntries lazy;
        unprepared.push_back(milliseconds([&] {
            lazy.setEntries(listing);
            shown = lazy.result().size();
        }));

        std::shared_ptr<const VisibleEntries::Keys> keys;
        keysMade.push_back(milliseconds([&] { keys = VisibleEntries::makeKeys(listing); }));
        VisibleEntries visible;
        fresh.push_back(milliseconds([&] {
            visible.setEntries(listing, keys);
            shown = visible.result().size();
        }));
        name.push_back(milliseconds([&] {
            visible.setSortOrder(byNameDescending);
            shown = visible.result().size();
        }));
        size.push_back(milliseconds([&] {
            visible.setSortOrder(bySize);
            shown = visible.result().size();
        }));
        date.push_back(milliseconds([&] {
            visible.setSortOrder(byDate);
            shown = visible.result().size();
        }));
        visible.setSortOrder(byName);
        visible.result();
        search.push_back(milliseconds([&] {
            visible.setSearchText(QStringLiteral("img_12"));
            shown = visible.result().size();
        }));
        cached.push_back(milliseconds([&] {
            for (int i = 0; i < 1000; ++i)
                shown = visible.result().size();
        }) / 1000);
        visible.setSearchText(QString());
    }
    report("sort keys made (on the listing's worker)", keysMade);
    report("new listing with its keys, by name", fresh);
    report("new listing without keys, by name (keys made)", unprepared);
    report("sort changed, by name descending", name);
    report("sort changed, by size", size);
    report("sort changed, by date", date);
    report("search \"img_12\", by name", search);
    report("read with nothing changed", cached);
    std::printf("(last search showed %lld items)\n", static_cast<long long>(shown));
    return 0;
}
