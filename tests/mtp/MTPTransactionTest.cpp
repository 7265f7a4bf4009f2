// Transactions over the bulk pipes: data in both directions, zero-length
// packets, 1 MiB transfers, what the phone sends besides; and what happens to
// a transaction that is cancelled, fails in the caller's hands or loses its
// phone, and that a cancellation reaches only the run it was meant for.
#include "PhoneFixture.h"

#include "MTPReader.h"
#include "MTPWriter.h"

#include <future>
#include <thread>

using namespace mtp;
using namespace std::chrono_literals;

namespace {

const QString doThat = QStringLiteral("do that");

class MTPTransaction : public PhoneTest {
protected:
    void SetUp() override { connect(); }

    // Sends `payload` as a new file in pieces of `piece` bytes, announcing
    // `announce` bytes; returns the bulk-out transfers of the SendObject.
    std::vector<size_t> upload(const QByteArray& payload, qsizetype piece, int64_t announce = -1)
    {
        if (announce < 0)
            announce = payload.size();
        return onQueue([&](MTPConnection& c) {
            const QByteArray info = MTPConnection::objectInfo(QStringLiteral("f.bin"), Format::undefined, announce,
                                                              QDateTime::currentDateTime());
            c.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                       [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {}, doThat);
            phone->clearRecords();
            c.transact(Operation::sendObject, {},
                       [&](const MTPConnection::Emit& emit) {
                           for (qsizetype at = 0; at < payload.size(); at += piece)
                               emit(QByteArrayView(payload).sliced(at, std::min(piece, payload.size() - at)));
                       },
                       announce, {}, doThat);
            EXPECT_TRUE(phone->violations().empty()) << phone->violations().front().toStdString();
            return phone->outTransfers();
        });
    }

    // Downloads a new file of `content`, calling onPiece after each piece;
    // returns what reached the consumer.
    QByteArray download(const QByteArray& content, const std::function<void(int)>& onPiece = {},
                        const Cancel& cancel = Cancel())
    {
        const uint32_t handle = phone->addFile(0, QStringLiteral("in.bin"), content);
        phone->clearRecords();
        QByteArray received;
        int pieces = 0;
        const auto receive = [&](QByteArrayView piece) {
            received += piece;
            if (onPiece)
                onPiece(++pieces);
        };
        connection->run([&](MTPConnection& c) { c.transact(Operation::getObject, {handle}, {}, 0, receive, doThat); },
                        cancel);
        return received;
    }

    // The session still works: the next transaction gets its own answer.
    void expectInStep()
    {
        MTPReader ids(fetch(Operation::getStorageIDs));
        EXPECT_EQ(ids.u32Array(), (std::vector<uint32_t>{0x00010001}));
    }

};

// ---- data phases ----------------------------------------------------------------

TEST_F(MTPTransaction, DataOutMovesWholeMebibytesAndEndsWholePacketsWithAZeroLengthPacket)
{
    EXPECT_EQ(upload({}, 1), (std::vector<size_t>{12, 12}));
    EXPECT_EQ(upload(bytesOf(500), 500), (std::vector<size_t>{12, 512, 0}));
    EXPECT_EQ(upload(bytesOf(501), 501), (std::vector<size_t>{12, 513}));
    EXPECT_EQ(upload(bytesOf(2 * MiB + 100), 1000), (std::vector<size_t>{12, size_t(MiB), size_t(MiB), 112}));
    EXPECT_EQ(upload(bytesOf(3 * MiB - 12), 3 * MiB),
              (std::vector<size_t>{12, size_t(MiB), size_t(MiB), size_t(MiB), 0}));
    const auto stored = phone->objectAt(QStringLiteral("f.bin"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->content->bytes(), bytesOf(3 * MiB - 12).left(stored->content->size()));

    // The packet size of the bulk-out endpoint governs zero-length packets.
    connection->close().wait();
    phone->configure([](auto& s) { s.endpoints = {{0x81, UsbEndpoint::bulk, 64}, {0x01, UsbEndpoint::bulk, 64}}; });
    connect();
    EXPECT_EQ(upload(bytesOf(52), 52), (std::vector<size_t>{12, 64, 0}));
    EXPECT_EQ(upload(bytesOf(53), 53), (std::vector<size_t>{12, 65}));
}

TEST_F(MTPTransaction, LengthsBeyondTheFieldAreAnnouncedAsUnbounded)
{
    // The phone reads an unbounded container up to its short packet.
    upload(bytesOf(100), 100, 4'294'967'283);
    EXPECT_EQ(phone->dataLengths(), (std::vector<uint32_t>{0xFFFFFFFF}));

    // One byte less still fits the field; the phone then waits for the rest.
    EXPECT_TRUE(errorOf([&] { upload(bytesOf(100), 100, 4'294'967'282); }));
    EXPECT_EQ(phone->dataLengths(), (std::vector<uint32_t>{0xFFFFFFFE}));
}

TEST_F(MTPTransaction, DataInArrivesInTransfersOfOneMebibyte)
{
    for (qsizetype size : {qsizetype(0), 3 * MiB + 5})
        EXPECT_EQ(download(bytesOf(size)), bytesOf(size)) << size;
    EXPECT_EQ(phone->inTransfers(), (std::vector<size_t>{size_t(MiB), size_t(MiB), size_t(MiB), 17, 12}));
    // A container of exactly 1 MiB: its zero-length packet is read and dropped.
    EXPECT_EQ(download(bytesOf(MiB - 12)), bytesOf(MiB - 12));
    EXPECT_EQ(phone->inTransfers(), (std::vector<size_t>{size_t(MiB), 0, 12}));
    expectInStep();
}

TEST_F(MTPTransaction, DataAndResponseInOneTransferOrDataOfUnboundedLength)
{
    phone->configure([](auto& s) { s.coalesceResponse = true; });
    EXPECT_EQ(download(bytesOf(1000)), bytesOf(1000));
    EXPECT_EQ(phone->inTransfers().size(), 1u); // the response came from the same transfer
    EXPECT_EQ(download(bytesOf(2 * MiB + 3)), bytesOf(2 * MiB + 3));

    // Containers that announce 0xFFFFFFFF end with the first short transfer.
    phone->configure([](auto& s) {
        s.coalesceResponse = false;
        s.unboundedLengths = true;
    });
    for (qsizetype size : {qsizetype(0), qsizetype(3 * MiB - 12)})
        EXPECT_EQ(download(bytesOf(size)), bytesOf(size)) << size;
    expectInStep();
}

TEST_F(MTPTransaction, ForeignContainersAndEventsAreSkipped)
{
    using mtpsim::SimulatedPhone;
    phone->injectBeforeNextReply(SimulatedPhone::container(Container::event, 0x4002, 0, {77}));
    phone->injectBeforeNextReply({}); // a stray zero-length packet
    phone->injectBeforeNextReply(SimulatedPhone::container(Container::response, Response::ok, 0x00ABCDEF, {1, 2}));
    QByteArray foreign = SimulatedPhone::container(Container::data, Operation::getObject, 0x00ABCDEF);
    foreign[0] = 16; // a data container of another transaction with four bytes of payload
    phone->injectBeforeNextReply(foreign + "XXXX");
    EXPECT_EQ(download(QByteArray("hello")), QByteArray("hello"));
}

// A phone that never stops sending: whether the data phase announces its
// length or 0xFFFFFFFF, a reply held in memory ends at the limit, and the
// session recovers as after any abandoned transaction.
TEST_F(MTPTransaction, AReplyHeldInMemoryEndsAtTheLimitAndTheSessionRecovers)
{
    for (const bool unbounded : {false, true}) {
        phone->configure([&](auto& s) {
            s.unboundedLengths = unbounded;
            s.dataFor[Operation::getStorageIDs] = mtpsim::patternContent(MTPConnection::replyLimit + 1);
        });
        phone->clearRecords();
        const auto error = errorOf([&] { fetch(Operation::getStorageIDs); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("The phone sent a reply too large to read."));
        EXPECT_EQ(phone->classRequests().size(), 1u) << "the transaction was cancelled";
        phone->configure([](auto& s) { s.dataFor.clear(); });
        expectInStep();
    }
}

// ---- failures ---------------------------------------------------------------------

TEST_F(MTPTransaction, AFailedResponseOrATimeOutFailsWithoutRecovery)
{
    phone->configure([](auto& s) {
        s.responseFor[Operation::getObjectHandles] = Response::generalError;
        s.silentFor[Operation::getDeviceInfo] = 1;
    });
    auto error = errorOf([&] { fetch(Operation::getObjectHandles, {0x00010001, 0, rootHandle}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone couldn't do that (MTP error 0x2002)."));
    error = errorOf([&] { fetch(Operation::getDeviceInfo); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Operation timed out"));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(phone->claims(), 1);
    expectInStep();
}

TEST_F(MTPTransaction, AStalledPipeIsClearedAndTheNextTransactionIsInStep)
{
    phone->stallNext(mtpsim::SimulatedPhone::Direction::in);
    const auto error = errorOf([&] { fetch(Operation::getStorageIDs); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Pipe error"));
    EXPECT_EQ(phone->clearedStalls(), (std::vector<uint8_t>{0x81}));
    expectInStep();
}

TEST_F(MTPTransaction, FailuresOnTheWireMidTransferSendNoCancel)
{
    // A time-out keeps the claim.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, MiB, UsbStatus::timeout);
    auto error = errorOf([&] { download(bytesOf(5 * MiB)); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Operation timed out"));
    EXPECT_TRUE(phone->claimed());

    // A phone that stops responding is gone; the next run claims it again.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, MiB, UsbStatus::notResponding);
    error = errorOf([&] { download(bytesOf(5 * MiB)); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_FALSE(phone->claimed());
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
    EXPECT_EQ(phone->claims(), 2);

    // Unplugged: gone, released at once, and left for the manager to drop.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 2 * MiB, UsbStatus::noDevice, true);
    error = errorOf([&] { download(bytesOf(5 * MiB)); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone was disconnected."));
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready);
    EXPECT_TRUE(phone->classRequests().empty());
}

// ---- cancellation and recovery ------------------------------------------------------

TEST_F(MTPTransaction, CancelledDownloadCancelsDrainsAndReopensBeforeTheCallerHears)
{
    std::stop_source stop;
    int seen = 0;
    const auto cancelAtOnce = [&](int piece) {
        seen = piece;
        stop.request_stop();
    };
    EXPECT_THROW(download(bytesOf(5 * MiB), cancelAtOnce, Cancel(stop.get_token())), Cancelled);
    EXPECT_EQ(seen, 1); // noticed before the next 1 MiB

    // All of this happened before run() returned: a Cancel naming the transaction,
    const auto requests = phone->classRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestType, 0x21);
    EXPECT_EQ(requests[0].request, 0x64);
    MTPWriter body;
    body.u16(0x4001);
    body.u32(phone->commands().front().transaction);
    EXPECT_EQ(requests[0].data, body.data);
    // the pipe drained of what was still on its way, and the session opened again.
    const auto reads = phone->inTransfers();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[1], 1536u);
    EXPECT_EQ(phone->releases(), 1);
    EXPECT_EQ(phone->claims(), 2);
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::openSession), 1);
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready);
    expectInStep();
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPTransaction, CallersOwnFailureRecoversAndReachesTheCallerUnchanged)
{
    const SystemError full(QStringLiteral("Couldn't write the file: No space left on device."));
    try {
        download(bytesOf(5 * MiB), [&](int piece) {
            if (piece == 2)
                throw full;
        });
        FAIL() << "the failure was swallowed";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.description(), full.description());
    }
    ASSERT_EQ(phone->classRequests().size(), 1u);
    EXPECT_EQ(phone->classRequests()[0].request, 0x64);
    expectInStep();
}

TEST_F(MTPTransaction, CancellingAQueuedRunLeavesTheRunningOneAlone)
{
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    int piecesA = 0;
    auto a = std::async(std::launch::async, [&] {
        download(bytesOf(5 * MiB), [&](int piece) {
            piecesA = piece;
            if (piece == 1) {
                entered.set_value();
                released.wait_for(10s);
            }
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);

    std::stop_source stopC;
    auto b = std::async(std::launch::async, [&] { fetch(Operation::getStorageIDs); });
    auto c = std::async(std::launch::async, [&] {
        connection->run([](MTPConnection& conn) { return conn.fetch(Operation::getStorageIDs, {}, doThat); },
                        Cancel(stopC.get_token()));
    });
    std::this_thread::sleep_for(50ms); // let both queue behind A
    stopC.request_stop();

    // The cancelled caller hears at once, while A still runs.
    ASSERT_EQ(c.wait_for(5s), std::future_status::ready);
    EXPECT_THROW(c.get(), Cancelled);
    EXPECT_EQ(a.wait_for(0s), std::future_status::timeout);

    release.set_value();
    ASSERT_EQ(a.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(a.get()); // A was not cancelled by C's cancellation
    EXPECT_EQ(piecesA, 6); // 5 MiB and the header: six transfers
    ASSERT_EQ(b.wait_for(10s), std::future_status::ready);
    EXPECT_NO_THROW(b.get());
    EXPECT_TRUE(phone->classRequests().empty());
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::getStorageIDs), 1); // C never reached the phone
}

} // namespace
