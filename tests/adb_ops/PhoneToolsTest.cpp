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

// Each action sends its text with the name quoted, and the ones whose tool
// reports failure with status 0 need "Success" (or must not say "No activities").
TEST_F(AppsOnPhone, ActionsSendTheirQuotedTextsAndReadFailuresFromTheAnswer)
{
    const QString name = QStringLiteral("com.o'brien");
    const QString quoted = QStringLiteral("'com.o'\\''brien'");
    const QString launch = QStringLiteral("monkey -p ") + quoted + QStringLiteral(" -c android.intent.category.LAUNCHER 1");
    const QString uninstall = QStringLiteral("cmd package 'uninstall' ") + quoted; // adb's own command
    struct Case {
        QString command;
        QByteArray good, bad;
        std::function<void()> action;
        QString sentence;
    };
    const Case cases[] {
        {launch, "Events injected: 1\n", "** No activities found to run, monkey aborted.\n",
         [&] { adb().launch(serial(), name, Cancel()); }, QStringLiteral("This app has nothing to open.")},
        {QStringLiteral("pm clear ") + quoted, "Success\n", "Failed\n", [&] { adb().clearData(serial(), name, Cancel()); },
         QStringLiteral("Failed")},
        {uninstall, "Success\n", "Failure [DELETE_FAILED_INTERNAL_ERROR]\n",
         [&] { adb().uninstall(serial(), name, Cancel()); }, QStringLiteral("Failure [DELETE_FAILED_INTERNAL_ERROR]")}};
    for (const Case& c : cases) {
        phone().setReply(c.command, {c.good, {}, 0});
        EXPECT_NO_THROW(c.action());
        phone().setReply(c.command, {c.bad, {}, 0});
        try {
            c.action();
            ADD_FAILURE() << "expected " << c.sentence.toStdString();
        } catch (const ADBError& error) {
            EXPECT_EQ(error.description(), c.sentence);
        }
    }
    phone().setReply(QStringLiteral("pidof ") + quoted, {"4321 765\n", {}, 0});
    EXPECT_EQ(adb().pids(serial(), name, Cancel()), (QSet<QString>{QStringLiteral("4321"), QStringLiteral("765")}));
    // Only the texts with the name quoted are answered.
    phone().setReply(QStringLiteral("am force-stop ") + quoted, {});
    phone().setReply(QStringLiteral("am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:") + quoted, {});
    EXPECT_NO_THROW(adb().forceStop(serial(), name, Cancel()));
    EXPECT_NO_THROW(adb().showAppInfo(serial(), name, Cancel()));
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
