// What happens to a transaction that is cancelled, fails in the caller's hands,
// or loses its phone; and that a cancellation reaches only the run it was meant for.
#include "PhoneFixture.h"

#include "MTPReader.h"

#include <future>
#include <thread>

using namespace mtp;
using namespace std::chrono_literals;

namespace {

constexpr qsizetype MiB = 1024 * 1024;
const QString doThat = QStringLiteral("do that");

class MTPRecovery : public PhoneTest {
protected:
    void SetUp() override
    {
        connect();
        bigFile = phone->addFile(0, QStringLiteral("big.bin"), mtpsim::patternContent(5 * MiB));
        phone->clearRecords();
    }

    // Runs a download of the big file, calling onPiece after each piece.
    void download(const std::function<void(int piece)>& onPiece, const Cancel& cancel = Cancel())
    {
        int pieces = 0;
        connection->run(
            [&](MTPConnection& c) {
                c.transact(Operation::getObject, {bigFile}, {}, 0,
                           [&](QByteArrayView) { onPiece(++pieces); }, QStringLiteral("copy that file"));
            },
            cancel);
    }

    uint32_t transactionOf(uint16_t code) const
    {
        for (const auto& c : phone->commands()) {
            if (c.code == code)
                return c.transaction;
        }
        return 0;
    }

    static QByteArray cancelBody(uint32_t transaction)
    {
        QByteArray body("\x01\x40", 2);
        for (int i = 0; i < 4; ++i)
            body.append(static_cast<char>(transaction >> (8 * i)));
        return body;
    }

    uint32_t bigFile = 0;
};

TEST_F(MTPRecovery, CancelledDownloadCancelsDrainsAndReopensBeforeTheCallerHears)
{
    std::stop_source stop;
    int seen = 0;
    EXPECT_THROW(download([&](int piece) {
                     seen = piece;
                     stop.request_stop();
                 },
                          Cancel(stop.get_token())),
                 Cancelled);
    EXPECT_EQ(seen, 1); // noticed before the next 1 MiB

    // All of this happened before run() returned.
    const auto requests = phone->classRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestType, 0x21);
    EXPECT_EQ(requests[0].request, 0x64);
    EXPECT_EQ(requests[0].index, 0);
    EXPECT_EQ(requests[0].data, cancelBody(transactionOf(Operation::getObject)));
    // The pipe was drained of what was still on its way before the interface was let go.
    const auto reads = phone->inTransfers();
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[0], size_t(MiB));
    EXPECT_EQ(reads[1], 1536u);
    EXPECT_EQ(phone->releases(), 1);
    EXPECT_EQ(phone->claims(), 2);
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::openSession), 1);
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready);

    // The session works, and nothing of the cancelled download gets in its way.
    MTPReader ids(fetch(Operation::getStorageIDs));
    EXPECT_EQ(ids.u32Array(), (std::vector<uint32_t>{0x00010001}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPRecovery, CancelledUploadStopsAfterTheMebibyteInFlight)
{
    std::stop_source stop;
    const QByteArray piece(256 * 1024, 'u');
    EXPECT_THROW(connection->run(
                     [&](MTPConnection& c) {
                         const QByteArray info = MTPConnection::objectInfo(QStringLiteral("up.bin"), Format::undefined,
                                                                           5 * MiB, QDateTime::currentDateTime());
                         c.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                                    [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {}, doThat);
                         c.transact(Operation::sendObject, {},
                                    [&](const MTPConnection::Emit& emit) {
                                        for (int i = 0; i < 20; ++i) {
                                            if (i == 7) // while the second MiB is on its way
                                                stop.request_stop();
                                            emit(piece);
                                        }
                                    },
                                    5 * MiB, {}, QStringLiteral("copy files to it"));
                     },
                     Cancel(stop.get_token())),
                 Cancelled);
    const auto requests = phone->classRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].data, cancelBody(transactionOf(Operation::sendObject)));
    const auto partial = phone->objectAt(QStringLiteral("up.bin"));
    ASSERT_TRUE(partial); // what arrived stays until the caller deletes it
    EXPECT_EQ(partial->size(), uint64_t(2 * MiB - 12));
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready);
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
}

TEST_F(MTPRecovery, CallersOwnFailureRecoversAndReachesTheCallerUnchanged)
{
    try {
        download([](int piece) {
            if (piece == 2)
                throw SystemError(QStringLiteral("Couldn't write the file: No space left on device."));
        });
        FAIL() << "the failure was swallowed";
    } catch (const SystemError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("Couldn't write the file: No space left on device."));
    }
    ASSERT_EQ(phone->classRequests().size(), 1u);
    EXPECT_EQ(phone->classRequests()[0].request, 0x64);
    EXPECT_EQ(phone->claims(), 2);
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
}

TEST_F(MTPRecovery, UnpluggedMidTransferIsGoneWithoutCancel)
{
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 2 * MiB, UsbStatus::noDevice, true);
    const auto error = mtpErrorOf([&] { download([](int) {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_EQ(error->description(), QStringLiteral("The phone was disconnected."));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_FALSE(phone->claimed()); // released at once
    EXPECT_EQ(connection->status(), MTPConnection::Status::ready); // left for the manager to drop
}

TEST_F(MTPRecovery, PhoneThatStopsRespondingIsGoneAndTheNextRunReconnects)
{
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, MiB, UsbStatus::notResponding);
    const auto error = mtpErrorOf([&] { download([](int) {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_FALSE(phone->claimed());

    MTPReader ids(fetch(Operation::getStorageIDs)); // claims the interface again first
    EXPECT_EQ(ids.u32Array().size(), 1u);
    EXPECT_EQ(phone->claims(), 2);
}

TEST_F(MTPRecovery, TimeOutMidTransferKeepsTheClaim)
{
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, MiB, UsbStatus::timeout);
    const auto error = mtpErrorOf([&] { download([](int) {}); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Operation timed out"));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_TRUE(phone->claimed());
}

TEST_F(MTPRecovery, CancellingAQueuedRunLeavesTheRunningOneAlone)
{
    std::promise<void> entered;
    std::promise<void> release;
    auto released = release.get_future().share();
    int piecesA = 0;
    auto a = std::async(std::launch::async, [&] {
        download([&](int piece) {
            piecesA = piece;
            if (piece == 1) {
                entered.set_value();
                released.wait_for(10s);
            }
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);

    std::stop_source stopB;
    auto b = std::async(std::launch::async, [&] {
        fetch(Operation::getStorageIDs); // warms nothing: only queues behind A
    });
    auto c = std::async(std::launch::async, [&] {
        connection->run([](MTPConnection& conn) { return conn.fetch(Operation::getStorageIDs, {}, doThat); },
                        Cancel(stopB.get_token()));
    });
    std::this_thread::sleep_for(50ms); // let both queue behind A
    stopB.request_stop();

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

TEST_F(MTPRecovery, RunCancelledBeforeItStartsDoesNothing)
{
    std::stop_source stop;
    stop.request_stop();
    bool ran = false;
    EXPECT_THROW(connection->run([&](MTPConnection&) { ran = true; }, Cancel(stop.get_token())), Cancelled);
    EXPECT_FALSE(ran);
    EXPECT_TRUE(phone->commands().empty());
}

TEST_F(MTPRecovery, RunPassesResultsAndFailuresThrough)
{
    EXPECT_EQ(connection->run([](MTPConnection&) { return 42; }, Cancel()), 42);
    EXPECT_THROW(connection->run([](MTPConnection&) -> int { throw MTPError::locked(); }, Cancel()), MTPError);
}

} // namespace
