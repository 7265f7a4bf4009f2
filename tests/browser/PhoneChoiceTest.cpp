// The device poll and the chosen phone: adb looked for at creation and again
// by the poll while missing, the two-second poll that never overlaps itself,
// the first pass's choice from the last session, a newly plugged-in phone
// opened once, a phone that went away, a change of transport, and the facts
// of a phone no longer chosen.

#include "BrowserFakes.h"

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
    // The first new one, waiting for permission or not, is opened exactly once.
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1|unauthorized"_s, u"N2"_s}), "N1 1");
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1"_s, u"N2"_s}), "N1 1");
    // A new Wi-Fi connection is never opened.
    EXPECT_EQ(passWith({u"A1"_s, u"B2"_s, u"N1"_s, u"N2"_s, u"10.0.0.9:5555"_s}), "N1 1");
    // Gone: the next ready phone, then none.
    EXPECT_EQ(passWith({u"A1|offline"_s, u"N2"_s}), "N2 1");
    EXPECT_EQ(passWith({}), "none 1");
    // With the setting off, a new phone is listed but not opened.
    model().setOpenWhenConnected(false);
    EXPECT_EQ(passWith({u"A1"_s}), "A1 1");
    EXPECT_EQ(passWith({u"A1"_s, u"N3"_s}), "A1 1");
    EXPECT_EQ(model().devices().size(), 2);
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

} // namespace
