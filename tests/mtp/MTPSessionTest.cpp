// Claiming a phone's interface, opening the session, reading what the phone
// is, choosing its storage, re-checking and closing.
#include "PhoneFixture.h"

#include "TestSupport.h"

#include <future>
#include <thread>

using namespace mtp;
using namespace std::chrono_literals;

namespace {

using Status = MTPConnection::Status;

class MTPSession : public PhoneTest {
protected:
    QString errorOfRun()
    {
        try {
            onQueue([](MTPConnection&) {});
        } catch (const Error& error) {
            return error.description();
        }
        return {};
    }
};

TEST_F(MTPSession, OpensASessionAndReadsThePhone)
{
    phone->configure([](auto& s) { s.manufacturer = QStringLiteral("SAMSUNG electronics"); });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    EXPECT_EQ(connection->name(), QStringLiteral("Pixel 7"));
    const auto commands = phone->commands();
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].code, Operation::openSession);
    EXPECT_EQ(commands[0].params, (std::vector<uint32_t>{1}));
    EXPECT_EQ(commands[1].code, Operation::getDeviceInfo);
    EXPECT_EQ(commands[2].code, Operation::getStorageIDs);
    // A random first ID, then one more per transaction.
    EXPECT_GE(commands[0].transaction, 0x1001u);
    EXPECT_LE(commands[0].transaction, 0x7FFF0001u);
    EXPECT_EQ(commands[2].transaction, commands[0].transaction + 2);
    // Setting up waits 4 seconds per transfer; afterwards 60.
    for (const auto& c : commands)
        EXPECT_EQ(c.timeout, 4000ms);
    onQueue([](MTPConnection& c) { c.fetch(Operation::getStorageIDs, {}, QStringLiteral("do that")); });
    EXPECT_EQ(phone->commands().back().timeout, 60000ms);

    onQueue([](MTPConnection& c) {
        EXPECT_EQ(c.manufacturer(), QStringLiteral("Samsung Electronics"));
        EXPECT_TRUE(c.operations().contains(Operation::getObjectPropList));
        EXPECT_EQ(c.storageID(), 0x00010001u);
    });
}

TEST_F(MTPSession, DisplayName)
{
    phone->configure([](auto& s) { s.friendlyName = QStringLiteral("Anna's phone"); });
    connect();
    EXPECT_EQ(connection->name(), QStringLiteral("Anna's phone"));
    connection->close(true);

    phone->configure([](auto& s) { s.friendlyName = QString(); });
    connect();
    EXPECT_EQ(connection->name(), QStringLiteral("Pixel 7"));
    connection->close(true);

    phone->configure([](auto& s) {
        s.friendlyName = QStringLiteral("Anna's phone");
        s.responseFor[Operation::getDevicePropValue] = Response::generalError;
    });
    connect();
    EXPECT_EQ(connection->name(), QStringLiteral("Pixel 7"));
    connection->close(true);

    phone->configure([](auto& s) {
        s.friendlyName.reset();
        s.model.clear();
    });
    host->plug(phone);
    connection = std::make_shared<MTPConnection>(host, host->registryID(phone), QStringLiteral("S"),
                                                 QStringLiteral("Pixel 7 Pro"));
    connection->check();
    EXPECT_EQ(connection->name(), QStringLiteral("Pixel 7 Pro")); // the name from the USB registry stays
}

TEST_F(MTPSession, Manufacturer)
{
    phone->configure([](auto& s) { s.manufacturer.clear(); });
    connect();
    onQueue([](MTPConnection& c) { EXPECT_FALSE(c.manufacturer().has_value()); });
    connection->close(true);
    phone->configure([](auto& s) { s.manufacturer = QStringLiteral("google"); });
    connect();
    onQueue([](MTPConnection& c) { EXPECT_EQ(c.manufacturer(), QStringLiteral("Google")); });
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

    connection->check();
    ASSERT_TRUE(testsupport::waitUntil([&] {
        const auto codes = phone->commandCodes();
        return std::count(codes.begin(), codes.end(), Operation::getStorageIDs) == 2;
    }, 5s));
    EXPECT_EQ(connection->status(), Status::locked);

    phone->addStorage(0x00020001);
    connection->check();
    ASSERT_TRUE(testsupport::waitUntil([&] { return connection->status() == Status::ready; }, 5s));
    onQueue([](MTPConnection& c) { EXPECT_EQ(c.storageID(), 0x00020001u); });
    EXPECT_EQ(phone->claims(), 1);
}

TEST_F(MTPSession, ChosenStorageStaysWhileListed)
{
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00020001);
    connect();
    phone->removeStorage(0x00020001);
    phone->addStorage(0x00010001);
    phone->addStorage(0x00020001);
    onQueue([](MTPConnection& c) {
        c.findStorage();
        EXPECT_EQ(c.storageID(), 0x00020001u);
    });
    phone->removeStorage(0x00020001);
    onQueue([](MTPConnection& c) {
        c.findStorage();
        EXPECT_EQ(c.storageID(), 0x00010001u);
    });
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
    const auto started = std::chrono::steady_clock::now();
    connect();
    EXPECT_GE(std::chrono::steady_clock::now() - started, 450ms);
    EXPECT_EQ(connection->status(), Status::ready);
    const auto requests = phone->classRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request, 0x66);
    EXPECT_TRUE(requests[0].data.isEmpty());
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::openSession), 2);
}

TEST_F(MTPSession, SecondUnansweredOpenSessionIsFinal)
{
    phone->configure([](auto& s) { s.silentFor[Operation::openSession] = 2; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(phone->classRequests().size(), 1u);
}

TEST_F(MTPSession, OtherOpenSessionFailureIsFinalAtOnce)
{
    phone->configure([](auto& s) { s.responseFor[Operation::openSession] = Response::generalError; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_TRUE(phone->classRequests().empty());
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(errorOfRun(), QStringLiteral("The phone couldn't do that (MTP error 0x2002)."));
}

TEST_F(MTPSession, ShortDeviceInfoFailsTheConnection)
{
    phone->configure([](auto& s) { s.deviceInfoOverride = QByteArray(10, '\0'); });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(errorOfRun(), QStringLiteral("The phone sent an unexpected reply."));
}

TEST_F(MTPSession, InterfaceWithoutBulkPipesLooksUnusual)
{
    phone->configure([](auto& s) { s.endpoints = {{0x81, UsbEndpoint::bulk, 512}, {0x82, UsbEndpoint::interrupt, 28}}; });
    connect();
    EXPECT_EQ(connection->status(), Status::connecting);
    EXPECT_FALSE(phone->claimed());
    EXPECT_EQ(errorOfRun(), QStringLiteral("The phone's file transfer interface looks unusual."));
}

TEST_F(MTPSession, PipesChosenByAddress)
{
    phone->configure([](auto& s) {
        s.endpoints = {{0x83, UsbEndpoint::bulk, 512},      {0x81, UsbEndpoint::bulk, 512},
                       {0x84, UsbEndpoint::interrupt, 28}, {0x85, UsbEndpoint::interrupt, 28},
                       {0x02, UsbEndpoint::bulk, 512},      {0x01, UsbEndpoint::interrupt, 8}};
    });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    EXPECT_EQ(phone->endpointsUsed(), (std::set<uint8_t>{0x81, 0x02}));
}

TEST_F(MTPSession, EventsAreListenedForOnlyWhileConnected)
{
    connect();
    EXPECT_EQ(phone->pendingInterruptReads(), 1);
    phone->postEvent(0x4002, {5});
    phone->postEvent(0x4002, {6});
    ASSERT_TRUE(testsupport::waitUntil([&] { return phone->pendingInterruptReads() == 1; }, 5s));
    connection->close(true);
    EXPECT_EQ(phone->pendingInterruptReads(), 0);

    phone->configure([](auto& s) { s.endpoints = {{0x81, UsbEndpoint::bulk, 512}, {0x01, UsbEndpoint::bulk, 512}}; });
    connect();
    EXPECT_EQ(connection->status(), Status::ready);
    EXPECT_EQ(phone->pendingInterruptReads(), 0);
}

TEST_F(MTPSession, CloseEndsTheSessionAndKeepsTheStatus)
{
    connect();
    connection->close(true);
    EXPECT_EQ(phone->commandCodes().back(), Operation::closeSession);
    EXPECT_FALSE(phone->claimed());
    EXPECT_FALSE(phone->sessionIsOpen());
    EXPECT_EQ(connection->status(), Status::ready);
}

TEST_F(MTPSession, CloseOfANeverConnectedConnectionSendsNothing)
{
    host->plug(phone);
    connection = std::make_shared<MTPConnection>(host, host->registryID(phone), QStringLiteral("S"), QStringLiteral("P"));
    connection->close(true);
    EXPECT_TRUE(phone->commands().empty());
    EXPECT_EQ(phone->claimAttempts(), 0);
}

TEST_F(MTPSession, OnlyOneCheckWaitsOnTheQueue)
{
    phone->removeStorage(0x00010001);
    connect();
    ASSERT_EQ(connection->status(), Status::locked);
    phone->clearRecords();

    // Hold the queue, then ask twice.
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    auto holder = std::async(std::launch::async, [&] {
        onQueue([&](MTPConnection&) {
            entered.set_value();
            released.wait_for(10s);
        });
    });
    ASSERT_EQ(entered.get_future().wait_for(5s), std::future_status::ready);
    connection->check();
    connection->check(); // returns at once: one check is already waiting
    release.set_value();
    holder.get();
    connection->close(true); // runs after the queued check
    const auto codes = phone->commandCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), Operation::getStorageIDs), 1);
}

TEST_F(MTPSession, ReadyConnectionIsNotCheckedAgain)
{
    connect();
    phone->clearRecords();
    connection->check();
    connection->close(true);
    EXPECT_EQ(phone->commandCodes(), (std::vector<uint16_t>{Operation::closeSession}));
}

} // namespace
