#include "ADBServer.h"
#include "FakeADBServer.h"
#include "ServerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;
using Reply = ADBServer::Reply;
using Clock = std::chrono::steady_clock;

class Query : public ::testing::Test {
protected:
    Reply ask(FakeADBServer::Script script, double timeout = 10.0)
    {
        server.setScript(std::move(script));
        return ADBServer::query(QStringLiteral("host:version"), timeout, Cancel());
    }
    QString failure(FakeADBServer::Script script, double timeout = 10.0)
    {
        server.setScript(std::move(script));
        return failureOf([&] { ADBServer::query(QStringLiteral("host:version"), timeout, Cancel()); });
    }

    FakeADBServer server;
};

TEST_F(Query, FramesTheRequestWithItsLengthInLowercaseHex)
{
    server.setScript({{"OKAY0000"}});
    const QString request = QStringLiteral("host:pair:123456:192.168.1.20:37199");
    ASSERT_EQ(request.toUtf8().size(), 35);
    ADBServer::query(request, 10.0, Cancel());
    EXPECT_EQ(server.request(), "0023" + request.toUtf8());

    // The length counts UTF-8 bytes, not characters.
    const QString wide = QString::fromUtf8("host:pair:\xC3\xA9:x");
    ADBServer::query(wide, 10.0, Cancel());
    EXPECT_EQ(server.request(), "000e" + wide.toUtf8());
}

TEST_F(Query, ReadsFramedAnswers)
{
    EXPECT_EQ(ask({{"OKAY0000"}}), Reply::okay(""));
    EXPECT_EQ(ask({{"OKAY0012Successful pairing"}}), Reply::okay("Successful pairing"));
    EXPECT_EQ(ask({{"FAIL0005error"}}), Reply::fail("error"));
    EXPECT_EQ(ask({{"OKAYFAIL0005error"}}), Reply::fail("error"));
}

TEST_F(Query, AnswersArrivingOneByteAtATimeReadTheSame)
{
    const QByteArray whole = "OKAY001bSuccessful [guid=adb-123-x]";
    const Reply expected = ask({{whole}});
    EXPECT_EQ(expected, Reply::okay("Successful [guid=adb-123-x]"));
    EXPECT_EQ(ask({FakeADBServer::bytewise(whole), 2ms}), expected);
    EXPECT_EQ(ask({FakeADBServer::bytewise("FAIL0005error"), 2ms}), Reply::fail("error"));
}

TEST_F(Query, UnframedTextRunsToTheEndOfTheConnection)
{
    EXPECT_EQ(ask({{"OKAY", "plain text, no length"}}), Reply::okay("plain text, no length"));
    EXPECT_EQ(ask({{"OKAY"}}), Reply::okay(""));
    // A length larger than what follows: the whole rest is the text.
    EXPECT_EQ(ask({{"OKAY00ffabc"}}), Reply::okay("00ffabc"));
    // A malformed length likewise.
    EXPECT_EQ(ask({{"OKAY-001x"}}), Reply::okay("-001x"));
}

TEST_F(Query, ReturnsAsSoonAsThePayloadIsCompleteIgnoringExtraBytes)
{
    // The server stays open: returning proves nothing waited for its end.
    EXPECT_EQ(ask({{"OKAY0002okEXTRA"}, 0ms, false}), Reply::okay("ok"));
}

TEST_F(Query, RejectsAnUnknownStatusAtOnce)
{
    const auto started = Clock::now();
    EXPECT_EQ(failure({{"NOPE"}, 0ms, false}, 30.0), "Unexpected reply from the adb server.");
    EXPECT_LT(Clock::now() - started, 10s);
}

TEST_F(Query, AConnectionThatEndsEarlyIsAFailure)
{
    EXPECT_EQ(failure({{"OK"}}), "The adb server closed the connection.");
    EXPECT_EQ(failure({{}}), "The adb server closed the connection.");
    EXPECT_EQ(failure({{"FAIL000"}}), "The adb server closed the connection.");
    // A length larger than what follows a FAIL.
    EXPECT_EQ(failure({{"FAIL00ffabc"}}), "The adb server closed the connection.");
    // A FAIL status followed by a FAIL message is never accepted.
    EXPECT_EQ(failure({{"FAILFAIL0005error"}}), "The adb server closed the connection.");
}

TEST_F(Query, SilenceEndsAtTheTimeLimit)
{
    // Also a limit below one second, which must not mean "no limit".
    const auto started = Clock::now();
    EXPECT_EQ(failure({{}, 0ms, false}, 0.3), "The adb server didn't answer in time.");
    EXPECT_GE(Clock::now() - started, 250ms);
    EXPECT_EQ(failure({{"OKAY00ffabc"}, 0ms, false}, 0.3), "The adb server didn't answer in time.");
    EXPECT_EQ(failure({{"FAILFAIL0005error"}, 0ms, false}, 0.3), "The adb server didn't answer in time.");
}

TEST_F(Query, ATimeLimitOfZeroStillEnds)
{
    EXPECT_EQ(failure({{}, 0ms, false}, 0.0), "The adb server didn't answer in time.");
}

TEST_F(Query, AServerStreamingEndlessGarbageIsCutOff)
{
    // "OKAY" and then a megabyte and more of text with no usable length.
    FakeADBServer::Script script{{"OKAY"}, 0ms, false};
    for (int i = 0; i < 40; ++i)
        script.chunks.push_back(QByteArray(32 * 1024, 'z'));
    EXPECT_EQ(failure(script, 5.0), "Unexpected reply from the adb server.");
}

TEST_F(Query, NoServerListeningIsReported)
{
    // A port that was free a moment ago and has no listener now.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length), 0);
    ::close(probe);
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(ntohs(address.sin_port)));
    EXPECT_EQ(failureOf([] { ADBServer::query(QStringLiteral("host:version"), 5.0, Cancel()); }),
              "The adb server isn't running.");
}

TEST_F(Query, ARequestTooLongToFrameIsNotSent)
{
    const QString huge(0x10000, QLatin1Char('x'));
    EXPECT_EQ(failureOf([&] { ADBServer::query(huge, 5.0, Cancel()); }),
              "Couldn't send the request to the adb server.");
    EXPECT_EQ(server.connections(), 0);
}

TEST_F(Query, LeavesNoSocketOpen)
{
    ask({{"OKAY0000"}}); // warm up whatever the first query allocates
    const int before = testsupport::openDescriptorCount();
    ask({{"OKAY0002ok"}});
    failure({{"NOPE"}});
    failure({{}, 0ms, false}, 0.2);
    failure({{"OK"}});
    // The fake server closes its own ends a moment later.
    EXPECT_TRUE(testsupport::waitUntil([&] { return testsupport::openDescriptorCount() == before; }, 2s));
}

} // namespace
