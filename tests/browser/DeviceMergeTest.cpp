// One entry per phone: adb and MTP entries of the same phone merged, USB
// preferred to Wi-Fi, display names and hardware serials asked once, and the
// chosen phone followed from one connection of a phone to another.

#include "BrowserFakes.h"

using namespace browsertest;

namespace {

const QString usb = QStringLiteral("R58M123");
const QString wifi = QStringLiteral("192.168.1.5:5555");
const QString mdns = QStringLiteral("adb-R58M123-AbCdEf._adb-tls-connect._tcp");

class DeviceMergeTest : public ModelTest {
protected:
    // The one phone listed.
    Device only()
    {
        const auto& devices = model().devices();
        EXPECT_EQ(devices.size(), 1);
        return devices.isEmpty() ? Device{} : devices.first();
    }
};

TEST_F(DeviceMergeTest, APhoneReadyOverAdbIsListedOnceAndLeftOutOfMTP)
{
    adb->setDevices({adbPhone(usb)});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    EXPECT_EQ(only().transport, Device::Transport::adb);
    EXPECT_EQ(mtp->lastSkipping(), QSet<QString>{usb});
}

TEST_F(DeviceMergeTest, AnUnauthorizedAdbEntryGivesWayOnlyToAReadyMTPEntry)
{
    adb->setDevices({adbPhone(usb, QStringLiteral("unauthorized"))});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    EXPECT_TRUE(mtp->lastSkipping().isEmpty());
    EXPECT_EQ(only().transport, Device::Transport::mtp);
    EXPECT_TRUE(model().readyDevice().has_value());

    mtp->setDevices({mtpPhone(usb, QStringLiteral("locked"))});
    pass();
    EXPECT_EQ(only().transport, Device::Transport::adb);
}

TEST_F(DeviceMergeTest, USBIsPreferredToWiFiUntilUnpluggedThenTheChosenPhoneIsHandedOver)
{
    adb->setSerialNumber(wifi, usb);
    adb->setDevices({adbPhone(wifi), adbPhone(QStringLiteral("OTHER1")), adbPhone(usb)});
    adb->phone(usb)->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a"))});
    adb->phone(wifi)->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a"))});
    pass();
    // The USB entry takes the place of the phone's first entry.
    ASSERT_EQ(model().devices().size(), 2);
    EXPECT_EQ(model().devices()[0].serial, usb);
    EXPECT_EQ(model().devices()[1].serial, QStringLiteral("OTHER1"));
    ASSERT_EQ(model().selectedSerial(), usb);

    adb->setDevices({adbPhone(wifi), adbPhone(QStringLiteral("OTHER1"))});
    pass();
    EXPECT_EQ(model().selectedSerial(), wifi);
    EXPECT_EQ(model().windowRequest(), 0);
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("a")});
}

TEST_F(DeviceMergeTest, ThePhoneInAnMDNSNameIsItsIdentity)
{
    adb->setDevices({adbPhone(usb), adbPhone(mdns)});
    pass();
    EXPECT_EQ(only().serial, usb);
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
    EXPECT_EQ(adb->calls(QStringLiteral("name ") + usb), 1);
    EXPECT_EQ(adb->calls(QStringLiteral("name WAIT1")), 0);
    EXPECT_EQ(model().devices()[0].model, QStringLiteral("Ana's Pixel"));
    EXPECT_EQ(model().devices()[1].model, QStringLiteral("Pixel_6")); // no answer: its own model

    // The same phone in file-transfer mode keeps the name.
    adb->setDevices({});
    mtp->setDevices({mtpPhone(usb)});
    pass();
    EXPECT_EQ(only().model, QStringLiteral("Ana's Pixel"));
}

TEST_F(DeviceMergeTest, AWiFiSerialIsLookedUpOnceAndThePhoneRememberedAsPaired)
{
    adb->setDisplayName(wifi, QStringLiteral("Ana's Pixel"));
    adb->setSerialNumber(wifi, usb);
    adb->setDevices({adbPhone(wifi), adbPhone(QStringLiteral("10.0.0.9:5555"))});
    pass();
    pass();
    EXPECT_EQ(adb->calls(QStringLiteral("serial ") + wifi), 1);
    EXPECT_EQ(adb->calls(QStringLiteral("serial 10.0.0.9:5555")), 1); // a failed lookup isn't repeated
    EXPECT_EQ(model().pairedPhones(), (PhoneNames{{usb, QStringLiteral("Ana's Pixel")}}));
    EXPECT_TRUE(stored(QStringLiteral("pairedPhones")).toMap().contains(usb));
}

} // namespace
