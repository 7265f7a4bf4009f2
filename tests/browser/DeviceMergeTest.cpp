// One entry per phone: adb and MTP entries of the same phone merged, USB
// preferred to Wi-Fi, display names and hardware serials asked once, and the
// chosen phone followed from one connection of a phone to another.

#include "BrowserFakes.h"

using namespace browsertest;

namespace {

const QString usb = QStringLiteral("R58M123");
const QString wifi = QStringLiteral("192.168.1.5:5555");
const QString mdns = QStringLiteral("adb-R58M123-AbCdEf._adb-tls-connect._tcp");

class DeviceMergeTest : public ModelTest {};

TEST_F(DeviceMergeTest, APhoneReadyOverAdbIsListedOnceAndLeftOutOfMTP)
{
    adb->setDevices({adbPhone(usb)});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().transport, Device::Transport::adb);
    EXPECT_EQ(mtp->lastSkipping(), QSet<QString>{usb});
}

TEST_F(DeviceMergeTest, AnUnauthorizedAdbEntryGivesWayToTheReadyMTPEntry)
{
    adb->setDevices({adbPhone(usb, QStringLiteral("unauthorized"))});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    EXPECT_TRUE(mtp->lastSkipping().isEmpty());
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().transport, Device::Transport::mtp);
    EXPECT_EQ(model().devices().first().state, QStringLiteral("device"));
    EXPECT_TRUE(model().readyDevice().has_value());
}

TEST_F(DeviceMergeTest, AnUnauthorizedAdbEntryBeatsALockedMTPEntry)
{
    adb->setDevices({adbPhone(usb, QStringLiteral("unauthorized"))});
    mtp->setDevices({mtpPhone(usb, QStringLiteral("locked"))});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().transport, Device::Transport::adb);
}

TEST_F(DeviceMergeTest, USBAndWiFiOfOnePhoneKeepTheUSBEntryAtTheFirstPosition)
{
    adb->setSerialNumber(wifi, usb);
    adb->setDevices({adbPhone(wifi), adbPhone(QStringLiteral("OTHER1")), adbPhone(usb)});
    pass();
    ASSERT_EQ(model().devices().size(), 2);
    EXPECT_EQ(model().devices()[0].serial, usb);
    EXPECT_EQ(model().devices()[1].serial, QStringLiteral("OTHER1"));
}

TEST_F(DeviceMergeTest, ThePhoneInAnMDNSNameIsItsIdentity)
{
    adb->setDevices({adbPhone(usb), adbPhone(mdns)});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().serial, usb);
}

TEST_F(DeviceMergeTest, UnpluggingUSBHandsTheChosenPhoneOverToItsWiFiEntry)
{
    adb->setSerialNumber(wifi, usb);
    adb->setDevices({adbPhone(usb), adbPhone(wifi)});
    adb->phone(usb)->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a"))});
    adb->phone(wifi)->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), usb);

    adb->setDevices({adbPhone(wifi)});
    pass();
    EXPECT_EQ(model().selectedSerial(), wifi);
    EXPECT_EQ(model().windowRequest(), 0);
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("a")});
}

TEST_F(DeviceMergeTest, UnpluggingUSBHandsOverToAnMDNSConnectionOfThePhone)
{
    adb->setDevices({adbPhone(usb), adbPhone(mdns)});
    pass();
    ASSERT_EQ(model().selectedSerial(), usb);
    adb->setDevices({adbPhone(mdns)});
    pass();
    EXPECT_EQ(model().selectedSerial(), mdns);
}

TEST_F(DeviceMergeTest, NamesAreAskedOncePerReadyAdbSerialAndAppliedToEveryEntryOfIt)
{
    adb->setDisplayName(usb, QStringLiteral("Ana's Pixel"));
    adb->setDevices({adbPhone(usb), adbPhone(QStringLiteral("NONAME"), QStringLiteral("device"), QStringLiteral("Pixel_6")),
                     adbPhone(QStringLiteral("WAIT1"), QStringLiteral("unauthorized"))});
    pass();
    pass();
    EXPECT_EQ(adb->displayNameQueries(usb), 1);
    EXPECT_EQ(adb->displayNameQueries(QStringLiteral("NONAME")), 1);
    EXPECT_EQ(adb->displayNameQueries(QStringLiteral("WAIT1")), 0);
    EXPECT_EQ(model().devices()[0].model, QStringLiteral("Ana's Pixel"));
    EXPECT_EQ(model().devices()[1].model, QStringLiteral("Pixel_6")); // no answer: its own model

    // The same phone in file-transfer mode keeps the name.
    adb->setDevices({});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().model, QStringLiteral("Ana's Pixel"));
}

TEST_F(DeviceMergeTest, AWiFiSerialIsLookedUpOnceAndThePhoneRememberedAsPaired)
{
    adb->setDisplayName(wifi, QStringLiteral("Ana's Pixel"));
    adb->setSerialNumber(wifi, usb);
    adb->setSerialNumber(QStringLiteral("10.0.0.9:5555"), std::nullopt);
    adb->setDevices({adbPhone(wifi), adbPhone(QStringLiteral("10.0.0.9:5555"))});
    pass();
    pass();
    EXPECT_EQ(adb->serialNumberQueries(wifi), 1);
    EXPECT_EQ(adb->serialNumberQueries(QStringLiteral("10.0.0.9:5555")), 1); // a failed lookup isn't repeated
    EXPECT_EQ(model().pairedPhones().value(usb), QStringLiteral("Ana's Pixel"));
    EXPECT_EQ(model().pairedPhones().size(), 1);
    EXPECT_TRUE(stored(QStringLiteral("pairedPhones")).toMap().contains(usb));
}

TEST_F(DeviceMergeTest, RememberPairedKeepsAKnownNameWhenNoneIsGiven)
{
    model().rememberPaired(usb, QStringLiteral("Pixel"));
    model().rememberPaired(usb, std::nullopt);
    EXPECT_EQ(model().pairedPhones().value(usb), QStringLiteral("Pixel"));
    model().rememberPaired(QStringLiteral("NEW1"), std::nullopt);
    ASSERT_TRUE(model().pairedPhones().contains(QStringLiteral("NEW1")));
    EXPECT_EQ(model().pairedPhones().value(QStringLiteral("NEW1")), QString());
}

TEST_F(DeviceMergeTest, AQuietPassDoesNotRepublishTheList)
{
    adb->setDevices({adbPhone(usb)});
    pass();
    QSignalSpy changes(&model(), &BrowserModel::devicesChanged);
    pass();
    EXPECT_EQ(changes.count(), 0);
    adb->setDevices({adbPhone(usb, QStringLiteral("offline"))});
    pass();
    EXPECT_EQ(changes.count(), 1);
}

} // namespace
