// The browser model's job runner: how often progress lands on the GUI thread
// while a transport reports as fast as it can, what the job adds to a 1 GiB
// copy each way over MTP compared with the transport alone, and how long
// Stop takes to end a copy over adb and over MTP (on a very slow cable too).
//
// Usage: jobs_bench [folder for the local copies]
#include "BenchSupport.h"
#include "BrowserModel.h"
#include "FakePhoneHarness.h"
#include "MTPConnection.h"
#include "ServiceBrowser.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TempFolder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

constexpr uint64_t GiB = 1ull << 30;

double threadCpu()
{
    timespec ts {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Runs the event loop, sleeping between events, until done() holds.
void spinUntil(const std::function<bool()>& done)
{
    QTimer tick;
    tick.start(10);
    while (!done())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

class NoAdb : public AdbSource {
public:
    std::optional<ADB> locate() override { return std::nullopt; }
    std::vector<Device> devices(const ADB&, const Cancel&) override { return {}; }
    std::optional<QString> displayName(const ADB&, const QString&, const Cancel&) override { return {}; }
    std::optional<QString> serialNumber(const ADB&, const QString&, const Cancel&) override { return {}; }
    std::shared_ptr<PhoneFiles> files(const ADB&, const QString&) override { return nullptr; }
};

class OnePhone : public MtpSource {
public:
    explicit OnePhone(std::shared_ptr<PhoneFiles> files) : m_files(std::move(files)) {}
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override
    {
        if (!m_files)
            return {};
        return {Device{QStringLiteral("SIM0001"), QStringLiteral("device"), QStringLiteral("Pixel 7"), Device::Transport::mtp}};
    }
    std::shared_ptr<PhoneFiles> connection(const QString&) override { return m_files; }
    bool isMissingItem(const std::exception_ptr&) const override { return false; }

private:
    std::shared_ptr<PhoneFiles> m_files;
};

class Silent : public ServiceBrowser {
public:
    void browse(const QString&, const QString&, Handlers) override {}
};

// A transport whose copies only report progress, as fast as they can, for two seconds.
class Reporting : public PhoneFiles {
public:
    std::atomic<long> reports{0};
    std::vector<RemoteEntry> list(const QString&, bool, const Cancel&) override { return {}; }
    void pull(const QString&, const QString&, const Progress& progress, const Cancel& cancel) override
    {
        QElapsedTimer clock;
        clock.start();
        for (long n = 0; clock.elapsed() < 2000 && !cancel.isCancelled(); ++n) {
            progress(double(n % 1000) / 1000);
            ++reports;
        }
    }
    void push(const QString&, const QString&, const Progress&, const Cancel&) override {}
    bool exists(const QString&, const Cancel&) override { return false; }
    void remove(const QString&, const Cancel&) override {}
    void makeFolder(const QString&, const Cancel&) override {}
    void move(const QString&, const QString&, const Cancel&) override {}
    DeviceInfo info(const Cancel&) override { return {}; }
};

struct Model {
    QSettings settings;
    std::unique_ptr<BrowserModel> model;

    Model(const QString& folder, std::shared_ptr<AdbSource> adb, std::shared_ptr<MtpSource> mtp)
        : settings(folder + QStringLiteral("/settings.ini"), QSettings::IniFormat)
    {
        BrowserModel::Collaborators c;
        c.adb = std::move(adb);
        c.mtp = std::move(mtp);
        c.settings = &settings;
        c.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<Silent>());
        model = std::make_unique<BrowserModel>(std::move(c));
        spinUntil([&] { return model->readyDevice() && !model->isLoading(); });
        model->setAskWhereToSave(false);
        model->setRevealAfterCopy(false);
        model->setSaveFolder(folder);
    }
    void waitForJob() { spinUntil([&] { return !model->job(); }); }
    // Seconds from Stop, a moment into the copy, until the job is gone.
    double stopLatency(const RemoteEntry& entry)
    {
        model->download({entry});
        QElapsedTimer into;
        into.start();
        spinUntil([&] { return into.elapsed() > 500; });
        if (!model->job())
            std::printf("(the copy ended before Stop)\n");
        QElapsedTimer clock;
        clock.start();
        model->cancelJob();
        waitForJob();
        return clock.nsecsElapsed() / 1e9;
    }
};

void progressPath(const QString& folder)
{
    auto transport = std::make_shared<Reporting>();
    Model m(folder, std::make_shared<NoAdb>(), std::make_shared<OnePhone>(transport));
    long applied = 0;
    QObject::connect(m.model.get(), &BrowserModel::jobChanged, m.model.get(), [&] {
        applied += m.model->job() && m.model->job()->progress;
    });
    const double cpu = threadCpu();
    QElapsedTimer clock;
    clock.start();
    m.model->download({RemoteEntry{QStringLiteral("x"), false, 0, {}}});
    m.waitForJob();
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("progress: %ld reports in %.2f s; %ld applied (%.1f per second); GUI thread CPU %.1f ms\n",
                transport->reports.load(), seconds, applied, applied / seconds, (threadCpu() - cpu) * 1e3);
}

void mtpCopies(const QString& folder)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    phone->configure([](auto& s) { s.keepLimit = 0; });
    phone->addFile(0, QStringLiteral("big.bin"), mtpsim::patternContent(GiB, 5));
    phone->addFolder(0, QStringLiteral("Download")); // where the upload goes
    auto connection = std::make_shared<MTPConnection>(host, host->plug(phone), QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
    connection->check();
    Model m(folder, std::make_shared<NoAdb>(), std::make_shared<OnePhone>(connection));
    const QString local = folder + QStringLiteral("/big.bin");
    const RemoteEntry big{QStringLiteral("big.bin"), false, qint64(GiB), {}};

    // Alternating, so that neither side gets the warmer turn.
    bench::Figures alonePull, jobPull;
    for (int round = 0; round < 3; ++round) {
        const auto job = bench::bestOf(1, [&] { QFile::remove(local); m.model->download({big}); m.waitForJob(); });
        const auto alone = bench::bestOf(1, [&] { QFile::remove(local); connection->pull(QStringLiteral("/sdcard/big.bin"), local, Cancel()); });
        jobPull.wall = std::min(jobPull.wall, job.wall);
        alonePull.wall = std::min(alonePull.wall, alone.wall);
    }
    const auto alonePush = bench::bestOf(2, [&] { connection->push(local, QStringLiteral("/sdcard/alone.bin"), {}, Cancel()); });
    const auto jobPush = bench::bestOf(2, [&] {
        // A new file each round, never a question about the last one.
        if (const auto last = phone->objectAt(QStringLiteral("Download/big.bin")))
            phone->removeObject(last->handle);
        m.model->upload({QUrl::fromLocalFile(local)}, QStringLiteral("/sdcard/Download"));
        m.waitForJob();
    });
    std::printf("1 GiB over MTP: pull alone %.2f s, copyToMac %.2f s, ratio %.3f; push alone %.2f s, upload %.2f s, ratio %.3f\n",
                alonePull.wall, jobPull.wall, jobPull.wall / alonePull.wall, alonePush.wall, jobPush.wall,
                jobPush.wall / alonePush.wall);

    phone->configure([](auto& s) { s.delayPerMiB = std::chrono::milliseconds(20); });
    QFile::remove(local);
    std::printf("Stop during an MTP pull: %.0f ms until the job is gone\n", m.stopLatency(big) * 1e3);
    m.model.reset();
    connection->close().wait();
}

// Stop a moment into a copy each way on a very slow cable (100 KB/s), where
// the transfer on the wire would go on for seconds; and what it cost the phone.
void mtpSlowStop(const QString& folder)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    constexpr qint64 size = 2 << 20;
    phone->addFile(0, QStringLiteral("song.bin"), mtpsim::patternContent(size, 3));
    auto connection =
        std::make_shared<MTPConnection>(host, host->plug(phone), QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
    connection->check();
    const QString local = folder + QStringLiteral("/slow-push.bin");
    {
        QFile file(local);
        file.open(QIODevice::WriteOnly);
        file.resize(size);
    }
    {
        Model m(folder, std::make_shared<NoAdb>(), std::make_shared<OnePhone>(connection));
        phone->configure([](auto& s) { s.delayPerMiB = std::chrono::seconds(10); });
        const int claims = phone->claims();
        phone->clearRecords();
        std::printf("Stop during an MTP pull on a slow cable (100 KB/s): %.0f ms until the job is gone\n",
                    m.stopLatency(RemoteEntry{QStringLiteral("song.bin"), false, size, {}}) * 1e3);

        m.model->upload({QUrl::fromLocalFile(local)});
        QElapsedTimer into;
        into.start();
        spinUntil([&] { return into.elapsed() > 500; });
        if (!m.model->job())
            std::printf("(the copy ended before Stop)\n");
        QElapsedTimer clock;
        clock.start();
        m.model->cancelJob();
        m.waitForJob();
        const double pushed = clock.nsecsElapsed() / 1e9;
        phone->configure([](auto& s) { s.delayPerMiB = {}; });
        bool partial = false;
        for (const auto& object : phone->objects())
            partial = partial || object.name.contains(QStringLiteral("slow-push"));
        const auto codes = phone->commandCodes();
        std::printf("Stop during an MTP push on a slow cable (100 KB/s): %.0f ms until the job is gone; partial "
                    "file left on the phone: %s; new sessions after both Stops: %d, claims: %d\n",
                    pushed * 1e3, partial ? "yes" : "no",
                    int(std::count(codes.begin(), codes.end(), uint16_t(0x1002))), phone->claims() - claims);
        m.model.reset();
    }
    connection->close().wait();
}

void adbStop(const QString& folder)
{
    FakePhoneHarness phone;
    QString error;
    if (!phone.start(&error)) {
        std::printf("Stop during an adb pull: skipped (%s)\n", qPrintable(error));
        return;
    }
    QFile big(phone.storage() + QStringLiteral("/big.bin"));
    big.open(QIODevice::WriteOnly);
    big.resize(64 << 20);
    big.close();
    {
        Model m(folder, makeSystemAdbSource(), std::make_shared<OnePhone>(nullptr));
        phone.setChunkDelay(20);
        std::printf("Stop during an adb pull: %.0f ms until the job is gone\n",
                    m.stopLatency(RemoteEntry{QStringLiteral("big.bin"), false, 64 << 20, {}}) * 1e3);
    }
    phone.stop();
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : TempFolder::path();
    QTemporaryDir folder(base + QStringLiteral("/jobs-bench-XXXXXX"));
    progressPath(folder.path());
    mtpCopies(folder.path());
    mtpSlowStop(folder.path());
    adbStop(folder.path());
    return 0;
}
