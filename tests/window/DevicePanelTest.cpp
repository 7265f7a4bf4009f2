// The device panel: what the card shows for each state of the chosen phone,
// its rules (subtitle, battery, connection badge, storage meter, recording
// time), and what its tools do.

#include "Accessibility.h"
#include "DevicePanel.h"
#include "DevicePanelViews.h"
#include "Look.h"
#include "Sidebar.h"
#include "StorageMeter.h"
#include "Theme.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QToolButton>

#include <gtest/gtest.h>

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
    DevicePanel& panel(const Environment& env)
    {
        return *show<Sidebar>(env, QSize(260, 640)).devicePanel();
    }
    template <class W = QWidget>
    W* part(DevicePanel& panel, const char* name)
    {
        W* found = panel.findChild<W*>(QString::fromLatin1(name));
        EXPECT_TRUE(found) << name;
        return found;
    }
    QString badgeOf(DevicePanel& panel) { return part<DeviceTile>(panel, "deviceTile")->badgeSymbol(); }
    bool shown(DevicePanel& panel, const char* name) { return part(panel, name)->isVisibleTo(&panel); }
};

// ---- the rules ---------------------------------------------------------------------

TEST(DevicePanelRules, SubtitleJoinsTheFactsElseNamesTheConnection)
{
    const Device usb = adbPhone(QStringLiteral("A1"));
    const Device wifi = adbPhone(QStringLiteral("192.168.1.5:5555"));
    const Device files = mtpPhone(QStringLiteral("M1"));
    const struct {
        Device device;
        std::optional<DeviceInfo> info;
        QString expected;
    } cases[] = {
        {usb, facts(QStringLiteral("Google"), QStringLiteral("14")), QStringLiteral("Google · Android 14")},
        {usb, facts(QStringLiteral(""), QStringLiteral("14")), QStringLiteral("Android 14")},
        {wifi, facts(QStringLiteral("Google"), std::nullopt), QStringLiteral("Google")},
        {usb, std::nullopt, QStringLiteral("USB")},
        {wifi, std::nullopt, QStringLiteral("Wi-Fi")},
        {files, std::nullopt, QStringLiteral("File transfer")},
        {files, facts(QStringLiteral(""), QStringLiteral("")), QStringLiteral("File transfer")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DevicePanel::subtitle(c.device, c.info), c.expected) << c.device.serial.toStdString();
}

TEST(DevicePanelRules, BatterySymbolAndRedByLevel)
{
    const struct {
        int level;
        bool charging;
        const char* symbol;
        bool red;
    } cases[] = {
        {12, false, "battery.0", true},   {13, false, "battery.25", true},  {15, false, "battery.25", true},
        {16, false, "battery.25", false}, {37, false, "battery.25", false}, {38, false, "battery.50", false},
        {62, false, "battery.50", false}, {63, false, "battery.75", false}, {87, false, "battery.75", false},
        {88, false, "battery.100", false}, {100, false, "battery.100", false}, {5, true, "battery.100.bolt", false},
        {-4, false, "battery.0", true},   {140, false, "battery.100", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DevicePanel::battery(c.level, c.charging), (DevicePanel::BatteryLook{QString::fromLatin1(c.symbol), c.red}))
            << c.level;
}

TEST(DevicePanelRules, TileBadgeTestsWiFiFirstAndItsHelpFileTransferFirst)
{
    const struct {
        Device device;
        const char* badge;
        const char* help;
    } cases[] = {
        {adbPhone(QStringLiteral("A1")), "cable.connector", "Connected over USB"},
        {adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized")), "lock.fill", "Connected over USB"},
        {adbPhone(QStringLiteral("10.0.0.2:5555")), "wifi", "Connected over Wi-Fi"},
        {mtpPhone(QStringLiteral("M1")), "folder.fill", "Connected for file transfer"},
        {mtpPhone(QStringLiteral("10.0.0.2:1")), "wifi", "Connected for file transfer"},
        {mtpPhone(QStringLiteral("M1"), QStringLiteral("locked")), "lock.fill", "Connected for file transfer"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(DeviceTile::badgeSymbol(c.device), QString::fromLatin1(c.badge)) << c.device.serial.toStdString();
        EXPECT_EQ(DeviceTile::helpText(c.device), QString::fromLatin1(c.help)) << c.device.serial.toStdString();
    }
}

TEST(DevicePanelRules, MeterIsOrangeAboveNinetyPercentAndNeverShorterThanFour)
{
    const QColor orange = Look::orange();
    const QColor accent = Theme::accent(false);
    const struct {
        int64_t total, free;
        qreal width; // of a 200 track
        QColor color;
    } cases[] = {
        {64'000'000'000, 6'000'000'000, 181.25, orange},
        {64'000'000'000, 6'400'000'000, 180, accent},
        {64'000'000'000, 63'999'999'000, 4, accent},
        {64'000'000'000, 0, 200, orange},
        {1000, 2000, 4, accent}, // more free than the total
        {1000, -50, 200, orange},
        {0, 0, 4, accent},
    };
    for (const auto& c : cases) {
        const double fraction = StorageMeter::fraction(c.total, c.free);
        EXPECT_DOUBLE_EQ(StorageMeter::barWidth(200, fraction), c.width) << c.free;
        EXPECT_EQ(StorageMeter::barColor(fraction, false), c.color) << c.free;
    }
    EXPECT_EQ(StorageMeter::text(64'000'000'000, 6'000'000'000), QStringLiteral("6 GB free of 64 GB"));
}

TEST(DevicePanelRules, RecordingTimeHasMinutesAndTwoDigitSecondsOnly)
{
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    const struct {
        qint64 ms;
        const char* text;
    } cases[] = {{0, "Recording 0:00"}, {999, "Recording 0:00"}, {65'000, "Recording 1:05"},
                 {3'600'000, "Recording 60:00"}, {(72 * 60 + 10) * 1000, "Recording 72:10"},
                 {-3'000, "Recording 0:00"}};
    for (const auto& c : cases)
        EXPECT_EQ(RecordingBadge::elapsedText(start, start.addMSecs(c.ms)), QString::fromUtf8(c.text)) << c.ms;
}

// ---- the card per state ------------------------------------------------------------

TEST_F(DevicePanelTest, NoPhoneTakesNoSpace)
{
    Sidebar& bar = show<Sidebar>(fullEnvironment(), QSize(260, 640));
    EXPECT_TRUE(bar.devicePanel()->isHidden());
    EXPECT_EQ(bar.list()->mapTo(&bar, QPoint(0, 0)).y(), 0);
}

TEST_F(DevicePanelTest, EachStateShowsItsHeaderLineAndTools)
{
    DevicePanel& card = panel(fullEnvironment());

    adbPhoneIn(QStringLiteral("unauthorized"));
    EXPECT_EQ(badgeOf(card), QStringLiteral("lock.fill"));
    EXPECT_EQ(part<QLabel>(card, "deviceName")->text(), QStringLiteral("Pixel 7"));
    EXPECT_TRUE(shown(card, "stateLine"));
    const auto lines = part(card, "stateLine")->findChildren<QLabel*>();
    EXPECT_EQ(lines.last()->text(), QStringLiteral("Waiting for permission"));
    EXPECT_EQ(lines.last()->palette().color(QPalette::WindowText), Look::orange());
    EXPECT_FALSE(card.infoButton()->isVisibleTo(&card));
    EXPECT_FALSE(shown(card, "toolsSection"));
    EXPECT_FALSE(shown(card, "factsSection"));

    // Ready over adb, its facts not read yet.
    adbPhoneIn(QStringLiteral("device"));
    DevicePanel::State state = DevicePanel::state(model());
    state.info.reset();
    card.display(state);
    EXPECT_EQ(badgeOf(card), QStringLiteral("cable.connector"));
    EXPECT_TRUE(card.infoButton()->isVisibleTo(&card));
    EXPECT_FALSE(shown(card, "factsSection"));
    EXPECT_FALSE(shown(card, "stateLine"));
    EXPECT_TRUE(shown(card, "toolsSection"));
    for (ToolButton* tool : card.tools())
        EXPECT_TRUE(tool->isEnabled()) << tool->text().toStdString();
    EXPECT_EQ(part<QLabel>(card, "deviceSubtitle")->text(), QStringLiteral("USB"));

    adb->setDevices({});
    mtp->phone(QStringLiteral("M1"))->setInfo(facts(QStringLiteral("Samsung"), QStringLiteral("13")));
    readyMtpPhone();
    EXPECT_EQ(badgeOf(card), QStringLiteral("folder.fill"));
    EXPECT_EQ(part(card, "deviceTile")->toolTip(), QStringLiteral("Connected for file transfer"));
    EXPECT_EQ(part<QLabel>(card, "deviceSubtitle")->text(), QStringLiteral("Samsung · Android 13"));
    EXPECT_TRUE(shown(card, "factsSection"));
    EXPECT_FALSE(card.infoButton()->isVisibleTo(&card));
    EXPECT_FALSE(shown(card, "toolsSection"));
}

TEST_F(DevicePanelTest, FactsShowBatteryFreeSpaceAndTheMeterOnlyWithAPositiveTotal)
{
    DevicePanel& card = panel(fullEnvironment());
    DeviceInfo info;
    info.battery = 37;
    info.storageTotal = 64'000'000'000;
    info.storageFree = 6'000'000'000;
    adb->phone(QStringLiteral("A1"))->setInfo(info);
    adbPhoneIn(QStringLiteral("device"));
    EXPECT_EQ(part<QLabel>(card, "batteryText")->text(), QStringLiteral("37%"));
    EXPECT_EQ(part(card, "batteryText")->accessibleName(), QStringLiteral("Battery 37 percent"));
    EXPECT_EQ(part(card, "batterySymbol")->property("symbol").toString(), QStringLiteral("battery.25"));
    EXPECT_EQ(part<QLabel>(card, "freeText")->text(), QStringLiteral("6 GB free"));
    auto* meter = part<StorageMeter>(card, "storageMeter");
    EXPECT_TRUE(meter->isVisibleTo(&card));
    EXPECT_EQ(meter->toolTip(), QStringLiteral("6 GB free of 64 GB"));
    QAccessibleInterface* element = QAccessible::queryAccessibleInterface(meter);
    EXPECT_EQ(element->text(QAccessible::Name), QStringLiteral("Storage"));
    EXPECT_EQ(element->text(QAccessible::Value), QStringLiteral("6 GB free of 64 GB"));
    EXPECT_EQ(element->childCount(), 0);

    DevicePanel::State state = DevicePanel::state(model());
    const struct {
        std::optional<int64_t> total, free;
        bool meter, freeText;
    } cases[] = {{0, 5, false, true}, {64, std::nullopt, false, false}, {std::nullopt, 5, false, true}};
    for (const auto& c : cases) {
        state.info->storageTotal = c.total;
        state.info->storageFree = c.free;
        state.info->charging = true;
        card.display(state);
        EXPECT_EQ(meter->isVisibleTo(&card), c.meter);
        EXPECT_EQ(part(card, "freeText")->isVisibleTo(&card), c.freeText);
        EXPECT_EQ(part(card, "batteryText")->accessibleName(), QStringLiteral("Battery 37 percent, charging"));
    }
}

TEST_F(DevicePanelTest, PhoneTextsAreShownAsPlainText)
{
    DevicePanel& card = panel(fullEnvironment());
    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("device"), QStringLiteral("<b>Bold</b> &amp;"))});
    adb->phone(QStringLiteral("A1"))->setInfo(facts(QStringLiteral("<i>Acme</i>"), QStringLiteral("14")));
    pass();
    settle();
    for (const char* name : {"deviceName", "deviceSubtitle"})
        EXPECT_EQ(part<QLabel>(card, name)->textFormat(), Qt::PlainText);
    EXPECT_EQ(part<QLabel>(card, "deviceName")->text(), QStringLiteral("<b>Bold</b> &amp;"));
    EXPECT_TRUE(Accessibility::isHidden(part(card, "deviceTile")));
}

// ---- tools, jobs and recording -----------------------------------------------------

TEST_F(DevicePanelTest, WhileAJobRunsOnlyCaptureIsDimmedAndTheOthersAct)
{
    DevicePanel& card = panel(fullEnvironment());
    adbPhoneIn(QStringLiteral("device"));
    DevicePanel::State state = DevicePanel::state(model());
    state.jobRunning = true;
    card.display(state);
    for (ToolButton* tool : card.tools())
        QTest::mouseClick(tool, Qt::LeftButton);
    EXPECT_EQ(card.tools().at(1)->opacity(), 0.4);
    EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 1); // the recording, and no screenshot
    EXPECT_EQ(openedWindows, (QStringList{QStringLiteral("mirror"), QStringLiteral("apps"), QStringLiteral("logcat")}));

    QStringList names;
    for (ToolButton* tool : card.tools())
        names.append(QAccessible::queryAccessibleInterface(tool)->text(QAccessible::Name));
    EXPECT_EQ(names, (QStringList{"Mirror", "Capture", "Record", "Apps", "Logcat"}));
}

TEST_F(DevicePanelTest, ToolsWithoutTheirWindowAreDisabled)
{
    DevicePanel& card = panel(bareEnvironment());
    adbPhoneIn(QStringLiteral("device"));
    QString enabled;
    for (ToolButton* tool : card.tools())
        enabled += tool->isEnabled() ? u'1' : u'0';
    EXPECT_EQ(enabled, u"01100"_s); // only the model's own capture tools
    EXPECT_EQ(card.tools().at(0)->opacity(), 0.4);
}

TEST_F(DevicePanelTest, ARecordingTurnsRecordIntoStopAndShowsTheBadgeEvenForAnUnreadyPhone)
{
    DevicePanel& card = panel(fullEnvironment());
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000, Qt::UTC);
    QDateTime now = start.addSecs(65);
    card.setClock([&now] { return now; });
    adbPhoneIn(QStringLiteral("device"));
    DevicePanel::State state = DevicePanel::state(model());
    state.recordingStarted = start;
    card.display(state);
    ToolButton* record = card.tools().at(2);
    EXPECT_EQ(record->text(), QStringLiteral("Stop"));
    EXPECT_EQ(record->symbolName(), QStringLiteral("stop.circle.fill"));
    EXPECT_EQ(record->tint(), Look::red());
    EXPECT_EQ(record->toolTip(), QStringLiteral("Record the screen to a video, up to 3 minutes (⌥⌘R)"));
    ASSERT_TRUE(card.badge()->isVisibleTo(&card));
    EXPECT_EQ(card.badge()->timeText(), QStringLiteral("Recording 1:05"));
    EXPECT_TRUE(card.badge()->isTicking());

    // The phone asks for permission again while it records.
    state.device->state = QStringLiteral("unauthorized");
    now = start.addSecs(72 * 60 + 10);
    card.display(state);
    EXPECT_TRUE(shown(card, "toolsSection"));
    for (ToolButton* tool : card.tools()) {
        EXPECT_FALSE(tool->isEnabled()) << tool->text().toStdString();
        EXPECT_EQ(tool->opacity(), 0.4);
    }
    EXPECT_EQ(card.badge()->timeText(), QStringLiteral("Recording 72:10"));
    QTest::mouseClick(card.badge(), Qt::LeftButton);
    EXPECT_EQ(adb->callsStartingWith(u"stream "_s), 1);

    state.recordingStarted.reset();
    card.display(state);
    EXPECT_EQ(record->text(), QStringLiteral("Record"));
    EXPECT_FALSE(card.badge()->isVisibleTo(&card));
    EXPECT_FALSE(card.badge()->isTicking());
    EXPECT_FALSE(shown(card, "toolsSection"));
}

} // namespace

namespace {

// Not a check: with VT_SCREENSHOTS set, saves the sidebar with a recording
// card there, in a light and a dark palette.
TEST_F(DevicePanelTest, Screenshots)
{
    const QString folder = qEnvironmentVariable("VT_SCREENSHOTS");
    if (folder.isEmpty())
        GTEST_SKIP() << "VT_SCREENSHOTS not set";
    DeviceInfo info = facts(QStringLiteral("Google"), QStringLiteral("14"));
    info.battery = 37;
    info.storageTotal = 128'000'000'000;
    info.storageFree = 41'300'000'000;
    adb->phone(QStringLiteral("A1"))->setInfo(info);
    adbPhoneIn(QStringLiteral("device"));
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(40, 40, 42));
    dark.setColor(QPalette::WindowText, QColor(235, 235, 235));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::Text, QColor(235, 235, 235));
    dark.setColor(QPalette::Button, QColor(55, 55, 58));
    dark.setColor(QPalette::ButtonText, QColor(235, 235, 235));
    for (const auto& [name, palette] : {std::pair{"light", light}, std::pair{"dark", dark}}) {
        QApplication::setPalette(palette);
        Sidebar& bar = show<Sidebar>(fullEnvironment(), QSize(260, 640));
        DevicePanel::State state = DevicePanel::state(model());
        state.recordingStarted = QDateTime::currentDateTimeUtc().addSecs(-83);
        bar.devicePanel()->display(state);
        QTest::qWait(50);
        EXPECT_TRUE(bar.grab().save(folder + QStringLiteral("/device-panel-") + QLatin1String(name) + QStringLiteral(".png")));
    }
    QApplication::setPalette(light);
}

} // namespace
