#include "FakeADBServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stop_token>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using Script = FakeADBServer::Script;

TEST(ServerPort, IsAWholeDecimalNumberUpTo65535Else5037)
{
    const QByteArray before = qgetenv("ANDROID_ADB_SERVER_PORT");
    const std::pair<const char*, int> cases[] = {{"", 5037},     {"5038", 5038},  {"65535", 65535}, {"65536", 5037},
                                                 {"abc", 5037}, {"+5038", 5037}, {"5038x", 5037}};
    for (const auto& [value, port] : cases) {
        qputenv("ANDROID_ADB_SERVER_PORT", value);
        EXPECT_EQ(ADBServer::port(), port) << value;
    }
    qputenv("ANDROID_ADB_SERVER_PORT", before);
}

// The reply as "okay: text" or "fail: text", else the sentence of the failure.
QString outcome(FakeADBServer& server, Script script, double timeout)
{
    server.setScript(std::move(script));
    QString reply;
    const QString failure = failureOf([&] {
        const auto answer = ADBServer::query(QStringLiteral("host:version"), timeout, Cancel());
        reply = (answer.kind == ADBServer::Reply::Kind::okay ? QStringLiteral("okay: ") : QStringLiteral("fail: "))
            + answer.text;
    });
    return reply.isNull() ? failure : reply;
}

TEST(Query, ReadsEachAnswerWholeOrSplitFailsWithItsSentenceAndLeavesNoSocketOpen)
{
    FakeADBServer server;
    EXPECT_EQ(outcome(server, {"OKAY0000"}, 10), "okay: "); // also warms up what the first query allocates
    ASSERT_TRUE(testsupport::waitUntil([&] { return server.idle(); }, 30s));
    const int before = testsupport::openDescriptorCount();
    const QByteArray timeUp = "The adb server didn't answer in time.";
    const QByteArray closed = "The adb server closed the connection.";
    const std::tuple<Script, double, QByteArray> cases[] {
        {{"OKAYFAIL0005error"}, 10, "fail: error"},
        {{"OKAY001bSuccessful [guid=adb-123-x]", true}, 10, "okay: Successful [guid=adb-123-x]"},
        {{"FAIL0005error", true}, 10, "fail: error"},
        // The server stays open: returning proves nothing waited for its end.
        {{"OKAY0002okEXTRA", false, false}, 10, "okay: ok"},
        // Without a usable length after OKAY, the text runs to the end of the connection.
        {{"OKAYplain text, no length"}, 10, "okay: plain text, no length"},
        {{"OKAY00ffabc"}, 10, "okay: 00ffabc"},
        {{"OKAY-001x"}, 10, "okay: -001x"},
        {{"NOPE", false, false}, 0.3, "Unexpected reply from the adb server."},
        {{"OKAY" + QByteArray(1300 * 1024, 'z'), false, false}, 0.3, "Unexpected reply from the adb server."},
        {{"OK"}, 0.3, closed},
        {{"FAIL00ffabc"}, 0.3, closed},
        {{"FAILFAIL0005error"}, 0.3, closed},
        // A limit below one second, or none, must not mean "wait for ever".
        {{{}, false, false}, 0.3, timeUp},
        {{"OKAY00ffabc", false, false}, 0.3, timeUp},
        {{{}, false, false}, 0.0, timeUp}};
    for (const auto& [script, timeout, expected] : cases)
        EXPECT_EQ(outcome(server, script, timeout), QString::fromUtf8(expected)) << script.reply.left(40).toStdString();
    // The fake server closes its own ends a moment later.
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::openDescriptorCount() == before; }, 30s));

    qputenv("ANDROID_ADB_SERVER_PORT", "1"); // nobody listens there
    EXPECT_EQ(outcome(server, {}, 5), "The adb server isn't running.");
}

TEST(Query, CancellingDuringTheWaitEndsTheQuery)
{
    FakeADBServer server;
    server.setScript({{}, false, false}); // silent until the client goes
    std::stop_source stop;
    auto caller = std::async(std::launch::async, [&] {
        return failureOf([&] { ADBServer::query(QStringLiteral("host:version"), 30.0, Cancel(stop.get_token())); });
    });
    EXPECT_TRUE(testsupport::waitUntil([&] { return !server.request().isEmpty(); }, 30s));
    stop.request_stop();
    ASSERT_EQ(caller.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(caller.get(), "<cancelled>");
}

} // namespace
