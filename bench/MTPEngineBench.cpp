// The MTP transaction engine moving 1 GiB each way against the simulated
// phone (no USB underneath), so that its own cost shows: throughput, and CPU
// time per MB. The simulated phone runs in this process too; its cost alone is
// measured first and taken off to estimate the engine's share.
#include "BenchSupport.h"
#include "MTPCodes.h"
#include "MTPConnection.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"

#include <QCoreApplication>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>

using namespace mtp;

namespace {

constexpr uint64_t total = 1ull << 30;
constexpr double MB = 1e6;

using bench::Figures;

template <class F>
Figures measure(F&& work)
{
    return bench::bestOf(3, std::forward<F>(work));
}

void report(const char* what, const Figures& f, const Figures* baseline = nullptr)
{
    std::printf("%-34s %8.0f MB/s   %7.1f µs CPU per MB", what, double(total) / MB / f.wall,
                f.cpu * 1e6 / (double(total) / MB));
    if (baseline)
        std::printf("   (engine alone ≈ %.1f µs CPU per MB)",
                    std::max(0.0, f.cpu - baseline->cpu) * 1e6 / (double(total) / MB));
    std::printf("\n");
}

QByteArray command(uint16_t code, uint32_t transaction, std::initializer_list<uint32_t> params)
{
    return mtpsim::SimulatedPhone::container(Container::command, code, transaction, params);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    phone->configure([](auto& s) { s.keepLimit = 0; }); // received bytes are digested, not kept
    const uint32_t file = phone->addFile(0, QStringLiteral("big.bin"), mtpsim::patternContent(total));
    const uint64_t id = host->plug(phone);

    std::printf("Moving %llu MiB each way; MB = 10^6 bytes.\n", static_cast<unsigned long long>(total >> 20));

    // The simulated phone alone: the same transfers without the engine.
    Figures phoneIn, phoneOut;
    {
        auto usb = host->open(id);
        std::vector<char> buffer(MTPConnection::transferUnit);
        auto readAll = [&] {
            for (;;) {
                const size_t n = usb->bulkIn(0x81, buffer.data(), buffer.size(), std::chrono::seconds(5));
                if (n >= 12 && n < buffer.size() && qFromLittleEndian<uint16_t>(buffer.data() + 4) == Container::response)
                    return;
            }
        };
        usb->bulkOut(0x01, command(Operation::openSession, 1, {1}), std::chrono::seconds(5));
        readAll();
        uint32_t transaction = 100;
        phoneIn = measure([&] {
            usb->bulkOut(0x01, command(Operation::getObject, ++transaction, {file}), std::chrono::seconds(5));
            readAll();
        });
        const QByteArray unit(MTPConnection::transferUnit, 'x');
        const QByteArray info = MTPConnection::objectInfo(QStringLiteral("base.bin"), Format::undefined,
                                                          int64_t(total), QDateTime::currentDateTime());
        phoneOut = measure([&] {
            // SendObjectInfo and SendObject, as the engine's upload below.
            QByteArray infoData = mtpsim::SimulatedPhone::container(Container::data, Operation::sendObjectInfo, ++transaction);
            qToLittleEndian<uint32_t>(uint32_t(12 + info.size()), infoData.data());
            usb->bulkOut(0x01, command(Operation::sendObjectInfo, transaction, {0x00010001, rootHandle}),
                         std::chrono::seconds(5));
            usb->bulkOut(0x01, infoData + info, std::chrono::seconds(5));
            readAll();
            const uint32_t send = ++transaction;
            QByteArray header = mtpsim::SimulatedPhone::container(Container::data, Operation::sendObject, send);
            qToLittleEndian<uint32_t>(uint32_t(total + 12 > 0xFFFFFFFEull ? 0xFFFFFFFF : total + 12), header.data());
            usb->bulkOut(0x01, command(Operation::sendObject, send, {}), std::chrono::seconds(5));
            usb->bulkOut(0x01, header, std::chrono::seconds(5));
            for (uint64_t sent = 0; sent < total; sent += unit.size())
                usb->bulkOut(0x01, unit, std::chrono::seconds(5));
            usb->bulkOut(0x01, QByteArrayView(), std::chrono::seconds(5));
            readAll();
        });
        usb->bulkOut(0x01, command(Operation::closeSession, ++transaction, {}), std::chrono::seconds(5));
        readAll();
    }

    auto connection = std::make_shared<MTPConnection>(host, id, QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
    connection->check();
    if (connection->status() != MTPConnection::Status::ready) {
        std::fprintf(stderr, "the simulated phone did not connect\n");
        return 1;
    }

    uint64_t received = 0;
    const Figures download = measure([&] {
        connection->run(
            [&](MTPConnection& c) {
                c.transact(Operation::getObject, {file}, {}, 0,
                           [&](QByteArrayView piece) { received += uint64_t(piece.size()); },
                           QStringLiteral("copy that file"));
            },
            Cancel());
    });

    const QByteArray piece(MTPConnection::transferUnit, 'y');
    const Figures upload = measure([&] {
        connection->run(
            [&](MTPConnection& c) {
                const QByteArray info = MTPConnection::objectInfo(QStringLiteral("up.bin"), Format::undefined,
                                                                  int64_t(total), QDateTime::currentDateTime());
                c.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                           [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {},
                           QStringLiteral("copy files to it"));
                c.transact(Operation::sendObject, {},
                           [&](const MTPConnection::Emit& emit) {
                               for (uint64_t sent = 0; sent < total; sent += uint64_t(piece.size()))
                                   emit(piece);
                           },
                           int64_t(total), {}, QStringLiteral("copy files to it"));
            },
            Cancel());
    });
    connection->close().wait();

    const auto stored = phone->objectAt(QStringLiteral("up.bin"));
    if (received != 3 * total || !stored || stored->size() != total) {
        std::fprintf(stderr, "bytes went missing: %llu down, %llu up\n", static_cast<unsigned long long>(received),
                     static_cast<unsigned long long>(stored ? stored->size() : 0));
        return 1;
    }

    report("simulated phone alone, to host", phoneIn);
    report("simulated phone alone, from host", phoneOut);
    report("engine download (GetObject)", download, &phoneIn);
    report("engine upload (SendObject)", upload, &phoneOut);
    return 0;
}
