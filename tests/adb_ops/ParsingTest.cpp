// Reading adb's answers: device lists, names, facts, listings, apps and details.
// What the fake phone cannot be made to print is tested here.
#include "ADB.h"
#include "ADBParsing.h"
#include "ADBTools.h"

#include <gtest/gtest.h>

namespace {

QDateTime at(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

TEST(DeviceList, ReadsTheModelElseTheProductAndSkipsServerLines)
{
    const auto devices = adbparse::devices(QStringLiteral(
        "* daemon not running; starting now at tcp:5037\n* daemon started successfully\nList of devices attached\n"
        "emulator-5554          device product:sdk_phone_x86 model:sdk_phone_x86 device:generic transport_id:1\n"
        "A1\tno\tpermissions\tproduct:my_phone\n"
        "B2 device model: product:other\n"
        "lonely\n\n"));
    ASSERT_EQ(devices.size(), 3u);
    EXPECT_EQ(devices[0].serial, QStringLiteral("emulator-5554"));
    EXPECT_EQ(devices[0].model, QStringLiteral("sdk phone x86"));
    EXPECT_EQ(devices[1].state, QStringLiteral("no permissions"));
    EXPECT_EQ(devices[1].model, QStringLiteral("my phone"));
    EXPECT_EQ(devices[2].model, QString()); // an empty "model:" wins over product
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

TEST(AppList, FirstVersionAndFirstReadableInstallTimeWin)
{
    const QString dump = QStringLiteral(
        "    versionName=0.1\n  Package [com.a] (1234abc):\n    versionName=1.0\n    versionName=2.0\n"
        "    firstInstallTime=yesterday\n    firstInstallTime=2023-04-05 06:07:08\n    firstInstallTime=2024-01-01 00:00:00\n"
        "  Package [com.unknown] (1):\n  Package [com.b (no bracket\n    versionName=3.0\n" // lines of com.unknown
        "  Package [com.c]\n    versionName=\n    versionName=3.0\n");
    const std::vector<InstalledApp> expected {
        {QStringLiteral("com.a"), QStringLiteral("1.0"), QDateTime(QDate(2023, 4, 5), QTime(6, 7, 8)).toUTC(), true},
        {QStringLiteral("com.b"), std::nullopt, std::nullopt, true},
        {QStringLiteral("com.c"), QString(), std::nullopt, true}}; // an empty version is a version
    EXPECT_EQ(adbparse::apps(QStringLiteral("package:com.a\npackage:com.b\npackage:com.c\n"), QString(), dump), expected);
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

} // namespace
