// The device poll and the chosen phone: adb looked for at creation and again
// by the poll while missing, the two-second poll that never overlaps itself,
// the first pass's choice from the last session, a newly plugged-in phone
// opened once, a phone that went away, a change of transport, and the phone
// facts read every fifteenth pass.

#include "BrowserFakes.h"
#include "TestSupport.h"

using namespace browsertest;

namespace {

class PhoneChoiceTest : public ModelTest {};

TEST_F(PhoneChoiceTest, TheFirstPassChoosesTheLastPhoneWhenItIsReady)
{
    settings().setValue(QStringLiteral("lastSerial"), QStringLiteral("B2"));
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("B2"));
    EXPECT_EQ(model().windowRequest(), 0); // present at start-up: not "newly plugged in"
}

TEST_F(PhoneChoiceTest, ANewlyPluggedPhoneIsOpenedExactlyOnce)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));

    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("N1"), QStringLiteral("unauthorized")),
                     adbPhone(QStringLiteral("N2"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("N1")); // the first new one, waiting for permission or not
    EXPECT_EQ(model().windowRequest(), 1);

    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("N1")), adbPhone(QStringLiteral("N2"))});
    pass();
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("N1"));
    EXPECT_EQ(model().windowRequest(), 1);
}

TEST_F(PhoneChoiceTest, ANewPhoneIsNotOpenedWhenTheSettingIsOffNorANewWiFiConnectionEver)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("10.0.0.9:5555"))});
    pass();
    EXPECT_EQ(model().windowRequest(), 0);

    model().setOpenWhenConnected(false);
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("10.0.0.9:5555")),
                     adbPhone(QStringLiteral("N1"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    EXPECT_EQ(model().windowRequest(), 0);
    EXPECT_EQ(model().devices().size(), 3);
}

TEST_F(PhoneChoiceTest, WhenTheChosenPhoneGoesAwayTheNextChoiceIsMade)
{
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"), QStringLiteral("offline")),
                     adbPhone(QStringLiteral("C3"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    adb->setDevices({adbPhone(QStringLiteral("B2"), QStringLiteral("offline")), adbPhone(QStringLiteral("C3"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("C3"));

    adb->setDevices({});
    pass();
    EXPECT_FALSE(model().selectedSerial().has_value());
}

TEST_F(PhoneChoiceTest, AChangeOfTransportListsTheFolderAgainAndReadsTheFacts)
{
    mtp->setDevices({mtpPhone(QStringLiteral("P1"))});
    mtp->phone(QStringLiteral("P1"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("seen over mtp"))});
    pass();
    ASSERT_EQ(names(model().entries()), QStringList{QStringLiteral("seen over mtp")});

    auto overADB = adb->phone(QStringLiteral("P1"));
    overADB->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("seen over adb"))});
    DeviceInfo facts;
    facts.battery = 80;
    overADB->setInfo(facts);
    adb->setDevices({adbPhone(QStringLiteral("P1"))});
    pass();
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("seen over adb")});
    ASSERT_TRUE(model().deviceInfo().has_value());
    EXPECT_EQ(model().deviceInfo()->battery, 80);
}

TEST_F(PhoneChoiceTest, TheFactsAreReadOnEveryFifteenthPass)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    auto phone = adb->phone(QStringLiteral("A1"));
    phone->setFolder(QStringLiteral("/sdcard"), {});
    pass(); // chooses the phone, which reads the facts once
    EXPECT_EQ(phone->calls(QStringLiteral("info")), 1);
    for (int i = 2; i <= 14; ++i)
        pass();
    EXPECT_EQ(phone->calls(QStringLiteral("info")), 1);
    pass();
    EXPECT_EQ(phone->calls(QStringLiteral("info")), 2);
}

TEST_F(PhoneChoiceTest, FactsOfAPhoneNoLongerChosenAreDropped)
{
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"))});
    DeviceInfo facts;
    facts.manufacturer = QStringLiteral("A's maker");
    adb->phone(QStringLiteral("A1"))->setInfo(facts);
    pass();
    ASSERT_EQ(model().deviceInfo()->manufacturer, QStringLiteral("A's maker"));

    bool done = false;
    model().refreshInfo([&done] { done = true; });
    model().setSelectedSerial(QStringLiteral("B2")); // clears the facts, then B2's are read
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    settle();
    ASSERT_TRUE(model().deviceInfo().has_value());
    EXPECT_FALSE(model().deviceInfo()->manufacturer.has_value());
}

TEST_F(PhoneChoiceTest, WithoutAdbOnlyMTPPhonesAreListedUntilThePollFindsIt)
{
    adb->setInstalled(false);
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    EXPECT_TRUE(model().adbMissing()); // right after creation
    pass();
    EXPECT_EQ(adb->calls(QStringLiteral("devices")), 0);
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().serial, QStringLiteral("M1"));
    EXPECT_NE(model().files(), nullptr);

    adb->setInstalled(true);
    pass();
    EXPECT_FALSE(model().adbMissing());
    EXPECT_EQ(model().devices().size(), 2);
    // Once found it is not looked for again.
    const int calls = adb->calls(QStringLiteral("locate"));
    pass();
    EXPECT_EQ(adb->calls(QStringLiteral("locate")), calls);
}

TEST_F(PhoneChoiceTest, ThePollRunsAtOnceThenTwoSecondsAfterEachPassEnds)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    model();
    ASSERT_EQ(clock->waiting(), 1);
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(0));
    EXPECT_EQ(adb->calls(QStringLiteral("devices")), 0);

    ASSERT_EQ(clock->fire(), 1);
    // While the pass is under way nothing else is scheduled: no overlap.
    EXPECT_EQ(clock->waiting(), 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return clock->waiting() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(2000));
    EXPECT_EQ(adb->calls(QStringLiteral("devices")), 1);
    EXPECT_EQ(model().devices().size(), 1);
}

TEST_F(PhoneChoiceTest, AFailingAdbListCountsAsNoAdbPhones)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->failDevices(true);
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), {});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().serial, QStringLiteral("M1"));
    EXPECT_FALSE(model().errorMessage().has_value());
}

} // namespace
