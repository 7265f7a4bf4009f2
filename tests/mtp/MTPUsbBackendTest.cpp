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
    const std::pair<const char*, const char*> files[] = {
        // A phone with its MTP interface and an adb interface without a name.
        {"1-1.4/busnum", "1"}, {"1-1.4/devnum", "17"}, {"1-1.4/serial", "R58M123"}, {"1-1.4/product", "Pixel_7"},
        {"1-1.4:1.0/bInterfaceNumber", "00"}, {"1-1.4:1.0/interface", "MTP"}, {"1-1.4:1.1/bInterfaceNumber", "01"},
        // A device without serial or product strings.
        {"2-3/busnum", "2"}, {"2-3/devnum", "4"}, {"2-3:2.10/bInterfaceNumber", "0a"}, {"2-3:2.10/interface", "mtp "},
        // A root hub and a half-removed device are skipped.
        {"usb1/busnum", "1"}, {"3-1:1.0/bInterfaceNumber", "00"}};
    for (const auto& [path, text] : files)
        write(root + QLatin1Char('/') + QLatin1String(path), QByteArray(text) + '\n');

    LibusbHost host(root);
    auto records = host.interfaces();
    std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.registryID < b.registryID; });
    ASSERT_EQ(records.size(), 3u);
    EXPECT_EQ(records[0].registryID, LibusbHost::registryID(1, 17, 1, 0));
    EXPECT_EQ(records[0].name, QStringLiteral("MTP"));
    EXPECT_EQ(records[0].serial, QStringLiteral("R58M123"));
    EXPECT_EQ(records[0].product, QStringLiteral("Pixel_7"));
    EXPECT_FALSE(records[1].name.has_value());
    EXPECT_EQ(records[2].registryID, LibusbHost::registryID(2, 4, 2, 10));
    EXPECT_EQ(records[2].name, QStringLiteral("mtp ")); // only the line end is the kernel's
    EXPECT_FALSE(records[2].serial.has_value());
    EXPECT_FALSE(records[2].product.has_value());
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
