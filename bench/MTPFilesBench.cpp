// The phone's files over MTP against the simulated phone (no USB limit):
// pulling and pushing a 2 GiB file through MTPConnection (throughput and CPU
// time per MB, the simulated phone's own work included), listing a folder
// of 10,000 items both ways (transactions and time), and listing a folder
// again after its 20,000 items went away on the phone.
//
// Usage: mtp_files_bench [folder for the local copies]
// The folder defaults to the private temporary folder; a folder in memory
// (/dev/shm) takes the local disk out of the figures.
#include "BenchSupport.h"
#include "MTPCodes.h"
#include "MTPConnection.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TempFolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

namespace {

constexpr uint64_t fileSize = 2ull << 30;
constexpr int listedItems = 10000;
constexpr int folderFiles = 1000;
constexpr double MB = 1e6;

using bench::Figures;

template <class F>
Figures measure(F&& work)
{
    return bench::bestOf(3, std::forward<F>(work));
}

void reportCopy(const char* what, const Figures& f)
{
    const double mb = double(fileSize) / MB;
    std::printf("%-28s %8.0f MB/s   %6.1f ms CPU per MB   (%.2f s)\n", what, mb / f.wall, f.cpu * 1e3 / mb, f.wall);
}

std::shared_ptr<MTPConnection> connectTo(const std::shared_ptr<mtpsim::SimulatedUsbHost>& host,
                                         const std::shared_ptr<mtpsim::SimulatedPhone>& phone)
{
    auto connection =
        std::make_shared<MTPConnection>(host, host->plug(phone), QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
    connection->check();
    if (connection->status() != MTPConnection::Status::ready) {
        std::fprintf(stderr, "the simulated phone did not connect\n");
        std::exit(1);
    }
    return connection;
}

void benchListing(bool propertyList)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    if (!propertyList)
        phone->configure([](auto& s) { s.operations.erase(mtp::Operation::getObjectPropList); });
    const uint32_t folder = phone->addFolder(0, QStringLiteral("Many"));
    for (int i = 0; i < listedItems; ++i)
        phone->addFile(folder, QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')), QByteArray("x"));
    auto connection = connectTo(host, phone);
    connection->list(QStringLiteral("/sdcard"), false, Cancel()); // the folder's own handle, known

    size_t transactions = 0, entries = 0;
    const Figures f = measure([&] {
        phone->clearRecords();
        entries = connection->list(QStringLiteral("/sdcard/Many"), false, Cancel()).size();
        transactions = phone->commands().size();
    });
    connection->close().wait();
    std::printf("%-28s %6zu items   %6zu transactions   %8.1f ms\n",
                propertyList ? "listing by property list" : "listing by object infos", entries, transactions,
                f.wall * 1e3);
}

// A folder of `goneItems` items listed, then listed again after every one
// of them was moved to another folder on the phone: what the path cache
// held for them goes, at no more cost than a listing of them all.
void benchListingAfterGone()
{
    constexpr int goneItems = 20000;
    double fresh = 1e9, after = 1e9;
    for (int round = 0; round < 3; ++round) {
        auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
        auto phone = std::make_shared<mtpsim::SimulatedPhone>();
        const uint32_t folder = phone->addFolder(0, QStringLiteral("Many"));
        const uint32_t elsewhere = phone->addFolder(0, QStringLiteral("Elsewhere"));
        std::vector<uint32_t> handles;
        for (int i = 0; i < goneItems; ++i)
            handles.push_back(
                phone->addFile(folder, QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0')), QByteArray("x")));
        auto connection = connectTo(host, phone);
        connection->list(QStringLiteral("/sdcard"), false, Cancel());
        size_t listed = 0;
        fresh = std::min(fresh, bench::bestOf(1, [&] {
                                    listed = connection->list(QStringLiteral("/sdcard/Many"), false, Cancel()).size();
                                }).wall);
        for (const uint32_t handle : handles)
            phone->moveObject(handle, elsewhere);
        size_t left = 0;
        after = std::min(after, bench::bestOf(1, [&] {
                                    left = connection->list(QStringLiteral("/sdcard/Many"), false, Cancel()).size();
                                }).wall);
        connection->close().wait();
        if (listed != size_t(goneItems) || left != 0) {
            std::fprintf(stderr, "the listings before and after differ from the phone\n");
            std::exit(1);
        }
    }
    std::printf("%-28s %6d items   %8.1f ms\n", "listing a folder", goneItems, fresh * 1e3);
    std::printf("%-28s %6d gone    %8.1f ms   (%.2f x the listing of them)\n", "listing it after they went",
                goneItems, after * 1e3, after / fresh);
}

// A folder of small files sent whole: each file's look at its folder and
// the path cache's upkeep, more than the bytes.
void benchFolderPush(const QString& base)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    QTemporaryDir local(base + QStringLiteral("/mtp-folder-bench-XXXXXX"));
    const QByteArray bytes(4096, 'f');
    for (int i = 0; i < folderFiles; ++i) {
        QFile file(local.filePath(QStringLiteral("f%1.txt").arg(i, 4, 10, QLatin1Char('0'))));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "couldn't write the local folder\n");
            std::exit(1);
        }
    }
    auto connection = connectTo(host, phone);
    int round = 0;
    size_t transactions = 0;
    const Figures f = measure([&] {
        phone->clearRecords();
        connection->push(local.path(), QStringLiteral("/sdcard/Folder%1").arg(++round), {}, Cancel());
        transactions = phone->commands().size();
    });
    connection->close().wait();
    std::printf("%-28s %6d files    %6zu transactions   %8.1f ms\n", "push of a folder", folderFiles, transactions,
                f.wall * 1e3);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString base = argc > 1 ? QString::fromLocal8Bit(argv[1]) : TempFolder::path();
    QTemporaryDir folder(base + QStringLiteral("/mtp-files-bench-XXXXXX"));
    if (!folder.isValid()) {
        std::fprintf(stderr, "no temporary folder in %s\n", qPrintable(base));
        return 1;
    }

    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    phone->configure([](auto& s) { s.keepLimit = 0; }); // received bytes are digested, not kept
    const auto content = mtpsim::patternContent(fileSize, 5);
    phone->addFile(0, QStringLiteral("big.bin"), content);
    auto connection = connectTo(host, phone);

    std::printf("A %llu MiB file each way, local copies in %s; MB = 10^6 bytes; CPU includes the simulated phone.\n",
                static_cast<unsigned long long>(fileSize >> 20), qPrintable(base));
    const QString local = folder.filePath(QStringLiteral("big.bin"));
    const Figures pull = measure([&] { connection->pull(QStringLiteral("/sdcard/big.bin"), local, Cancel()); });
    const Figures push = measure([&] { connection->push(local, QStringLiteral("/sdcard/back.bin"), {}, Cancel()); });
    connection->close().wait();

    const auto back = phone->objectAt(QStringLiteral("back.bin"));
    if (QFileInfo(local).size() != qint64(fileSize) || !back || back->size() != fileSize
        || back->content->digest() != content->digest()) {
        std::fprintf(stderr, "the copies differ from the original\n");
        return 1;
    }
    reportCopy("pull (GetObject to a file)", pull);
    reportCopy("push (SendObject of a file)", push);

    benchListing(true);
    benchListing(false);
    benchListingAfterGone();
    benchFolderPush(base);
    return 0;
}
