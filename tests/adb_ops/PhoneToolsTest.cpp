// Apps and details through the real adb and the fake phone.
#include "ADBTools.h"
#include "PhoneFixture.h"

#include <functional>

namespace {

const QString dumpCommand =
    QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");

class AppsOnPhone : public PhoneTest {};

TEST_F(AppsOnPhone, MergesTheThreeListingsAndToleratesAFailedDump)
{
    phone().setReply(QStringLiteral("pm list packages"),
                     {"package:com.zeta\npackage:Com.alpha\npackage:com.android.settings\n", {}, 0});
    phone().setReply(QStringLiteral("pm list packages -3"), {"package:com.zeta\npackage:Com.alpha\n", {}, 0});
    phone().setReply(dumpCommand, {"  Package [com.zeta] (c0ffee):\n    versionName=2.1\n"
                                   "    firstInstallTime=2023-04-05 06:07:08\n"
                                   "  Package [com.android.settings] (1):\n    versionName=14\n",
                                   {}, 0});
    auto apps = adb().apps(serial(), Cancel());
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0], (InstalledApp{QStringLiteral("Com.alpha"), std::nullopt, std::nullopt, false}));
    EXPECT_EQ(apps[1], (InstalledApp{QStringLiteral("com.android.settings"), QStringLiteral("14"), std::nullopt, true}));
    EXPECT_EQ(apps[2], (InstalledApp{QStringLiteral("com.zeta"), QStringLiteral("2.1"),
                                     QDateTime::fromString(QStringLiteral("2023-04-05 06:07:08"),
                                                           QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUTC(),
                                     false}));

    phone().setReply(dumpCommand, {{}, "dumpsys: permission denied\n", 1});
    apps = adb().apps(serial(), Cancel());
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[2], (InstalledApp{QStringLiteral("com.zeta"), std::nullopt, std::nullopt, false}));
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
}

TEST_F(AppsOnPhone, ActionsNeedSuccessInTheAnswerEvenWithStatusZero)
{
    // Uninstall is adb's own command and arrives as "cmd package".
    const QString uninstall = QStringLiteral("cmd package 'uninstall' 'com.o'\\''brien'");
    phone().setReply(uninstall, {"Success\n", {}, 0});
    EXPECT_NO_THROW(adb().uninstall(serial(), QStringLiteral("com.o'brien"), Cancel()));
    EXPECT_TRUE(phone().receivedCommands().join(QLatin1Char('\n')).contains(uninstall))
        << phone().receivedCommands().join(QLatin1Char('\n')).toStdString();

    phone().setReply(uninstall, {"Failure [DELETE_FAILED_INTERNAL_ERROR]\n", {}, 0});
    phone().setReply(QStringLiteral("pm clear 'com.a'"), {"Failed\n", {}, 0});
    phone().setReply(QStringLiteral("monkey -p 'com.a' -c android.intent.category.LAUNCHER 1"),
                     {"  bash arg: -p\n** No activities found to run, monkey aborted.\n", {}, 0});
    const std::pair<std::function<void()>, QString> failing[] {
        {[&] { adb().uninstall(serial(), QStringLiteral("com.o'brien"), Cancel()); },
         QStringLiteral("Failure [DELETE_FAILED_INTERNAL_ERROR]")},
        {[&] { adb().clearData(serial(), QStringLiteral("com.a"), Cancel()); }, QStringLiteral("Failed")},
        {[&] { adb().launch(serial(), QStringLiteral("com.a"), Cancel()); }, QStringLiteral("This app has nothing to open.")}};
    for (const auto& [action, sentence] : failing) {
        try {
            action();
            ADD_FAILURE() << "expected " << sentence.toStdString();
        } catch (const ADBError& error) {
            EXPECT_EQ(error.description(), sentence);
        }
    }
}

class DetailsOnPhone : public PhoneTest {};

TEST_F(DetailsOnPhone, GivesTheLabelledRows)
{
    // The fake's own answer, with an empty Wi-Fi address.
    const std::vector<std::pair<QString, QString>> expected {
        {QStringLiteral("Model"), QStringLiteral("Google Pixel 7")},
        {QStringLiteral("Android"), QStringLiteral("14 (API 34)")},
        {QStringLiteral("Security patch"), QStringLiteral("2024-05-05")},
        {QStringLiteral("Build"), QStringLiteral("UQ1A.240505.004")},
        {QStringLiteral("Screen"), QStringLiteral("1080x2400 at 420 dpi")},
        {QStringLiteral("Processor"), QStringLiteral("arm64-v8a")},
        {QStringLiteral("Serial number"), QStringLiteral("FAKEPANTHER0001")}};
    EXPECT_EQ(adb().details(serial(), Cancel()).rows, expected);
}

} // namespace
