// The production USB stack: reading interfaces from sysfs, and a probe of
// this machine through libusb.
#include "LibusbHost.h"
#include "MTPManager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(MTPUsbBackend, InterfacesComeFromTheKernelsStrings)
{
    QTemporaryDir sysfs;
    ASSERT_TRUE(sysfs.isValid());
    const QString root = sysfs.path();
    // A phone with its MTP interface and an adb interface without a name.
    write(root + "/1-1.4/busnum", "1\n");
    write(root + "/1-1.4/devnum", "17\n");
    write(root + "/1-1.4/serial", "R58M123\n");
    write(root + "/1-1.4/product", "Pixel_7\n");
    write(root + "/1-1.4:1.0/bInterfaceNumber", "00\n");
    write(root + "/1-1.4:1.0/interface", "MTP\n");
    write(root + "/1-1.4:1.1/bInterfaceNumber", "01\n");
    // A device without serial or product strings.
    write(root + "/2-3/busnum", "2\n");
    write(root + "/2-3/devnum", "4\n");
    write(root + "/2-3:2.10/bInterfaceNumber", "0a\n");
    write(root + "/2-3:2.10/interface", "mtp \n");
    // A root hub and a half-removed device are skipped.
    write(root + "/usb1/busnum", "1\n");
    write(root + "/3-1:1.0/bInterfaceNumber", "00\n");

    LibusbHost host(root);
    auto records = host.interfaces();
    std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.registryID < b.registryID; });
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].registryID, LibusbHost::registryID(1, 17, 1, 0));
    EXPECT_EQ(records[0].name, QStringLiteral("MTP"));
    EXPECT_EQ(records[0].serial, QStringLiteral("R58M123"));
    EXPECT_EQ(records[0].product, QStringLiteral("Pixel_7"));
    EXPECT_EQ(records[1].registryID, LibusbHost::registryID(1, 17, 1, 1));
    EXPECT_FALSE(records[1].name.has_value());
    EXPECT_EQ(records[2].registryID, LibusbHost::registryID(2, 4, 2, 10));
    EXPECT_EQ(records[2].name, QStringLiteral("mtp ")); // only the line end is the kernel's
    EXPECT_FALSE(records[2].serial.has_value());
    EXPECT_FALSE(records[2].product.has_value());

    // A replug gets a new device address, and so a new key.
    EXPECT_NE(LibusbHost::registryID(1, 17, 1, 0), LibusbHost::registryID(1, 18, 1, 0));
}

TEST(MTPUsbBackend, OpeningWhatIsNotThereFailsCleanly)
{
    LibusbHost host;
    try {
        host.open(LibusbHost::registryID(250, 127, 1, 0));
        FAIL() << "opened a device that does not exist";
    } catch (const UsbError& error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
}

TEST(MTPUsbBackend, ProbeOfThisMachineFindsNoPhone)
{
    // Enumerates through the real stack; a test machine has no phone attached.
    MTPManager manager(std::make_shared<LibusbHost>());
    EXPECT_TRUE(manager.devices({}, Cancel()).empty());
    EXPECT_FALSE(manager.connection(QStringLiteral("anything")));
    manager.closeAll();
}

} // namespace
