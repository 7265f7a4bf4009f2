// Apps and details through the real adb and the fake phone.
#include "ADBTools.h"
#include "PhoneFixture.h"

namespace {

const QString dumpCommand =
    QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");

class AppsOnPhone : public PhoneTest {};

TEST_F(AppsOnPhone, MergesTheThreeListings)
{
    phone().setReply(QStringLiteral("pm list packages"),
                     {"package:com.zeta\npackage:Com.alpha\npackage:com.android.settings\n", {}, 0});
    phone().setReply(QStringLiteral("pm list packages -3"), {"package:com.zeta\npackage:Com.alpha\n", {}, 0});
    phone().setReply(dumpCommand, {"  Package [com.zeta] (c0ffee):\n    versionName=2.1\n"
                                   "    firstInstallTime=2023-04-05 06:07:08\n"
                                   "  Package [com.android.settings] (1):\n    versionName=14\n",
                                   {}, 0});
    const auto apps = adb().apps(serial(), Cancel());
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0], (InstalledApp{QStringLiteral("Com.alpha"), std::nullopt, std::nullopt, false}));
    EXPECT_EQ(apps[1], (InstalledApp{QStringLiteral("com.android.settings"), QStringLiteral("14"), std::nullopt, true}));
    EXPECT_EQ(apps[2].package, QStringLiteral("com.zeta"));
    EXPECT_EQ(apps[2].version, QStringLiteral("2.1"));
    EXPECT_EQ(apps[2].installed,
              QDateTime::fromString(QStringLiteral("2023-04-05 06:07:08"), QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUTC());
    EXPECT_FALSE(apps[2].isSystem);
}

TEST_F(AppsOnPhone, FailsWhenTheAddedListFails)
{
    phone().setReply(QStringLiteral("pm list packages"), {"package:com.a\n", {}, 0});
    phone().setReply(QStringLiteral("pm list packages -3"), {{}, "Error: could not access the Package Manager\n", 20});
    try {
        adb().apps(serial(), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("Error: could not access the Package Manager"));
    }
}

TEST_F(AppsOnPhone, ActionsSendTheirTextsWithTheNameQuoted)
{
    const QString name = QStringLiteral("com.o'brien.app");
    const QString quoted = QStringLiteral("'com.o'\\''brien.app'");
    phone().setReply(QStringLiteral("monkey -p ") + quoted + QStringLiteral(" -c android.intent.category.LAUNCHER 1"),
                     {"Events injected: 1\n", {}, 0});
    phone().setReply(QStringLiteral("am force-stop ") + quoted, {{}, {}, 0});
    phone().setReply(QStringLiteral("pm clear ") + quoted, {"Success\n", {}, 0});
    phone().setReply(QStringLiteral("am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:") + quoted,
                     {"Starting: Intent { act=android.settings.APPLICATION_DETAILS_SETTINGS }\n", {}, 0});
    phone().setReply(QStringLiteral("pidof ") + quoted, {"4321 765\n", {}, 0});

    adb().launch(serial(), name, Cancel());
    adb().forceStop(serial(), name, Cancel());
    adb().clearData(serial(), name, Cancel());
    adb().showAppInfo(serial(), name, Cancel());
    EXPECT_EQ(adb().pids(serial(), name, Cancel()), (QSet<QString>{QStringLiteral("4321"), QStringLiteral("765")}));
    // Without a reply the phone's shell knows no pidof: no ids, no failure.
    EXPECT_TRUE(adb().pids(serial(), QStringLiteral("com.none"), Cancel()).isEmpty());
}

TEST_F(AppsOnPhone, UninstallIsAdbsOwnCommandAndNeedsSuccess)
{
    const QString received = QStringLiteral("cmd package 'uninstall' 'com.o'\\''brien'");
    phone().setReply(received, {"Success\n", {}, 0});
    EXPECT_NO_THROW(adb().uninstall(serial(), QStringLiteral("com.o'brien"), Cancel()));
    EXPECT_TRUE(phone().receivedCommands().join(QLatin1Char('\n')).contains(received))
        << phone().receivedCommands().join(QLatin1Char('\n')).toStdString();

    phone().setReply(received, {"Failure [DELETE_FAILED_INTERNAL_ERROR]\n", {}, 0});
    try {
        adb().uninstall(serial(), QStringLiteral("com.o'brien"), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("Failure [DELETE_FAILED_INTERNAL_ERROR]"));
    }
}

TEST_F(AppsOnPhone, ActionsReportedAsFailedWithStatusZeroFail)
{
    phone().setReply(QStringLiteral("pm clear 'com.a'"), {"Failed\n", {}, 0});
    EXPECT_THROW(adb().clearData(serial(), QStringLiteral("com.a"), Cancel()), ADBError);
    phone().setReply(QStringLiteral("monkey -p 'com.a' -c android.intent.category.LAUNCHER 1"),
                     {"  bash arg: -p\n** No activities found to run, monkey aborted.\n", {}, 0});
    try {
        adb().launch(serial(), QStringLiteral("com.a"), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("This app has nothing to open."));
    }
}

class DetailsOnPhone : public PhoneTest {};

TEST_F(DetailsOnPhone, GivesTheLabelledRows)
{
    const QString script = QStringLiteral(
        "echo \"Model=$(getprop ro.product.manufacturer) $(getprop ro.product.model)\"; "
        "echo \"Android=$(getprop ro.build.version.release) (API $(getprop ro.build.version.sdk))\"; "
        "echo \"Security patch=$(getprop ro.build.version.security_patch)\"; "
        "echo \"Build=$(getprop ro.build.display.id)\"; "
        "echo \"Screen=$(wm size | tail -n 1 | sed 's/.*: //') at $(wm density | tail -n 1 | sed 's/.*: //') dpi\"; "
        "echo \"Processor=$(getprop ro.product.cpu.abi)\"; "
        "echo \"Wi-Fi address=$(ip -f inet addr show wlan0 2>/dev/null | grep -o 'inet [0-9.]*' | cut -d' ' -f2)\"; "
        "echo \"Serial number=$(getprop ro.serialno)\"");
    phone().setReply(script, {"Model=Google Pixel 7\nAndroid=14 (API 34)\nSecurity patch=2024-01-05\n"
                              "Build=UQ1A=240105\nScreen= at 420 dpi\nProcessor=arm64-v8a\nWi-Fi address=\n"
                              "Serial number=28161FDH2000X4\n",
                              {}, 0});
    const DeviceDetails details = adb().details(serial(), Cancel());
    const std::vector<std::pair<QString, QString>> expected{
        {QStringLiteral("Model"), QStringLiteral("Google Pixel 7")},
        {QStringLiteral("Android"), QStringLiteral("14 (API 34)")},
        {QStringLiteral("Security patch"), QStringLiteral("2024-01-05")},
        {QStringLiteral("Build"), QStringLiteral("UQ1A=240105")},
        {QStringLiteral("Processor"), QStringLiteral("arm64-v8a")},
        {QStringLiteral("Serial number"), QStringLiteral("28161FDH2000X4")}};
    EXPECT_EQ(details.rows, expected);
}

} // namespace
