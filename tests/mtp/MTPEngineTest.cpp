// The session and the transaction engine: datasets and their bytes, opening
// and closing a session, data phases in both directions, what the phone sends
// besides, and what a failed, cancelled or hostile transaction leaves.
#include "PhoneFixture.h"

#include "MTPDatasets.h"
#include "MTPReader.h"
#include "Error.h"
#include "TestSupport.h"

#include <functional>
#include <future>
#include <iostream>
#include <limits>
#include <set>
#include <thread>

using namespace mtp;
using namespace std::chrono_literals;

namespace {

const QString doThat = QStringLiteral("do that");
const QString unexpected = QStringLiteral("The phone sent an unexpected reply.");

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// ---- datasets -------------------------------------------------------------------

// A broken or hostile phone: every count and length is checked against what
// remains, at once, and a failed read consumes nothing.
TEST(MTPReader, WhatClaimsMoreThanRemainsFailsBeforeReadingAnyOfIt)
{
    const std::vector<std::tuple<const char*, QByteArray, std::function<void(MTPReader&)>>> cases = {
        {"u64", bytes({1, 2, 3, 4, 5, 6, 7}), [](MTPReader& r) { r.u64(); }},
        {"string", bytes({0x04, 'a', 0, 'b', 0, 0}), [](MTPReader& r) { r.string(); }},
        {"u16 array", bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 0}), [](MTPReader& r) { r.u16Array(); }},
        {"u32 array", bytes({2, 0, 0, 0, 1, 0, 0, 0}), [](MTPReader& r) { r.u32Array(); }},
        {"array of strings", bytes({1, 0, 0, 0, 0}), [](MTPReader& r) { r.value(0x4FFF); }},
        {"a type nobody knows", bytes({1, 2, 3, 4}), [](MTPReader& r) { r.value(0x000B); }},
    };
    for (const auto& [what, data, read] : cases) {
        MTPReader reader(data);
        EXPECT_EQ(failureOf([&] { read(reader); }), unexpected) << what;
        EXPECT_EQ(reader.position(), 0) << what;
    }
}

// What is skipped is not needed: a skip stops at the end and never fails, so
// a short dataset fails at its next real read, and values nobody uses never
// spoil a property list.
TEST(MTPReader, WhatIsSkippedStopsAtTheEndAndNeverFails)
{
    const std::vector<std::tuple<const char*, QByteArray, uint16_t, qsizetype>> values = {
        {"a 128-bit value with 5 bytes left", bytes({1, 2, 3, 4, 5}), DataType::uint128, 5},
        {"a 128-bit value and more", QByteArray(18, '\1'), DataType::int128, 16},
        {"2^32-1 128-bit values in 3 bytes", bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}),
         DataType::arrayFlag | DataType::uint128, 7},
        {"three u16 values", bytes({3, 0, 0, 0, 1, 0, 2, 0, 3, 0, 9}), DataType::arrayFlag | DataType::uint16, 10},
        {"no strings", bytes({0, 0, 0, 0, 9}), 0x4FFF, 4},
        {"no values of a type nobody knows", bytes({0, 0, 0, 0}), DataType::arrayFlag | 0x000B, 4},
    };
    for (const auto& [what, data, type, consumed] : values) {
        MTPReader reader(data);
        std::optional<MTPValue> read;
        EXPECT_EQ(failureOf([&] { read = reader.value(type); }), QString()) << what;
        EXPECT_EQ(std::tuple(read.has_value(), reader.position()), std::tuple(false, consumed)) << what;
    }
    MTPReader reader(bytes({1, 2, 3}));
    EXPECT_EQ(failureOf([&] { reader.skip(4); }), QString());
    EXPECT_EQ(reader.remaining(), 0);
    EXPECT_EQ(failureOf([&] { reader.u8(); }), unexpected);
}

// The sentences the user reads for what the phone answered, word for word.
TEST(MTPError, EachResponseAndCaseReadsAsItsOwnSentence)
{
    const QString readOnly = QStringLiteral("The phone didn't allow that (read-only location).");
    const std::vector<std::tuple<uint16_t, const char*, QString>> responses = {
        {0x200C, "copy files to it", QStringLiteral("The phone is full.")},
        {0x200D, "delete that", readOnly},
        {0x200E, "copy files to it", readOnly},
        {0x201D, "rename that", readOnly},
        {0x2019, "list this folder", QStringLiteral("The phone is busy. Try again in a moment.")},
        {0x2009, "copy that file", QStringLiteral("The file is no longer on the phone. Refresh and try again.")},
        {0x2005, "rename that",
         QStringLiteral("This phone can't rename that over file transfer. Turn on USB debugging to do it.")},
        {0x2002, "list this folder", QStringLiteral("The phone couldn't list this folder (MTP error 0x2002).")},
        {0x000F, "do that", QStringLiteral("The phone couldn't do that (MTP error 0x000F).")},
        {0xA80b, "do that", QStringLiteral("The phone couldn't do that (MTP error 0xA80B).")},
    };
    for (const auto& [code, what, sentence] : responses)
        EXPECT_EQ(MTPError::response(code, QString::fromLatin1(what)).description(), sentence) << std::hex << code;
    // A handle gone stale is known by its kind, whatever the sentence says.
    EXPECT_EQ(MTPError::response(0x2009, QStringLiteral("do that")).kind(), MTPError::Kind::stale);
    EXPECT_EQ(MTPError::failed(QStringLiteral("The file is no longer on the phone. Refresh and try again.")).kind(),
              MTPError::Kind::failed);

    const std::vector<std::pair<MTPError, QString>> cases = {
        {MTPError::busy(), QStringLiteral("Another app, such as the file manager, is using the phone's file "
                                          "transfer. Quit it and try again.")},
        {MTPError::locked(), QStringLiteral("Unlock your phone to see its files.")},
        {MTPError::gone(), QStringLiteral("The phone was disconnected.")},
        {MTPError::notFound(QStringLiteral("Camera")), QStringLiteral("“Camera” isn't on the phone any more.")},
    };
    for (const auto& [error, sentence] : cases)
        EXPECT_EQ(error.description(), sentence);
}

TEST(MTPDatasets, ObjectInfoWrittenAndReadBackAndDatesInLocalTime)
{
    const QDateTime when(QDate(2023, 12, 31), QTime(23, 59, 58));
    const auto folder = readObjectInfo(MTPConnection::objectInfo(QStringLiteral("Camera"), Format::association, 4096, when));
    EXPECT_EQ(std::tuple(folder.isDirectory(), folder.size, folder.name, folder.modified),
              std::tuple(true, 4096u, QStringLiteral("Camera"), when));
    // A size beyond the 32-bit field is written as 0xFFFFFFFF, a name beyond 254 units cut.
    const QByteArray huge = MTPConnection::objectInfo(QString(300, QLatin1Char('x')), Format::undefined, 5'000'000'000, when);
    EXPECT_EQ(std::tuple(readObjectInfo(huge).size, readObjectInfo(huge).name),
              std::tuple(0xFFFFFFFFu, QString(254, QLatin1Char('x'))));
    EXPECT_TRUE(errorOf([&] { readObjectInfo(huge.left(40)); }));
    // UTF-16 with its NUL, or without one and with a surrogate pair.
    EXPECT_EQ(MTPReader(bytes({0x03, 'a', 0, 'b', 0, 0, 0})).string(), QStringLiteral("ab"));
    EXPECT_EQ(MTPReader(bytes({0x02, 0x3D, 0xD8, 0x00, 0xDE})).string(), QStringLiteral("😀"));

    EXPECT_EQ(MTPObject::dateString(when.addMSecs(999)), QStringLiteral("20231231T235958"));
    EXPECT_EQ(MTPObject::date(QStringLiteral("20231231T235958.0Z")), when);
    EXPECT_EQ(MTPObject::date(QStringLiteral("20231231T235958+0100")), when);
    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    EXPECT_EQ(MTPObject::date(QStringLiteral("2024-03-07")), epoch);
    EXPECT_EQ(MTPObject::date(QStringLiteral("00000000T000000")), epoch); // no year 0
}

// ---- the session ------------------------------------------------------------------

using MTPSession = PhoneTest;
using Status = MTPConnection::Status;

TEST_F(MTPSession, OpensReadsThePhoneAndCloses)
{
    phone->configure([](auto& s) {
        s.manufacturer = QStringLiteral("SAMSUNG electronics");
        s.batteryLevel = 77;
        s.friendlyName = QStringLiteral("Anna's phone");
    });
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010001, 128ull << 30, 100ull << 30);
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    EXPECT_EQ(connection->name(), QStringLiteral("Anna's phone"));
    const auto commands = phone->commands();
    ASSERT_GE(commands.size(), 3u);
    EXPECT_EQ(std::tuple(commands[0].code, commands[0].params), std::tuple(Operation::openSession, std::vector<uint32_t>{1}));
    EXPECT_EQ(commands[2].transaction, commands[0].transaction + 2);
    EXPECT_EQ(commands[2].timeout, 4000ms); // setting up waits 4 seconds per transfer; afterwards 60
    EXPECT_EQ(connection->info(Cancel()), (DeviceInfo{std::nullopt, QStringLiteral("Samsung Electronics"), 77, false,
                                                      int64_t(128ull << 30), int64_t(100ull << 30)}));
    EXPECT_EQ(phone->commands().back().timeout, 60000ms);

    // Closing ends the session and stops listening for events.
    EXPECT_EQ(phone->pendingInterruptReads(), 1);
    phone->clearRecords();
    connection->close().wait();
    EXPECT_EQ(phone->commandCodes(), (std::vector<uint16_t>{Operation::closeSession}));
    EXPECT_EQ(phone->pendingInterruptReads(), 0);
}

// Mended: a battery level of 250 and more free space than the storage holds
// were shown as facts.
TEST_F(MTPSession, FactsNoPhoneCanHaveAreLeftOut)
{
    phone->configure([](auto& s) { s.batteryLevel = 250; });
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010001, 4ull << 20, 8ull << 20);
    connect();
    DeviceInfo facts = connection->info(Cancel());
    EXPECT_EQ(facts.battery, std::nullopt);
    EXPECT_EQ(facts.storageTotal, int64_t(4ull << 20));
    EXPECT_EQ(facts.storageFree, std::nullopt);

    // Beyond what a signed count holds.
    phone->configure([](auto& s) { s.batteryLevel = 100; });
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010001, ~0ull, 1ull << 20);
    facts = connection->info(Cancel());
    EXPECT_EQ(facts.battery, 100);
    EXPECT_EQ(facts.storageTotal, std::nullopt);
    EXPECT_EQ(facts.storageFree, int64_t(1ull << 20));
}

// Mended: a claim that got no thread for its events was taken for another
// program's hold, and the person was told to quit the file manager.
TEST_F(MTPSession, AClaimThatGetsNoThreadIsNoOtherProgramsHold)
{
    host->failOpensWith(std::make_exception_ptr(NoThreadError(EAGAIN)));
    connect();
    EXPECT_NE(connection->status(), Status::busy);
    EXPECT_THROW(onQueue([](MTPConnection&) {}), NoThreadError);
    EXPECT_NE(connection->status(), Status::busy);
    host->failOpensWith(nullptr);
    connection->check();
    EXPECT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::ready; }, 30s));
}

TEST_F(MTPSession, BusyOrLockedUntilThePhoneLetsGoOrShowsAStorage)
{
    phone->configure([](auto& s) { s.heldByOtherProgram = true; });
    connect();
    EXPECT_EQ(connection->status(), Status::busy);
    EXPECT_EQ(kindOf([&] { onQueue([](MTPConnection&) {}); }), MTPError::Kind::busy);
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010000); // a slot without a medium
    phone->configure([](auto& s) { s.heldByOtherProgram = false; });
    connection->check(); // tries the claim again, without waiting for it
    ASSERT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::locked; }, 30s));
    EXPECT_EQ(kindOf([&] { connection->info(Cancel()); }), MTPError::Kind::locked);

    phone->addStorage(0x00020001);
    connection->check();
    ASSERT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::ready; }, 30s));
    EXPECT_EQ(phone->claims(), 1);
}

TEST_F(MTPSession, ASessionLeftOpenCountsAndAnUnansweredOpenResetsTheDeviceOnce)
{
    phone->configure([](auto& s) { s.sessionOpen = true; });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    connection->close().wait();
    phone->configure([](auto& s) { s.silentFor[Operation::openSession] = 1; });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    ASSERT_EQ(phone->classRequests().size(), 1u) << "only the silent open reset the device";
    EXPECT_EQ(phone->classRequests()[0].request, 0x66);
    connection->close().wait();

    // A second silence is final: no session, nothing claimed, the failure told.
    phone->configure([](auto& s) { s.silentFor[Operation::openSession] = 2; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    phone->configure([](auto& s) { s.responseFor[Operation::openSession] = Response::generalError; });
    EXPECT_EQ(failureOf([&] { onQueue([](MTPConnection&) {}); }),
              QStringLiteral("The phone couldn't do that (MTP error 0x2002)."));
}

// The interface's endpoints decide the pipes: the first bulk pair by address,
// the last interrupt-in endpoint for events, the bulk-out packet size for
// zero-length packets; without a bulk pair the phone can't be used.
// Mended: a run queued before a close, or asked for after it, claimed the
// phone again once the close had let go of it, so that the phone's next
// connection (after a reconnect) found it busy.
TEST_F(MTPSession, AClosedConnectionNeverClaimsThePhoneAgain)
{
    connect();
    ASSERT_EQ(connection->status(), Status::ready);
    const std::shared_ptr<MTPConnection> closed = connection;
    closed->close().wait();
    EXPECT_FALSE(phone->claimed());
    const auto error = errorOf([&] { closed->list(QStringLiteral("/sdcard"), true, Cancel()); });
    EXPECT_EQ(error ? std::optional(error->kind()) : std::nullopt, MTPError::Kind::gone);
    closed->check();
    EXPECT_FALSE(phone->claimed());
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    closed->close().wait();
    EXPECT_TRUE(phone->claimed()); // the new connection's claim stays
}

TEST_F(MTPSession, PipesAreChosenFromTheEndpointsTheInterfaceOffers)
{
    using E = UsbEndpoint;
    struct Case {
        const char* what;
        std::vector<UsbEndpoint> endpoints;
        std::set<uint8_t> bulk;          // the pipes data moved on
        std::optional<uint8_t> events;   // the pipe listened on
        size_t packet = 512;             // the bulk-out packet size
    };
    const std::vector<Case> cases = {
        {"two bulk-in endpoints", {{0x83, E::bulk, 512}, {0x81, E::bulk, 512}, {0x02, E::bulk, 512}}, {0x81, 0x02}, {}},
        {"two interrupt-in endpoints",
         {{0x81, E::bulk, 512}, {0x01, E::bulk, 512}, {0x83, E::interrupt, 28}, {0x82, E::interrupt, 28}},
         {0x81, 0x01},
         0x83},
        {"64-byte packets", {{0x81, E::bulk, 64}, {0x01, E::bulk, 64}, {0x82, E::interrupt, 8}}, {0x81, 0x01},
         0x82, 64},
        {"no interrupt endpoint", {{0x81, E::bulk, 512}, {0x01, E::bulk, 512}, {0x02, E::interrupt, 8}},
         {0x81, 0x01},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone->configure([&](auto& s) { s.endpoints = c.endpoints; });
        connect();
        ASSERT_EQ(connection->status(), Status::ready);
        EXPECT_EQ(phone->interruptEndpointUsed(), c.events);
        EXPECT_EQ(phone->pendingInterruptReads(), c.events ? 1 : 0);
        // A payload that fills whole packets with its header ends with a zero-length packet.
        const QByteArray payload = bytesOf(qsizetype(c.packet) - 12);
        const std::vector<size_t> sent = onQueue([&](MTPConnection& conn) {
            const QByteArray info =
                MTPConnection::objectInfo(QStringLiteral("f.bin"), Format::undefined, payload.size(), {});
            conn.transact(Operation::sendObjectInfo, {0x00010001, rootHandle},
                          [&](const MTPConnection::Emit& emit) { emit(info); }, info.size(), {}, doThat);
            phone->clearRecords();
            conn.transact(Operation::sendObject, {}, [&](const MTPConnection::Emit& emit) { emit(payload); },
                          payload.size(), {}, doThat);
            return phone->outTransfers();
        });
        EXPECT_EQ(sent, (std::vector<size_t>{12, c.packet, 0}));
        EXPECT_EQ(phone->bulkEndpointsUsed(), c.bulk);
        EXPECT_TRUE(phone->violations().empty());
        connection->close().wait();
    }

    phone->configure([](auto& s) { s.endpoints = {{0x81, E::bulk, 512}, {0x82, E::interrupt, 28}}; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(failureOf([&] { onQueue([](MTPConnection&) {}); }),
              QStringLiteral("The phone's file transfer interface looks unusual."));
}

// ---- transactions -----------------------------------------------------------------

class MTPTransaction : public PhoneTest {
protected:
    void SetUp() override { connect(); }

    // Sends `payload` as a new file in pieces of `piece` bytes, announcing
    // `announce` bytes; returns the bulk-out transfers of the SendObject.
    std::vector<size_t> upload(const QByteArray& payload, qsizetype piece, int64_t announce = -1)
    {
        announce = announce < 0 ? payload.size() : announce;
        return onQueue([&](MTPConnection& c) {
            const QByteArray info = MTPConnection::objectInfo(QStringLiteral("f.bin"), Format::undefined, announce, {});
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

    // Downloads a new file of `content`, calling onPiece after each piece.
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
        EXPECT_EQ(MTPReader(fetch(Operation::getStorageIDs)).u32Array(), (std::vector<uint32_t>{0x00010001}));
    }
};

TEST_F(MTPTransaction, DataOutMovesWholeMebibytesAndEndsWholePacketsWithAZeroLengthPacket)
{
    EXPECT_EQ(upload({}, 1), (std::vector<size_t>{12, 12}));
    EXPECT_EQ(upload(bytesOf(500), 500), (std::vector<size_t>{12, 512, 0}));
    EXPECT_EQ(upload(bytesOf(501), 501), (std::vector<size_t>{12, 513}));
    EXPECT_EQ(upload(bytesOf(2 * MiB + 100), 1000), (std::vector<size_t>{12, size_t(MiB), size_t(MiB), 112}));
    EXPECT_EQ(upload(bytesOf(3 * MiB - 12), 3 * MiB),
              (std::vector<size_t>{12, size_t(MiB), size_t(MiB), size_t(MiB), 0}));

    // A length beyond the field is announced as unbounded: the phone reads up to the short packet.
    upload(bytesOf(100), 100, 4'294'967'283);
    EXPECT_EQ(phone->dataLengths(), (std::vector<uint32_t>{0xFFFFFFFF}));

}

TEST_F(MTPTransaction, DataInArrivesInMebibytesWithOrWithoutItsLengthOrWithItsResponse)
{
    for (qsizetype size : {qsizetype(0), 3 * MiB + 5})
        EXPECT_EQ(download(bytesOf(size)), bytesOf(size)) << size;
    EXPECT_EQ(phone->inTransfers(), (std::vector<size_t>{size_t(MiB), size_t(MiB), size_t(MiB), 17, 12}));
    // A container of exactly 1 MiB: its zero-length packet is read and dropped.
    EXPECT_EQ(download(bytesOf(MiB - 12)), bytesOf(MiB - 12));
    EXPECT_EQ(phone->inTransfers(), (std::vector<size_t>{size_t(MiB), 0, 12}));

    phone->configure([](auto& s) { s.coalesceResponse = true; });
    EXPECT_EQ(download(bytesOf(1000)), bytesOf(1000));
    EXPECT_EQ(phone->inTransfers().size(), 1u); // the response came from the same transfer
    // Containers that announce 0xFFFFFFFF end with the first short transfer.
    phone->configure([](auto& s) {
        s.coalesceResponse = false;
        s.unboundedLengths = true;
    });
    for (qsizetype size : {qsizetype(0), qsizetype(3 * MiB - 12), 2 * MiB + 3})
        EXPECT_EQ(download(bytesOf(size)), bytesOf(size)) << size;

    // Events, stray zero-length packets and what is left of other transactions are skipped.
    using mtpsim::SimulatedPhone;
    phone->injectBeforeNextReply(SimulatedPhone::container(Container::event, 0x4002, 0, {77}));
    phone->injectBeforeNextReply({});
    phone->injectBeforeNextReply(SimulatedPhone::container(Container::response, Response::ok, 0x00ABCDEF, {1, 2}));
    QByteArray foreign = SimulatedPhone::container(Container::data, Operation::getObject, 0x00ABCDEF);
    foreign[0] = 16; // four bytes of payload
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
        EXPECT_EQ(failureOf([&] { fetch(Operation::getStorageIDs); }),
                  QStringLiteral("The phone sent a reply too large to read."));
        EXPECT_EQ(phone->classRequests().size(), 1u) << "the transaction was cancelled";
        phone->configure([](auto& s) { s.dataFor.clear(); });
        expectInStep();
    }
}

TEST_F(MTPTransaction, AFailedResponseATimeOutOrAStallFailsWithoutRecovery)
{
    phone->configure([](auto& s) {
        s.responseFor[Operation::getObjectHandles] = Response::generalError;
        s.silentFor[Operation::getDeviceInfo] = 1;
    });
    phone->stallNext(mtpsim::SimulatedPhone::Direction::in);
    const std::pair<uint16_t, const char*> cases[] = {
        {Operation::getStorageIDs, "USB error talking to the phone: Pipe error"},
        {Operation::getObjectHandles, "The phone couldn't do that (MTP error 0x2002)."},
        {Operation::getDeviceInfo, "USB error talking to the phone: Operation timed out"}};
    for (const auto& [code, sentence] : cases) {
        EXPECT_EQ(failureOf([&] { fetch(code, {0x00010001, 0, rootHandle}); }), QString::fromUtf8(sentence));
        expectInStep();
    }
    EXPECT_EQ(phone->clearedStalls(), (std::vector<uint8_t>{0x81}));
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(phone->claims(), 1);

    // A phone that stops responding mid-transfer is gone, released without a
    // Cancel; the next run claims it again.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, MiB, UsbStatus::notResponding);
    EXPECT_EQ(kindOf([&] { download(bytesOf(5 * MiB)); }), MTPError::Kind::gone);
    EXPECT_FALSE(phone->claimed());
    EXPECT_TRUE(phone->classRequests().empty());
    expectInStep();
    EXPECT_EQ(phone->claims(), 2);
}

TEST_F(MTPTransaction, ACancelledOrFailingConsumerCancelsAndDrainsBeforeTheCallerHears)
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
    MTPReader body(requests[0].data);
    const uint16_t reason = body.u16();
    EXPECT_EQ(std::tuple(requests[0].requestType, requests[0].request, reason, body.u32()),
              std::tuple(uint8_t(0x21), uint8_t(0x64), uint16_t(0x4001), phone->commands().front().transaction));
    // the phone asked until it was through with it, the pipe drained of what
    // was still on its way, and the session kept.
    EXPECT_EQ(phone->deviceStatusRequests(), 3); // busy twice, then ready
    EXPECT_EQ(phone->inTransfers().at(1), 1536u);
    EXPECT_EQ(phone->claims(), 1);
    EXPECT_TRUE(phone->violations().empty());
    expectInStep();

    // The caller's own failure (a full disk) the same way; it reaches the caller unchanged.
    const SystemError full(QStringLiteral("Couldn't write the file: No space left on device."));
    const auto error = errorOf<SystemError>([&] { download(bytesOf(5 * MiB), [&](int) { throw full; }); });
    EXPECT_EQ(error ? error->description() : QString(), full.description());
    EXPECT_EQ(phone->classRequests().size(), 1u);
    expectInStep();
}

// A phone that drops the cancelled transaction and says so keeps its session
// (the pipes it halted cleared); one that stays busy or doesn't answer Get
// Device Status gets a new session, as before the class requests existed.
TEST_F(MTPTransaction, HowThePhoneAnswersACancelDecidesWhetherItsSessionGoesOn)
{
    struct Case {
        const char* what;
        int busy; // Device_Busy answers before OK
        bool halts;
        bool refuses;
        bool kept;
        std::vector<uint8_t> cleared;
    };
    const int ever = std::numeric_limits<int>::max();
    const std::vector<Case> cases = {
        {"ready at once", 0, false, false, true, {}},
        {"busy a while, then ready", 5, false, false, true, {}},
        {"halting its pipes", 2, true, false, true, {0x01, 0x81}},
        {"busy for ever", ever, false, false, false, {}},
        {"without Get Device Status", 2, false, true, false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        phone->configure([&](auto& s) {
            s.busyAfterCancel = c.busy;
            s.haltOnCancel = c.halts;
            s.refusesDeviceStatus = c.refuses;
        });
        reconnect();
        const int claims = phone->claims();
        std::stop_source stop;
        EXPECT_THROW(download(bytesOf(3 * MiB), [&](int) { stop.request_stop(); }, Cancel(stop.get_token())),
                     Cancelled);
        expectInStep();
        const auto codes = phone->commandCodes();
        EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::openSession), c.kept ? 0 : 1);
        EXPECT_EQ(phone->claims(), c.kept ? claims : claims + 1);
        EXPECT_EQ(phone->clearedStalls(), c.cleared);
        for (const auto& request : phone->classRequests())
            EXPECT_EQ(request.request, 0x64) << "no reset";
        EXPECT_TRUE(phone->violations().empty());
    }
}

// Mended: Stop on a phone that stopped answering mid-transfer waited for the
// transfer's time-out (a minute) and for the recovery after it.
TEST_F(MTPTransaction, AStoppedRunOnAPhoneThatStoppedAnsweringIsGivenUpOn)
{
    phone->freezeAfterBytes(2 * MiB);
    std::stop_source stop;
    auto copy = std::async(std::launch::async, [&] { download(bytesOf(5 * MiB), {}, Cancel(stop.get_token())); });
    ASSERT_TRUE(testsupport::waitUntil([&] { return phone->frozen(); }, 30s));
    const auto stopped = std::chrono::steady_clock::now();
    stop.request_stop();
    // Well before the transfer's time-out (a minute), however loaded the machine.
    ASSERT_EQ(copy.wait_for(20s), std::future_status::ready);
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopped);
    std::cout << "[ frozen MTP phone ] Stop to the end of a transfer: " << took.count() << " ms\n";
    EXPECT_THROW(copy.get(), Cancelled);
    EXPECT_FALSE(phone->claimed()); // given up on: the interface is let go of

    // Answering again, the phone is claimed afresh by the next run.
    phone->thaw();
    EXPECT_EQ(download(bytesOf(MiB, 3)), bytesOf(MiB, 3));
    EXPECT_TRUE(phone->claimed());
}

TEST_F(MTPTransaction, CancellingAQueuedRunLeavesTheRunningOneAlone)
{
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    int piecesA = 0;
    auto a = std::async(std::launch::async, [&] {
        download(bytesOf(5 * MiB), [&](int piece) {
            piecesA = piece;
            if (piece == 1) {
                entered.set_value();
                released.wait_for(60s);
            }
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(30s), std::future_status::ready);
    std::stop_source stopC;
    auto c = std::async(std::launch::async, [&] {
        connection->run([](MTPConnection& conn) { return conn.fetch(Operation::getStorageIDs, {}, doThat); },
                        Cancel(stopC.get_token()));
    });
    std::this_thread::sleep_for(50ms); // let it queue behind A
    stopC.request_stop();

    // The cancelled caller hears at once, while A still runs.
    ASSERT_EQ(c.wait_for(30s), std::future_status::ready);
    EXPECT_THROW(c.get(), Cancelled);
    EXPECT_EQ(a.wait_for(0s), std::future_status::timeout);
    release.set_value();
    EXPECT_NO_THROW(a.get()); // A was not cancelled by C's cancellation
    EXPECT_EQ(piecesA, 6);    // 5 MiB and the header: six transfers
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::getObject}); // C never reached the phone
}

} // namespace
