// Which phone is the chosen one: the first pass's choice from the last
// session, a newly plugged-in phone opened once, a phone that went away, a
// change of transport, and the phone facts read every fifteenth pass.

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

TEST_F(PhoneChoiceTest, TheFirstPassOtherwiseChoosesTheFirstReadyPhoneThenTheFirstPhone)
{
    settings().setValue(QStringLiteral("lastSerial"), QStringLiteral("B2"));
    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized")),
                     adbPhone(QStringLiteral("B2"), QStringLiteral("offline")), adbPhone(QStringLiteral("C3"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("C3"));
}

TEST_F(PhoneChoiceTest, WithNoReadyPhoneTheFirstIsChosenAndWithNoPhoneNone)
{
    pass();
    EXPECT_FALSE(model().selectedSerial().has_value());
    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized")),
                     adbPhone(QStringLiteral("B2"), QStringLiteral("offline"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("A1"));
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

TEST_F(PhoneChoiceTest, ANewlyPluggedPhoneIsListedButNotOpenedWhenTheSettingIsOff)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    model().setOpenWhenConnected(false);
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("N1"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    EXPECT_EQ(model().windowRequest(), 0);
    EXPECT_EQ(model().devices().size(), 2);
}

TEST_F(PhoneChoiceTest, ANewWiFiConnectionNeverOpensItself)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("10.0.0.9:5555"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    EXPECT_EQ(model().windowRequest(), 0);
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
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
}

TEST_F(PhoneChoiceTest, AChangeOfTransportListsTheFolderAgainAndReadsTheFacts)
{
    mtp->setDevices({mtpPhone(QStringLiteral("P1"))});
    auto overMTP = mtp->phone(QStringLiteral("P1"));
    overMTP->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("seen over mtp"))});
    pass();
    ASSERT_EQ(names(model().entries()), QStringList{QStringLiteral("seen over mtp")});

    auto overADB = adb->phone(QStringLiteral("P1"));
    overADB->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("seen over adb"))});
    DeviceInfo facts;
    facts.battery = 80;
    overADB->setInfo(facts);
    adb->setDevices({adbPhone(QStringLiteral("P1"))});
    pass();
    EXPECT_EQ(model().devices().first().transport, Device::Transport::adb);
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("seen over adb")});
    ASSERT_TRUE(model().deviceInfo().has_value());
    EXPECT_EQ(model().deviceInfo()->battery, 80);
}

TEST_F(PhoneChoiceTest, APhoneThatStopsBeingReadyKeepsItsFolderAndListing)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    auto phone = adb->phone(QStringLiteral("A1"));
    phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM"))});
    phone->setFolder(QStringLiteral("/sdcard/DCIM"), {file(QStringLiteral("a.jpg"))});
    pass();
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    const int listings = phone->listings(QStringLiteral("/sdcard/DCIM"));

    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("locked"))});
    pass();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_TRUE(model().canGoBack());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("a.jpg")});
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard/DCIM")), listings);

    // Ready again: the phone's last folder is listed afresh.
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard/DCIM")), listings + 1);
}

TEST_F(PhoneChoiceTest, TheFactsAreReadOnEveryFifteenthPass)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    auto phone = adb->phone(QStringLiteral("A1"));
    phone->setFolder(QStringLiteral("/sdcard"), {});
    pass(); // chooses the phone, which reads the facts once
    const int afterChoice = phone->infoReads();
    EXPECT_EQ(afterChoice, 1);
    for (int i = 2; i <= 14; ++i)
        pass();
    EXPECT_EQ(phone->infoReads(), afterChoice);
    pass();
    EXPECT_EQ(phone->infoReads(), afterChoice + 1);
}

TEST_F(PhoneChoiceTest, FactsOfAPhoneNoLongerChosenAreDropped)
{
    adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"))});
    DeviceInfo facts;
    facts.manufacturer = QStringLiteral("A's maker");
    adb->phone(QStringLiteral("A1"))->setInfo(facts);
    adb->phone(QStringLiteral("B2"))->setInfo(DeviceInfo{});
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

} // namespace
