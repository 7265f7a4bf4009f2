// The device poll and the chosen phone: adb looked for at creation and again
// by the poll while missing, the two-second poll that never overlaps itself,
// the first pass's choice from the last session, a newly plugged-in phone
// opened once, a phone that went away, a change of transport, and the facts
// of a phone no longer chosen.

#include "BrowserFakes.h"

#include <QDir>

using namespace browsertest;

namespace {

class PhoneChoiceTest : public ModelTest {
protected:
    // Sets the adb phones ("SERIAL" ready, "SERIAL|state" otherwise), runs a pass
    // and tells "chosen windowRequests".
    std::string passWith(const QStringList& phones)
    {
        std::vector<Device> devices;
        for (const QString& phone : phones) {
            const QStringList parts = phone.split(u'|');
            devices.push_back(adbPhone(parts[0], parts.value(1, u"device"_s)));
        }
        adb->setDevices(devices);
        pass();
        return (model().selectedSerial().value_or(u"none"_s) + u' ' + QString::number(model().windowRequest()))
            .toStdString();
    }
};

TEST_F(PhoneChoiceTest, TheChoiceFollowsTheLastSessionNewPhonesAndPhonesThatGo)
{
    settings().setValue(u"lastSerial"_s, u"B2"_s);
    // Present at start-up: the last phone, not "newly plugged in".
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s}), "B2 0");
    // The first new ready one is opened exactly once; one waiting for
    // permission leaves the ready phone shown until it is ready itself.
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1|unauthorized"_s, u"N2"_s}), "N2 1");
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1"_s, u"N2"_s}), "N1 2");
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1"_s, u"N2"_s}), "N1 2");
    // A new Wi-Fi connection is never opened.
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1"_s, u"N2"_s, u"10.0.0.9:5555"_s}), "N1 2");
    // Gone: the next ready phone, then none.
    EXPECT_EQ(passWith({u"A1|offline"_s, u"N2"_s}), "N2 2");
    EXPECT_EQ(passWith({}), "none 2");
    // With the setting off, a new phone is listed but not opened.
    model().setOpenWhenConnected(false);
    EXPECT_EQ(passWith({u"A1"_s}), "A1 2");
    EXPECT_EQ(passWith({u"A1"_s, u"N3"_s}), "A1 2");
    EXPECT_EQ(model().devices().size(), 2);
}

// Mended: a newly attached phone that could not be used yet took the window
// from the ready phone, and a phone that left the list for a moment handed
// the window, and the remembered last phone, to another for good.
TEST_F(PhoneChoiceTest, APhoneNotReadyNeverTakesTheWindowAndOneThatLeftBrieflyGetsItBack)
{
    EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
    model().setSelectedSerial(u"A1"_s);
    for (const QString& state : {u"unauthorized"_s, u"no permissions"_s, u"offline"_s}) {
        SCOPED_TRACE(state.toStdString());
        EXPECT_EQ(passWith({u"A1"_s, u"N1|"_s + state}), "A1 0");
        EXPECT_EQ(stored(u"lastSerial"_s).toString(), u"A1"_s);
        EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
    }
    // Once ready, it arrives.
    EXPECT_EQ(passWith({u"A1"_s, u"N1|unauthorized"_s}), "A1 0");
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s}), "N1 1");
    EXPECT_EQ(stored(u"lastSerial"_s).toString(), u"N1"_s);

    // A Wi-Fi phone chosen by the person leaves for a while and comes back.
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s, u"10.0.0.9:5555"_s}), "N1 1");
    model().setSelectedSerial(u"10.0.0.9:5555"_s);
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s}), "A1 1");
    EXPECT_EQ(stored(u"lastSerial"_s).toString(), u"10.0.0.9:5555"_s);
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s, u"10.0.0.9:5555|offline"_s}), "A1 1");
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s, u"10.0.0.9:5555"_s}), "10.0.0.9:5555 1");
    // Unless the person chose another meanwhile.
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s}), "A1 1");
    model().setSelectedSerial(u"N1"_s);
    EXPECT_EQ(passWith({u"A1"_s, u"N1"_s, u"10.0.0.9:5555"_s}), "N1 1");
}

// Mended: a phone that left and came back took the window however long it
// was gone, also with the setting to open a newly connected phone off.
TEST_F(PhoneChoiceTest, WithOpenWhenConnectedOffAReturningPhoneLeavesTheChoiceAlone)
{
    for (const QString& returning : {u"B2"_s, u"10.0.0.9:5555"_s}) {
        SCOPED_TRACE(returning.toStdString());
        model().setOpenWhenConnected(true);
        EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
        model().setOpenWhenConnected(false);
        passWith({u"A1"_s, returning});
        model().setSelectedSerial(returning);
        EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
        EXPECT_EQ(passWith({u"A1"_s, returning + u"|offline"_s}), "A1 0");
        EXPECT_EQ(passWith({u"A1"_s, returning}), "A1 0");
        // Turned on later, the phone is no longer one that returns.
        model().setOpenWhenConnected(true);
        EXPECT_EQ(passWith({u"A1"_s, returning}), "A1 0");
        EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
    }
}

// The same while a question is open: the answer still counts for the phone
// it was asked about.
TEST_F(PhoneChoiceTest, APhoneAppearingWhileAQuestionIsOpenLeavesTheAnswerToTheShownPhone)
{
    QTemporaryDir saved;
    EXPECT_EQ(passWith({u"A1"_s}), "A1 0");
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u"letter.txt"_s)});
    reload();
    for (const QString& state : {u"unauthorized"_s, u"no permissions"_s}) {
        SCOPED_TRACE(state.toStdString());
        desktop->folder = saved.filePath(state);
        QDir().mkpath(*desktop->folder);
        bool appeared = false;
        desktop->whileAsking = [&] {
            adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"N-"_s + state, state)});
            waitFor([this](auto done) { model().refreshDevices(done); });
            appeared = model().devices().size() == 2;
        };
        model().setErrorMessage(std::nullopt);
        model().download({file(u"letter.txt"_s)});
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
        EXPECT_TRUE(appeared);
        EXPECT_EQ(model().selectedSerial(), u"A1"_s);
        EXPECT_EQ(model().windowRequest(), 0);
        EXPECT_FALSE(model().errorMessage()) << model().errorMessage().value_or(QString()).toStdString();
        adb->setDevices({adbPhone(u"A1"_s)});
        desktop->whileAsking = {};
        pass();
    }
    EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"pull /sdcard/letter.txt "_s), 2);
}

TEST_F(PhoneChoiceTest, AChangeOfTransportListsTheFolderAgain)
{
    mtp->setDevices({mtpPhone(u"P1"_s)});
    mtp->phone(u"P1"_s)->setFolder(u"/sdcard"_s, {file(u"seen over mtp"_s)});
    pass();
    ASSERT_EQ(joined(model().entries()), u"seen over mtp"_s);
    auto overADB = adb->phone(u"P1"_s);
    overADB->setFolder(u"/sdcard"_s, {file(u"seen over adb"_s)});
    adb->setDevices({adbPhone(u"P1"_s)});
    pass();
    EXPECT_EQ(joined(model().entries()), u"seen over adb"_s);
}

TEST_F(PhoneChoiceTest, TheFactsOfAPhoneNoLongerChosenAreDropped)
{
    adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"B2"_s)});
    DeviceInfo facts;
    facts.manufacturer = u"A's maker"_s;
    adb->phone(u"A1"_s)->setInfo(facts);
    pass();
    ASSERT_EQ(model().deviceInfo()->manufacturer, u"A's maker"_s);

    bool done = false;
    model().refreshInfo([&done] { done = true; });
    model().setSelectedSerial(u"B2"_s); // clears the facts, then B2's are read
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    settle();
    EXPECT_FALSE(model().deviceInfo().value_or(facts).manufacturer.has_value());
}

TEST_F(PhoneChoiceTest, WithoutAWorkingAdbOnlyMTPPhonesAreListedUntilThePollFindsIt)
{
    adb->setInstalled(false);
    adb->setDevices({adbPhone(u"A1"_s)});
    mtp->setDevices({mtpPhone(u"M1"_s)});
    mtp->phone(u"M1"_s)->setFolder(u"/sdcard"_s, {});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {});
    EXPECT_TRUE(model().adbMissing()); // right after creation
    pass();
    EXPECT_EQ(adb->calls(u"devices"_s), 0);
    EXPECT_EQ(model().devices().size(), 1);
    EXPECT_NE(model().files(), nullptr);
    adb->setInstalled(true);
    pass();
    EXPECT_FALSE(model().adbMissing());
    EXPECT_EQ(model().devices().size(), 2);
    // Once found it is not looked for again; a failing list counts as no adb phones.
    const int calls = adb->calls(u"locate"_s);
    adb->failDevices(true);
    pass();
    EXPECT_EQ(adb->calls(u"locate"_s), calls);
    EXPECT_EQ(model().devices().size(), 1);
    EXPECT_FALSE(model().errorMessage().has_value());
}

// adb's list of phones ended from outside (an adb server restart ends every
// client) says nothing of the phones: the pass keeps them, chosen one
// included, rather than reading as none.
TEST_F(PhoneChoiceTest, AListingOfPhonesEndedFromOutsideKeepsThePhones)
{
    struct StoppedListings : FakeAdbSource {
        std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override
        {
            if (stopped)
                throw ADBError::stopped();
            return FakeAdbSource::devices(adb, cancel);
        }
        std::atomic<bool> stopped{false};
    };
    auto listings = std::make_shared<StoppedListings>();
    adb = listings;
    adb->setDevices({adbPhone(u"A1"_s)});
    pass();
    ASSERT_EQ(model().selectedSerial(), u"A1"_s);
    listings->stopped = true;
    pass();
    EXPECT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().selectedSerial(), u"A1"_s);
}

TEST_F(PhoneChoiceTest, ThePollRunsAtOnceThenTwoSecondsAfterEachPassEnds)
{
    adb->setDevices({adbPhone(u"A1"_s)});
    model();
    ASSERT_EQ(clock->waiting(), 1);
    ASSERT_EQ(clock->fire(), 1);
    // While the pass is under way nothing else is scheduled: no overlap.
    EXPECT_EQ(clock->waiting(), 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return clock->waiting() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(2000));
}

// The application starts the poll once its first window is drawn; asking
// again, or asking a model that polls at once, never doubles it.
TEST_F(PhoneChoiceTest, APollLeftToTheApplicationStartsWhenAskedAndOnlyOnce)
{
    adb->setDevices({adbPhone(u"A1"_s)});
    for (const bool whenAsked : {true, false}) {
        SCOPED_TRACE(whenAsked ? "when asked" : "at once");
        const auto polling = std::make_shared<ManualClock>();
        const std::unique_ptr<BrowserModel> held = newModel(adb, mtp, settings(), polling, desktop, whenAsked);
        EXPECT_EQ(polling->waiting(), whenAsked ? 0 : 1);
        held->startPolling();
        held->startPolling();
        EXPECT_EQ(polling->waiting(), 1);
        EXPECT_EQ(polling->lastDelay(), std::chrono::milliseconds(0));
    }
}

} // namespace
