// One entry per phone: adb and MTP entries of the same phone merged, USB
// preferred to Wi-Fi, display names and hardware serials asked once, and the
// chosen phone followed from one connection of a phone to another.

#include "BrowserFakes.h"

using namespace browsertest;

namespace {

const QString usb = u"R58M123"_s;
const QString wifi = u"192.168.1.5:5555"_s;
const QString mdns = u"adb-R58M123-AbCdEf._adb-tls-connect._tcp"_s;

class DeviceMergeTest : public ModelTest {
protected:
    // The phones listed as "serial/transport/model", after a pass over these.
    QString listed(const std::vector<Device>& overADB, const std::vector<Device>& overMTP = {})
    {
        adb->setDevices(overADB);
        mtp->setDevices(overMTP);
        pass();
        QStringList result;
        for (const Device& device : model().devices())
            result << device.serial + (device.transport == Device::Transport::adb ? u"/adb/"_s : u"/mtp/"_s) + device.model;
        return result.join(u',');
    }
};

TEST_F(DeviceMergeTest, APhoneIsListedOnceByItsBestConnection)
{
    const QString unauthorized = u"unauthorized"_s;
    // Ready over adb: MTP is not even asked about it.
    EXPECT_EQ(listed({adbPhone(usb)}, {mtpPhone(usb)}), usb + u"/adb/Pixel 7"_s);
    EXPECT_EQ(mtp->lastSkipping(), QSet<QString>{usb});
    // Waiting for permission over adb gives way to a ready MTP entry only.
    EXPECT_EQ(listed({adbPhone(usb, unauthorized)}, {mtpPhone(usb)}), usb + u"/mtp/Pixel 7"_s); // named before
    EXPECT_TRUE(model().readyDevice().has_value());
    EXPECT_EQ(listed({adbPhone(usb, unauthorized)}, {mtpPhone(usb, u"locked"_s)}), usb + u"/adb/Pixel 7"_s);
    // The phone named in an mDNS connection is its identity.
    EXPECT_EQ(listed({adbPhone(usb), adbPhone(mdns)}), usb + u"/adb/Pixel 7"_s);
    EXPECT_EQ(listed({adbPhone(mdns)}), mdns + u"/adb/Pixel 7"_s);
    EXPECT_EQ(model().selectedSerial(), mdns);
}

TEST_F(DeviceMergeTest, USBIsPreferredToWiFiUntilUnpluggedThenTheChosenPhoneIsHandedOver)
{
    adb->setSerialNumber(wifi, usb);
    adb->phone(usb)->setFolder(u"/sdcard"_s, {file(u"a"_s)});
    adb->phone(wifi)->setFolder(u"/sdcard"_s, {file(u"a"_s)});
    // The USB entry takes the place of the phone's first entry.
    EXPECT_EQ(listed({adbPhone(wifi), adbPhone(u"OTHER1"_s), adbPhone(usb)}),
              usb + u"/adb/Pixel 7,OTHER1/adb/Pixel 7"_s);
    ASSERT_EQ(model().selectedSerial(), usb);
    listed({adbPhone(wifi), adbPhone(u"OTHER1"_s)});
    EXPECT_EQ(model().selectedSerial(), wifi);
    EXPECT_EQ(model().windowRequest(), 0);
    EXPECT_EQ(joined(model().entries()), u"a"_s);
}

TEST_F(DeviceMergeTest, NamesAreAskedOncePerReadyAdbSerialAndAppliedToEveryEntryOfIt)
{
    adb->setDisplayName(usb, u"Ana's Pixel"_s);
    const std::vector<Device> phones{adbPhone(usb), adbPhone(u"NONAME"_s, u"device"_s, u"Pixel_6"_s),
                                     adbPhone(u"WAIT1"_s, u"unauthorized"_s)};
    listed(phones);
    // No answer: its own model.
    EXPECT_EQ(listed(phones), usb + u"/adb/Ana's Pixel,NONAME/adb/Pixel_6,WAIT1/adb/Pixel 7"_s);
    EXPECT_EQ(adb->calls(u"name "_s + usb), 1);
    EXPECT_EQ(adb->calls(u"name WAIT1"_s), 0);
    // The same phone in file-transfer mode keeps the name.
    EXPECT_EQ(listed({}, {mtpPhone(usb)}), usb + u"/mtp/Ana's Pixel"_s);
}

TEST_F(DeviceMergeTest, AWiFiSerialIsLookedUpOnceAndThePhoneRememberedAsPaired)
{
    adb->setDisplayName(wifi, u"Ana's Pixel"_s);
    adb->setSerialNumber(wifi, usb);
    listed({adbPhone(wifi), adbPhone(u"10.0.0.9:5555"_s)});
    pass();
    EXPECT_EQ(adb->calls(u"serial "_s + wifi), 1);
    EXPECT_EQ(adb->calls(u"serial 10.0.0.9:5555"_s), 1); // a failed lookup isn't repeated
    EXPECT_EQ(model().pairedPhones(), (PhoneNames{{usb, u"Ana's Pixel"_s}}));
    EXPECT_TRUE(stored(u"pairedPhones"_s).toMap().contains(usb));
}

// A Wi-Fi address (or an emulator's port) that leaves the list may come back
// as another phone: it kept the first phone's name, and its hardware serial
// merged it into that phone's USB entry, so the second phone wasn't listed.
TEST_F(DeviceMergeTest, ASerialThatLeftAndCameBackIsAskedAgainWhoItIs)
{
    adb->setDisplayName(wifi, u"Ana's Pixel"_s);
    adb->setSerialNumber(wifi, usb);
    EXPECT_EQ(listed({adbPhone(wifi)}), wifi + u"/adb/Ana's Pixel"_s);
    // Not listed on one pass (offline is still listed, and asked nothing).
    EXPECT_EQ(listed({adbPhone(wifi, u"offline"_s)}), wifi + u"/adb/Ana's Pixel"_s);
    EXPECT_EQ(adb->calls(u"name "_s + wifi) + adb->calls(u"serial "_s + wifi), 2);
    EXPECT_EQ(listed({}), QString());
    adb->setDisplayName(wifi, u"Bo's Galaxy"_s);
    adb->setSerialNumber(wifi, u"Z99OTHER"_s);
    EXPECT_EQ(listed({adbPhone(usb), adbPhone(wifi)}), usb + u"/adb/Pixel 7,"_s + wifi + u"/adb/Bo's Galaxy"_s);
    EXPECT_EQ(adb->calls(u"name "_s + wifi), 2);
    EXPECT_EQ(adb->calls(u"serial "_s + wifi), 2);
}

} // namespace
