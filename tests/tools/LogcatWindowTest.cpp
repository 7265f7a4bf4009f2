#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "LogRow.h"
#include "LogcatModel.h"
#include "LogcatView.h"
#include "LogcatWindow.h"
#include "Look.h"
#include "NeedsDebuggingView.h"
#include "PhoneFixture.h"
#include "TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using browsertest::adbPhone;
using browsertest::mtpPhone;
using testsupport::waitUntil;

const QString kLogCommand = FakePhoneHarness::logcatCommand({"-v", "threadtime", "-T", "1000"});

QString entry(qint64 index)
{
    return QString::fromUtf8(FakePhoneHarness::logEntry(index));
}

// The browser model's adb, located at a path of the test's choosing.
class LocatedAdb : public browsertest::FakeAdbSource {
public:
    QString path = QStringLiteral("/usr/bin/adb");
    std::optional<ADB> locate() override
    {
        return FakeAdbSource::locate() ? std::optional(ADB(path)) : std::nullopt;
    }
};

class LogcatWindowTest : public browsertest::ModelTest {
public:
    static void SetUpTestSuite()
    {
        s_phone = std::make_unique<FakePhoneHarness>();
        if (!s_phone->start(&s_error))
            s_phone.reset();
    }
    static void TearDownTestSuite() { s_phone.reset(); }

protected:
    LogcatWindowTest() { adb = located; }
    ~LogcatWindowTest() override
    {
        m_window.reset();
        waitUntil([] { return phonetest::adbClientsWith(QStringLiteral("logcat")).isEmpty(); }, 5s);
        if (s_phone)
            s_phone->clearReplies();
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_phone) << "the fake phone did not start: " << s_error.toStdString();
        s_phone->clearReceived();
        s_phone->setLog({});
    }

    static FakePhoneHarness& phone() { return *s_phone; }
    Device ready() const { return adbPhone(s_phone->serial(), QStringLiteral("device"), QStringLiteral("Pixel 7")); }
    // One device pass of `browser` with these phones, the first one chosen.
    void offer(const std::vector<Device>& devices, BrowserModel& browser)
    {
        adb->setDevices(devices);
        bool done = false;
        browser.refreshDevices([&done] { done = true; });
        ASSERT_TRUE(waitUntil([&done] { return done; }, 5s));
        if (!devices.empty())
            browser.setSelectedSerial(devices.front().serial);
    }
    void offer(const std::vector<Device>& devices) { offer(devices, model()); }
    LogcatWindow& window(BrowserModel* browser = nullptr)
    {
        m_window = std::make_unique<LogcatWindow>(browser ? *browser : model(), [this](LogcatModel& log) {
            log.setPrompts({[this](const QString&) {
                                ++asked;
                                return std::optional<QString>();
                            },
                            {}});
        });
        m_window->resize(960, 600);
        m_window->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_window.get()));
        return *m_window;
    }
    LogcatView& view() { return *m_window->logView(); }
    bool showsCount(const QString& text) { return waitUntil([&] { return view().countText() == text; }); }
    // Hands lines to the window's model and waits for their flush.
    void feed(const QStringList& lines)
    {
        LogcatModel& log = *m_window->logcat();
        const qint64 next = log.lines().isEmpty() ? 0 : log.lines().last().id + 1;
        log.receive(lines);
        ASSERT_TRUE(waitUntil([&] { return !log.lines().isEmpty() && log.lines().last().id >= next; }, 3s));
        QApplication::processEvents();
    }
    int commands(const QString& command) const { return int(phone().receivedCommands().count(command)); }
    QScrollBar& scroll() { return *view().list()->verticalScrollBar(); }
    LogcatModel* logcat() const { return m_window->logcat(); }

    std::shared_ptr<LocatedAdb> located = std::make_shared<LocatedAdb>();
    int asked = 0;

private:
    static inline std::unique_ptr<FakePhoneHarness> s_phone;
    static inline QString s_error;
    std::unique_ptr<LogcatWindow> m_window;
};

TEST_F(LogcatWindowTest, ShowsThePlaceholderWithoutAReadyAdbPhone)
{
    struct Case {
        const char* what;
        std::vector<Device> devices;
        bool installed = true;
    };
    const Case cases[] = {
        {"no phone", {}},
        {"unauthorized", {adbPhone(phone().serial(), QStringLiteral("unauthorized"))}},
        {"offline", {adbPhone(phone().serial(), QStringLiteral("offline"))}},
        {"over MTP", {mtpPhone(QStringLiteral("M1"))}},
        {"no adb", {ready()}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        adb->setInstalled(c.installed);
        std::unique_ptr<BrowserModel> browser = makeModel(settings());
        offer(c.devices, *browser);
        LogcatWindow& shown = window(browser.get());
        EXPECT_TRUE(shown.placeholder()->isVisible());
        EXPECT_EQ(shown.logcat(), nullptr);
        EXPECT_EQ(shown.placeholder()->symbol(), QStringLiteral("text.alignleft"));
        EXPECT_TRUE(shown.placeholder()->sentence().endsWith(QStringLiteral("read its log.")));
    }
    EXPECT_EQ(commands(kLogCommand), 0);
}

TEST_F(LogcatWindowTest, AReadyPhoneStreamsAndLaterUpdatesKeepItsLog)
{
    phone().setLog({.history = 20});
    offer({ready()});
    LogcatWindow& shown = window();
    ASSERT_NE(shown.logcat(), nullptr);
    EXPECT_TRUE(showsCount(QStringLiteral("20 lines")));
    EXPECT_EQ(view().stateText(), QStringLiteral("Live"));
    EXPECT_EQ(shown.windowTitle(), QStringLiteral("Logcat — Pixel 7"));

    LogcatModel* first = shown.logcat();
    offer({ready(), adbPhone(QStringLiteral("OTHER"), QStringLiteral("offline"))});
    EXPECT_EQ(shown.logcat(), first);
    EXPECT_EQ(commands(kLogCommand), 1);
}

TEST_F(LogcatWindowTest, AnotherPhoneGetsItsOwnLogAfterTheFirstOneCloses)
{
    FakePhoneHarness second(FakePhoneHarness::Options {.model = "Pixel_8", .shareServerOf = &phone()});
    ASSERT_TRUE(second.start());
    phone().setLog({.history = 5, .intervalMs = 50});
    second.setLog({.history = 7});
    const Device other = adbPhone(second.serial(), QStringLiteral("device"), QStringLiteral("Pixel 8"));
    offer({ready(), other});
    const qsizetype before = phone().logEvents().size();
    LogcatWindow& shown = window();
    ASSERT_TRUE(waitUntil([&] { return view().countText() != QStringLiteral("0 lines"); }));
    view().setFollow(false);

    model().setSelectedSerial(second.serial());
    ASSERT_TRUE(showsCount(QStringLiteral("7 lines")));
    EXPECT_EQ(shown.windowTitle(), QStringLiteral("Logcat — Pixel 8"));
    EXPECT_FALSE(view().follow());
    ASSERT_TRUE(waitUntil([&] { return phone().logEvents().size() == before + 2; }));
    const auto closed = phone().logEvents().last();
    const auto opened = second.logEvents().first();
    EXPECT_EQ(closed.what, QStringLiteral("closed"));
    EXPECT_EQ(opened.what, QStringLiteral("opened"));
    EXPECT_LT(closed.nanoseconds, opened.nanoseconds);
    offer({});
    second.stop();
}

TEST_F(LogcatWindowTest, AnEndedLogShowsDisconnectedAlsoWhilePaused)
{
    phone().setLog({.history = 3, .intervalMs = 50});
    offer({ready()});
    window();
    ASSERT_TRUE(waitUntil([&] { return view().countText() != QStringLiteral("0 lines"); }));
    view().findChild<QAction*>(QStringLiteral("pause"))->trigger();
    EXPECT_EQ(view().stateText(), QStringLiteral("Paused"));
    EXPECT_EQ(view().dotColor(), Look::orange());
    phone().endLog();
    ASSERT_TRUE(waitUntil([&] { return view().stateText() == QStringLiteral("Disconnected"); }));
    EXPECT_EQ(view().dotColor(), Look::secondary(view().palette()));
}

TEST_F(LogcatWindowTest, StatusAndOverlayFollowTheFilters)
{
    phone().setReply(QStringLiteral("pidof 'com.example.app'"), {.out = "1234\n812\n"});
    phone().setReply(QStringLiteral("pidof 'com.gone'"), {.status = 1});
    offer({ready()});
    window();
    EXPECT_EQ(view().overlayText(), QStringLiteral("Waiting for the phone’s log…"));
    EXPECT_EQ(view().countText(), QStringLiteral("0 lines"));
    QStringList lines;
    for (int i = 0; i < 500; ++i)
        lines << entry(i) + (i % 200 == 7 ? QStringLiteral(" needle") : QString());
    feed(lines);

    auto* search = view().findChild<QLineEdit*>(QStringLiteral("search"));
    QTest::keyClicks(search, QStringLiteral("NEEDLE"));
    EXPECT_EQ(view().countText(), QStringLiteral("3 lines"));
    EXPECT_EQ(view().overlayText(), QString());
    search->setText(QStringLiteral("zzz"));
    EXPECT_EQ(view().overlayText(), QStringLiteral("No lines match"));
    search->clear();

    auto* package = view().findChild<QLineEdit*>(QStringLiteral("package"));
    EXPECT_EQ(view().appText(), QString());
    QTest::keyClicks(package, QStringLiteral("com.example.app"));
    EXPECT_TRUE(waitUntil([&] { return view().appText() == QStringLiteral("· pid 1234, 812"); }));
    package->selectAll();
    QTest::keyClicks(package, QStringLiteral("com.gone"));
    EXPECT_TRUE(waitUntil([&] { return view().appText() == QStringLiteral("· app isn’t running"); }));
    EXPECT_EQ(view().overlayText(), QStringLiteral("No lines match"));
    package->selectAll();
    QTest::keyClick(package, Qt::Key_Delete);
    EXPECT_EQ(view().appText(), QString());
}

TEST_F(LogcatWindowTest, FollowScrollsOnlyForANewLastShownLine)
{
    offer({ready()});
    window();
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << entry(i);
    feed(lines);
    EXPECT_GT(scroll().maximum(), 0);
    EXPECT_EQ(scroll().value(), scroll().maximum());

    view().setFollow(false);
    scroll().triggerAction(QAbstractSlider::SliderToMinimum);
    feed({entry(300)});
    EXPECT_EQ(scroll().value(), 0) << "follow off";

    view().setFollow(true);
    EXPECT_EQ(scroll().value(), 0) << "turning follow on scrolls nothing yet";
    logcat()->setMinimumLevel(LogLine::Level::error);
    scroll().triggerAction(QAbstractSlider::SliderToMinimum);
    feed({entry(301)}); // a debug line, hidden
    EXPECT_EQ(scroll().value(), 0) << "a flush of hidden lines only";
    feed({entry(305)}); // an error line
    EXPECT_EQ(scroll().value(), scroll().maximum());
}

TEST_F(LogcatWindowTest, ShortcutsClearAndSaveAndRowsCopyTheirLine)
{
    offer({ready()});
    LogcatWindow& shown = window();
    QApplication::setActiveWindow(&shown);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&shown));
    feed({entry(6), entry(1)});
    QTest::keyClick(&shown, Qt::Key_K, Qt::ControlModifier);
    EXPECT_EQ(view().countText(), QStringLiteral("0 lines"));
    EXPECT_EQ(view().overlayText(), QStringLiteral("Waiting for the phone’s log…"));
    QTest::keyClick(&shown, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked, 1);

    feed({entry(6), entry(1)});
    QListView& list = *view().list();
    const QRect row = list.visualRect(list.model()->index(0, 0));
    Q_EMIT list.customContextMenuRequested(row.center());
    auto* menu = view().findChild<QMenu*>(QStringLiteral("rowMenu"));
    ASSERT_NE(menu, nullptr);
    QApplication::clipboard()->setText(QStringLiteral("before"));
    menu->actions().first()->trigger();
    menu->close();
    EXPECT_EQ(QApplication::clipboard()->text(), entry(6));
}

TEST_F(LogcatWindowTest, RowsDrawFatalOnRedCutLongTagsAndWrapLongMessages)
{
    offer({ready()});
    window();
    const QString longTag = QStringLiteral("01-15 10:00:00.000  1  2 A ") + QString(80, QLatin1Char('T')) +
                            QStringLiteral(": short");
    const QString longMessage = QStringLiteral("01-15 10:00:00.000  1  2 I Tag: ") +
                                QStringLiteral("word ").repeated(400);
    const QString huge = QStringLiteral("01-15 10:00:00.000  1  2 I Tag: ") + QString(1 << 20, QLatin1Char('x'));
    feed({longTag, longMessage, huge});
    QListView& list = *view().list();
    auto* delegate = qobject_cast<LogRow*>(list.itemDelegate());
    ASSERT_NE(delegate, nullptr);
    const QModelIndex fatal = list.model()->index(0, 0);
    const int oneLine = delegate->sizeHint({}, fatal).height();
    EXPECT_LT(oneLine, 2 * LogRow::kMinimumHeight) << "a long tag stays on one line";
    EXPECT_GT(delegate->sizeHint({}, list.model()->index(1, 0)).height(), 4 * oneLine);

    QImage image(list.viewport()->width(), oneLine, QImage::Format_ARGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    QStyleOptionViewItem option;
    option.rect = image.rect();
    option.palette = list.palette();
    delegate->paint(&painter, option, fatal);
    painter.end();
    const QRect badge = delegate->geometry(logcat()->lines().first(), image.rect()).badge;
    const QColor fill = image.pixelColor(badge.left() + 2, badge.top() + 2);
    EXPECT_GT(fill.red(), 200);
    EXPECT_LT(fill.green(), 130);
    list.grab(); // paints the huge row without freezing
}

// Not a check: with LOGCAT_SCREENSHOT set, saves the streaming window there.
TEST_F(LogcatWindowTest, Screenshot)
{
    const QString target = qEnvironmentVariable("LOGCAT_SCREENSHOT");
    if (target.isEmpty())
        GTEST_SKIP() << "LOGCAT_SCREENSHOT not set";
    phone().setLog({.history = 400, .intervalMs = 40, .burst = 3});
    offer({ready()});
    LogcatWindow& shown = window();
    ASSERT_TRUE(waitUntil([&] { return view().countText() != QStringLiteral("0 lines"); }));
    logcat()->setMinimumLevel(LogLine::Level::debug);
    view().findChild<QLineEdit*>(QStringLiteral("search"))->setText(QStringLiteral("line"));
    waitUntil([] { return false; }, 1500ms);
    EXPECT_TRUE(shown.grab().save(target));
}

TEST_F(LogcatWindowTest, ALogThatCannotStartShowsDisconnected)
{
    located->path = QStringLiteral("/nonexistent/adb");
    offer({ready()});
    window();
    EXPECT_EQ(view().stateText(), QStringLiteral("Disconnected"));
}

TEST_F(LogcatWindowTest, ClosingTheWindowStopsTheLogAndReopeningStreamsAgain)
{
    phone().setLog({.history = 4, .intervalMs = 50});
    offer({ready()});
    LogcatWindow& shown = window();
    ASSERT_TRUE(waitUntil([&] { return view().countText() != QStringLiteral("0 lines"); }));
    shown.close();
    EXPECT_EQ(shown.logcat(), nullptr);
    EXPECT_TRUE(waitUntil([] { return phonetest::adbClientsWith(QStringLiteral("logcat")).isEmpty(); }, 5s));
    shown.show();
    ASSERT_NE(shown.logcat(), nullptr);
    EXPECT_TRUE(waitUntil([&] { return view().countText() != QStringLiteral("0 lines"); }));
    EXPECT_EQ(view().stateText(), QStringLiteral("Live"));
    EXPECT_EQ(commands(kLogCommand), 2);
}

} // namespace
