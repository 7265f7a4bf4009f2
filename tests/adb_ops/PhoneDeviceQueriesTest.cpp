// Device list, names, facts, connection and screenshot through the real adb
// and the fake phone.
#include "PhoneFixture.h"

namespace {

std::optional<Device> findDevice(const std::vector<Device>& devices, const QString& serial)
{
    for (const Device& device : devices) {
        if (device.serial == serial)
            return device;
    }
    return std::nullopt;
}

QString failureOf(const std::function<void()>& work)
{
    try {
        work();
    } catch (const ADBError& error) {
        return error.description();
    }
    return QStringLiteral("<no failure>");
}

class DeviceQueriesOnPhone : public PhoneTest {};

TEST_F(DeviceQueriesOnPhone, ListsAReadyPhoneWithItsModelAndReadsItsFacts)
{
    const auto device = findDevice(adb().devices(Cancel()), serial());
    ASSERT_TRUE(device);
    EXPECT_EQ(*device, (Device{serial(), QStringLiteral("device"), QStringLiteral("Pixel 7"), Device::Transport::adb}));
    // The fake's own answer: "ver=14", "mfr=google", status 2, level 85 and a df line.
    const DeviceInfo info = adb().info(serial(), Cancel());
    EXPECT_EQ(info, (DeviceInfo{QStringLiteral("14"), QStringLiteral("Google"), 85, true, int64_t(118455070720),
                                int64_t(87735070720)}));
}

TEST_F(DeviceQueriesOnPhone, NamesThePhoneAndLookupsThatNeverFailReadFailuresAsNothing)
{
    phone().setReply(QStringLiteral("settings get global device_name 2>/dev/null; getprop ro.product.marketname; "
                                    "getprop ro.product.model"),
                     {"null\nPixel 7 Pro\nPixel_7\n", {}, 0});
    EXPECT_EQ(adb().displayName(serial(), Cancel()), QStringLiteral("Pixel 7 Pro"));
    phone().setReply(QStringLiteral("getprop ro.serialno"), {"28161FDH2000X4\n", {}, 0});
    EXPECT_EQ(adb().serialNumber(serial(), Cancel()), QStringLiteral("28161FDH2000X4"));

    const QString gone = QStringLiteral("127.0.0.1:1");
    std::stop_source stop;
    stop.request_stop();
    const Cancel cancelled(stop.get_token());
    EXPECT_EQ(adb().displayName(gone, Cancel()), std::nullopt);
    EXPECT_EQ(adb().displayName(serial(), cancelled), std::nullopt);
    EXPECT_EQ(adb().serialNumber(gone, Cancel()), std::nullopt);
    EXPECT_FALSE(adb().exists(gone, QStringLiteral("/sdcard"), Cancel()));
    EXPECT_FALSE(adb().exists(serial(), QStringLiteral("/sdcard"), cancelled));
    EXPECT_TRUE(adb().pids(gone, QStringLiteral("com.a"), Cancel()).isEmpty());
}

TEST_F(DeviceQueriesOnPhone, ConnectFailsAlthoughAdbExitsZero)
{
    // Port 1 on loopback: nobody listens there.
    EXPECT_TRUE(failureOf([&] { adb().connect(QStringLiteral("127.0.0.1:1"), Cancel()); }).contains(QStringLiteral("127.0.0.1:1")));
    EXPECT_NO_THROW(adb().connect(serial(), Cancel())); // "already connected to"
}

TEST_F(DeviceQueriesOnPhone, ScreenshotTakesPngBytesAndRefusesOthers)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    for (int i = 0; i < 70000; ++i)
        png += static_cast<char>(i * 7 % 256); // every byte value, more than one adb payload
    phone().setReply(QStringLiteral("screencap '-p'"), {png, {}, 0});
    EXPECT_EQ(adb().screenshot(serial(), Cancel()), png);
    phone().setReply(QStringLiteral("screencap '-p'"), {"Error: no display\n", {}, 0});
    EXPECT_EQ(failureOf([&] { adb().screenshot(serial(), Cancel()); }),
              QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked."));
}

TEST(DeviceQueriesOnLockedOutPhone, ListsAnUnauthorizedPhoneUnderItsSerial)
{
    FakePhoneHarness::Options options;
    options.authorized = false;
    FakePhoneHarness locked(options);
    QString error;
    ASSERT_TRUE(locked.start(&error)) << error.toStdString();
    const auto device = findDevice(ADB(locked.adbPath()).devices(Cancel()), locked.serial());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->state, QStringLiteral("unauthorized"));
    EXPECT_EQ(device->model, locked.serial());
}

} // namespace
