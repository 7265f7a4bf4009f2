// Transactions over the bulk pipes: containers, data in both directions,
// zero-length packets, 1 MiB transfers, and what the phone sends besides.
#include "PhoneFixture.h"

#include "MTPDatasets.h"
#include "MTPReader.h"

using namespace mtp;

namespace {

constexpr qsizetype MiB = 1024 * 1024;
const QString doThat = QStringLiteral("do that");

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    mtpsim::patternBytes(7, 0, bytes.data(), static_cast<size_t>(size));
    return bytes;
}

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
            const auto params = c.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                                           [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {},
                                           doThat);
            EXPECT_EQ(params.size(), 3u);
            phone->clearRecords();
            c.transact(Operation::sendObject, {},
                       [&](const MTPConnection::Emit& emit) {
                           for (qsizetype at = 0; at < payload.size(); at += piece)
                               emit(QByteArrayView(payload).sliced(at, std::min(piece, payload.size() - at)));
                       },
                       announce, {}, doThat);
            return phone->outTransfers();
        });
    }

    // Downloads object `handle`; returns the pieces handed to the consumer.
    std::vector<QByteArray> download(uint32_t handle)
    {
        phone->clearRecords();
        std::vector<QByteArray> pieces;
        onQueue([&](MTPConnection& c) {
            c.transact(Operation::getObject, {handle}, {}, 0,
                       [&](QByteArrayView piece) { pieces.push_back(piece.toByteArray()); }, doThat);
        });
        return pieces;
    }

    static QByteArray joined(const std::vector<QByteArray>& pieces)
    {
        QByteArray all;
        for (const auto& p : pieces)
            all += p;
        return all;
    }

    uint32_t lastTransaction() const { return phone->commands().back().transaction; }
};

TEST_F(MTPTransaction, CommandContainersCarryExactlyTheParameters)
{
    phone->clearRecords();
    fetch(Operation::getStorageIDs);
    fetch(Operation::getObjectHandles, {0x00010001, 0, rootHandle});
    const auto sizes = phone->outTransfers();
    ASSERT_EQ(sizes.size(), 2u);
    EXPECT_EQ(sizes[0], 12u);
    EXPECT_EQ(sizes[1], 24u);
    const auto commands = phone->commands();
    EXPECT_EQ(commands[1].params, (std::vector<uint32_t>{0x00010001, 0, rootHandle}));
    EXPECT_EQ(commands[1].transaction, commands[0].transaction + 1);
}

TEST_F(MTPTransaction, ZeroLengthPacketEndsADataPhaseOfWholePackets)
{
    EXPECT_EQ(upload(pattern(500), 500), (std::vector<size_t>{12, 512, 0}));
    EXPECT_EQ(upload(pattern(501), 501), (std::vector<size_t>{12, 513}));
    EXPECT_EQ(upload(pattern(MiB - 12), 4096), (std::vector<size_t>{12, size_t(MiB), 0}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPTransaction, DataOutMovesWholeMebibytesWhateverThePieces)
{
    const QByteArray payload = pattern(2 * MiB + 100);
    EXPECT_EQ(upload(payload, 1000), (std::vector<size_t>{12, size_t(MiB), size_t(MiB), 112}));
    EXPECT_EQ(upload(payload, 3 * MiB), (std::vector<size_t>{12, size_t(MiB), size_t(MiB), 112}));
    EXPECT_EQ(upload(pattern(3 * MiB - 12), 777), (std::vector<size_t>{12, size_t(MiB), size_t(MiB), size_t(MiB), 0}));
    EXPECT_TRUE(phone->violations().empty());
    const auto stored = phone->objectAt(QStringLiteral("f.bin"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->content->bytes(), pattern(3 * MiB - 12).left(stored->content->size()));
}

TEST_F(MTPTransaction, EmptyPayloadIsAHeaderAlone)
{
    EXPECT_EQ(upload({}, 1), (std::vector<size_t>{12, 12}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPTransaction, PacketSizeOfTheBulkOutEndpointGovernsZeroLengthPackets)
{
    connection->close(true);
    phone->configure([](auto& s) {
        s.endpoints = {{0x81, UsbEndpoint::bulk, 64}, {0x01, UsbEndpoint::bulk, 64}};
    });
    connect();
    EXPECT_EQ(onQueue([](MTPConnection& c) { return c.outPacketSize(); }), 64);
    EXPECT_EQ(upload(pattern(52), 52), (std::vector<size_t>{12, 64, 0}));
    EXPECT_EQ(upload(pattern(53), 53), (std::vector<size_t>{12, 65}));
    EXPECT_TRUE(phone->violations().empty());
}

TEST_F(MTPTransaction, LengthsBeyondTheFieldAreAnnouncedAsUnbounded)
{
    // The phone reads an unbounded container up to its short packet.
    upload(pattern(100), 100, 4'294'967'283);
    EXPECT_EQ(phone->dataLengths(), (std::vector<uint32_t>{0xFFFFFFFF}));
    EXPECT_TRUE(phone->violations().empty());

    // One byte less still fits the field; the phone then waits for the rest.
    const auto error = mtpErrorOf([&] { upload(pattern(100), 100, 4'294'967'282); });
    EXPECT_EQ(phone->dataLengths(), (std::vector<uint32_t>{0xFFFFFFFE}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Operation timed out"));
}

TEST_F(MTPTransaction, DataInArrivesInTransfersOfOneMebibyte)
{
    struct Case {
        qsizetype size;
        std::vector<qsizetype> pieces;
    };
    const std::vector<Case> cases = {
        {0, {}},
        {500, {500}},
        {MiB - 12, {MiB - 12}},        // a container of exactly 1 MiB, then a zero-length packet
        {MiB, {MiB - 12, 12}},
        {3 * MiB + 5, {MiB - 12, MiB, MiB, 17}},
    };
    for (const Case& c : cases) {
        const QByteArray content = pattern(c.size);
        const uint32_t handle = phone->addFile(0, QStringLiteral("in.bin"), content);
        const auto pieces = download(handle);
        std::vector<qsizetype> sizes;
        for (const auto& p : pieces)
            sizes.push_back(p.size());
        EXPECT_EQ(sizes, c.pieces) << c.size;
        EXPECT_EQ(joined(pieces), content) << c.size;
    }
    // The zero-length packet after the 1 MiB container was read and dropped.
    const uint32_t handle = phone->addFile(0, QStringLiteral("x"), pattern(MiB - 12));
    download(handle);
    EXPECT_EQ(phone->inTransfers(), (std::vector<size_t>{size_t(MiB), 0, 12}));
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
}

TEST_F(MTPTransaction, DataAndResponseInOneTransfer)
{
    phone->configure([](auto& s) { s.coalesceResponse = true; });
    const QByteArray small = pattern(1000);
    const auto pieces = download(phone->addFile(0, QStringLiteral("a"), small));
    EXPECT_EQ(joined(pieces), small);
    EXPECT_EQ(phone->inTransfers().size(), 1u); // the response came from the same transfer

    const QByteArray large = pattern(2 * MiB + 3);
    EXPECT_EQ(joined(download(phone->addFile(0, QStringLiteral("b"), large))), large);
    // Nothing of either is left over for the next transaction.
    phone->configure([](auto& s) { s.coalesceResponse = false; });
    MTPReader ids(fetch(Operation::getStorageIDs));
    EXPECT_EQ(ids.u32Array(), (std::vector<uint32_t>{0x00010001}));
}

TEST_F(MTPTransaction, UnboundedDataContainersEndWithTheFirstShortTransfer)
{
    phone->configure([](auto& s) { s.unboundedLengths = true; });
    for (qsizetype size : {qsizetype(0), qsizetype(3 * MiB - 12), qsizetype(5 * MiB / 2)}) {
        const QByteArray content = pattern(size);
        EXPECT_EQ(joined(download(phone->addFile(0, QStringLiteral("u"), content))), content) << size;
    }
    MTPReader ids(fetch(Operation::getStorageIDs));
    EXPECT_EQ(ids.u32Array().size(), 1u);
}

TEST_F(MTPTransaction, MoreThanFourGibibytesEachWay)
{
    const uint64_t size = (4ull << 30) + 1000;
    const uint32_t handle = phone->addFile(0, QStringLiteral("huge.bin"), mtpsim::patternContent(size, 3));

    // The ObjectInfo's 32-bit size gives up; the property list has the real one.
    EXPECT_EQ(mtp::readObjectInfo(fetch(Operation::getObjectInfo, {handle})).size, 0xFFFFFFFFu);
    MTPReader list(fetch(Operation::getObjectPropList, {handle, 0, ObjectProperty::objectSize, 0, 0}));
    EXPECT_EQ(list.u32(), 1u);
    list.skip(6);
    EXPECT_EQ(list.u16(), DataType::uint64);
    EXPECT_EQ(list.u64(), size);

    // Down: the data container cannot state its length and ends with a short transfer.
    uint64_t received = 0;
    QByteArray last;
    onQueue([&](MTPConnection& c) {
        c.transact(Operation::getObject, {handle}, {}, 0,
                   [&](QByteArrayView piece) {
                       received += uint64_t(piece.size());
                       last = piece.toByteArray();
                   },
                   doThat);
    });
    EXPECT_EQ(received, size);
    QByteArray tail(last.size(), Qt::Uninitialized);
    mtpsim::patternBytes(3, size - uint64_t(tail.size()), tail.data(), size_t(tail.size()));
    EXPECT_EQ(last, tail);

    // Up: announced as unbounded; the phone reads to the short packet.
    onQueue([&](MTPConnection& c) {
        const QByteArray info = MTPConnection::objectInfo(QStringLiteral("back.bin"), Format::undefined, int64_t(size),
                                                          QDateTime::currentDateTime());
        c.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                   [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {}, doThat);
        c.transact(Operation::sendObject, {},
                   [&](const MTPConnection::Emit& emit) {
                       QByteArray piece(MiB, Qt::Uninitialized);
                       for (uint64_t at = 0; at < size; at += uint64_t(piece.size())) {
                           const auto n = qsizetype(std::min<uint64_t>(MiB, size - at));
                           mtpsim::patternBytes(3, at, piece.data(), size_t(n));
                           emit(QByteArrayView(piece).first(n));
                       }
                   },
                   int64_t(size), {}, doThat);
    });
    const auto back = phone->objectAt(QStringLiteral("back.bin"));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->size(), size);
    EXPECT_EQ(back->content->digest(), phone->object(handle)->content->digest());
    EXPECT_EQ(phone->dataLengths().back(), 0xFFFFFFFFu);
    EXPECT_TRUE(phone->violations().empty());
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
    const auto pieces = download(phone->addFile(0, QStringLiteral("h"), QByteArray("hello")));
    EXPECT_EQ(joined(pieces), QByteArray("hello"));
}

TEST_F(MTPTransaction, ResponseParametersAsManyAsTheContainerHolds)
{
    EXPECT_TRUE(onQueue([](MTPConnection& c) {
                    return c.transact(Operation::getStorageIDs, {}, {}, 0, {}, doThat);
                }).empty()); // a 12-byte response

    phone->configure([](auto& s) { s.silentFor[Operation::getStorageIDs] = 1; });
    phone->injectBeforeNextReply(
        mtpsim::SimulatedPhone::container(Container::response, Response::ok, lastTransaction() + 1, {1, 2, 3, 4, 5}));
    const auto params = onQueue([](MTPConnection& c) {
        return c.transact(Operation::getStorageIDs, {}, {}, 0, {}, doThat);
    });
    EXPECT_EQ(params, (std::vector<uint32_t>{1, 2, 3, 4, 5}));
}

TEST_F(MTPTransaction, FailedResponseKeepsTheSession)
{
    phone->configure([](auto& s) { s.responseFor[Operation::getObjectHandles] = Response::generalError; });
    const auto error = mtpErrorOf([&] {
        onQueue([](MTPConnection& c) {
            c.transact(Operation::getObjectHandles, {0x00010001, 0, rootHandle}, {}, 0, {},
                       QStringLiteral("list this folder"));
        });
    });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone couldn't list this folder (MTP error 0x2002)."));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(phone->claims(), 1);
    EXPECT_TRUE(phone->sessionIsOpen());
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
}

TEST_F(MTPTransaction, TimeOutIsAFailureWithoutRecovery)
{
    phone->configure([](auto& s) { s.silentFor[Operation::getStorageIDs] = 1; });
    const auto error = mtpErrorOf([&] { fetch(Operation::getStorageIDs); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::failed);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Operation timed out"));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(phone->claims(), 1);
    EXPECT_EQ(phone->commands().back().timeout, std::chrono::milliseconds(60000));
}

TEST_F(MTPTransaction, MalformedContainerAndLeftoversOfTheFailedTransaction)
{
    phone->injectBeforeNextReply(QByteArray("abcde"));
    const auto error = mtpErrorOf([&] { fetch(Operation::getDeviceInfo); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone sent an unexpected reply."));
    // The DeviceInfo reply still waits on the pipe; the next transaction skips it by its ID.
    MTPReader ids(fetch(Operation::getStorageIDs));
    EXPECT_EQ(ids.u32Array(), (std::vector<uint32_t>{0x00010001}));
}

TEST_F(MTPTransaction, StalledPipeIsClearedAndReported)
{
    phone->stallNext(mtpsim::SimulatedPhone::Direction::in);
    const auto error = mtpErrorOf([&] { fetch(Operation::getStorageIDs); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("USB error talking to the phone: Pipe error"));
    EXPECT_EQ(phone->clearedStalls(), (std::vector<uint8_t>{0x81}));
    EXPECT_FALSE(fetch(Operation::getStorageIDs).isEmpty());
}

} // namespace

namespace {

// The simulated phone compares gigabytes by digest; the digest must not
// depend on how the bytes were cut, and must see a single changed byte.
TEST(MTPSimulatedPhoneDigest, IndependentOfPiecesAndSensitiveToEveryByte)
{
    QByteArray bytes(100'003, Qt::Uninitialized);
    mtpsim::patternBytes(1, 0, bytes.data(), size_t(bytes.size()));
    mtpsim::Digest whole, pieces;
    whole.update(bytes.constData(), size_t(bytes.size()));
    for (qsizetype at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 % 4099 + 1)
        pieces.update(bytes.constData() + at, size_t(std::min(step, bytes.size() - at)));
    EXPECT_EQ(whole.value(), pieces.value());
    for (qsizetype at : {qsizetype(0), qsizetype(50'000), bytes.size() - 1}) {
        QByteArray changed = bytes;
        changed[at] = char(changed[at] ^ 1);
        mtpsim::Digest other;
        other.update(changed.constData(), size_t(changed.size()));
        EXPECT_NE(other.value(), whole.value()) << at;
    }
    EXPECT_EQ(mtpsim::bytesContent(bytes)->digest(), whole.value());
}

} // namespace
