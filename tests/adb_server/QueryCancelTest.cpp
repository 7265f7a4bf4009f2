#include "ADBServer.h"
#include "FakeADBServer.h"
#include "ServerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(QueryCancel, CancellingDuringTheWaitReturnsPromptly)
{
    FakeADBServer server;
    server.setScript({{}, 0ms, false}); // silent until the client goes
    std::stop_source stop;
    std::promise<Clock::time_point> ended;
    std::thread caller([&] {
        const QString result = failureOf([&] {
            ADBServer::query(QStringLiteral("host:pair:1:10.0.0.7:37"), 30.0, Cancel(stop.get_token()));
        });
        EXPECT_EQ(result, "<cancelled>");
        ended.set_value(Clock::now());
    });
    const bool asked = testsupport::waitUntil([&] { return !server.request().isEmpty(); }, 5s);
    EXPECT_TRUE(asked);
    std::this_thread::sleep_for(50ms); // well inside the receive
    const auto cancelled = Clock::now();
    stop.request_stop();
    auto future = ended.get_future();
    // Bounded far below the 30-second limit; the figure itself is printed.
    const bool returned = future.wait_for(5s) == std::future_status::ready;
    if (!returned)
        stop.request_stop();
    caller.join();
    ASSERT_TRUE(returned);
    const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(future.get() - cancelled);
    std::printf("cancellation latency: %lld us\n", static_cast<long long>(latency.count()));
    RecordProperty("cancellation_latency_us", std::to_string(latency.count()));
    EXPECT_LT(latency, 1s);
}

TEST(QueryCancel, AnAlreadyCancelledQueryNeverConnects)
{
    FakeADBServer server;
    server.setScript({{"OKAY0000"}});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf([&] { ADBServer::query(QStringLiteral("host:version"), 5.0, Cancel(stop.get_token())); }),
              "<cancelled>");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(server.connections(), 0);
}

TEST(QueryCancel, ACancellationAfterTheReplyChangesNothing)
{
    FakeADBServer server;
    server.setScript({{"OKAY0002ok"}});
    std::stop_source stop;
    const auto reply = ADBServer::query(QStringLiteral("host:version"), 5.0, Cancel(stop.get_token()));
    stop.request_stop();
    EXPECT_EQ(reply, ADBServer::Reply::okay("ok"));
}

} // namespace
