// The connection's log, its stopping, and what it leaves behind.

#include "Error.h"
#include "MirrorConnection.h"
#include "StubAdb.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <thread>

using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

std::shared_ptr<MirrorConnection> connectionTo(const StubAdb& stub, std::chrono::seconds deadline = 3s)
{
    MirrorConnection::Options options = stub.options();
    options.deadline = deadline;
    return MirrorConnection::create(stub.adb(), QStringLiteral("S1"), false, [](const MirrorConnection::Event&) {}, options);
}

} // namespace

TEST(ServerLog, LastLineIsTheLastErrorOrExceptionWithoutPrefixes)
{
    const std::vector<std::pair<QByteArray, std::optional<QString>>> cases {
        {"[server] ERROR: Encoder failed\n\tat x.y(Z.java:1)\n", QStringLiteral("Encoder failed")},
        {"[server] ERROR: one\n  java.io.IOException: broken pipe \n\n", QStringLiteral("java.io.IOException: broken pipe")},
        {"[server] ERROR: Device locked\r\n", QStringLiteral("Device locked")}, // a shell's line ends
        {"[server] INFO: fine\nall good\n", std::nullopt},
        {"", std::nullopt},
        {"ERROR: \xff\xfe bytes", QStringLiteral("\uFFFD\uFFFD bytes")},
    };
    for (const auto& [text, line] : cases) {
        ServerLog log;
        log.append(text);
        EXPECT_EQ(log.lastLine(), line) << text.constData();
    }
    ServerLog flood; // the log keeps its tail only
    flood.append("[server] ERROR: early\n");
    flood.append(QByteArray(5000, 'x'));
    EXPECT_EQ(flood.lastLine(), std::nullopt);
}

TEST(MirrorConnection, StopOrCancellationEndsAWaitingStartWithCancelledAndLeavesNothingOpen)
{
    for (const bool cancel : {false, true}) {
        SCOPED_TRACE(cancel);
        StubAdb stub({.scenario = QStringLiteral("silent")});
        const int descriptors = testsupport::openDescriptorCount();
        auto connection = connectionTo(stub, 60s); // only the stop may end the wait
        std::stop_source source;
        auto started = std::async(std::launch::async, [&] { connection->start(Cancel(source.get_token())); });
        // Connected and waiting for the dummy byte that never comes.
        ASSERT_TRUE(waitUntil([&] { return stub.calls().filter(QStringLiteral("shell ")).size() == 1; }));
        std::this_thread::sleep_for(300ms);
        if (cancel)
            source.request_stop();
        else
            connection->stop();
        ASSERT_EQ(started.wait_for(10s), std::future_status::ready);
        EXPECT_THROW(started.get(), Cancelled);
        connection->stop();
        connection.reset();
        ASSERT_TRUE(waitUntil([&] { return stub.removals() > 0 && noMirrorThreads(); }));
        // The forward's removal is reaped by a thread of its own, soon after.
        EXPECT_TRUE(waitUntil([&] { return testsupport::openDescriptorCount() == descriptors; }));
        EXPECT_EQ(stub.removals(), 1);
    }
}

TEST(MirrorConnection, FiftyStartsAndDoubleStopsLeaveNoDescriptorThreadOrChildAndRemoveEachForwardOnce)
{
    StubAdb stub;
    const int descriptors = testsupport::openDescriptorCount();
    const int threads = int(threadNames().size());
    int failures = 0;
    for (int cycle = 0; cycle < 50; ++cycle) {
        stub.setForwardAnswer(cycle % 5 == 4 ? "0\n" : QByteArray::number(stub.port()) + '\n'); // every fifth fails
        auto connection = connectionTo(stub);
        try {
            connection->start(Cancel());
        } catch (const Error&) {
            ++failures;
        }
        connection->stop();
        connection->stop();
        connection.reset();
        // The next server listens on the same port once this one has gone.
        ASSERT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; })) << cycle;
    }
    EXPECT_EQ(failures, 10);
    EXPECT_TRUE(waitUntil([&] { return int(threadNames().size()) == threads; }));
    EXPECT_TRUE(waitUntil([&] { return testsupport::openDescriptorCount() == descriptors; }));
    EXPECT_EQ(testsupport::reapZombies(), 0);
    EXPECT_EQ(stub.removals(), 40);
}

// Whatever step of the start fails reports its own error, whether or not the
// server has already exited by the time the failure is noticed.
TEST(MirrorConnection, EachStartFailureKeepsItsOwnSentenceWhenTheServerExitsAtThatStep)
{
    const QString errorLine = QStringLiteral("[server] ERROR: Could not open the encoder");
    const QString reason = QStringLiteral("Could not open the encoder");
    const struct {
        const char* scenario;
        bool printsError;
        QString message;
    } rows[] = {
        {"exit", true, reason}, // while waiting for the first connection
        {"exit", false, QStringLiteral("Screen mirroring stopped on the phone.")},
        {"exit-refusing", true, QString::fromLocal8Bit(std::strerror(ECONNREFUSED))}, // audio or control connection
        {"exit-refusing", false, QString::fromLocal8Bit(std::strerror(ECONNREFUSED))},
        {"exit-unnamed", true, QString::fromLocal8Bit(std::strerror(ECONNRESET))}, // device name
        {"exit-unnamed", false, QString::fromLocal8Bit(std::strerror(ECONNRESET))},
        {"exit-h265", true, reason}, // codec word
        {"exit-h265", false, QStringLiteral("The phone couldn't start its screen encoder.")},
    };
    for (const auto& row : rows) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            SCOPED_TRACE(testing::Message() << row.scenario << (row.printsError ? " printing" : " silent") << " #" << attempt);
            StubServer server {.scenario = QString::fromLatin1(row.scenario)};
            if (row.printsError)
                server.lines = {errorLine, QStringLiteral("[server] INFO: cleaning up")};
            StubAdb stub(server);
            int events = 0;
            MirrorConnection::Options options = stub.options();
            auto connection = MirrorConnection::create(stub.adb(), QStringLiteral("S1"), true,
                                                       [&](const MirrorConnection::Event&) { ++events; }, options);
            std::optional<QString> message;
            try {
                connection->start(Cancel());
            } catch (...) {
                message = failureText(std::current_exception());
            }
            EXPECT_EQ(message.value_or(QStringLiteral("(no failure)")).toStdString(), row.message.toStdString());
            // The server's end is no second report: the start's failure is the one.
            ASSERT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; }));
            EXPECT_EQ(events, 0);
            connection->stop();
            connection.reset();
            ASSERT_TRUE(waitUntil(noMirrorThreads));
        }
    }
}

// With no thread for the server's watcher, the start fails with its own
// sentence and leaves no server running.
TEST(MirrorConnection, AStartThatGetsNoThreadFailsAndLeavesNoServer)
{
    StubAdb stub;
    auto connection = connectionTo(stub);
    std::optional<QString> message;
    WorkerPool::shared().refuseThreadsForTesting(true);
    try {
        connection->start(Cancel());
    } catch (...) {
        message = failureText(std::current_exception());
    }
    WorkerPool::shared().refuseThreadsForTesting(false);
    EXPECT_EQ(message.value_or(QStringLiteral("(no failure)")), QStringLiteral("Couldn't watch the screen mirroring server."));
    connection->stop();
    connection.reset();
    EXPECT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; }));
}

// Mended: with no thread for the phone's device messages, mirroring went on
// with the phone's clipboard never copied. Each stream's thread that can't
// start fails the start with its own sentence, and leaves no server.
TEST(MirrorConnection, AReaderOrWriterThatGetsNoThreadFailsTheStartInItsSentence)
{
    // Made in this order: the server's watcher, then one thread per stream (no sound here).
    const std::pair<int, QString> cases[] = {
        {1, QStringLiteral("Couldn't start reading the phone's screen.")},
        {2, QStringLiteral("Couldn't start reading the phone's clipboard.")},
        {3, QStringLiteral("Couldn't start sending to the phone's screen.")},
    };
    for (const auto& [granted, sentence] : cases) {
        SCOPED_TRACE(granted);
        StubAdb stub;
        auto connection = connectionTo(stub);
        std::optional<QString> message;
        WorkerPool::shared().refuseOwnThreadsAfterForTesting(granted);
        try {
            connection->start(Cancel());
        } catch (...) {
            message = failureText(std::current_exception());
        }
        WorkerPool::shared().refuseThreadsForTesting(false);
        EXPECT_EQ(message.value_or(QStringLiteral("(no failure)")), sentence);
        connection->stop();
        connection.reset();
        EXPECT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; }));
    }
}

// Mended: with no thread to wait on it, the forward's removal was ended as
// soon as it had started, and the phone's port stayed forwarded for as long
// as the adb server ran. The stop waits for it instead, but not for an adb
// that never ends.
TEST(MirrorConnection, WithNoThreadTheStopStillRemovesTheForwardButWaitsForNoHangingAdb)
{
    for (const bool hangs : {false, true}) {
        SCOPED_TRACE(hangs ? "hanging adb" : "slow adb");
        StubAdb stub;
        if (hangs)
            stub.hangRemoval();
        else
            stub.delayRemoval("0.3");
        auto connection = connectionTo(stub);
        connection->start(Cancel());
        WorkerPool::shared().refuseThreadsForTesting(true);
        auto stopped = std::async(std::launch::async, [&] { connection->stop(); });
        const bool returned = stopped.wait_for(10s) == std::future_status::ready;
        WorkerPool::shared().refuseThreadsForTesting(false);
        ASSERT_TRUE(returned);
        EXPECT_EQ(stub.removals(), hangs ? 0 : 1);
        connection.reset();
        EXPECT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; }));
    }
}

// A stream that keeps sending while the owner stops: once stop() has
// returned, no event arrives and none is still being handled.
TEST(MirrorConnection, NothingIsDeliveredOnceStopHasReturned)
{
    StubAdb stub({.framesPerSecond = 60});
    for (int cycle = 0; cycle < 10; ++cycle) {
        SCOPED_TRACE(cycle);
        std::atomic<bool> stopReturned = false;
        std::atomic<int> frames = 0, late = 0;
        auto onEvent = [&](const MirrorConnection::Event& event) {
            if (stopReturned)
                ++late;
            if (std::holds_alternative<MirrorConnection::Event::Frame>(event.value)) {
                std::this_thread::sleep_for(20ms); // as long as a slow decode takes
                ++frames;
            }
            if (stopReturned)
                ++late;
        };
        auto connection = MirrorConnection::create(stub.adb(), QStringLiteral("S1"), false, onEvent, stub.options());
        connection->start(Cancel());
        ASSERT_TRUE(waitUntil([&] { return frames > 2; }));
        connection->stop();
        stopReturned = true;
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(late, 0);
        connection.reset();
        ASSERT_TRUE(waitUntil([] { return noMirrorThreads() && children() == 0; }));
    }
}
