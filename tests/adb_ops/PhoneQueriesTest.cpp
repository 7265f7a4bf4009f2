// Device list, names, facts, connection, screenshot and apps through the real
// adb and the fake phone.
#include "ADBTools.h"
#include "PhoneFixture.h"
#include "TestSupport.h"

#include <QDir>

#include <algorithm>
#include <functional>
#include <tuple>

namespace {

using phonetest::failureOf;

class DeviceQueriesOnPhone : public PhoneTest {};

TEST_F(DeviceQueriesOnPhone, ListsAReadyPhoneWithItsModelAndReadsItsFactsAndNames)
{
    const auto devices = adb().devices(Cancel());
    const auto device = std::ranges::find(devices, serial(), &Device::serial);
    ASSERT_NE(device, devices.end());
    EXPECT_EQ(*device, (Device{serial(), QStringLiteral("device"), QStringLiteral("Pixel 7"), Device::Transport::adb}));
    // The fake's own answers: "ver=14", "mfr=google", status 2, level 85 and a df line.
    EXPECT_EQ(adb().info(serial(), Cancel()), (DeviceInfo{QStringLiteral("14"), QStringLiteral("Google"), 85, true,
                                                          int64_t(118455070720), int64_t(87735070720)}));
    EXPECT_EQ(adb().displayName(serial(), Cancel()), QStringLiteral("Pixel 7"));
    EXPECT_EQ(adb().serialNumber(serial(), Cancel()), QStringLiteral("FAKEPANTHER0001"));
}

TEST_F(DeviceQueriesOnPhone, LookupsThatNeverFailReadFailuresAndCancellationAsNothing)
{
    const QString gone = QStringLiteral("127.0.0.1:1"); // nobody listens there
    std::stop_source stop;
    stop.request_stop();
    const Cancel cancelled(stop.get_token());
    EXPECT_EQ(adb().displayName(gone, Cancel()), std::nullopt);
    EXPECT_EQ(adb().displayName(serial(), cancelled), std::nullopt);
    EXPECT_EQ(adb().serialNumber(gone, Cancel()), std::nullopt);
    EXPECT_FALSE(adb().exists(gone, QStringLiteral("/sdcard"), Cancel()));
    EXPECT_FALSE(adb().exists(serial(), QStringLiteral("/sdcard"), cancelled));
    EXPECT_TRUE(adb().pids(gone, QStringLiteral("com.a"), Cancel()).isEmpty());
}

TEST_F(DeviceQueriesOnPhone, ConnectAndScreenshotFailOnTheAnswerAlthoughAdbExitsZero)
{
    EXPECT_TRUE(failureOf([&] { adb().connect(QStringLiteral("127.0.0.1:1"), Cancel()); }).contains(QStringLiteral("127.0.0.1:1")));
    EXPECT_NO_THROW(adb().connect(serial(), Cancel())); // "already connected to"

    QByteArray payload;
    for (int i = 0; i < 70000; ++i)
        payload += static_cast<char>(i * 7 % 256); // every byte value, more than one adb payload
    const QByteArray png = testsupport::pngCarrying(payload);
    phone().setReply(QStringLiteral("screencap '-p'"), {png, {}, 0});
    EXPECT_EQ(adb().screenshot(serial(), Cancel()), png);
    phone().setReply(QStringLiteral("screencap '-p'"), {"Error: no display\n", {}, 0});
    EXPECT_EQ(failureOf([&] { adb().screenshot(serial(), Cancel()); }),
              QStringLiteral("The phone didn't return a screenshot. Make sure it's unlocked."));
}

// Mended: a screenshot whose connection dropped half-way came with adb's
// status 0 and was taken whole. What came is told as cut short, or as the
// phone gone when adb no longer finds it.
TEST_F(DeviceQueriesOnPhone, AScreenshotCutShortIsToldAsCutShortOrThePhoneGone)
{
    QByteArray payload(200000, 'x');
    const QByteArray png = testsupport::pngCarrying(payload);
    phone().setReply(QStringLiteral("screencap '-p'"), {png, {}, 0});
    for (const bool thenLeave : {false, true}) {
        SCOPED_TRACE(thenLeave ? "the phone then gone" : "the phone still there");
        phone().cutShells(QStringLiteral("screencap"), png.size() / 2, thenLeave);
        EXPECT_EQ(failureOf([&] { adb().screenshot(serial(), Cancel()); }),
                  thenLeave ? QStringLiteral("The phone was disconnected before the screenshot arrived.")
                            : QStringLiteral("The screenshot came from the phone cut short."));
    }
    phone().cutShells(QString());
    ASSERT_TRUE(phone().waitForState(QStringLiteral("device")));
    EXPECT_EQ(adb().screenshot(serial(), Cancel()), png);
    phone().clearReplies();
}

TEST(DeviceQueriesOnLockedOutPhone, ListsAnUnauthorizedPhoneUnderItsSerial)
{
    FakePhoneHarness locked(FakePhoneHarness::Options {.authorized = false});
    QString error;
    ASSERT_TRUE(locked.start(&error)) << error.toStdString();
    const auto devices = ADB(locked.adbPath()).devices(Cancel());
    const auto device = std::ranges::find(devices, locked.serial(), &Device::serial);
    ASSERT_NE(device, devices.end());
    EXPECT_EQ(device->state, QStringLiteral("unauthorized"));
    EXPECT_EQ(device->model, locked.serial());
}

class AppsOnPhone : public PhoneTest {};

// The first version and the first readable install time win; a header
// without "]" leaves the lines with the package before it.
TEST_F(AppsOnPhone, MergesTheThreeListingsAndToleratesAFailedDump)
{
    const QString dump = QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");
    phone().setReply(QStringLiteral("pm list packages"),
                     {"package:com.zeta\npackage:Com.alpha\npackage:com.android.settings\n", {}, 0});
    phone().setReply(QStringLiteral("pm list packages -3"), {"package:com.zeta\npackage:Com.alpha\n", {}, 0});
    phone().setReply(dump, {"    versionName=0.1\n  Package [com.zeta] (c0ffee):\n    versionName=2.1\n    versionName=2.0\n"
                            "    firstInstallTime=yesterday\n    firstInstallTime=2023-04-05 06:07:08\n"
                            "    firstInstallTime=2024-01-01 00:00:00\n  Package [com.unknown] (1):\n"
                            "  Package [Com.alpha (no bracket\n    versionName=3.0\n"
                            "  Package [com.android.settings] (1):\n    versionName=\n    versionName=14\n", {}, 0});
    const QDateTime installed = QDateTime(QDate(2023, 4, 5), QTime(6, 7, 8)).toUTC();
    const std::vector<InstalledApp> apps {
        {QStringLiteral("Com.alpha"), std::nullopt, std::nullopt, false},
        {QStringLiteral("com.android.settings"), QString(), std::nullopt, true}, // an empty version is a version
        {QStringLiteral("com.zeta"), QStringLiteral("2.1"), installed, false}};
    EXPECT_EQ(adb().apps(serial(), Cancel()), apps);
    phone().setReply(dump, {{}, "dumpsys: permission denied\n", 1});
    EXPECT_EQ(adb().apps(serial(), Cancel()).back(), (InstalledApp{QStringLiteral("com.zeta"), std::nullopt, std::nullopt, false}));
}

// Each action sends its text with the name quoted, and the ones whose tool
// reports failure with status 0 need "Success" (or must not say "No activities").
TEST_F(AppsOnPhone, ActionsSendTheirQuotedTextsAndReadFailuresFromTheAnswer)
{
    const QString name = QStringLiteral("com.o'brien");
    const QString quoted = QStringLiteral("'com.o'\\''brien'");
    // The command, a good and a bad answer, the action and its failure's sentence.
    const std::tuple<QString, QByteArray, QByteArray, std::function<void()>, QString> cases[] {
        {QStringLiteral("monkey -p ") + quoted + QStringLiteral(" -c android.intent.category.LAUNCHER 1"),
         "Events injected: 1\n", "** No activities found to run, monkey aborted.\n",
         [&] { adb().launch(serial(), name, Cancel()); }, QStringLiteral("This app has nothing to open.")},
        {QStringLiteral("pm clear ") + quoted, "Success\n", "Failed\n", [&] { adb().clearData(serial(), name, Cancel()); },
         QStringLiteral("Failed")},
        {QStringLiteral("cmd package 'uninstall' ") + quoted, "Success\n", "Failure [DELETE_FAILED_INTERNAL_ERROR]\n",
         [&] { adb().uninstall(serial(), name, Cancel()); }, QStringLiteral("Failure [DELETE_FAILED_INTERNAL_ERROR]")}};
    for (const auto& [command, good, bad, action, sentence] : cases) {
        phone().setReply(command, {good, {}, 0});
        EXPECT_EQ(failureOf(action), QStringLiteral("<no failure>"));
        phone().setReply(command, {bad, {}, 0});
        EXPECT_EQ(failureOf(action), sentence);
    }
    phone().setReply(QStringLiteral("pidof ") + quoted, {"4321 765\n", {}, 0});
    EXPECT_EQ(adb().pids(serial(), name, Cancel()), (QSet<QString>{QStringLiteral("4321"), QStringLiteral("765")}));
    // Only the texts with the name quoted are answered.
    phone().setReply(QStringLiteral("am force-stop ") + quoted, {});
    phone().setReply(QStringLiteral("am start -a android.settings.APPLICATION_DETAILS_SETTINGS -d package:") + quoted, {});
    EXPECT_NO_THROW(adb().forceStop(serial(), name, Cancel()));
    EXPECT_NO_THROW(adb().showAppInfo(serial(), name, Cancel()));
}

} // namespace

namespace {

class ShellsOnPhone : public PhoneTest {
protected:
    void TearDown() override
    {
        if (!hasPhone())
            return;
        phone().cutShells({});
        EXPECT_TRUE(phone().waitForState(QStringLiteral("device")));
    }
};

} // namespace

// Mended: adb 29 ends "adb shell" with status 0 and no more output when the
// connection drops mid-command; a Delete, New Folder, rename, the phone's
// facts and details, an app action and a listing cut short read as done.
TEST_F(ShellsOnPhone, AShellCutShortByADroppedConnectionIsAFailure)
{
    ASSERT_TRUE(QDir().mkpath(phonetest::storagePath(phone(), QStringLiteral("/sdcard/Cut"))));
    ASSERT_TRUE(phonetest::writeFile(phonetest::storagePath(phone(), QStringLiteral("/sdcard/Cut/a.txt")), "a"));
    ASSERT_TRUE(phonetest::writeFile(phonetest::storagePath(phone(), QStringLiteral("/sdcard/Cut/b.txt")), "b"));
    const QString lost = QStringLiteral("The connection to the phone ended before it answered.");
    const QString left = QStringLiteral("The phone was disconnected.");
    const struct {
        const char* what;
        QString cut;      // the command text whose shell is cut
        qint64 keepBytes; // of its output
        std::function<void()> work;
    } operations[] = {
        {"delete", QStringLiteral("rm -rf"), 0, [] { adb().remove(serial(), QStringLiteral("/sdcard/Cut/a.txt"), Cancel()); }},
        {"new folder", QStringLiteral("mkdir"), 0,
         [] { adb().makeFolder(serial(), QStringLiteral("/sdcard/Cut/New"), Cancel()); }},
        {"rename", QStringLiteral("mv "), 0,
         [] { adb().move(serial(), QStringLiteral("/sdcard/Cut/b.txt"), QStringLiteral("/sdcard/Cut/c.txt"), Cancel()); }},
        {"listing", QStringLiteral("stat -L"), 20,
         [] { adb().list(serial(), QStringLiteral("/sdcard/Cut"), false, Cancel()); }},
        {"facts", QStringLiteral("ver="), 0, [] { adb().info(serial(), Cancel()); }},
        {"details", QStringLiteral("Security patch"), 0, [] { adb().details(serial(), Cancel()); }},
        {"open app", QStringLiteral("monkey"), 0,
         [] { adb().launch(serial(), QStringLiteral("com.example.notes"), Cancel()); }},
        {"force stop", QStringLiteral("force-stop"), 0,
         [] { adb().forceStop(serial(), QStringLiteral("com.example.notes"), Cancel()); }},
        {"app list", QStringLiteral("pm list packages -3"), 0, [] { adb().apps(serial(), Cancel()); }},
    };
    for (const auto& operation : operations) {
        for (const bool leaves : {false, true}) {
            SCOPED_TRACE(std::string(operation.what) + (leaves ? ", the phone gone" : ", the phone still there"));
            phone().cutShells(operation.cut, operation.keepBytes, leaves);
            EXPECT_EQ(failureOf(operation.work), leaves ? left : lost);
            phone().cutShells({});
            ASSERT_TRUE(phone().waitForState(QStringLiteral("device")));
        }
    }
    // Uncut, each answer is whole and read as before.
    const auto listed = adb().list(serial(), QStringLiteral("/sdcard/Cut"), false, Cancel());
    EXPECT_EQ(listed.size(), 2u);
}
