#include "Models.h"

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
    EXPECT_EQ(device(QString(), QStringLiteral("sIDELOAD\trecovery\u2028x\u00a0Y")).stateDescription(),
              QStringLiteral("Sideload\tRecovery\u2028X\u00a0y")); // no-break space joins
    EXPECT_EQ(capitalizedWords(QStringLiteral("\U00010428x \U00010400Y")), QStringLiteral("\U00010400x \U00010400y"));
    EXPECT_TRUE(device(QString()).isReady());
    EXPECT_FALSE(device(QString(), QStringLiteral("Device")).isReady());
}

TEST(RemoteEntry, KindNamesFoldersExtensionsAndDocuments)
{
    EXPECT_EQ(kind(QStringLiteral(".bashrc")), QStringLiteral("Document"));
    EXPECT_EQ(kind(QStringLiteral("notes.")), QStringLiteral("Document"));
    EXPECT_EQ(kind(QStringLiteral("photo.jpg")), QStringLiteral("JPG file"));
    EXPECT_EQ(kind(QStringLiteral("backup.tar.gz")), QStringLiteral("GZ file"));
    EXPECT_EQ(kind(QStringLiteral("Camera.old"), true), QStringLiteral("Folder"));
}
