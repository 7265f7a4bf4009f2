#include "ADB.h"
#include "FakeADBServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <stop_token>
#include <thread>

namespace {

const QString address = QStringLiteral("192.168.1.20:37199");

QByteArray framed(const QByteArray& status, const QByteArray& text)
{
    return status + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}
QByteArray okay(const QByteArray& text) { return framed("OKAY", text); }
QByteArray fail(const QByteArray& text) { return framed("FAIL", text); }

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

    // The error that pairing with this reply throws.
    std::optional<ADBError> errorFor(const QByteArray& reply)
    {
        server.setScript({{reply}});
        try {
            ADB(adbPath).pair(address, QStringLiteral("482913"), Cancel());
        } catch (const ADBError& error) {
            return error;
        }
        return std::nullopt;
    }
    std::optional<PairingFailure> failureFor(const QByteArray& reply)
    {
        const auto error = errorFor(reply);
        return error ? error->pairingFailure() : std::nullopt;
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
    EXPECT_EQ(server.request(), framed("", "host:pair:482913:" + address.toUtf8()));
}

TEST_F(Pairing, SuccessNamesTheGuidWhenThereIsOne)
{
    const auto result = pair(okay("Successful pairing to 192.168.1.20:37199 [guid=adb-R5CT123ABC-Xy1Z]"));
    EXPECT_EQ(result.address, address);
    EXPECT_EQ(result.guid, QStringLiteral("adb-R5CT123ABC-Xy1Z"));
    EXPECT_EQ(pair(okay("Successful pairing")).guid, std::nullopt);
    EXPECT_EQ(pair(okay("Successful [guid=abc")).guid, QStringLiteral("abc")); // no closing bracket
}

TEST_F(Pairing, EveryOtherAnswerIsMappedToAPairingFailure)
{
    const QByteArray text = "Failed: Wrong password or connection was dropped";
    const auto error = errorFor(okay(text));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("Wrong password or connection was dropped"));
    // An okay that is not a success is another failure; a refusal goes by its
    // text, unreachable tested first.
    const std::pair<QByteArray, PairingFailure> cases[] {
        {okay(text), PairingFailure::other(QString::fromUtf8(text))},
        {okay("Unable to connect"), PairingFailure::other(QStringLiteral("Unable to connect"))},
        {fail("Unable to start pairing client."), PairingFailure::unreachable(address)},
        {fail("Unable to connect; Wrong password"), PairingFailure::unreachable(address)},
        {fail(text), PairingFailure::rejected()},
        {fail("unknown host service"), PairingFailure::other(QStringLiteral("unknown host service"))}};
    for (const auto& [reply, failure] : cases)
        EXPECT_EQ(failureFor(reply), failure) << reply.toStdString();
}

TEST_F(Pairing, AnAdbThatCannotStartTheServerIsIgnored)
{
    const QString failing = testsupport::writeScript(folder.path(), QStringLiteral("failing-adb"),
                                                     "#!/bin/sh\necho 'adb: error: nope' >&2\nexit 1\n");
    server.setScript({{okay("Successful")}});
    EXPECT_EQ(ADB(failing).pair(address, QStringLiteral("1"), Cancel()).address, address);
}

TEST_F(Pairing, AnEarlierCancellationIsNoFailureAndNeverConnects)
{
    server.setScript({{okay("Successful")}});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf([&] { ADB(adbPath).pair(address, QStringLiteral("1"), Cancel(stop.get_token())); }),
              "<cancelled>");
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // a connection would have been accepted by now
    EXPECT_EQ(server.connections(), 0);
}

} // namespace
