#include "ADB.h"
#include "ADBServer.h"
#include "FakeADBServer.h"
#include "ServerTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>

namespace {

const QString address = QStringLiteral("192.168.1.20:37199");

QByteArray okay(const QByteArray& text)
{
    return "OKAY" + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}

QByteArray fail(const QByteArray& text)
{
    return "FAIL" + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}

class Pairing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        log = folder.filePath(QStringLiteral("adb.log"));
        // Records its arguments, as a real adb would start its server.
        adbPath = testsupport::writeScript(folder.path(), QStringLiteral("adb"),
                                           "#!/bin/sh\necho \"$@\" >> '" + QFile::encodeName(log) + "'\nexit 0\n");
    }

    ADB::PairResult pair(const QByteArray& reply)
    {
        server.setScript({{reply}});
        return ADB(adbPath).pair(address, QStringLiteral("482913"), Cancel());
    }

    // The pairing failure that pairing with this reply throws.
    std::optional<PairingFailure> failureFor(const QByteArray& reply, QString* description = nullptr)
    {
        server.setScript({{reply}});
        try {
            ADB(adbPath).pair(address, QStringLiteral("482913"), Cancel());
        } catch (const ADBError& error) {
            if (description)
                *description = error.description();
            return error.pairingFailure();
        }
        return std::nullopt;
    }

    QTemporaryDir folder;
    QString log;
    QString adbPath;
    FakeADBServer server;
};

TEST_F(Pairing, StartsTheServerThenSendsThePairRequest)
{
    std::atomic<bool> startedFirst{false};
    server.setOnConnect([&] { startedFirst = QFile::exists(log); });
    pair(okay("Successful pairing"));
    EXPECT_TRUE(startedFirst);
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "start-server\n");
    const QByteArray request = "host:pair:482913:" + address.toUtf8();
    EXPECT_EQ(server.request(), QByteArray::number(request.size(), 16).rightJustified(4, '0') + request);
}

TEST_F(Pairing, SuccessNamesTheGuid)
{
    const auto result = pair(okay("Successful pairing to 192.168.1.20:37199 [guid=adb-R5CT123ABC-Xy1Z]"));
    EXPECT_EQ(result.address, address);
    EXPECT_EQ(result.guid, QStringLiteral("adb-R5CT123ABC-Xy1Z"));
}

TEST_F(Pairing, SuccessWithoutAGuid)
{
    EXPECT_EQ(pair(okay("Successful pairing")).guid, std::nullopt);
    // No closing bracket: the rest of the text. An empty one is still a guid.
    EXPECT_EQ(pair(okay("Successful [guid=abc")).guid, QStringLiteral("abc"));
    EXPECT_EQ(pair(okay("Successful [guid=]")).guid, QString());
    EXPECT_EQ(pair(okay("Successful [guid=a] [guid=b]")).guid, QStringLiteral("a"));
}

TEST_F(Pairing, AnOkayThatIsNotASuccessIsAnotherFailure)
{
    QString description;
    const QByteArray text = "Failed: Wrong password or connection was dropped";
    EXPECT_EQ(failureFor(okay(text), &description), PairingFailure::other(QString::fromUtf8(text)));
    EXPECT_EQ(description, QStringLiteral("Wrong password or connection was dropped"));
    // The reply tests of a refusal are not applied to an okay.
    EXPECT_EQ(failureFor(okay("Unable to connect")), PairingFailure::other(QStringLiteral("Unable to connect")));
}

TEST_F(Pairing, ARefusalIsMappedByItsText)
{
    EXPECT_EQ(failureFor(fail("Unable to start pairing client.")), PairingFailure::unreachable(address));
    EXPECT_EQ(failureFor(fail("error: Unable to connect to 192.168.1.20")), PairingFailure::unreachable(address));
    // Unreachable is tested first.
    EXPECT_EQ(failureFor(fail("Unable to connect; Wrong password")), PairingFailure::unreachable(address));
    EXPECT_EQ(failureFor(fail("Failed: Wrong password or connection was dropped")), PairingFailure::rejected());
    EXPECT_EQ(failureFor(fail("wrong password")), PairingFailure::other(QStringLiteral("wrong password")));
    EXPECT_EQ(failureFor(fail("unknown host service")), PairingFailure::other(QStringLiteral("unknown host service")));
}

TEST_F(Pairing, ExchangeFailuresPassThroughUnchanged)
{
    server.setScript({{"NOPE"}});
    EXPECT_EQ(failureOf([&] { ADB(adbPath).pair(address, QStringLiteral("1"), Cancel()); }),
              "Unexpected reply from the adb server.");
}

TEST_F(Pairing, AnAdbThatCannotStartTheServerIsIgnored)
{
    const QString failing = testsupport::writeScript(folder.path(), QStringLiteral("failing-adb"),
                                                     "#!/bin/sh\necho 'adb: error: nope' >&2\nexit 1\n");
    server.setScript({{okay("Successful")}});
    EXPECT_EQ(ADB(failing).pair(address, QStringLiteral("1"), Cancel()).address, address);
    // Not even startable.
    EXPECT_EQ(ADB(folder.filePath(QStringLiteral("missing"))).pair(address, QStringLiteral("1"), Cancel()).address,
              address);
}

TEST(PairingWithoutServer, FailsWithTheServerNotRunning)
{
    QTemporaryDir folder;
    const QString failing =
        testsupport::writeScript(folder.path(), QStringLiteral("adb"), "#!/bin/sh\nexit 1\n");
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in free{};
    free.sin_family = AF_INET;
    free.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof free;
    ASSERT_EQ(::bind(probe, reinterpret_cast<sockaddr*>(&free), sizeof free), 0);
    ASSERT_EQ(::getsockname(probe, reinterpret_cast<sockaddr*>(&free), &length), 0);
    ::close(probe);
    qputenv("ANDROID_ADB_SERVER_PORT", QByteArray::number(ntohs(free.sin_port)));
    EXPECT_EQ(failureOf([&] { ADB(failing).pair(address, QStringLiteral("1"), Cancel()); }),
              "The adb server isn't running.");
    qunsetenv("ANDROID_ADB_SERVER_PORT");
}

TEST(PairingCancelled, IsACancellationNotAFailure)
{
    FakeADBServer server;
    server.setScript({{okay("Successful")}});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf([&] { ADB(QStringLiteral("/bin/true")).pair(address, QStringLiteral("1"), Cancel(stop.get_token())); }),
              "<cancelled>");
}

} // namespace
