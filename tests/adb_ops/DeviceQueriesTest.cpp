// Reading the device list, names and facts; names that never fail.
#include "ADB.h"
#include "ADBParsing.h"
#include "StubADB.h"

#include <gtest/gtest.h>

namespace {

QStringList shell(const QString& command)
{
    return {QStringLiteral("-s"), QStringLiteral("SER1"), QStringLiteral("shell"), command};
}

TEST(DeviceList, SkipsDaemonAndHeaderLinesAndReadsTheModel)
{
    const auto devices = adbparse::devices(QStringLiteral(
        "* daemon not running; starting now at tcp:5037\n* daemon started successfully\nList of devices attached\n"
        "emulator-5554          device product:sdk_phone_x86 model:sdk_phone_x86 device:generic transport_id:1\n"));
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, QStringLiteral("emulator-5554"));
    EXPECT_EQ(devices[0].state, QStringLiteral("device"));
    EXPECT_EQ(devices[0].model, QStringLiteral("sdk phone x86"));
    EXPECT_EQ(devices[0].transport, Device::Transport::adb);
}

TEST(DeviceList, FallsBackToProductThenSerial)
{
    const auto devices = adbparse::devices(QStringLiteral("R58M1 unauthorized usb:1-1 transport_id:4\n"
                                                          "A1\tno\tpermissions\tproduct:my_phone\n"
                                                          "B2 device model: product:other\n"
                                                          "lonely\n\n"));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].model, QStringLiteral("R58M1"));
    EXPECT_EQ(devices[0].state, QStringLiteral("unauthorized"));
    EXPECT_EQ(devices[1].state, QStringLiteral("no permissions"));
    EXPECT_EQ(devices[1].model, QStringLiteral("my phone"));
    EXPECT_EQ(devices[2].model, QString()); // an empty "model:" wins over product
    EXPECT_TRUE(adbparse::devices(QString()).empty());
}

TEST(DisplayName, TakesTheFirstMeaningfulLine)
{
    EXPECT_EQ(adbparse::displayName(QStringLiteral("null\nModel X1\nModel_X1\n")), QStringLiteral("Model X1"));
    EXPECT_EQ(adbparse::displayName(QStringLiteral("null\n\nsdk_gphone64\n")), std::nullopt);
    EXPECT_EQ(adbparse::displayName(QStringLiteral("  \t\r\nKitchen phone \r\n")), QStringLiteral("Kitchen phone"));
}

TEST(DisplayName, SendsTheNameQueryAndSwallowsFailures)
{
    StubADB stub;
    const QStringList args = shell(QStringLiteral(
        "settings get global device_name 2>/dev/null; getprop ro.product.marketname; getprop ro.product.model"));
    stub.setReply(args, {"null\nPixel 7\npanther\n", {}, 0});
    EXPECT_EQ(stub.adb().displayName(QStringLiteral("SER1"), Cancel()), QStringLiteral("Pixel 7"));

    stub.setReply(args, {{}, "error: device offline\n", 1});
    EXPECT_EQ(stub.adb().displayName(QStringLiteral("SER1"), Cancel()), std::nullopt);

    std::stop_source stop;
    stop.request_stop();
    EXPECT_EQ(stub.adb().displayName(QStringLiteral("SER1"), Cancel(stop.get_token())), std::nullopt);
}

TEST(SerialNumber, TrimsAndTreatsEmptyOrFailedAsNone)
{
    StubADB stub;
    const QStringList args = shell(QStringLiteral("getprop ro.serialno"));
    stub.setReply(args, {"  R58M123 \r\n", {}, 0});
    EXPECT_EQ(stub.adb().serialNumber(QStringLiteral("SER1"), Cancel()), QStringLiteral("R58M123"));
    stub.setReply(args, {"\n", {}, 0});
    EXPECT_EQ(stub.adb().serialNumber(QStringLiteral("SER1"), Cancel()), std::nullopt);
    stub.setReply(args, {{}, "error: closed", 1});
    EXPECT_EQ(stub.adb().serialNumber(QStringLiteral("SER1"), Cancel()), std::nullopt);
}

TEST(DeviceFacts, ReadsEveryKindOfLine)
{
    const DeviceInfo info = adbparse::info(
        QStringLiteral("ver=14\nmfr=acme\n  level: 85\n  status: 2\n"
                       "df=/dev/fuse 115678780 30000000 85678780 26% /storage/emulated\n"));
    EXPECT_EQ(info.androidVersion, QStringLiteral("14"));
    EXPECT_EQ(info.manufacturer, QStringLiteral("Acme"));
    EXPECT_EQ(info.battery, 85);
    EXPECT_TRUE(info.charging);
    EXPECT_EQ(info.storageTotal, int64_t(118455070720));
    EXPECT_EQ(info.storageFree, int64_t(87735070720));
}

TEST(DeviceFacts, ChargingOnlyForStatusTwoOrFive)
{
    for (int status : {1, 2, 3, 4, 5})
        EXPECT_EQ(adbparse::info(QStringLiteral("status: %1\n").arg(status)).charging, status == 2 || status == 5)
            << status;
    EXPECT_FALSE(adbparse::info(QStringLiteral("status: 2\nstatus: full\n")).charging);
}

TEST(DeviceFacts, UnreadableValuesStayAbsent)
{
    DeviceInfo info = adbparse::info(QStringLiteral("level: 50\nlevel: \nver=\nmfr=SAMSUNG eLECTRONICS\n"));
    EXPECT_EQ(info.battery, std::nullopt); // a later unreadable level clears an earlier one
    EXPECT_EQ(info.androidVersion, QString());
    EXPECT_EQ(info.manufacturer, QStringLiteral("Samsung Electronics"));

    EXPECT_EQ(adbparse::info(QStringLiteral("df=/dev/fuse 100 20\n")).storageTotal, std::nullopt);
    EXPECT_EQ(adbparse::info(QStringLiteral("df=/dev/fuse 1k 2 3\n")).storageTotal, std::nullopt);
    EXPECT_EQ(adbparse::info(QStringLiteral("df=/dev/fuse 99999999999999999 2 3\n")).storageTotal, std::nullopt);
    EXPECT_EQ(adbparse::info(QStringLiteral("nothing useful\n")), DeviceInfo());
}

} // namespace
