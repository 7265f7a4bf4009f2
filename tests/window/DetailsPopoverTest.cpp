// The phone details popover through the real adb and the fake phone.

#include "ADBTools.h"
#include "DetailsPopover.h"
#include "DevicePanel.h"
#include "FakePhoneHarness.h"
#include "PhoneFixture.h"
#include "Sidebar.h"
#include "TestSupport.h"
#include "WindowFixture.h"
#include "WorkerPool.h"

#include <QLabel>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace windowtest;
using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

// The model's adb is the real tool; its phone list is the test's.
class LocatedAdb : public browsertest::FakeAdbSource {
public:
    std::optional<ADB> locate() override
    {
        return FakeAdbSource::locate() ? std::optional(ADB(u"/usr/bin/adb"_s)) : std::nullopt;
    }
};

class DetailsPopoverTest : public WindowTest {
public:
    static void SetUpTestSuite()
    {
        s_phone = std::make_unique<FakePhoneHarness>();
        if (!s_phone->start(&s_error))
            s_phone.reset();
    }
    static void TearDownTestSuite() { s_phone.reset(); }

protected:
    DetailsPopoverTest() { adb = std::make_shared<LocatedAdb>(); }
    ~DetailsPopoverTest() override
    {
        if (s_phone)
            s_phone->clearReplies();
    }
    void SetUp() override { ASSERT_TRUE(s_phone) << "the fake phone did not start: " << s_error.toStdString(); }

    // The phone chosen in `state`, the card shown, the details command
    // answered with `reply`, and the information button clicked.
    DevicePanel& opened(const FakePhoneHarness::Reply& reply, const QString& state = u"device"_s)
    {
        // The shell text adb runs for the details, learnt from the phone.
        s_phone->clearReceived();
        ADB(u"/usr/bin/adb"_s).details(s_phone->serial(), Cancel());
        for (const QString& command : s_phone->receivedCommands()) {
            if (command.contains(u"Model="_s))
                s_phone->setReply(command, reply);
        }
        adb->setDevices({adbPhone(s_phone->serial(), state)});
        adb->phone(s_phone->serial())->setFolder(u"/sdcard"_s, {});
        pass();
        settle();
        DevicePanel& panel = *show<Sidebar>(fullEnvironment(), QSize(260, 640)).devicePanel();
        if (state == u"device"_s)
            QTest::mouseClick(panel.infoButton(), Qt::LeftButton);
        return panel;
    }

    static std::unique_ptr<FakePhoneHarness> s_phone;
    static QString s_error;
};

std::unique_ptr<FakePhoneHarness> DetailsPopoverTest::s_phone;
QString DetailsPopoverTest::s_error;

TEST_F(DetailsPopoverTest, ShowsTheSpinnerThenTheAnswersRowsInItsOrder)
{
    DevicePanel& panel = opened({"Serial number=<b>X1</b>\nModel=Acme One\nBuild=\nAndroid=14 (API 34)\n", {}, 0, 300});
    ASSERT_TRUE(panel.showingDetails());
    PhoneDetailsView* view = panel.popover()->view();
    EXPECT_TRUE(view->isLoading());
    ASSERT_TRUE(waitUntil([&] { return !view->isLoading(); }, 15s));
    const QList<std::pair<QString, QString>> expected{
        {u"Serial number"_s, u"<b>X1</b>"_s}, {u"Model"_s, u"Acme One"_s}, {u"Android"_s, u"14 (API 34)"_s}};
    EXPECT_EQ(view->rows(), expected);
    // Values can be selected and copied, labels cannot; neither is markup.
    for (QLabel* label : view->findChild<QWidget*>(u"detailsGrid"_s)->findChildren<QLabel*>()) {
        const bool isValue = std::any_of(expected.begin(), expected.end(), [&](auto& row) { return row.second == label->text(); });
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(bool(label->textInteractionFlags() & Qt::TextSelectableByMouse), isValue) << label->text().toStdString();
    }
}

TEST_F(DetailsPopoverTest, APhoneNoLongerReadyOrAFailedCommandReadTheSameSentence)
{
    opened({}, u"unauthorized"_s);
    PhoneDetailsView unready(&model());
    unready.show();
    EXPECT_TRUE(unready.hasFailed());
    PhoneDetailsView* view = opened({{}, "error: closed\n", 1, 0}).popover()->view();
    ASSERT_TRUE(waitUntil([&] { return !view->isLoading(); }, 15s));
    EXPECT_TRUE(view->hasFailed());
    EXPECT_TRUE(view->rows().isEmpty());
}

// Mended: with no thread for adb, showing the details ended the application.
TEST_F(DetailsPopoverTest, DetailsThatGetNoThreadReadAsAFailure)
{
    PhoneDetailsView* first = opened({"Model=Acme One\n", {}, 0, 0}).popover()->view();
    ASSERT_TRUE(waitUntil([&] { return !first->isLoading(); }, 15s));
    PhoneDetailsView view(&model());
    WorkerPool::shared().refuseThreadsForTesting(true);
    EXPECT_NO_THROW(view.show());
    WorkerPool::shared().refuseThreadsForTesting(false);
    ASSERT_TRUE(waitUntil([&] { return !view.isLoading(); }, 30s));
    EXPECT_TRUE(view.hasFailed());
}

TEST_F(DetailsPopoverTest, ClosingBeforeTheAnswerLeavesNoAdbBehind)
{
    DevicePanel& panel = opened({"Model=Late\n", {}, 0, 20000});
    const auto running = [] { return phonetest::adbClientsWith(u"Model="_s); };
    ASSERT_TRUE(waitUntil([&] { return !running().isEmpty(); }, 10s));
    panel.popover()->close();
    EXPECT_FALSE(panel.showingDetails());
    EXPECT_TRUE(waitUntil([&] { return running().isEmpty(); }, 30s)) << running().join(u'\n').toStdString();
}

} // namespace
