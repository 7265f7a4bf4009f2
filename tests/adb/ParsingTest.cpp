// The edge cases of reading adb's answers without a phone (device lists, names,
// facts, listings, package names, details), and what the devices and entries
// read make of themselves.
#include "ADB.h"
#include "ADBParsing.h"
#include "ADBTools.h"
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
QDateTime at(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

TEST(DeviceList, ReadsTheModelElseTheProductAndSkipsServerLines)
{
    QStringList devices;
    for (const Device& device : adbparse::devices(QStringLiteral(
             "* daemon not running; starting now at tcp:5037\n* daemon started successfully\nList of devices attached\n"
             "emulator-5554          device product:sdk_phone_x86 model:sdk_phone_x86 device:generic transport_id:1\n"
             "A1\tno\tpermissions\tproduct:my_phone\nB2 device model: product:other\nlonely\n\n")))
        devices << device.serial + QLatin1Char('|') + device.state + QLatin1Char('|') + device.model;
    // An empty "model:" wins over the product.
    EXPECT_EQ(devices, (QStringList {"emulator-5554|device|sdk phone x86", "A1|no permissions|my phone", "B2|device|"}));
}

TEST(DisplayName, TakesTheFirstMeaningfulLine)
{
    EXPECT_EQ(adbparse::displayName(QStringLiteral("null\n\nsdk_gphone64\n")), std::nullopt);
    EXPECT_EQ(adbparse::displayName(QStringLiteral("  \t\r\nKitchen phone \r\nModel_X1\n")), QStringLiteral("Kitchen phone"));
}

TEST(DeviceFacts, ChargingOnlyForStatusTwoOrFiveAndUnreadableValuesStayAbsent)
{
    for (int status : {1, 2, 3, 5})
        EXPECT_EQ(adbparse::info(QStringLiteral("status: %1\n").arg(status)).charging, status == 2 || status == 5);
    EXPECT_FALSE(adbparse::info(QStringLiteral("status: 2\nstatus: full\n")).charging);

    const DeviceInfo info = adbparse::info(QStringLiteral("level: 50\nlevel: \nmfr=SAMSUNG eLECTRONICS\n"));
    EXPECT_EQ(info.battery, std::nullopt); // a later unreadable level clears an earlier one
    EXPECT_EQ(info.manufacturer, QStringLiteral("Samsung Electronics"));
    EXPECT_EQ(adbparse::info(QStringLiteral("df=/dev/fuse 100 20\n")).storageTotal, std::nullopt);
    EXPECT_EQ(adbparse::info(QStringLiteral("df=/dev/fuse 99999999999999999 2 3\n")).storageTotal, std::nullopt);
}

// Mended: "Battery 250 %" and "-4.1 MB free" were shown as facts.
TEST(DeviceFacts, ValuesNoPhoneCanHaveAreUnknown)
{
    using Storage = std::pair<std::optional<int64_t>, std::optional<int64_t>>; // total, free
    const struct {
        const char* output;
        std::optional<int> battery;
        Storage storage;
    } cases[] = {
        {"level: 0\ndf=/dev/fuse 100 100 0 100% /storage/emulated\n", 0, {102400, 0}},
        {"level: 100\ndf=/dev/fuse 100 40 60 40% /storage/emulated\n", 100, {102400, 61440}},
        {"level: 250\n", std::nullopt, {}},
        {"level: -5\n", std::nullopt, {}},
        {"level: 101\n", std::nullopt, {}},
        {"df=/dev/fuse 100 104 -4 104% /storage/emulated\n", std::nullopt, {}},
        {"df=/dev/fuse 100 0 104 0% /storage/emulated\n", std::nullopt, {102400, std::nullopt}},
        {"df=/dev/fuse -100 0 10 0% /storage/emulated\n", std::nullopt, {}},
        {"df=/dev/fuse 100 -3 10 0% /storage/emulated\n", std::nullopt, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.output);
        const DeviceInfo info = adbparse::info(QString::fromUtf8(c.output));
        EXPECT_EQ(info.battery, c.battery);
        EXPECT_EQ(Storage(info.storageTotal, info.storageFree), c.storage);
    }
}

TEST(ListingOutput, NamesEndAtTheirSlashAndUnreadableNumbersReadAsZero)
{
    const auto entries = adbparse::listing(QByteArrayView(
        "directory|4096|1700000000|Camera/\nregular file|10|1700000000.5|a|b\n.txt/\r\nnoise without bars\n"
        "symbolic link|abc| 1700000000| spaced /\nregular empty file|+7|1.7e9|./\ndirectory|1|2|../\n"
        "regular file|99999999999999999999|0x10|*/\ntruncated|1|2|x"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0], (RemoteEntry{QStringLiteral("Camera"), true, 4096, at(1700000000000)}));
    EXPECT_EQ(entries[1], (RemoteEntry{QStringLiteral("a|b\n.txt"), false, 10, at(1700000000500)}));
    EXPECT_EQ(entries[2], (RemoteEntry{QStringLiteral(" spaced "), false, 0, at(0)}));
    EXPECT_EQ(entries[3], (RemoteEntry{QStringLiteral("*"), false, 0, at(0)}));
    EXPECT_EQ(adbparse::listing("regular file|1|2|./in/\n", true).front().name, QStringLiteral("in"));
}

// A phone's garbage must not become an entry that stands for another item.
TEST(ListingOutput, ANameHoldingNulIsNoItem)
{
    static const char output[] = "regular file|1|2|./a\0b/\nregular file|3|4|./a/\n";
    const auto entries = adbparse::listing(QByteArrayView(output, sizeof output - 1), true);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, QStringLiteral("a"));
}

TEST(ListingOutput, BytesThatAreNotUtf8StayDistinct)
{
    EXPECT_EQ(adbparse::name("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    EXPECT_EQ(adbparse::name("a\xff\xc3\xa9\xed\xa0\x80"),
              QStringLiteral("a") + QChar(0xDCFF) + QStringLiteral("\u00e9") + QChar(0xDCED) + QChar(0xDCA0)
                  + QChar(0xDC80));
    EXPECT_NE(adbparse::name("\xfe"), adbparse::name("\xff"));
}

TEST(AppList, PackageLinesAreReadAsTheyAreAndSortedByCodePoint)
{
    EXPECT_EQ(ADB::packageNames(QStringLiteral("  package:com.a \t\n\nunrelated\npackage:\npackage: com.b\n")),
              (QStringList {QStringLiteral("com.a"), QString(), QStringLiteral(" com.b")}));
    // U+FF21 sorts before U+1F600 by code point, though not by UTF-16 unit.
    EXPECT_TRUE(adbparse::codePointLess(QStringLiteral("\uFF21"), QStringLiteral("\U0001F600")));
    EXPECT_FALSE(adbparse::codePointLess(QStringLiteral("\U0001F600"), QStringLiteral("\uFF21")));
}

TEST(DeviceDetailsRows, DropTheRemnantsOfMissingValuesAndKeepPartialOnes)
{
    QStringList rows;
    for (const auto& [label, value] : adbparse::details(QStringLiteral(
             "Screen= at 420 dpi\nAndroid= (API )\nModel=  \nBuild=\n10.0.0.9\n"
             "Screen=1080x2400 at  dpi\nAndroid= (API 34)\nModel=Acme \nBuild=a=b=c\n==Odd=x\n")).rows)
        rows << label + QLatin1Char('=') + value;
    EXPECT_EQ(rows, (QStringList {"Screen=1080x2400 at  dpi", "Android=(API 34)", "Model=Acme", "Build=a=b=c", "Odd=x"}));
}

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

} // namespace
