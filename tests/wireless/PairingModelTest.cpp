// The pairing model over the browser model, a driven discovery, scripted
// pairing and connecting, and a clock that moves by hand.

#include "StubADB.h"
#include "WirelessFixture.h"

#include <QSet>

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

class PairingModel : public WirelessTest {
protected:
    void start()
    {
        pairing.start(host());
        settle();
    }
    void pairTyped() { WirelessTest::pairTyped(pairing); }

    WirelessPairing pairing{clock};
};

// ---- codes -------------------------------------------------------------------------

TEST_F(PairingModel, BeforeStartItWaitsWithNoCodeAndActsOnNothing)
{
    EXPECT_EQ(pairing.phase(), Phase::waiting());
    EXPECT_TRUE(pairing.qrImage().isNull());
    list(Kind::pairing, u"vantelorquist-anything"_s, "192.168.1.20", 37000);
    pairing.newCode();
    pairing.connectManually(u"10.0.0.1:5555"_s, QString(), QString());
    settle();
    EXPECT_TRUE(requests().isEmpty());
    EXPECT_TRUE(connected().isEmpty());
    EXPECT_EQ(pairing.phase(), Phase::waiting());
    // Without a host there is no adb to pair with.
    pairing.pair({Kind::pairing, u"x"_s, u"10.0.0.1:1"_s}, u"123456"_s);
    EXPECT_EQ(pairing.phase(), Phase::failed(u"adb isn’t installed."_s));
}

TEST_F(PairingModel, NewCodeDrawsANameAPasswordAndTheirQrTextAfresh)
{
    start();
    EXPECT_TRUE(pairing.serviceName().startsWith(u"vantelorquist-"_s));
    EXPECT_EQ(pairing.qrText(), u"WIFI:T:ADB;S:"_s + pairing.serviceName() + u";P:"_s + pairing.password() + u";;"_s);
    const QString before = pairing.serviceName() + pairing.password();
    pairing.newCode();
    EXPECT_NE(pairing.serviceName() + pairing.password(), before);
}

TEST(PairingCodes, DrawsEveryLetterOfTheAlphabetAndNothingElse)
{
    const QString drawn = WirelessPairing::random(10000);
    ASSERT_EQ(drawn.size(), 10000);
    const QSet<QChar> seen(drawn.begin(), drawn.end());
    const QString alphabet = u"abcdefghijkmnpqrstuvwxyz23456789"_s;
    EXPECT_EQ(seen, QSet<QChar>(alphabet.begin(), alphabet.end()));
}

// ---- automatic pairing after a scan --------------------------------------------------

TEST_F(PairingModel, OnlyTheExactNamePairsAtOnceAndEachAddressOnce)
{
    start();
    list(Kind::pairing, pairing.serviceName().toUpper(), "192.168.1.20", 37000);
    EXPECT_TRUE(requests().isEmpty());
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    EXPECT_EQ(requests(), QStringList{pairing.password() + u":192.168.1.20:37001"_s});
    EXPECT_EQ(pairing.phase(), Phase::pairing(u"192.168.1.20:37001"_s));
    answerPairing(pairingFails(PairingFailure::rejected()));

    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    list(Kind::connect, u"adb-OTHER-x"_s, "192.168.1.30", 5555); // any other change
    EXPECT_EQ(requests().size(), 1) << "a republish or a failed address starts nothing";
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37002);
    EXPECT_EQ(requests().size(), 2);
    answerPairing(pairingFails(PairingFailure::rejected()));
    pairing.newCode();
    EXPECT_EQ(pairing.phase(), Phase::waiting());
}

TEST_F(PairingModel, AScanDuringAnotherTaskIsTakenUpAtTheNextListChangeAfterIt)
{
    start();
    pairing.connect({Kind::connect, u"adb-R5C-x"_s, u"192.168.1.40:5555"_s});
    list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
    answerConnect(connectFails(u"failed to connect"_s));
    EXPECT_TRUE(requests().isEmpty());
    list(Kind::connect, u"adb-OTHER-x"_s, "192.168.1.30", 5555);
    EXPECT_EQ(requests().size(), 1);
    answerPairing(pairingFails(PairingFailure::rejected()));
}

// ---- failure sentences ----------------------------------------------------------------

TEST_F(PairingModel, EachPairingFailureEndsInItsSentence)
{
    const struct { std::function<ADB::PairResult()> answer; bool viaQR; QString sentence; } cases[] = {
        {pairingFails(PairingFailure::unreachable(u"192.168.1.20:37001"_s)), false,
         u"Couldn’t reach the phone at 192.168.1.20:37001. Make sure the phone and this computer are on the same Wi-Fi "
         "network, then try again."_s},
        {pairingFails(PairingFailure::rejected()), true,
         u"The phone dropped the pairing. Scan the code again; if it keeps failing, check that both are on the same "
         "Wi-Fi network (guest networks block this)."_s},
        {pairingFails(PairingFailure::rejected()), false,
         u"The phone turned the pairing down. Check the code, make sure both are on the same Wi-Fi network, then try "
         "again."_s},
        {pairingFails(PairingFailure::other(u"Failed: bad Failed: thing "_s)), false, u"bad thing "_s},
        {[]() -> ADB::PairResult { throw ADBError::failed(QString()); }, false,
         u"adb failed without an error message."_s},
    };
    start();
    for (const auto& c : cases) {
        pairing.newCode();
        if (c.viaQR)
            list(Kind::pairing, pairing.serviceName(), "192.168.1.20", 37001);
        else
            pairTyped();
        settle();
        answerPairing(c.answer);
        EXPECT_EQ(pairing.phase(), Phase::failed(c.sentence));
    }
}

// ---- waiting for the paired phone -------------------------------------------------------

TEST_F(PairingModel, WithAGuidTheServiceListedMidWaitIsConnectedAtTheFourthSearch)
{
    start();
    pairTyped();
    answerPairing(paired(u"192.168.1.20:37001"_s, u"adb-R5C-tag"_s));
    EXPECT_EQ(pairing.phase(), Phase::connecting(u"Android phone (R5C)"_s));
    EXPECT_TRUE(model().pairedPhones().contains(u"R5C"_s));
    EXPECT_EQ(clock->fire() + clock->fire(), 2); // t = 1 and 2: second and third search
    list(Kind::connect, u"adb-R5C-tag"_s, "192.168.1.20", 41000); // t = 2.5
    list(Kind::connect, u"adb-OTHER-tag"_s, "192.168.1.20", 42000); // same host, no name match
    EXPECT_TRUE(connected().isEmpty());
    EXPECT_EQ(clock->fire(), 1); // t = 3: fourth search
    settle();
    EXPECT_EQ(connected(), QStringList{u"192.168.1.20:41000"_s});
    EXPECT_EQ(clock->waiting(), 0);
    adb->setDevices({adbPhone(u"192.168.1.20:41000"_s, u"device"_s, u"Pixel 8"_s)});
    answerConnect();
    EXPECT_EQ(pairing.phase(), Phase::done(u"Pixel 8"_s));
    EXPECT_EQ(model().selectedSerial(), u"192.168.1.20:41000"_s);
}

TEST_F(PairingModel, WithoutAGuidAServiceOnTheSameHostIsTakenWhateverItsPort)
{
    // A pairing address without ":" compares as a whole.
    const struct { QString pairingAddress; const char* serviceIp; QString expected; } cases[] = {{u"192.168.1.20:37001"_s, "192.168.1.20", u"192.168.1.20:41000"_s},
                 {u"192.168.1.21"_s, "192.168.1.21", u"192.168.1.21:41000"_s}};
    start();
    for (const auto& c : cases) {
        // Listed as the USB phone it also is, not under the address.
        adb->setDevices({adbPhone(u"USB9"_s)});
        adb->setSerialNumber(c.expected, u"USB9"_s);
        list(Kind::connect, u"adb-"_s + c.expected.left(12) + u"-t"_s, c.serviceIp, 41000);
        pairing.connectManually(QString(), c.pairingAddress, u"123456"_s);
        settle();
        answerPairing(paired(c.pairingAddress));
        EXPECT_EQ(connected().last(), c.expected);
        answerConnect();
        EXPECT_EQ(pairing.phase(), Phase::done(c.expected)) << "no device listed: the address";
    }
}

TEST_F(PairingModel, AfterFifteenRoundsWithoutTheServiceItFailsOrTriesTheMdnsName)
{
    start();
    for (const bool withGuid : {false, true}) {
        pairTyped();
        answerPairing(paired(u"192.168.1.20:37001"_s, withGuid ? std::optional(u"adb-R5C-tag"_s) : std::nullopt));
        for (int round = 1; round < 15; ++round)
            ASSERT_EQ(clock->fire(), 1) << round;
        EXPECT_EQ(pairing.phase().kind(), PhaseKind::connecting);
        ASSERT_EQ(clock->fire(), 1);
        settle();
        EXPECT_EQ(clock->waiting(), 0);
        if (withGuid) {
            EXPECT_EQ(connected(), QStringList{u"adb-R5C-tag._adb-tls-connect._tcp"_s});
            answerConnect();
        } else {
            EXPECT_EQ(pairing.phase(), Phase::failed(u"Paired, but the phone didn’t show up on the network. Make sure "
                                                     "Wireless debugging is still on; it will appear under Pairing "
                                                     "Code."_s));
        }
    }
}

// ---- connecting -----------------------------------------------------------------------

TEST_F(PairingModel, ConnectingShowsTheNameThenTheDeviceOrTheFallbacks)
{
    // listedAs: the serial adb lists after connecting.
    const struct { QString address, listedAs, done; } cases[] = {{u"192.168.1.50:5555"_s, u"192.168.1.50:5555"_s, u"Pixel 8"_s},
                 {u"192.168.1.51:5555"_s, u"USB123"_s, u"Android phone (R5C)"_s}};
    start();
    for (const auto& c : cases) {
        pairing.connect({Kind::connect, u"adb-R5C-tag"_s, c.address});
        EXPECT_EQ(pairing.phase(), Phase::connecting(u"Android phone (R5C)"_s));
        adb->setDevices({adbPhone(c.listedAs, u"device"_s, u"Pixel 8"_s)});
        adb->setSerialNumber(c.address, c.listedAs);
        answerConnect();
        EXPECT_EQ(pairing.phase(), Phase::done(c.done));
    }
}

// Mended: once the person tapped Allow the phone was ready, yet the sheet
// kept asking them to tap Allow. It now ends connected with the phone chosen,
// but only for the entry that asked: not after it left the list (the address
// may be another phone's by then), nor after the person moved on.
TEST_F(PairingModel, APhoneAllowedLaterEndsConnectedOnlyWhileItIsTheEntryThatAsked)
{
    enum class Meanwhile { nothing, leftTheList, newCode };
    const struct { QString address; Meanwhile meanwhile; bool followed; } cases[] = {
        {u"192.168.1.60:5555"_s, Meanwhile::nothing, true},
        {u"192.168.1.61:5555"_s, Meanwhile::leftTheList, false},
        {u"192.168.1.62:5555"_s, Meanwhile::newCode, false},
    };
    std::vector<Device> earlier; // listed on, so the choice moves only by this
    auto listAlso = [&](std::vector<Device> devices) {
        devices.insert(devices.begin(), earlier.begin(), earlier.end());
        adb->setDevices(devices);
    };
    start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.toStdString());
        listAlso({adbPhone(c.address, u"unauthorized"_s, u"Pixel 8"_s)});
        pairing.connectManually(c.address, QString(), QString());
        answerConnect();
        ASSERT_EQ(pairing.phase().kind(), PhaseKind::failed);
        ASSERT_TRUE(pairing.phase().text().startsWith(u"Allow USB debugging on your phone."_s));
        const Phase asking = pairing.phase();
        if (c.meanwhile == Meanwhile::leftTheList) {
            listAlso({});
            pass();
        } else if (c.meanwhile == Meanwhile::newCode) {
            pairing.newCode();
        }
        const std::optional<QString> chosen = model().selectedSerial();
        const Device ready = adbPhone(c.address, u"device"_s, u"Pixel 8"_s);
        listAlso({ready});
        pass();
        earlier.push_back(ready);
        if (c.followed) {
            EXPECT_EQ(pairing.phase(), Phase::done(u"Pixel 8"_s));
            EXPECT_EQ(model().selectedSerial(), c.address);
        } else {
            if (c.meanwhile == Meanwhile::newCode)
                EXPECT_EQ(pairing.phase(), Phase::waiting());
            else
                EXPECT_TRUE(pairing.phase().text().contains(u"the phone left before Allow was tapped"_s))
                    << pairing.phase().text().toStdString();
            EXPECT_EQ(model().selectedSerial(), chosen);
        }
    }
}

// Mended: a phone asked to allow debugging that went offline or left kept
// the sheet telling the person to tap Allow, and its leaving ended the
// following without a word. An offline phone is still followed and may come
// back; one that left is not, as its address may be another phone's by then.
TEST_F(PairingModel, APhoneAskingToAllowThatGoesOfflineOrLeavesIsSaidSo)
{
    const QString address = u"192.168.1.70:5555"_s;
    const Phase offline = Phase::failed(
        u"Couldn’t connect to 192.168.1.70:5555: the phone doesn’t answer; adb lists it as offline."_s);
    const Phase left = Phase::failed(u"Couldn’t connect to 192.168.1.70:5555: the phone left before Allow was tapped. "
                                     "Make sure Wireless debugging is still on, then connect again."_s);
    const Phase done = Phase::done(u"Pixel 8"_s);
    const Phase* const asking = nullptr; // the sentence it showed first
    // Each step: how adb lists the address next (empty: not at all), and the phase then.
    const std::vector<std::vector<std::pair<QString, const Phase*>>> cases = {
        {{u"offline"_s, &offline}, {u"device"_s, &done}},
        {{u"offline"_s, &offline}, {u"unauthorized"_s, asking}, {QString(), &left}, {u"device"_s, &left}},
        {{QString(), &left}, {u"unauthorized"_s, &left}},
    };
    start();
    for (const auto& steps : cases) {
        SCOPED_TRACE(steps.size());
        adb->setDevices({adbPhone(address, u"unauthorized"_s, u"Pixel 8"_s)});
        pairing.connectManually(address, QString(), QString());
        answerConnect();
        const Phase first = pairing.phase();
        ASSERT_TRUE(first.text().startsWith(u"Allow USB debugging on your phone."_s));
        for (const auto& [state, expected] : steps) {
            SCOPED_TRACE(state.toStdString());
            adb->setDevices(state.isEmpty() ? std::vector<Device>{} : std::vector{adbPhone(address, state, u"Pixel 8"_s)});
            pass();
            EXPECT_EQ(pairing.phase(), expected ? *expected : first) << pairing.phase().text().toStdString();
        }
        if (pairing.phase() == done) {
            EXPECT_EQ(model().selectedSerial(), address);
        }
        pairing.newCode();
    }
}

// Mended: a phone that adb listed to its connection as asking for Allow, and
// that left before the browser's own list showed it, kept the sheet telling
// the person to tap Allow for good. The passes after it say it left.
TEST_F(PairingModel, APhoneAskingToAllowThatLeavesBeforeTheListShowsItIsSaidToHaveLeft)
{
    const QString address = u"192.168.1.71:5555"_s;
    start();
    adb->setDevices({adbPhone(address, u"unauthorized"_s, u"Pixel 8"_s)});
    adb->listingsBeforeLeaving = 1; // the connection's own listing shows it, no later one
    pairing.connectManually(address, QString(), QString());
    answerConnect();
    const Phase asking = pairing.phase();
    ASSERT_TRUE(asking.text().startsWith(u"Allow USB debugging on your phone."_s)) << asking.text().toStdString();
    pass();
    EXPECT_EQ(pairing.phase(), asking); // a pass may come before the list shows it
    pass();
    EXPECT_EQ(pairing.phase(),
              Phase::failed(u"Couldn’t connect to 192.168.1.71:5555: the phone left before Allow was tapped. Make sure "
                            "Wireless debugging is still on, then connect again."_s));
    // Gone is gone: the address may be another phone's by now.
    adb->setDevices({adbPhone(address, u"device"_s, u"Pixel 8"_s)});
    pass();
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::failed);
}

TEST_F(PairingModel, ManualConnectionsPairOnlyWithBothPairingTexts)
{
    start();
    const struct { QString address, pairingAddress, code; bool pairs; } cases[] = {
        {u"192.168.1.20:5555"_s, QString(), u"123456"_s, false},
        {u"192.168.1.20:5555"_s, u"192.168.1.20:37001"_s, QString(), false},
        {u"192.168.1.20:5555"_s, u"192.168.1.20:37001"_s, u"123456"_s, true},
        {QString(), QString(), QString(), false},
    };
    for (const auto& c : cases) {
        const qsizetype before = requests().size();
        pairing.connectManually(c.address, c.pairingAddress, c.code);
        settle();
        if (c.pairs) {
            EXPECT_EQ(requests().last(), u"123456:192.168.1.20:37001"_s);
            answerPairing(paired(u"192.168.1.20:37001"_s));
        }
        EXPECT_EQ(requests().size(), before + (c.pairs ? 1 : 0));
        EXPECT_EQ(connected().last(), c.address) << "connects to the address as typed";
        answerConnect();
    }
}

TEST_F(PairingModel, ConnectingWithoutAdbNamesTheMissingTool)
{
    adb->setInstalled(false);
    start();
    pairing.connect({Kind::connect, u"adb-R5C-x"_s, u"192.168.1.20:5555"_s});
    settle();
    EXPECT_EQ(pairing.phase(), Phase::failed(u"Couldn’t connect to 192.168.1.20:5555: adb not found. Install Google's "
                                             "platform tools with: sudo apt install adb"_s));
}

// Mended: with no thread to run adb on, pairing and connecting threw (from
// the sheet's button that ended the application), the phase stayed
// "pairing" or "connecting", and the browser model's "Connecting to …" job
// stayed so that every later action only beeped.
TEST_F(PairingModel, WithNoThreadEveryStartEndsInAFailedPhase)
{
    struct Refusal {
        Refusal() { WorkerPool::shared().refuseThreadsForTesting(true); }
        ~Refusal() { WorkerPool::shared().refuseThreadsForTesting(false); }
    };
    start();
    const struct {
        const char* what;
        std::function<void()> action;
        QString sentenceStart;
    } cases[] = {
        {"a typed code", [this] { pairing.pair({Kind::pairing, u"adb-R5C-x"_s, u"192.168.1.20:37001"_s}, u"123456"_s); },
         u"Couldn't start a worker thread"_s},
        {"a scanned code", [this] { list(Kind::pairing, pairing.serviceName(), "192.168.1.21", 37002); },
         u"Couldn't start a worker thread"_s},
        {"a listed phone", [this] { pairing.connect({Kind::connect, u"adb-R5C-x"_s, u"192.168.1.40:5555"_s}); },
         u"Couldn’t connect to 192.168.1.40:5555: Couldn't start a worker thread"_s},
        {"a typed address", [this] { pairing.connectManually(u"10.0.0.1:5555"_s, QString(), QString()); },
         u"Couldn’t connect to 10.0.0.1:5555: Couldn't start a worker thread"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        {
            const Refusal refusal;
            EXPECT_NO_THROW(c.action());
            settle();
        }
        EXPECT_EQ(pairing.phase().kind(), PhaseKind::failed);
        EXPECT_TRUE(pairing.phase().text().startsWith(c.sentenceStart)) << pairing.phase().text().toStdString();
        EXPECT_FALSE(model().job());
    }
    EXPECT_TRUE(connected().isEmpty());
    // With threads again, the next attempt runs.
    pairing.connectManually(u"10.0.0.1:5555"_s, QString(), QString());
    answerConnect();
    EXPECT_EQ(connected(), QStringList{u"10.0.0.1:5555"_s});
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::done);
}

// Mended: a cancellation the sheet did not ask for (adb ended by someone
// else's signal, the listing after "adb connect" among them, or a Disconnect
// of the address) left the phase "pairing" or "connecting" for good, with
// every control of the sheet disabled. Each ends in words, or connected when
// the phone is.
TEST_F(PairingModel, WhateverEndsAStepUnaskedTheSheetIsNotLeftBusy)
{
    const QString address = u"192.168.1.80:5555"_s;
    const QString stopped = u"adb was stopped before it answered."_s;
    const struct {
        const char* what;
        std::function<void()> run;
        Phase after;
    } cases[] = {
        {"the pairing", [&] {
             pairTyped();
             answerPairing([]() -> ADB::PairResult { throw Cancelled(); });
         },
         Phase::failed(stopped)},
        {"adb connect", [&] {
             pairing.connectManually(address, QString(), QString());
             answerConnect([] { throw Cancelled(); });
         },
         Phase::failed(u"Couldn’t connect to "_s + address + u": "_s + stopped)},
        {"the listing after it, once", [&] {
             adb->listingsToEndAfterConnect = 1;
             pairing.connectManually(address, QString(), QString());
             answerConnect();
         },
         Phase::done(u"Pixel 7"_s)},
        {"the listing after it, each time", [&] {
             adb->listingsToEndAfterConnect = 2;
             pairing.connectManually(address, QString(), QString());
             answerConnect();
         },
         Phase::failed(u"Couldn’t connect to "_s + address + u": "_s + stopped)},
        {"a Disconnect of the address", [&] {
             pairing.connectManually(address, QString(), QString());
             settle();
             model().disconnect(adbPhone(address));
             settle();
         },
         Phase::failed(u"Couldn’t connect to "_s + address + u": it was disconnected meanwhile."_s)},
        {"the browser model's answer", [&] {
             host()->connectsCancelUnasked = true;
             pairing.connectManually(address, QString(), QString());
             settle();
             host()->connectsCancelUnasked = false;
         },
         Phase::failed(u"Couldn’t connect to "_s + address + u": "_s + stopped)},
    };
    start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        adb->setDevices({});
        c.run();
        settle();
        EXPECT_EQ(pairing.phase(), c.after) << pairing.phase().text().toStdString();
        EXPECT_FALSE(model().job());
        adb->listingsToEndAfterConnect = 0;
        adb->listingsLeftToEnd = 0;
        pairing.newCode();
    }
}

// ---- stopping and replacing --------------------------------------------------------------

TEST_F(PairingModel, StopDuringTheWaitEndsItWithNoFurtherSearch)
{
    start();
    pairTyped();
    answerPairing(paired(u"192.168.1.20:37001"_s));
    pairing.stop();
    list(Kind::connect, u"adb-R5C-x"_s, "192.168.1.20", 41000);
    clock->fire();
    settle();
    EXPECT_EQ(clock->waiting(), 0);
    EXPECT_TRUE(connected().isEmpty());
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::connecting);
}

TEST_F(PairingModel, NewCodeDuringASilentPairingCancelsItAndWaitingStays)
{
    start();
    pairTyped();
    ASSERT_EQ(host()->pairs.waiting(), 1);
    pairing.newCode();
    settle();
    EXPECT_EQ(host()->pairs.cancelled(), 1);
    EXPECT_EQ(pairing.phase(), Phase::waiting());
}

// Mended: an answer that arrives in the same turn as the cancellation
// changes nothing and starts nothing.
TEST_F(PairingModel, AnAnswerArrivingAsTheTaskIsCancelledIsDropped)
{
    start();
    const std::function<void()> cancels[] = {
        [&] { pairing.newCode(); },
        [&] { pairing.stop(); },
        [&] { pairing.connectManually(u"192.168.1.99:5555"_s, QString(), QString()); },
    };
    for (const auto& cancel : cancels) {
        pairTyped();
        list(Kind::connect, u"adb-R5C-tag"_s, "192.168.1.20", 41000);
        host()->pairs.push(paired(u"192.168.1.20:37001"_s, u"adb-R5C-tag"_s));
        workersIdle();
        cancel();
        const Phase after = pairing.phase();
        settle();
        EXPECT_EQ(pairing.phase(), after);
        EXPECT_FALSE(connected().contains(u"192.168.1.20:41000"_s));
        if (!connected().isEmpty())
            answerConnect();
        start();
    }
}

TEST_F(PairingModel, AReplacedTaskEndingLateLeavesItsSuccessorCancellable)
{
    start();
    pairTyped();
    pairing.connect({Kind::connect, u"adb-R5C-x"_s, u"192.168.1.20:5555"_s});
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
    EXPECT_TRUE(requests().isEmpty());
}

} // namespace

TEST(PairingCodes, QrCodeIsASquareOfModulesWithItsThreeFinderPatterns)
{
    // The library that draws it is opened on first use.
    for (const QString& text : {u"WIFI:T:ADB;S:vantelorquist-abcdefgh;P:23456789abcd;;"_s, u"x"_s}) {
        SCOPED_TRACE(text.toStdString());
        const QImage code = WirelessPairing::qrCode(text);
        ASSERT_FALSE(code.isNull());
        ASSERT_EQ(code.width(), code.height());
        const int modules = 21 + 4 * ((code.width() / 10 - 21) / 4); // versions grow by four modules
        ASSERT_EQ(code.width(), modules * 10);
        const auto black = [&](int x, int y) { return code.pixel(x * 10 + 5, y * 10 + 5) == qRgb(0, 0, 0); };
        // Each finder is a black ring, a white ring and a black 3x3 centre.
        for (const QPoint corner : {QPoint(0, 0), QPoint(modules - 7, 0), QPoint(0, modules - 7)}) {
            for (int y = 0; y < 7; ++y) {
                for (int x = 0; x < 7; ++x) {
                    const int ring = std::min({x, y, 6 - x, 6 - y});
                    EXPECT_EQ(black(corner.x() + x, corner.y() + y), ring != 1) << x << "," << y;
                }
            }
        }
    }
}
