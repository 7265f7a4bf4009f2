#include "Models.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {
Device device(const QString& serial, const QString& state = QStringLiteral("device"))
{
    return Device{serial, state, QStringLiteral("Pixel"), Device::Transport::adb};
}
QString kind(const QString& name, bool folder = false)
{
    return RemoteEntry{name, folder, 0, {}}.kind();
}
} // namespace

TEST(Device, WirelessIsTellingAddressesAndServiceNamesFromUsbSerials)
{
    EXPECT_TRUE(device(QStringLiteral("192.168.1.20:5555")).isWireless());
    EXPECT_TRUE(device(QStringLiteral("adb-R5CT-abc._adb-tls-connect._tcp")).isWireless());
    EXPECT_FALSE(device(QStringLiteral("emulator-5554")).isWireless());
    EXPECT_FALSE(device(QStringLiteral("adb-R5CT-abc._ADB-TLS-CONNECT._tcp")).isWireless());
}

TEST(Device, StatesWithoutASentenceAreCapitalisedWordByWord)
{
    EXPECT_EQ(device(QString(), QStringLiteral("Unauthorized")).stateDescription(), QStringLiteral("Unauthorized"));
    EXPECT_EQ(device(QString(), QStringLiteral("no permissions")).stateDescription(), QStringLiteral("No Permissions"));
    EXPECT_EQ(device(QString(), QStringLiteral("sIDELOAD\trecovery")).stateDescription(), QStringLiteral("Sideload\tRecovery"));
}

TEST(Device, SameIdentityButUnequalWhenStateDiffers)
{
    const Device a = device(QStringLiteral("X"), QStringLiteral("device"));
    const Device b = device(QStringLiteral("X"), QStringLiteral("offline"));
    EXPECT_EQ(a.id(), b.id());
    EXPECT_NE(a, b);
    EXPECT_EQ((QSet<Device> {a, b, a}).size(), 2);
}

TEST(RemoteEntry, KindNamesFoldersExtensionsAndDocuments)
{
    EXPECT_EQ(kind(QStringLiteral(".bashrc")), QStringLiteral("Document"));
    EXPECT_EQ(kind(QStringLiteral("notes.")), QStringLiteral("Document"));
    EXPECT_EQ(kind(QStringLiteral("photo.jpg")), QStringLiteral("JPG file"));
    EXPECT_EQ(kind(QStringLiteral("backup.tar.gz")), QStringLiteral("GZ file"));
    EXPECT_EQ(kind(QStringLiteral("Camera.old"), true), QStringLiteral("Folder"));
}
