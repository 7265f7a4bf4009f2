// How long a folder of 20,000 items takes from the listing's arrival in the
// model to the first painted frame of the main window's list, how long a
// header click (a new sort) and a search take to reach the screen, and the
// longest stall of the GUI thread meanwhile; then the same folder in the icon
// grid: arrival to first frame, and the paint of one frame while scrolling.
// The phone is a stand-in in memory, so only the model and the window are
// measured.
//
//   listing_paint_bench [items] [rounds]
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "BrowserModel.h"
#include "ContentView.h"
#include "FileGridView.h"
#include "FileListView.h"
#include "ServiceBrowser.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

const QString phoneSerial = QStringLiteral("BENCH1");
const QString bigFolder = QStringLiteral("/sdcard/Big");

std::vector<RemoteEntry> makeEntries(int count)
{
    static const char* const extensions[] = {"jpg", "png", "mp4", "pdf", "txt", "zip", "mp3", "apk", "heic", ""};
    std::vector<RemoteEntry> entries;
    entries.reserve(size_t(count));
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);
    for (int i = 0; i < count; ++i) {
        RemoteEntry entry;
        if (i % 10 == 0) {
            entry.name = QStringLiteral("Folder %1").arg(i);
            entry.isDirectory = true;
        } else {
            const char* extension = extensions[i % 10];
            entry.name = QStringLiteral("IMG_%1").arg(count - i, 6, 10, QLatin1Char('0'));
            if (*extension)
                entry.name += QLatin1Char('.') + QLatin1String(extension);
            entry.size = int64_t(i) * 7919 % 50000000;
        }
        entry.modified = start.addSecs(int64_t(i) * 3607 % 100000000);
        entries.push_back(entry);
    }
    return entries;
}

// The phone's files in memory: a small /sdcard and the big folder.
class MemoryPhone : public PhoneFiles {
public:
    explicit MemoryPhone(int count) : m_big(makeEntries(count)) {}

    std::vector<RemoteEntry> list(const QString& path, bool, const Cancel&) override
    {
        if (path == bigFolder)
            return m_big;
        return {RemoteEntry{QStringLiteral("Big"), true, 0, QDateTime::currentDateTimeUtc()}};
    }
    using PhoneFiles::pull;
    void pull(const QString&, const QString&, const Progress&, const Cancel&) override {}
    void push(const QString&, const QString&, const Progress&, const Cancel&) override {}
    bool exists(const QString&, const Cancel&) override { return true; }
    void remove(const QString&, const Cancel&) override {}
    void makeFolder(const QString&, const Cancel&) override {}
    void move(const QString&, const QString&, const Cancel&) override {}
    DeviceInfo info(const Cancel&) override { return {}; }

private:
    const std::vector<RemoteEntry> m_big;
};

class OnePhoneAdb : public AdbSource {
public:
    explicit OnePhoneAdb(std::shared_ptr<PhoneFiles> files) : m_files(std::move(files)) {}
    std::optional<ADB> locate() override { return ADB(QStringLiteral("/bin/true")); }
    std::vector<Device> devices(const ADB&, const Cancel&) override
    {
        return {Device{phoneSerial, QStringLiteral("device"), QStringLiteral("Bench Phone"), Device::Transport::adb}};
    }
    std::optional<QString> displayName(const ADB&, const QString&, const Cancel&) override { return std::nullopt; }
    std::optional<QString> serialNumber(const ADB&, const QString&, const Cancel&) override { return std::nullopt; }
    std::shared_ptr<PhoneFiles> files(const ADB&, const QString&) override { return m_files; }

private:
    std::shared_ptr<PhoneFiles> m_files;
};

class NoMtp : public MtpSource {
public:
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override { return {}; }
    std::shared_ptr<PhoneFiles> connection(const QString&) override { return nullptr; }
    bool isMissingItem(const std::exception_ptr&) const override { return false; }
};

// Runs the first device pass at once and no later one, so that no poll
// falls into a measurement.
class FirstPassOnly : public Clock {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override
    {
        if (delay.count() == 0)
            QTimer::singleShot(0, context, std::move(action));
    }
};

class NoServices : public ServiceBrowser {
public:
    void browse(const QString&, const QString&, Handlers) override {}
};

// Times from a mark to the end of the next paint of a widget, and the
// longest gap between ticks of a fast timer in between.
class FrameClock : public QObject {
public:
    explicit FrameClock(QWidget* watched) : m_watched(watched)
    {
        watched->installEventFilter(this);
        m_ticker.setInterval(1);
        connect(&m_ticker, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longestGap = std::max(m_longestGap, now - m_lastTick);
            m_lastTick = now;
        });
    }

    // Starts timing; only paints after arm() count when `armed` is false.
    void mark(bool armed = true)
    {
        m_armed = armed;
        m_painted = false;
        m_longestGap = 0;
        m_clock.start();
        m_lastTick = 0;
        m_ticker.start();
    }
    void arm() { m_armed = true; }
    bool painted() const { return m_painted; }
    double milliseconds() const { return m_clock.nsecsElapsed() / 1e6; }
    double millisecondsToPaint() const { return m_paintedAt / 1e6; }
    double longestStall() const { return m_longestGap / 1e6; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_watched && event->type() == QEvent::Paint && m_clock.isValid() && m_armed &&
            !m_painted) {
            // The paint runs after this filter; the next turn of the loop
            // comes after it.
            QTimer::singleShot(0, this, [this] {
                if (m_painted)
                    return;
                m_paintedAt = m_clock.nsecsElapsed();
                m_painted = true;
                m_ticker.stop();
            });
        }
        return false;
    }

private:
    QWidget* m_watched;
    QElapsedTimer m_clock;
    QTimer m_ticker;
    qint64 m_lastTick = 0;
    qint64 m_longestGap = 0;
    qint64 m_paintedAt = 0;
    bool m_painted = false;
    bool m_armed = false;
};

struct Figures {
    std::vector<double> values;
    void add(double value) { values.push_back(value); }
    double median() const
    {
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted.empty() ? 0 : sorted[sorted.size() / 2];
    }
    double worst() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
};

bool waitFor(const std::function<bool()>& condition, int milliseconds = 30000)
{
    return QTest::qWaitFor(condition, milliseconds);
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;

    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto phone = std::make_shared<MemoryPhone>(count);
    BrowserModel::Collaborators collaborators;
    collaborators.adb = std::make_shared<OnePhoneAdb>(phone);
    collaborators.mtp = std::make_shared<NoMtp>();
    collaborators.settings = &settings;
    collaborators.clock = std::make_shared<FirstPassOnly>();
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<NoServices>());
    BrowserModel model(std::move(collaborators));

    // The moment the listing arrives: connected before any view is, so it
    // runs before the views take the new entries.
    FrameClock* frames = nullptr;
    double arrivedAt = -1;
    QObject::connect(&model, &BrowserModel::entriesChanged, [&] {
        if (frames && model.path() == bigFolder && !model.entries().isEmpty()) {
            arrivedAt = frames->milliseconds();
            frames->arm();
        }
    });

    Environment env;
    env.model = &model;
    ContentView window(env);
    window.resize(1040, 660);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window) ||
        !waitFor([&] { return model.readyDevice() && !model.isLoading() && !model.entries().isEmpty(); })) {
        std::fprintf(stderr, "listing_paint_bench: the stand-in phone was not listed\n");
        return 1;
    }
    auto* list = window.findChild<FileListView*>();
    if (!list) {
        std::fprintf(stderr, "listing_paint_bench: no file list\n");
        return 1;
    }
    FrameClock frameClock(list->viewport());
    frames = &frameClock;

    Figures arrivalToPaint, navigateToPaint, stallWhileOpening, sortToPaint, stallWhileSorting, searchToPaint;
    for (int round = 0; round < rounds; ++round) {
        // Open the big folder: the listing runs on a worker, the rest here.
        arrivedAt = -1;
        frames->mark(false);
        model.navigate(bigFolder);
        if (!waitFor([&] { return frames->painted() && arrivedAt >= 0; })) {
            std::fprintf(stderr, "listing_paint_bench: the big folder never showed\n");
            return 1;
        }
        navigateToPaint.add(frames->millisecondsToPaint());
        arrivalToPaint.add(frames->millisecondsToPaint() - arrivedAt);
        stallWhileOpening.add(frames->longestStall());

        // A header click: a new sort of every item.
        QHeaderView* header = list->horizontalHeader();
        const int column = round % 2 == 0 ? FileListModel::size : FileListModel::modified;
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        frames->mark();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
        if (!waitFor([&] { return frames->painted(); }))
            return 1;
        sortToPaint.add(frames->millisecondsToPaint());
        stallWhileSorting.add(frames->longestStall());

        // A search that keeps a tenth of the items.
        frames->mark();
        window.searchField()->setText(QStringLiteral(".mp3"));
        if (!waitFor([&] { return frames->painted(); }))
            return 1;
        searchToPaint.add(frames->millisecondsToPaint());
        window.searchField()->clear();

        model.navigate(QStringLiteral("/sdcard"));
        waitFor([&] { return !model.isLoading(); });
        QTest::qWait(20);
    }

    std::printf("listing_paint_bench: %d items, %d rounds, platform %s (median / worst, ms)\n", count, rounds,
                qPrintable(QGuiApplication::platformName()));
    auto line = [](const char* what, const Figures& figures) {
        std::printf("  %-44s %8.1f / %8.1f\n", what, figures.median(), figures.worst());
    };
    line("listing arrival to first painted frame", arrivalToPaint);
    line("open folder (navigate) to first painted frame", navigateToPaint);
    line("longest GUI-thread stall while opening", stallWhileOpening);
    line("header click (sort) to painted frame", sortToPaint);
    line("longest GUI-thread stall while sorting", stallWhileSorting);
    line("search text to painted frame", searchToPaint);

    // The icon grid: a new listing to its first frame, then one frame per
    // page scrolled, painted at once.
    model.setViewMode(ViewMode::grid);
    auto* grid = window.findChild<FileGridView*>();
    if (!grid) {
        std::fprintf(stderr, "listing_paint_bench: no icon grid\n");
        return 1;
    }
    FrameClock gridClock(grid->viewport());
    frames = &gridClock;
    Figures gridArrivalToPaint, scrollFrame;
    for (int round = 0; round < rounds; ++round) {
        arrivedAt = -1;
        frames->mark(false);
        model.navigate(bigFolder);
        if (!waitFor([&] { return frames->painted() && arrivedAt >= 0; })) {
            std::fprintf(stderr, "listing_paint_bench: the big folder never showed in the grid\n");
            return 1;
        }
        gridArrivalToPaint.add(frames->millisecondsToPaint() - arrivedAt);
        QScrollBar* bar = grid->verticalScrollBar();
        for (int page = 0; page < 20; ++page) {
            bar->setValue(bar->value() + bar->pageStep() / 3 + (round * 977 + page * 131) % 400);
            QElapsedTimer paint;
            paint.start();
            grid->viewport()->repaint();
            scrollFrame.add(paint.nsecsElapsed() / 1e6);
        }
        model.navigate(QStringLiteral("/sdcard"));
        waitFor([&] { return !model.isLoading(); });
        QTest::qWait(20);
    }
    line("grid: listing arrival to first painted frame", gridArrivalToPaint);
    line("grid: one frame painted while scrolling", scrollFrame);
    window.close();
    WorkerPool::shared().shutdown(std::chrono::seconds(3));
    return 0;
}
