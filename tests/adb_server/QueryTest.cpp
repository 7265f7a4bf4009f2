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
    EXPECT_EQ(ask({{"OKAYFAIL0005error"}}), Reply::fail("error"));
    EXPECT_EQ(ask({FakeADBServer::bytewise("OKAY001bSuccessful [guid=adb-123-x]"), 2ms}),
              Reply::okay("Successful [guid=adb-123-x]"));
    EXPECT_EQ(ask({FakeADBServer::bytewise("FAIL0005error"), 2ms}), Reply::fail("error"));
    // The server stays open: returning proves nothing waited for its end.
    EXPECT_EQ(ask({{"OKAY0002okEXTRA"}, 0ms, false}), Reply::okay("ok"));
    // Without a usable length after OKAY, the text runs to the end of the connection.
    EXPECT_EQ(ask({{"OKAY", "plain text, no length"}}), Reply::okay("plain text, no length"));
    EXPECT_EQ(ask({{"OKAY00ffabc"}}), Reply::okay("00ffabc"));
    EXPECT_EQ(ask({{"OKAY-001x"}}), Reply::okay("-001x"));
}

TEST_F(Query, MalformedEarlyEndedOrSilentAnswersFailWithTheirSentence)
{
    FakeADBServer::Script endless{{"OKAY"}, 0ms, false}; // then a megabyte and more with no usable length
    for (int i = 0; i < 40; ++i)
        endless.chunks.push_back(QByteArray(32 * 1024, 'z'));
    const std::pair<FakeADBServer::Script, const char*> cases[] {
        {{{"NOPE"}, 0ms, false}, "Unexpected reply from the adb server."},
        {endless, "Unexpected reply from the adb server."},
        {{{"OK"}}, "The adb server closed the connection."},
        {{{"FAIL00ffabc"}}, "The adb server closed the connection."},
        {{{"FAILFAIL0005error"}}, "The adb server closed the connection."},
        // A limit below one second must not mean "no limit".
        {{{}, 0ms, false}, "The adb server didn't answer in time."},
        {{{"OKAY00ffabc"}, 0ms, false}, "The adb server didn't answer in time."}};
    for (const auto& [script, sentence] : cases)
        EXPECT_EQ(failure(script, 0.3), sentence);
    EXPECT_EQ(failure({{}, 0ms, false}, 0.0), "The adb server didn't answer in time.");
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

TEST(QueryCancel, CancellingDuringTheWaitEndsTheQuery)
{
    FakeADBServer server;
    server.setScript({{}, 0ms, false}); // silent until the client goes
    std::stop_source stop;
    auto caller = std::async(std::launch::async, [&] {
        return failureOf([&] { ADBServer::query(QStringLiteral("host:version"), 30.0, Cancel(stop.get_token())); });
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return !server.request().isEmpty(); }, 5s));
    stop.request_stop();
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), "<cancelled>");
}

} // namespace
