#include "ADB.h"
#include "FakeADBServer.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <stop_token>
#include <thread>
#include <variant>

namespace {

const QString address = QStringLiteral("192.168.1.20:37199");

QByteArray framed(const QByteArray& status, const QByteArray& text)
{
    return status + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}
QByteArray okay(const QByteArray& text) { return framed("OKAY", text); }
QByteArray fail(const QByteArray& text) { return framed("FAIL", text); }

using Outcome = std::variant<ADB::PairResult, PairingFailure>;

class Pairing : public ::testing::Test {
protected:
    Outcome pair(const QByteArray& reply)
    {
        server.setScript({reply});
        try {
            return ADB(adbPath).pair(address, QStringLiteral("482913"), Cancel());
        } catch (const ADBError& error) {
            description = error.description();
            return error.pairingFailure().value_or(PairingFailure::other(QStringLiteral("<not a pairing failure>")));
        }
    }

    QTemporaryDir folder;
    QString log = folder.filePath(QStringLiteral("adb.log"));
    // Records its arguments, as a real adb would start its server.
    QString adbPath = testsupport::writeScript(folder.path(), QStringLiteral("adb"),
                                               "#!/bin/sh\necho \"$@\" >> '" + QFile::encodeName(log) + "'\nexit 0\n");
    QString description;
    FakeADBServer server;
};

TEST_F(Pairing, StartsTheServerThenSendsThePairRequestEvenWhenTheStartFails)
{
    std::atomic<bool> startedFirst{false};
    server.setScript({okay("Successful pairing"), false, true, [&] { startedFirst = QFile::exists(log); }});
    ADB(adbPath).pair(address, QStringLiteral("482913"), Cancel());
    EXPECT_TRUE(startedFirst);
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), "start-server\n");
    EXPECT_EQ(server.request(), framed("", "host:pair:482913:" + address.toUtf8()));

    const QString failing = testsupport::writeScript(folder.path(), QStringLiteral("failing-adb"),
                                                     "#!/bin/sh\necho 'adb: error: nope' >&2\nexit 1\n");
    server.setScript({okay("Successful")});
    EXPECT_EQ(ADB(failing).pair(address, QStringLiteral("1"), Cancel()).address, address);
}

TEST_F(Pairing, ASuccessNamesItsGuidAndEveryOtherAnswerIsAPairingFailure)
{
    const QByteArray text = "Failed: Wrong password or connection was dropped";
    const auto success = [](std::optional<QString> guid) { return Outcome(ADB::PairResult {address, guid}); };
    // An okay that is not a success is another failure; a refusal goes by its
    // text, unreachable tested first.
    const std::pair<QByteArray, Outcome> cases[] {
        {okay("Successful pairing to 192.168.1.20:37199 [guid=adb-R5CT123ABC-Xy1Z]"),
         success(QStringLiteral("adb-R5CT123ABC-Xy1Z"))},
        {okay("Successful pairing"), success(std::nullopt)},
        {okay("Successful [guid=abc"), success(QStringLiteral("abc"))}, // no closing bracket
        {okay("Unable to connect"), PairingFailure::other(QStringLiteral("Unable to connect"))},
        {fail("Unable to start pairing client."), PairingFailure::unreachable(address)},
        {fail("Unable to connect; Wrong password"), PairingFailure::unreachable(address)},
        {fail(text), PairingFailure::rejected()},
        {fail("unknown host service"), PairingFailure::other(QStringLiteral("unknown host service"))},
        {okay(text), PairingFailure::other(QString::fromUtf8(text))}};
    for (const auto& [reply, expected] : cases)
        EXPECT_EQ(pair(reply), expected) << reply.toStdString();
    EXPECT_EQ(description, QStringLiteral("Wrong password or connection was dropped"));
}

TEST_F(Pairing, AnEarlierCancellationIsNoFailureAndNeverConnects)
{
    server.setScript({okay("Successful")});
    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(failureOf([&] { ADB(adbPath).pair(address, QStringLiteral("1"), Cancel(stop.get_token())); }),
              "<cancelled>");
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // a request would have arrived by now
    EXPECT_TRUE(server.request().isEmpty());
}

} // namespace
