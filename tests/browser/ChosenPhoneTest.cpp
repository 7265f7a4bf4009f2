// Start-up and the chosen phone: adb looked for at creation and again by the
// poll while missing, the two-second poll that never overlaps itself, and
// which phone's files the model hands out.

#include "BrowserFakes.h"
#include "TestSupport.h"

using namespace browsertest;

namespace {

class ChosenPhoneTest : public ModelTest {};

TEST_F(ChosenPhoneTest, WithoutAdbItIsMissingRightAfterCreationAndAdbPhonesHaveNoFiles)
{
    adb->setInstalled(false);
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    EXPECT_TRUE(model().adbMissing());
    pass();
    // Without the tool adb's list is never asked for.
    EXPECT_EQ(adb->devicesCalls(), 0);
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().serial, QStringLiteral("M1"));
    EXPECT_NE(model().files(), nullptr);
}

TEST_F(ChosenPhoneTest, AnAdbPhoneHasNoFilesWhenAdbIsMissing)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    EXPECT_NE(model().files(), nullptr);

    // Same state, but a model that never found the tool.
    adb->setInstalled(false);
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = mtp;
    collaborators.settings = &settings();
    collaborators.clock = std::make_shared<ManualClock>();
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    BrowserModel without(std::move(collaborators));
    EXPECT_TRUE(without.adbMissing());
    EXPECT_FALSE(without.files());
}

TEST_F(ChosenPhoneTest, APhoneThatIsNotReadyHasNoReadyDeviceAndNoFiles)
{
    for (const QString& state : {QStringLiteral("unauthorized"), QStringLiteral("offline"), QStringLiteral("locked"),
                                 QStringLiteral("busy")}) {
        mtp->setDevices({mtpPhone(QStringLiteral("M1"), state)});
        pass();
        ASSERT_EQ(model().selectedSerial(), QStringLiteral("M1")) << state.toStdString();
        EXPECT_TRUE(model().selectedDevice().has_value());
        EXPECT_FALSE(model().readyDevice().has_value()) << state.toStdString();
        EXPECT_EQ(model().files(), nullptr) << state.toStdString();
    }
}

TEST_F(ChosenPhoneTest, AdbInstalledLaterIsFoundByThePoll)
{
    adb->setInstalled(false);
    ASSERT_TRUE(model().adbMissing());
    pass();
    EXPECT_TRUE(model().adbMissing());

    adb->setInstalled(true);
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    pass();
    EXPECT_FALSE(model().adbMissing());
    EXPECT_TRUE(model().adb().has_value());
    ASSERT_EQ(model().devices().size(), 1);

    // Once found it is not looked for again.
    const int calls = adb->locateCalls();
    pass();
    EXPECT_EQ(adb->locateCalls(), calls);
}

TEST_F(ChosenPhoneTest, ThePollRunsAtOnceThenTwoSecondsAfterEachPassEnds)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    model();
    ASSERT_EQ(clock->waiting(), 1);
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(0));
    EXPECT_EQ(adb->devicesCalls(), 0);

    ASSERT_EQ(clock->fire(), 1);
    // While the pass is under way nothing else is scheduled: no overlap.
    EXPECT_EQ(clock->waiting(), 0);
    ASSERT_TRUE(testsupport::waitUntil([this] { return clock->waiting() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(2000));
    EXPECT_EQ(adb->devicesCalls(), 1);
    EXPECT_EQ(model().devices().size(), 1);

    ASSERT_EQ(clock->fire(), 1);
    ASSERT_TRUE(testsupport::waitUntil([this] { return clock->waiting() == 1; }, std::chrono::seconds(5)));
    EXPECT_EQ(adb->devicesCalls(), 2);
}

TEST_F(ChosenPhoneTest, AFailingAdbListCountsAsNoAdbPhones)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->failDevices(true);
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    mtp->phone(QStringLiteral("M1"))->setFolder(QStringLiteral("/sdcard"), {});
    pass();
    ASSERT_EQ(model().devices().size(), 1);
    EXPECT_EQ(model().devices().first().serial, QStringLiteral("M1"));
    EXPECT_FALSE(model().errorMessage().has_value());
}

} // namespace
