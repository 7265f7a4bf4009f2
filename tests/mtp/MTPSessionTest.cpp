// Claiming a phone's interface, opening the session, reading what the phone
// is, choosing its storage, re-checking and closing.
#include "PhoneFixture.h"

#include "TestSupport.h"

using namespace mtp;
using namespace std::chrono_literals;

namespace {

using Status = MTPConnection::Status;

class MTPSession : public PhoneTest {
protected:
    // What a run on the connection fails with.
    QString errorOfRun()
    {
        const auto error = errorOf([&] { onQueue([](MTPConnection&) {}); });
        return error ? error->description() : QString();
    }
};

TEST_F(MTPSession, OpensASessionAndReadsThePhone)
{
    phone->configure([](auto& s) {
        s.manufacturer = QStringLiteral("SAMSUNG electronics");
        s.batteryLevel = 77;
    });
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010001, 128ull << 30, 100ull << 30);
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    const auto commands = phone->commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].code, Operation::openSession);
    EXPECT_EQ(commands[0].params, (std::vector<uint32_t>{1}));
    EXPECT_EQ(commands[2].transaction, commands[0].transaction + 2);
    // Setting up waits 4 seconds per transfer; afterwards 60.
    EXPECT_EQ(commands[2].timeout, 4000ms);
    const DeviceInfo info = connection->info(Cancel());
    EXPECT_EQ(phone->commands().back().timeout, 60000ms);
    EXPECT_EQ(info.manufacturer, QStringLiteral("Samsung Electronics"));
    EXPECT_EQ(info.battery, 77);
    EXPECT_EQ(info.storageTotal, int64_t(128ull << 30));
    EXPECT_EQ(info.storageFree, int64_t(100ull << 30));
}

TEST_F(MTPSession, TheFriendlyNameWhenThePhoneGivesOneElseTheModel)
{
    phone->configure([](auto& s) { s.friendlyName = QStringLiteral("Anna's phone"); });
    connect();
    EXPECT_EQ(connection->name(), QStringLiteral("Anna's phone"));
    connection->close().wait();

    phone->configure([](auto& s) { s.responseFor[Operation::getDevicePropValue] = Response::generalError; });
    connect();
    EXPECT_EQ(connection->name(), QStringLiteral("Pixel 7"));
}

TEST_F(MTPSession, HeldByAnotherProgramIsBusyUntilItLetsGo)
{
    phone->configure([](auto& s) { s.heldByOtherProgram = true; });
    connect();
    EXPECT_EQ(connection->status(), Status::busy);
    EXPECT_EQ(errorOfRun(), MTPError::busy().description());
    const int attempts = phone->claimAttempts();

    connection->check(); // tries the claim again, without waiting for it
    ASSERT_TRUE(testsupport::waitUntil([&] { return phone->claimAttempts() > attempts; }, 5s));
    EXPECT_EQ(connection->status(), Status::busy);

    phone->configure([](auto& s) { s.heldByOtherProgram = false; });
    connection->check();
    ASSERT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::ready; }, 5s));
}

TEST_F(MTPSession, NoUsableStorageIsLockedUntilOneAppears)
{
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010000); // a slot without a medium
    connect();
    EXPECT_EQ(connection->status(), Status::locked);
    EXPECT_TRUE(phone->claimed()); // the session stays open
    const auto error = errorOf([&] { connection->info(Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::locked);

    phone->addStorage(0x00020001);
    connection->check();
    ASSERT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::ready; }, 5s));
    onQueue([](MTPConnection& c) { EXPECT_EQ(c.storageID(), 0x00020001u); });
    EXPECT_EQ(phone->claims(), 1);
}

TEST_F(MTPSession, SessionLeftOpenCountsAsOpen)
{
    phone->configure([](auto& s) { s.sessionOpen = true; });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    EXPECT_TRUE(phone->classRequests().empty());
}

TEST_F(MTPSession, UnansweredOpenSessionResetsTheDeviceAndTriesOnceMore)
{
    phone->configure([](auto& s) { s.silentFor[Operation::openSession] = 1; });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    const auto requests = phone->classRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request, 0x66);
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::openSession), 2);
    connection->close().wait();

    // A second silence is final; so is any other failure, at once.
    phone->configure([](auto& s) { s.silentFor[Operation::openSession] = 2; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    phone->clearRecords();
    phone->configure([](auto& s) { s.responseFor[Operation::openSession] = Response::generalError; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_EQ(errorOfRun(), QStringLiteral("The phone couldn't do that (MTP error 0x2002)."));
}

TEST_F(MTPSession, CloseEndsTheSessionAndStopsListeningForEvents)
{
    connect();
    EXPECT_EQ(phone->pendingInterruptReads(), 1); // listening for events
    phone->clearRecords();
    connection->check(); // a ready connection is not checked again
    connection->close().wait();
    EXPECT_EQ(phone->commandCodes(), (std::vector<uint16_t>{Operation::closeSession}));
    EXPECT_EQ(phone->pendingInterruptReads(), 0);
    EXPECT_FALSE(phone->claimed());
    EXPECT_FALSE(phone->sessionIsOpen());
    EXPECT_EQ(connection->status(), Status::ready);
}

} // namespace
