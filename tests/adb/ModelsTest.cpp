#include "ADBError.h"
#include "Models.h"

#include <QSet>

#include <gtest/gtest.h>

namespace {
Device device(const QString& serial, const QString& state = QStringLiteral("device"))
{
    return Device{serial, state, QStringLiteral("Pixel"), Device::Transport::adb};
}
RemoteEntry file(const QString& name, bool folder = false, int64_t size = 0)
{
    return RemoteEntry{name, folder, size, QDateTime::fromSecsSinceEpoch(0, Qt::UTC)};
}
} // namespace

TEST(Device, WirelessIsTellingAddressesAndServiceNamesFromUsbSerials)
{
    EXPECT_TRUE(device(QStringLiteral("192.168.1.20:5555")).isWireless());
    EXPECT_TRUE(device(QStringLiteral("adb-R5CT-abc._adb-tls-connect._tcp")).isWireless());
    EXPECT_FALSE(device(QStringLiteral("R5CT1234ABC")).isWireless());
    EXPECT_FALSE(device(QStringLiteral("emulator-5554")).isWireless());
    EXPECT_FALSE(device(QStringLiteral("adb-R5CT-abc._ADB-TLS-CONNECT._tcp")).isWireless());
}

TEST(Device, StateDescriptionReadsTheTableElseCapitalisesWords)
{
    EXPECT_EQ(device(QString(), QStringLiteral("unauthorized")).stateDescription(), QStringLiteral("Waiting for permission"));
    EXPECT_EQ(device(QString(), QStringLiteral("locked")).stateDescription(), QStringLiteral("Unlock the phone"));
    EXPECT_EQ(device(QString(), QStringLiteral("busy")).stateDescription(), QStringLiteral("In use by another app"));
    EXPECT_EQ(device(QString(), QStringLiteral("offline")).stateDescription(), QStringLiteral("Connecting…"));
    EXPECT_EQ(device(QString(), QStringLiteral("Unauthorized")).stateDescription(), QStringLiteral("Unauthorized"));
    EXPECT_EQ(device(QString(), QStringLiteral("no permissions")).stateDescription(), QStringLiteral("No Permissions"));
    EXPECT_EQ(device(QString(), QStringLiteral("device")).stateDescription(), QStringLiteral("Device"));
    EXPECT_EQ(device(QString(), QStringLiteral("sIDELOAD\trecovery")).stateDescription(), QStringLiteral("Sideload\tRecovery"));
    EXPECT_EQ(device(QString(), QString()).stateDescription(), QString());
}

TEST(Device, SameIdentityButUnequalWhenStateDiffers)
{
    Device a = device(QStringLiteral("X"), QStringLiteral("device"));
    Device b = device(QStringLiteral("X"), QStringLiteral("offline"));
    EXPECT_EQ(a.id(), b.id());
    EXPECT_NE(a, b);
    QSet<Device> set {a, b, a};
    EXPECT_EQ(set.size(), 2);
}

TEST(DeviceInfo, AbsentDiffersFromZero)
{
    DeviceInfo a;
    DeviceInfo b;
    b.battery = 0;
    EXPECT_NE(a, b);
    a.battery = 0;
    EXPECT_EQ(a, b);
}

TEST(RemoteEntry, KindNamesFoldersExtensionsAndDocuments)
{
    EXPECT_EQ(file(QStringLiteral(".bashrc")).kind(), QStringLiteral("Document"));
    EXPECT_EQ(file(QStringLiteral("README")).kind(), QStringLiteral("Document"));
    EXPECT_EQ(file(QStringLiteral("notes.")).kind(), QStringLiteral("Document"));
    EXPECT_EQ(file(QStringLiteral("photo.JPG")).kind(), QStringLiteral("JPG file"));
    EXPECT_EQ(file(QStringLiteral("photo.jpg")).kind(), QStringLiteral("JPG file"));
    EXPECT_EQ(file(QStringLiteral("backup.tar.gz")).kind(), QStringLiteral("GZ file"));
    EXPECT_EQ(file(QStringLiteral("Camera.old"), true).kind(), QStringLiteral("Folder"));
}

TEST(RemoteEntry, FoldersSortBeforeEveryFile)
{
    EXPECT_EQ(file(QStringLiteral("DCIM"), true, 4096).sizeForSorting(), -1);
    EXPECT_EQ(file(QStringLiteral("empty"), false, 0).sizeForSorting(), 0);
}

TEST(ADBError, SentencesPerCase)
{
    EXPECT_EQ(ADBError::failed(QString()).description(), QStringLiteral("adb failed without an error message."));
    EXPECT_EQ(ADBError::failed(QStringLiteral(" ")).description(), QStringLiteral(" "));
    EXPECT_EQ(ADBError::failed(QStringLiteral("device offline")).description(), QStringLiteral("device offline"));
    EXPECT_EQ(ADBError::notFound().description(),
              QStringLiteral("adb not found. Install Google's platform tools with: brew install --cask android-platform-tools"));
    EXPECT_EQ(ADBError::pairing(PairingFailure::unreachable(QStringLiteral("10.0.0.7:37"))).description(),
              QStringLiteral("Couldn’t reach the phone at 10.0.0.7:37. Make sure the phone and this Mac are on the same "
                             "Wi-Fi network, then try again."));
    EXPECT_EQ(ADBError::pairing(PairingFailure::rejected()).description(),
              QStringLiteral("The phone turned the pairing down. Check the code, make sure both are on the same Wi-Fi "
                             "network, then try again."));
    EXPECT_EQ(ADBError::pairing(PairingFailure::other(QStringLiteral("Failed: Failed: wrong code"))).description(),
              QStringLiteral("wrong code"));
    EXPECT_EQ(ADBError::pairing(PairingFailure::other(QStringLiteral("Pairing Failed: x"))).description(),
              QStringLiteral("Pairing x"));
    EXPECT_EQ(ADBError::pairing(PairingFailure::other(QString())).description(), QString());
}
