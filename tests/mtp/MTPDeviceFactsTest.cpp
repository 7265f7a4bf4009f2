// The phone's facts over MTP: battery when the phone offers it, and the
// chosen storage's sizes.
#include "FilesFixture.h"

namespace {

class MTPDeviceFacts : public PhoneTest {};

TEST_F(MTPDeviceFacts, BatteryAndStorageSizes)
{
    phone->configure([](auto& s) {
        s.batteryLevel = 77;
        s.manufacturer = QStringLiteral("SAMSUNG");
    });
    phone->removeStorage(0x00010001);
    phone->addStorage(0x00010001, 128ull << 30, 100ull << 30);
    connect();
    const DeviceInfo info = connection->info(Cancel());
    EXPECT_EQ(info.battery, 77);
    EXPECT_EQ(info.manufacturer, QStringLiteral("Samsung"));
    EXPECT_FALSE(info.androidVersion);
    EXPECT_FALSE(info.charging);
    EXPECT_EQ(info.storageTotal, int64_t(128ull << 30));
    EXPECT_EQ(info.storageFree, int64_t(100ull << 30));
}

TEST_F(MTPDeviceFacts, WithoutABatteryLevelTheSizesStillCome)
{
    connect();
    const DeviceInfo info = connection->info(Cancel());
    EXPECT_FALSE(info.battery);
    EXPECT_TRUE(info.storageTotal);
}

TEST_F(MTPDeviceFacts, ALockedPhoneHasNoFacts)
{
    phone->removeStorage(0x00010001);
    connect();
    const auto error = mtpErrorOf([&] { connection->info(Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::locked);
}

} // namespace
