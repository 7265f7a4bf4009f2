#include "FakeADBServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Reply = ADBServer::Reply;
using Clock = std::chrono::steady_clock;

TEST(ServerPort, IsAWholeDecimalNumberUpTo65535Else5037)
{
    qunsetenv("ANDROID_ADB_SERVER_PORT");
    EXPECT_EQ(ADBServer::port(), 5037);
    const std::pair<const char*, int> cases[] = {
        {"5038", 5038}, {"65535", 65535}, {"65536", 5037}, {"abc", 5037}, {"+5038", 5037}, {"5038x", 5037},
    };
    for (const auto& [value, port] : cases) {
        qputenv("ANDROID_ADB_SERVER_PORT", value);
        EXPECT_EQ(ADBServer::port(), port) << value;
    }
    qunsetenv("ANDROID_ADB_SERVER_PORT");
}

class Query : public ::testing::Test {
protected:
    Reply ask(FakeADBServer::Script script)
    {
        server.setScript(std::move(script));
        return ADBServer::query(QStringLiteral("host:version"), 10.0, Cancel());
    }
    QString failure(FakeADBServer::Script script, double timeout = 10.0)
    {
        server.setScript(std::move(script));
        return failureOf([&] { ADBServer::query(QStringLiteral("host:version"), timeout, Cancel()); });
    }

    FakeADBServer server;
};

TEST_F(Query, ReadsFramedAnswersWholeOrOneByteAtATime)
{
    EXPECT_EQ(ask({{"OKAY0000"}}), Reply::okay(""));
    EXPECT_EQ(ask({{"FAIL0005error"}}), Reply::fail("error"));
    EXPECT_EQ(ask({{"OKAYFAIL0005error"}}), Reply::fail("error"));
    EXPECT_EQ(ask({FakeADBServer::bytewise("OKAY001bSuccessful [guid=adb-123-x]"), 2ms}),
              Reply::okay("Successful [guid=adb-123-x]"));
    EXPECT_EQ(ask({FakeADBServer::bytewise("FAIL0005error"), 2ms}), Reply::fail("error"));
    // The server stays open: returning proves nothing waited for its end.
    EXPECT_EQ(ask({{"OKAY0002okEXTRA"}, 0ms, false}), Reply::okay("ok"));
}

TEST_F(Query, UnframedTextAfterOkayRunsToTheEndOfTheConnection)
{
    EXPECT_EQ(ask({{"OKAY", "plain text, no length"}}), Reply::okay("plain text, no length"));
    // A length larger than what follows, or a malformed one: the whole rest is the text.
    EXPECT_EQ(ask({{"OKAY00ffabc"}}), Reply::okay("00ffabc"));
    EXPECT_EQ(ask({{"OKAY-001x"}}), Reply::okay("-001x"));
}

TEST_F(Query, GarbageFailsAtOnce)
{
    const auto started = Clock::now();
    EXPECT_EQ(failure({{"NOPE"}, 0ms, false}, 30.0), "Unexpected reply from the adb server.");
    EXPECT_LT(Clock::now() - started, 10s);
    // "OKAY" and then a megabyte and more of text with no usable length.
    FakeADBServer::Script endless{{"OKAY"}, 0ms, false};
    for (int i = 0; i < 40; ++i)
        endless.chunks.push_back(QByteArray(32 * 1024, 'z'));
    EXPECT_EQ(failure(endless, 5.0), "Unexpected reply from the adb server.");
}

TEST_F(Query, AConnectionThatEndsEarlyIsAFailure)
{
    EXPECT_EQ(failure({{"OK"}}), "The adb server closed the connection.");
    // A length larger than what follows a FAIL.
    EXPECT_EQ(failure({{"FAIL00ffabc"}}), "The adb server closed the connection.");
    // A FAIL status followed by a FAIL message is never accepted.
    EXPECT_EQ(failure({{"FAILFAIL0005error"}}), "The adb server closed the connection.");
}

TEST_F(Query, SilenceEndsAtTheTimeLimit)
{
    // A limit below one second, or of zero, must not mean "no limit".
    const auto started = Clock::now();
    EXPECT_EQ(failure({{}, 0ms, false}, 0.3), "The adb server didn't answer in time.");
    EXPECT_GE(Clock::now() - started, 250ms);
    EXPECT_EQ(failure({{}, 0ms, false}, 0.0), "The adb server didn't answer in time.");
    // A length promising more than ever comes.
    EXPECT_EQ(failure({{"OKAY00ffabc"}, 0ms, false}, 0.3), "The adb server didn't answer in time.");
}

TEST(QueryWithoutServer, IsReportedAsNotRunning)
{
    QByteArray port; // a port that was listened on a moment ago and has no listener now
    {
        FakeADBServer gone;
        port = qgetenv("ANDROID_ADB_SERVER_PORT");
    }
    qputenv("ANDROID_ADB_SERVER_PORT", port);
    EXPECT_EQ(failureOf([] { ADBServer::query(QStringLiteral("host:version"), 5.0, Cancel()); }),
              "The adb server isn't running.");
    qunsetenv("ANDROID_ADB_SERVER_PORT");
}

TEST_F(Query, LeavesNoSocketOpen)
{
    ask({{"OKAY0000"}}); // warm up whatever the first query allocates
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.idle(); }, 2s));
    const int before = testsupport::openDescriptorCount();
    ask({{"OKAY0002ok"}});
    failure({{"NOPE"}});
    failure({{}, 0ms, false}, 0.2);
    // The fake server closes its own ends a moment later.
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::openDescriptorCount() == before; }, 2s));
}

TEST(QueryCancel, CancellingDuringTheWaitReturnsPromptly)
{
    FakeADBServer server;
    server.setScript({{}, 0ms, false}); // silent until the client goes
    std::stop_source stop;
    auto caller = std::async(std::launch::async, [&] {
        const QString result = failureOf([&] {
            ADBServer::query(QStringLiteral("host:pair:1:10.0.0.7:37"), 30.0, Cancel(stop.get_token()));
        });
        return std::pair(result, Clock::now());
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return !server.request().isEmpty(); }, 5s));
    std::this_thread::sleep_for(50ms); // well inside the receive
    const auto cancelled = Clock::now();
    stop.request_stop();
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    const auto [result, ended] = caller.get();
    EXPECT_EQ(result, "<cancelled>");
    const auto latency = std::chrono::duration_cast<std::chrono::microseconds>(ended - cancelled);
    RecordProperty("cancellation_latency_us", std::to_string(latency.count()));
    EXPECT_LT(latency, 1s); // bounded loosely for loaded machines; the figure is recorded
}

} // namespace
