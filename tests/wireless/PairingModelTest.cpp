// The pairing model over the browser model, a driven discovery, scripted
// pairing and connecting, and a clock that moves by hand.

#include "StubADB.h"
#include "WirelessFixture.h"

#include <QSet>

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

const QString alphabet = QStringLiteral("abcdefghijkmnpqrstuvwxyz23456789");

class PairingModel : public WirelessTest {
protected:
    void start()
    {
        pairing.start(hostPointer());
        settle();
    }
    QString phaseText() const { return pairing.phase().text(); }

    WirelessPairing pairing{clock};
};

// ---- codes -------------------------------------------------------------------------

TEST_F(PairingModel, ANewModelWaitsWithNoCodeAndIgnoresTheListUntilStarted)
{
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::waiting());
    EXPECT_TRUE(pairing.qrImage().isNull());
    EXPECT_TRUE(pairing.serviceName().isEmpty());
    list(Kind::pairing, QStringLiteral("vantelorquist-anything"), "192.168.1.20", 37000);
    settle();
    EXPECT_TRUE(host().requests().isEmpty());
}

TEST_F(PairingModel, NewCodeMakesANameAPasswordAndTheirQrText)
{
    start();
    EXPECT_EQ(pairing.serviceName().size(), 22);
    EXPECT_TRUE(pairing.serviceName().startsWith(QStringLiteral("vantelorquist-")));
    EXPECT_EQ(pairing.password().size(), 12);
    EXPECT_EQ(pairing.qrText(), QStringLiteral("WIFI:T:ADB;S:") + pairing.serviceName() + QStringLiteral(";P:")
                                    + pairing.password() + QStringLiteral(";;"));
    EXPECT_EQ(pairing.qrText().size(), 52);
    const QString before = pairing.serviceName() + pairing.password();
    pairing.newCode();
    EXPECT_NE(pairing.serviceName() + pairing.password(), before);
}

TEST(PairingCodes, DrawsEveryLetterOfTheAlphabetAndNothingElse)
{
    QSet<QChar> seen;
    const QString drawn = WirelessPairing::random(10000);
    ASSERT_EQ(drawn.size(), 10000);
    for (QChar c : drawn)
        seen.insert(c);
    EXPECT_EQ(seen.size(), 32);
    for (QChar c : seen)
        EXPECT_TRUE(alphabet.contains(c)) << QString(c).toStdString();
    EXPECT_TRUE(WirelessPairing::random(0).isEmpty());
}

// ---- automatic pairing after a scan --------------------------------------------------

TEST_F(PairingModel, OnlyTheExactNamePairsAtOnceWithThePassword)
{
    start();
    list(Kind::pairing, pairing.serviceName().toUpper(), "192.168.1.20", 37000);
    settle();
    EXPECT_TRUE(host().requests().isEmpty());

    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    settle();
    EXPECT_EQ(host().requests(), QStringList{pairing.password() + QStringLiteral(":192.168.1.20:37001")});
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::pairing(QStringLiteral("192.168.1.20:37001")));
    host().pairs.push(pairingFails(PairingFailure::rejected()));
    settle();
}

TEST_F(PairingModel, ARepublishAtTheSameAddressStartsNothingANewAddressStartsAgain)
{
    start();
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    settle();
    host().pairs.push(pairingFails(PairingFailure::rejected()));
    settle();
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    list(Kind::connect, QStringLiteral("adb-OTHER-x"), "192.168.1.30", 5555); // any other change
    settle();
    EXPECT_EQ(host().requests().size(), 1) << "a failed address is not retried";

    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37002);
    settle();
    EXPECT_EQ(host().requests().size(), 2);
    host().pairs.push(pairingFails(PairingFailure::rejected()));
    settle();
    pairing.newCode();
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::waiting());
}

TEST_F(PairingModel, AScanDuringAnotherTaskIsTakenUpAtTheNextListChangeAfterIt)
{
    start();
    pairing.connect({Kind::connect, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.40:5555")});
    settle();
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    settle();
    EXPECT_TRUE(host().requests().isEmpty());
    adb->connects.push([] { throw ADBError::failed(QStringLiteral("failed to connect")); });
    settle();
    EXPECT_TRUE(host().requests().isEmpty());
    list(Kind::connect, QStringLiteral("adb-OTHER-x"), "192.168.1.30", 5555);
    settle();
    EXPECT_EQ(host().requests().size(), 1);
    host().pairs.push(pairingFails(PairingFailure::rejected()));
    settle();
}

// ---- failure sentences ----------------------------------------------------------------

TEST_F(PairingModel, EachPairingFailureEndsInItsSentence)
{
    const struct {
        std::function<ADB::PairResult()> answer;
        bool viaQR;
        QString sentence;
    } cases[] = {
        {pairingFails(PairingFailure::unreachable(QStringLiteral("192.168.1.20:37001"))), false,
         QStringLiteral("Couldn’t reach the phone at 192.168.1.20:37001. Make sure the phone and this Mac are on the "
                        "same Wi-Fi network, then try again.")},
        {pairingFails(PairingFailure::rejected()), true,
         QStringLiteral("The phone dropped the pairing. Scan the code again; if it keeps failing, check that both are "
                        "on the same Wi-Fi network (guest networks block this).")},
        {pairingFails(PairingFailure::rejected()), false,
         QStringLiteral("The phone turned the pairing down. Check the code, make sure both are on the same Wi-Fi "
                        "network, then try again.")},
        {pairingFails(PairingFailure::other(QStringLiteral("Failed: bad Failed: thing "))), false,
         QStringLiteral("bad thing ")},
        {[]() -> ADB::PairResult { throw ADBError::failed(QString()); }, false,
         QStringLiteral("adb failed without an error message.")},
    };
    start();
    for (const auto& c : cases) {
        pairing.newCode();
        if (c.viaQR)
            list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
        else
            pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                         QStringLiteral("123456"));
        settle();
        host().pairs.push(c.answer);
        settle();
        EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::failed(c.sentence));
    }
}

TEST_F(PairingModel, PairingWithoutAdbOrBeforeStartFailsAtOnce)
{
    pairing.pair({Kind::pairing, QStringLiteral("x"), QStringLiteral("10.0.0.1:1")}, QStringLiteral("123456"));
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::failed(QStringLiteral("adb isn’t installed.")));
    // Connecting before start changes nothing.
    pairing.newCode();
    pairing.connectManually(QStringLiteral("10.0.0.1:5555"), QString(), QString());
    settle();
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::waiting());
}

// ---- waiting for the paired phone -------------------------------------------------------

TEST_F(PairingModel, WithAGuidTheServiceListedMidWaitIsConnectedAtTheFourthSearch)
{
    start();
    pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                 QStringLiteral("123456"));
    settle();
    host().pairs.push([] { return paired(QStringLiteral("192.168.1.20:37001"), QStringLiteral("adb-R5C-tag")); });
    settle();
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::connecting(QStringLiteral("Android phone (R5C)")));
    EXPECT_TRUE(model().pairedPhones().contains(QStringLiteral("R5C")));
    EXPECT_EQ(clock->fire(), 1); // t = 1: second search
    EXPECT_EQ(clock->fire(), 1); // t = 2: third search
    list(Kind::connect, QStringLiteral("adb-R5C-tag"), "192.168.1.20", 41000); // t = 2.5
    list(Kind::connect, QStringLiteral("adb-OTHER-tag"), "192.168.1.20", 42000); // same host, no name match
    settle();
    EXPECT_TRUE(adb->connected().isEmpty());
    EXPECT_EQ(clock->fire(), 1); // t = 3: fourth search
    settle();
    EXPECT_EQ(adb->connected(), QStringList{QStringLiteral("192.168.1.20:41000")});
    EXPECT_EQ(clock->waiting(), 0);
    adb->setDevices({adbPhone(QStringLiteral("192.168.1.20:41000"), QStringLiteral("device"), QStringLiteral("Pixel 8"))});
    adb->connects.push([] {});
    settle();
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::done(QStringLiteral("Pixel 8")));
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("192.168.1.20:41000"));
}

TEST_F(PairingModel, WithoutAGuidAServiceOnTheSameHostIsTakenWhateverItsPort)
{
    const struct {
        QString pairingAddress;
        const char* serviceIp;
        QString expected;
    } cases[] = {
        {QStringLiteral("192.168.1.20:37001"), "192.168.1.20", QStringLiteral("192.168.1.20:41000")},
        {QStringLiteral("192.168.1.21"), "192.168.1.21", QStringLiteral("192.168.1.21:41000")},
    };
    start();
    for (const auto& c : cases) {
        list(Kind::connect, QStringLiteral("adb-") + c.expected.left(12) + QStringLiteral("-t"), c.serviceIp, 41000);
        pairing.connectManually(QString(), c.pairingAddress, QStringLiteral("123456"));
        settle();
        host().pairs.push([c] { return paired(c.pairingAddress); });
        settle();
        EXPECT_EQ(adb->connected().last(), c.expected);
        adb->connects.push([] {});
        settle();
        EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::done(c.expected)) << "no device listed: the address";
    }
}

TEST_F(PairingModel, AfterFifteenRoundsWithoutTheServiceItFailsOrTriesTheMdnsName)
{
    start();
    for (const bool withGuid : {false, true}) {
        pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                     QStringLiteral("123456"));
        settle();
        host().pairs.push([withGuid] {
            return paired(QStringLiteral("192.168.1.20:37001"),
                          withGuid ? std::optional(QStringLiteral("adb-R5C-tag")) : std::nullopt);
        });
        settle();
        for (int round = 1; round < 15; ++round)
            ASSERT_EQ(clock->fire(), 1) << round;
        EXPECT_EQ(pairing.phase().kind(), PhaseKind::connecting);
        ASSERT_EQ(clock->fire(), 1);
        settle();
        EXPECT_EQ(clock->waiting(), 0);
        if (withGuid) {
            EXPECT_EQ(adb->connected(), QStringList{QStringLiteral("adb-R5C-tag._adb-tls-connect._tcp")});
            adb->connects.push([] {});
            settle();
        } else {
            EXPECT_EQ(pairing.phase(),
                      WirelessPairing::Phase::failed(QStringLiteral(
                          "Paired, but the phone didn’t show up on the network. Make sure Wireless debugging is still "
                          "on; it will appear under Pairing Code.")));
        }
    }
}

// ---- connecting -----------------------------------------------------------------------

TEST_F(PairingModel, ConnectingShowsTheNameThenTheDeviceOrTheFallbacks)
{
    const struct {
        QString address; // what is connected to
        QString listedAs; // the serial adb lists after connecting
        QString done;
    } cases[] = {
        {QStringLiteral("192.168.1.50:5555"), QStringLiteral("192.168.1.50:5555"), QStringLiteral("Pixel 8")},
        {QStringLiteral("192.168.1.51:5555"), QStringLiteral("USB123"), QStringLiteral("Android phone (R5C)")},
    };
    start();
    for (const auto& c : cases) {
        pairing.connect({Kind::connect, QStringLiteral("adb-R5C-tag"), c.address});
        EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::connecting(QStringLiteral("Android phone (R5C)")));
        adb->setDevices({adbPhone(c.listedAs, QStringLiteral("device"), QStringLiteral("Pixel 8"))});
        adb->connects.push([] {});
        settle();
        EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::done(c.done));
    }
}

TEST_F(PairingModel, ManualConnectionsPairOnlyWithBothPairingTexts)
{
    start();
    const struct {
        QString address, pairingAddress, code;
        bool pairs;
    } cases[] = {
        {QStringLiteral("192.168.1.20:5555"), QString(), QStringLiteral("123456"), false},
        {QStringLiteral("192.168.1.20:5555"), QStringLiteral("192.168.1.20:37001"), QString(), false},
        {QStringLiteral("192.168.1.20:5555"), QStringLiteral("192.168.1.20:37001"), QStringLiteral("123456"), true},
        {QString(), QString(), QString(), false},
    };
    for (const auto& c : cases) {
        const qsizetype requests = host().requests().size();
        pairing.connectManually(c.address, c.pairingAddress, c.code);
        settle();
        if (c.pairs) {
            EXPECT_EQ(host().requests().last(), QStringLiteral("123456:192.168.1.20:37001"));
            host().pairs.push([] { return paired(QStringLiteral("192.168.1.20:37001")); });
            settle();
        }
        EXPECT_EQ(host().requests().size(), requests + (c.pairs ? 1 : 0));
        EXPECT_EQ(adb->connected().last(), c.address) << "connects to the address as typed";
        adb->connects.push([] {});
        settle();
    }
}

TEST_F(PairingModel, ConnectingWithoutAdbNamesTheMissingTool)
{
    adb->setInstalled(false);
    start();
    pairing.connect({Kind::connect, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:5555")});
    settle();
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::failed(QStringLiteral(
                                   "Couldn’t connect to 192.168.1.20:5555: adb not found. Install Google's platform "
                                   "tools with: brew install --cask android-platform-tools")));
}

// ---- stopping and replacing --------------------------------------------------------------

TEST_F(PairingModel, StopDuringTheWaitEndsItWithNoFurtherSearch)
{
    start();
    pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                 QStringLiteral("123456"));
    settle();
    host().pairs.push([] { return paired(QStringLiteral("192.168.1.20:37001")); });
    settle();
    pairing.stop();
    list(Kind::connect, QStringLiteral("adb-R5C-x"), "192.168.1.20", 41000);
    clock->fire();
    settle();
    EXPECT_EQ(clock->waiting(), 0);
    EXPECT_TRUE(adb->connected().isEmpty());
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::connecting);
}

TEST_F(PairingModel, NewCodeDuringASilentPairingCancelsItAndWaitingStays)
{
    start();
    pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                 QStringLiteral("123456"));
    settle();
    ASSERT_EQ(host().pairs.waiting(), 1);
    pairing.newCode();
    settle();
    EXPECT_EQ(host().pairs.cancelled(), 1);
    EXPECT_EQ(pairing.phase(), WirelessPairing::Phase::waiting());
}

// An answer that arrives in the same turn as the cancellation changes
// nothing and starts nothing.
TEST_F(PairingModel, AnAnswerArrivingAsTheTaskIsCancelledIsDropped)
{
    start();
    const std::function<void()> cancels[] = {
        [&] { pairing.newCode(); },
        [&] { pairing.stop(); },
        [&] { pairing.connectManually(QStringLiteral("192.168.1.99:5555"), QString(), QString()); },
    };
    for (const auto& cancel : cancels) {
        pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                     QStringLiteral("123456"));
        settle();
        const WirelessPairing::Phase before = pairing.phase();
        list(Kind::connect, QStringLiteral("adb-R5C-tag"), "192.168.1.20", 41000);
        host().pairs.push([] { return paired(QStringLiteral("192.168.1.20:37001"), QStringLiteral("adb-R5C-tag")); });
        workersIdle();
        cancel();
        const WirelessPairing::Phase after = pairing.phase();
        settle();
        EXPECT_EQ(pairing.phase(), after) << "was " << before.text().toStdString();
        EXPECT_FALSE(adb->connected().contains(QStringLiteral("192.168.1.20:41000")));
        if (!adb->connected().isEmpty()) {
            adb->connects.push([] {});
            settle();
        }
        pairing.start(hostPointer());
        settle();
    }
}

TEST_F(PairingModel, AReplacedTaskEndingLateLeavesItsSuccessorCancellable)
{
    start();
    pairing.pair({Kind::pairing, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:37001")},
                 QStringLiteral("123456"));
    settle();
    pairing.connect({Kind::connect, QStringLiteral("adb-R5C-x"), QStringLiteral("192.168.1.20:5555")});
    settle(); // the replaced pairing has ended by now
    ASSERT_EQ(adb->connects.waiting(), 1);
    pairing.stop();
    settle();
    EXPECT_EQ(adb->connects.cancelled(), 1);
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::connecting);
}

TEST_F(PairingModel, AfterStopAdbsServicesAreGoneAndChangesNoLongerArrive)
{
    StubADB stub;
    stub.setOutput("adb-POLL-x _adb-tls-connect._tcp. 192.168.1.70:5555\n");
    start();
    pairing.discovery().setPolling(ADB(stub.path));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !pairing.discovery().connect().isEmpty(); }));
    pairing.stop();
    EXPECT_TRUE(pairing.discovery().connect().isEmpty());
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    settle();
    EXPECT_TRUE(host().requests().isEmpty());
}

} // namespace
