// Device list, names, facts, connection and screenshot through the real adb
// and the fake phone.
#include "PhoneFixture.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port that nobody listens on: bound once, then let go.
int closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

std::optional<Device> findDevice(const std::vector<Device>& devices, const QString& serial)
{
    auto it = std::find_if(devices.begin(), devices.end(), [&](const Device& d) { return d.serial == serial; });
    if (it == devices.end())
        return std::nullopt;
    return *it;
}

class DeviceQueriesOnPhone : public PhoneTest {};

TEST_F(DeviceQueriesOnPhone, ListsAReadyPhoneWithItsModel)
{
    const auto device = findDevice(adb().devices(Cancel()), serial());
    ASSERT_TRUE(device);
    EXPECT_EQ(device->state, QStringLiteral("device"));
    EXPECT_EQ(device->model, QStringLiteral("Pixel 7"));
    EXPECT_EQ(device->transport, Device::Transport::adb);
    EXPECT_TRUE(device->isWireless());
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

TEST_F(DeviceQueriesOnPhone, ReadsTheFacts)
{
    // The fake's own answer: "ver=14", "mfr=google", status 2, level 85 and a df line.
    const DeviceInfo info = adb().info(serial(), Cancel());
    EXPECT_EQ(info.androidVersion, QStringLiteral("14"));
    EXPECT_EQ(info.manufacturer, QStringLiteral("Google"));
    EXPECT_EQ(info.battery, 85);
    EXPECT_TRUE(info.charging);
    EXPECT_EQ(info.storageTotal, int64_t(118455070720));
    EXPECT_EQ(info.storageFree, int64_t(87735070720));
}

TEST_F(DeviceQueriesOnPhone, ConnectFailsAlthoughAdbExitsZero)
{
    const int port = closedPort();
    ASSERT_GT(port, 0);
    const QString address = QStringLiteral("127.0.0.1:%1").arg(port);
    try {
        adb().connect(address, Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_TRUE(error.description().contains(address)) << error.description().toStdString();
    }
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
    try {
        adb().screenshot(serial(), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked."));
    }
}

class DeviceQueriesOnLockedOutPhone : public ::testing::Test {};

TEST_F(DeviceQueriesOnLockedOutPhone, ListsAnUnauthorizedPhoneUnderItsSerial)
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
    EXPECT_EQ(device->stateDescription(), QStringLiteral("Waiting for permission"));
}

} // namespace
