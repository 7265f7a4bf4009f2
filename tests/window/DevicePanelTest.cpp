// The device panel: what the card shows for each state of the chosen phone,
// its rules (subtitle, battery, connection badge, storage meter, recording
// time), and what its tools do.

#include "DetailsPopover.h"
#include "DevicePanel.h"
#include "DevicePanelViews.h"
#include "FocusRest.h"
#include "Look.h"
#include "Sidebar.h"
#include "StorageMeter.h"
#include "TestSupport.h"
#include "Theme.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QTemporaryDir>
#include <QFile>
#include <QLabel>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>

using namespace windowtest;

namespace {

DeviceInfo facts(std::optional<QString> manufacturer, std::optional<QString> version)
{
    DeviceInfo info;
    info.manufacturer = std::move(manufacturer);
    info.androidVersion = std::move(version);
    return info;
}

class DevicePanelTest : public WindowTest {
protected:
    DevicePanel& panel(const Environment& env) { return *(m_card = show<Sidebar>(env, QSize(260, 640)).devicePanel()); }
    template <class W = QWidget> W* part(const char* name)
    {
        W* found = m_card->findChild<W*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    bool shown(const char* name) { return part(name)->isVisibleTo(m_card); }
    QString badge() { return part<DeviceTile>("deviceTile")->badgeSymbol(); }
    // The tools as 1 (enabled) and 0.
    QString tools()
    {
        QString result;
        for (ToolButton* tool : m_card->tools())
            result += tool->isEnabled() ? u'1' : u'0';
        return result;
    }
    DevicePanel* m_card = nullptr;
};

// ---- the rules ---------------------------------------------------------------------

TEST(DevicePanelRules, SubtitleJoinsTheFactsElseNamesTheConnection)
{
    const Device usb = adbPhone(u"A1"_s), wifi = adbPhone(u"192.168.1.5:5555"_s), files = mtpPhone(u"M1"_s);
    const std::tuple<Device, std::optional<DeviceInfo>, QString> cases[] = {
        {usb, facts(u"Google"_s, u"14"_s), u"Google · Android 14"_s}, {usb, facts(u""_s, u"14"_s), u"Android 14"_s},
        {wifi, facts(u"Google"_s, std::nullopt), u"Google"_s},      {usb, std::nullopt, u"USB"_s},
        {wifi, std::nullopt, u"Wi-Fi"_s},                          {files, std::nullopt, u"File transfer"_s},
        {files, facts(u""_s, u""_s), u"File transfer"_s}};
    for (const auto& [device, info, expected] : cases)
        EXPECT_EQ(DevicePanel::subtitle(device, info), expected) << device.serial.toStdString();
}

TEST(DevicePanelRules, BatterySymbolAndRedByLevel)
{
    const std::tuple<int, bool, const char*, bool> cases[] = {
        {12, false, "battery.0", true},    {13, false, "battery.25", true},   {15, false, "battery.25", true},
        {16, false, "battery.25", false},  {38, false, "battery.50", false},  {63, false, "battery.75", false},
        {88, false, "battery.100", false}, {5, true, "battery.100.bolt", false}, {-4, false, "battery.0", true},
        {140, false, "battery.100", false}};
    for (const auto& [level, charging, symbol, red] : cases)
        EXPECT_EQ(DevicePanel::battery(level, charging), (DevicePanel::BatteryLook{QString::fromLatin1(symbol), red}))
            << level;
}

TEST(DevicePanelRules, TileBadgeTestsLockThenWiFi)
{
    const std::pair<Device, const char*> cases[] = {
        {adbPhone(u"A1"_s, u"unauthorized"_s), "lock.fill"}, {adbPhone(u"10.0.0.2:5555"_s), "wifi"},
        {mtpPhone(u"10.0.0.2:1"_s), "wifi"},                 {mtpPhone(u"M1"_s, u"locked"_s), "lock.fill"}};
    for (const auto& [device, symbol] : cases)
        EXPECT_EQ(DeviceTile::badgeSymbol(device), QString::fromLatin1(symbol)) << device.serial.toStdString();
}

TEST(DevicePanelRules, MeterIsOrangeAboveNinetyPercentAndNeverShorterThanFour)
{
    const QColor orange = Look::orange(), accent = Theme::accent(false);
    // The bar's width on a 200 track.
    const std::tuple<int64_t, int64_t, qreal, QColor> cases[] = {
        {64'000, 6'000, 181.25, orange}, {64'000, 6'400, 180, accent}, {64'000, 63'999, 4, accent},
        {1000, 2000, 4, accent},         {1000, -50, 200, orange},     {0, 0, 4, accent}};
    for (const auto& [total, free, width, color] : cases) {
        const double fraction = StorageMeter::fraction(total, free);
        EXPECT_DOUBLE_EQ(StorageMeter::barWidth(200, fraction), width) << free;
        EXPECT_EQ(StorageMeter::barColor(fraction, false), color) << free;
    }
}

// ---- the card per state ------------------------------------------------------------

TEST_F(DevicePanelTest, EachStateShowsItsHeaderLineAndTools)
{
    DevicePanel& card = panel(fullEnvironment());
    adbPhoneIn(u"unauthorized"_s);
    EXPECT_TRUE(shown("stateLine"));
    EXPECT_FALSE(card.infoButton()->isVisibleTo(&card) || shown("toolsSection") || shown("factsSection"));

    // Ready over adb, its facts not read yet.
    adbPhoneIn(u"device"_s);
    DevicePanel::State state = DevicePanel::state(model());
    state.info.reset();
    card.display(state);
    EXPECT_EQ(badge(), u"cable.connector"_s);
    EXPECT_TRUE(card.infoButton()->isVisibleTo(&card) && shown("toolsSection"));
    EXPECT_FALSE(shown("factsSection") || shown("stateLine"));
    EXPECT_EQ(tools(), u"11111"_s);

    adb->setDevices({});
    mtp->phone(u"M1"_s)->setInfo(facts(u"Samsung"_s, u"13"_s));
    readyMtpPhone();
    EXPECT_EQ(badge(), u"folder.fill"_s);
    EXPECT_EQ(part<QLabel>("deviceSubtitle")->text(), u"Samsung · Android 13"_s);
    EXPECT_TRUE(shown("factsSection"));
    EXPECT_FALSE(card.infoButton()->isVisibleTo(&card) || shown("toolsSection"));
}

TEST_F(DevicePanelTest, FactsShowBatteryFreeSpaceAndTheMeterOnlyWithAPositiveTotal)
{
    DevicePanel& card = panel(fullEnvironment());
    adb->phone(u"A1"_s)->setInfo(DeviceInfo{.battery = 37, .storageTotal = 64'000'000'000, .storageFree = 6'000'000'000});
    adbPhoneIn(u"device"_s);
    EXPECT_EQ(part("batterySymbol")->property("symbol").toString(), u"battery.25"_s);
    auto* meter = part<StorageMeter>("storageMeter");
    EXPECT_TRUE(meter->isVisibleTo(&card));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(meter)->text(QAccessible::Value), u"6 GB free of 64 GB"_s);

    DevicePanel::State state = DevicePanel::state(model());
    const std::tuple<std::optional<int64_t>, std::optional<int64_t>, bool> cases[] = {
        {0, 5, true}, {64, std::nullopt, false}, {std::nullopt, 5, true}};
    for (const auto& [total, free, freeText] : cases) {
        state.info->storageTotal = total;
        state.info->storageFree = free;
        state.info->charging = true;
        card.display(state);
        EXPECT_FALSE(meter->isVisibleTo(&card));
        EXPECT_EQ(shown("freeText"), freeText);
        EXPECT_EQ(part("batteryText")->accessibleName(), u"Battery 37 percent, charging"_s);
    }
}

// ---- tools, jobs and recording -----------------------------------------------------

TEST_F(DevicePanelTest, WhileAJobRunsOnlyCaptureIsDimmedAndTheOthersAct)
{
    DevicePanel& card = panel(fullEnvironment());
    adbPhoneIn(u"device"_s);
    DevicePanel::State state = DevicePanel::state(model());
    state.jobRunning = true;
    card.display(state);
    for (ToolButton* tool : card.tools())
        QTest::mouseClick(tool, Qt::LeftButton);
    EXPECT_EQ(card.tools().at(1)->opacity(), 0.4);
    EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 1); // the recording, and no screenshot
    EXPECT_EQ(openedWindows, (QStringList{u"mirror"_s, u"apps"_s, u"logcat"_s}));
}

// Mended: Capture disabled by its own screenshot's job handed the focus on to
// Record, and the next Space started a recording nobody asked for. The focus
// rests on the window instead, whether the window is in front or not, and
// comes back to Capture with the job's end unless Tab took it elsewhere.
TEST_F(DevicePanelTest, CaptureDisabledUnderTheFocusLeavesNoKeyToRecord)
{
    FocusRest::install();
    model().setAskWhereToSave(false);
    model().setSaveFolder(m_folder.path());
    DevicePanel& card = panel(fullEnvironment());
    adbPhoneIn(u"device"_s);
    QWidget* top = card.window();
    ToolButton* capture = card.tools().at(1);
    for (const bool inFront : {true, false}) {
        SCOPED_TRACE(inFront ? "in front" : "behind another window");
        top->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
        card.tools().at(0)->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(top->windowHandle(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), capture);
        if (inFront) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
            ASSERT_TRUE(model().job()) << "the screenshot";
        } else {
            // A job started from elsewhere while another window is in front.
            QWidget other;
            other.show();
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            DevicePanel::State state = DevicePanel::state(model());
            state.jobRunning = true;
            card.display(state);
            other.close();
            top->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(top));
        }
        EXPECT_FALSE(capture->isEnabled());
        EXPECT_EQ(QApplication::focusWidget(), top);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 0) << "no recording";
        EXPECT_FALSE(model().recordingStarted());
        QWidget* tabbed = nullptr;
        if (!inFront) {
            QTest::keyClick(top->windowHandle(), Qt::Key_Tab);
            tabbed = QApplication::focusWidget();
            EXPECT_NE(tabbed, top) << "Tab goes on from the window";
        }
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
        card.display(DevicePanel::state(model()));
        ASSERT_TRUE(capture->isEnabled());
        EXPECT_EQ(QApplication::focusWidget(), inFront ? capture : tabbed);
    }
}

// Mended: the details button hidden under the focus (the phone asking for
// permission again while it records) handed the focus on past the dimmed
// tools to the recording badge, and the next Space started a recording. The
// focus rests on the window as for a disabled control, in front or behind,
// and comes back with the button unless Tab took it elsewhere.
TEST_F(DevicePanelTest, TheDetailsButtonHiddenUnderTheFocusLeavesNoKeyToTheBadge)
{
    FocusRest::install();
    DevicePanel& card = panel(fullEnvironment());
    adbPhoneIn(u"device"_s);
    QWidget* top = card.window();
    QToolButton* info = card.infoButton();
    for (const bool inFront : {true, false}) {
        SCOPED_TRACE(inFront ? "in front" : "behind another window");
        DevicePanel::State state = DevicePanel::state(model());
        state.recordingStarted = QDateTime::currentDateTimeUtc();
        card.display(state);
        top->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(top));
        info->setFocus(Qt::OtherFocusReason);
        ASSERT_EQ(QApplication::focusWidget(), info);

        state.device->state = u"unauthorized"_s;
        if (inFront) {
            card.display(state);
        } else {
            QWidget other;
            other.show();
            other.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
            card.display(state);
            other.close();
            top->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(top));
        }
        ASSERT_FALSE(info->isVisible());
        ASSERT_TRUE(card.badge()->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), top);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 0) << "no recording";
        QWidget* tabbed = nullptr;
        if (!inFront) {
            QTest::keyClick(top->windowHandle(), Qt::Key_Tab);
            tabbed = QApplication::focusWidget();
            EXPECT_NE(tabbed, top) << "Tab goes on from the window";
        }

        state.device->state = u"device"_s;
        card.display(state);
        ASSERT_TRUE(info->isVisible());
        EXPECT_EQ(QApplication::focusWidget(), inFront ? info : tabbed);
    }
}

TEST_F(DevicePanelTest, ARecordingTurnsRecordIntoStopAndShowsTheBadgeEvenForAnUnreadyPhone)
{
    DevicePanel& card = panel(fullEnvironment());
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    QDateTime now = start.addSecs(65);
    card.setClock([&now] { return now; });
    adbPhoneIn(u"device"_s);
    DevicePanel::State state = DevicePanel::state(model());
    state.recordingStarted = start;
    card.display(state);
    ToolButton* record = card.tools().at(2);
    EXPECT_EQ(record->text(), u"Stop"_s);
    ASSERT_TRUE(card.badge()->isVisibleTo(&card) && card.badge()->isTicking());
    EXPECT_EQ(card.badge()->timeText(), u"Recording 1:05"_s);

    // The phone asks for permission again while it records.
    state.device->state = u"unauthorized"_s;
    now = start.addSecs(72 * 60 + 10);
    card.display(state);
    EXPECT_TRUE(shown("toolsSection"));
    EXPECT_EQ(tools(), u"00000"_s);
    EXPECT_EQ(card.badge()->timeText(), u"Recording 72:10"_s);
    QTest::mouseClick(card.badge(), Qt::LeftButton);
    EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 1);

    state.recordingStarted.reset();
    card.display(state);
    EXPECT_EQ(record->text(), u"Record"_s);
    EXPECT_FALSE(card.badge()->isVisibleTo(&card) || card.badge()->isTicking() || shown("toolsSection"));
}

// Mended: the details were a nameless popup outside the application's
// accessible tree, and the focus stayed where it was.
TEST_F(DevicePanelTest, TheDetailsAreNamedInTheTreeTakeTheFocusAndEscapeGivesItBack)
{
    adbPhoneIn(u"device"_s);
    DevicePanel& card = panel(fullEnvironment());
    QWidget* window = card.window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::mouseClick(card.infoButton(), Qt::LeftButton);
    ASSERT_TRUE(card.showingDetails());
    QWidget* popover = card.popover();

    // Found from the application down, by its name.
    const std::function<bool(QAccessibleInterface*, int)> holds = [&](QAccessibleInterface* node, int depth) {
        if (!node || depth > 12)
            return false;
        if (node->object() == popover)
            return node->text(QAccessible::Name) == u"Phone Details"_s;
        for (int child = 0; child < node->childCount(); ++child) {
            if (holds(node->child(child), depth + 1))
                return true;
        }
        return false;
    };
    EXPECT_TRUE(holds(QAccessible::queryAccessibleInterface(qApp), 0));
    QWidget* focused = QApplication::focusWidget();
    EXPECT_TRUE(focused && (focused == popover || popover->isAncestorOf(focused)));

    QTest::keyClick(focused ? focused : window, Qt::Key_Escape);
    EXPECT_FALSE(card.showingDetails());
    EXPECT_EQ(QApplication::focusWidget(), card.infoButton());

    // A press on the button while open only closes it.
    QTest::mouseClick(card.infoButton(), Qt::LeftButton);
    ASSERT_TRUE(card.showingDetails());
    QTest::mouseClick(card.infoButton(), Qt::LeftButton);
    EXPECT_FALSE(card.showingDetails());
}

// Mended: the panel showed the one recording of the model on every phone:
// with B chosen, B's Record read "Stop", its badge counted A's time, and
// Stop stopped A's recording.
TEST_F(DevicePanelTest, ThePanelShowsTheChosenPhonesOwnRecording)
{
    QTemporaryDir tools;
    testsupport::writeScript(tools.path(), u"recorder"_s,
                             "#!/bin/sh\nfor i in $(seq 500); do [ -e '" + tools.path().toUtf8() +
                                 "/stopped-'\"$2\" ] && exit 0; sleep 0.02; done\n");
    adb->setStreamTool(tools.filePath(u"recorder"_s));
    adb->onRun([&tools](const QStringList& args) {
        if (args.last() == u"pkill -INT screenrecord"_s)
            QFile(tools.filePath(u"stopped-"_s + args[1])).open(QIODevice::WriteOnly);
        if (args.size() == 5 && args[2] == u"pull"_s)
            QFile(args[4]).open(QIODevice::WriteOnly);
        return QString();
    });
    model().setSaveFolder(tools.path());
    DevicePanel& card = panel(fullEnvironment());
    adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"A2"_s)});
    for (const QString& serial : {u"A1"_s, u"A2"_s})
        adb->phone(serial)->setFolder(u"/sdcard"_s, {});
    pass();
    model().setSelectedSerial(u"A1"_s);
    ToolButton* record = card.tools().at(2);
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_EQ(record->text(), u"Stop"_s);
    // No settling while the recorders run: they keep workers busy.
    model().setSelectedSerial(u"A2"_s);
    EXPECT_EQ(record->text(), u"Record"_s);
    EXPECT_FALSE(card.badge()->isVisibleTo(&card));
    QTest::mouseClick(record, Qt::LeftButton); // B's own recording
    EXPECT_EQ(adb->callsStartingWith(u"stream -s A2 "_s), 1);
    EXPECT_EQ(adb->calls(u"run -s A1 shell pkill -INT screenrecord"_s), 0);
    model().setSelectedSerial(u"A1"_s);
    EXPECT_EQ(record->text(), u"Stop"_s);
    EXPECT_TRUE(card.badge()->isVisibleTo(&card));
    QTest::mouseClick(card.badge(), Qt::LeftButton);
    model().setSelectedSerial(u"A2"_s);
    QTest::mouseClick(record, Qt::LeftButton);
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().hasRecordingsToKeep(); }));
    settle();
    EXPECT_EQ(record->text(), u"Record"_s);
    EXPECT_EQ(adb->calls(u"run -s A1 shell pkill -INT screenrecord"_s), 1);
    EXPECT_EQ(adb->calls(u"run -s A2 shell pkill -INT screenrecord"_s), 1);
}

} // namespace
