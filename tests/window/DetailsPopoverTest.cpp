// The phone details popover through the real adb and the fake phone.

#include "ADBTools.h"
#include "DetailsPopover.h"
#include "DevicePanel.h"
#include "FakePhoneHarness.h"
#include "PhoneFixture.h"
#include "Sidebar.h"
#include "TestSupport.h"
#include "WindowFixture.h"

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
        return FakeAdbSource::locate() ? std::optional(ADB(QStringLiteral("/usr/bin/adb"))) : std::nullopt;
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

    FakePhoneHarness& phone() { return *s_phone; }
    // The phone chosen in `state`, with the card shown.
    DevicePanel& card(const QString& state = QStringLiteral("device"))
    {
        adb->setDevices({adbPhone(phone().serial(), state)});
        adb->phone(phone().serial())->setFolder(QStringLiteral("/sdcard"), {});
        pass();
        settle();
        return *show<Sidebar>(fullEnvironment(), QSize(260, 640)).devicePanel();
    }
    // The shell text adb runs for the details, learnt from the phone.
    QString detailsCommand()
    {
        phone().clearReceived();
        ADB(QStringLiteral("/usr/bin/adb")).details(phone().serial(), Cancel());
        for (const QString& command : phone().receivedCommands()) {
            if (command.contains(QStringLiteral("Model=")))
                return command;
        }
        ADD_FAILURE() << "no details command";
        return {};
    }

    static std::unique_ptr<FakePhoneHarness> s_phone;
    static QString s_error;
};

std::unique_ptr<FakePhoneHarness> DetailsPopoverTest::s_phone;
QString DetailsPopoverTest::s_error;

TEST_F(DetailsPopoverTest, ShowsTheSpinnerThenTheAnswersRowsInItsOrder)
{
    phone().setReply(detailsCommand(),
                     {"Serial number=<b>X1</b>\nModel=Acme One\nBuild=\nAndroid=14 (API 34)\n", {}, 0, 300});
    DevicePanel& panel = card();
    QTest::mouseClick(panel.infoButton(), Qt::LeftButton);
    ASSERT_TRUE(panel.showingDetails());
    PhoneDetailsView* view = panel.popover()->view();
    EXPECT_EQ(view->findChild<QLabel*>(QStringLiteral("detailsTitle"))->text(), QStringLiteral("Phone Details"));
    EXPECT_TRUE(view->isLoading());
    ASSERT_TRUE(waitUntil([&] { return !view->isLoading(); }, 15s));
    const QList<std::pair<QString, QString>> expected{{QStringLiteral("Serial number"), QStringLiteral("<b>X1</b>")},
                                                      {QStringLiteral("Model"), QStringLiteral("Acme One")},
                                                      {QStringLiteral("Android"), QStringLiteral("14 (API 34)")}};
    EXPECT_EQ(view->rows(), expected);
    // Values can be selected and copied, labels cannot; neither is markup.
    for (QLabel* label : view->findChild<QWidget*>(QStringLiteral("detailsGrid"))->findChildren<QLabel*>()) {
        const bool isValue = label->text() == QStringLiteral("<b>X1</b>") || label->text() == QStringLiteral("Acme One") ||
                             label->text().startsWith(QStringLiteral("14"));
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
        EXPECT_EQ(bool(label->textInteractionFlags() & Qt::TextSelectableByMouse), isValue) << label->text().toStdString();
    }
    const QByteArray keep = qgetenv("VT_SCREENSHOTS");
    if (!keep.isEmpty())
        panel.popover()->grab().save(QString::fromLocal8Bit(keep) + QStringLiteral("/details-popover.png"));
    panel.popover()->close();
    EXPECT_FALSE(panel.showingDetails());
}

TEST_F(DetailsPopoverTest, APhoneNoLongerReadyOverAdbFailsAtOnce)
{
    for (const QString& state : {QStringLiteral("unauthorized"), QStringLiteral("offline")}) {
        card(state);
        PhoneDetailsView view(&model());
        view.show();
        EXPECT_TRUE(view.hasFailed()) << state.toStdString();
        EXPECT_EQ(view.findChild<QLabel*>(QStringLiteral("detailsFailure"))->text(),
                  QStringLiteral("The phone didn’t answer."));
    }
}

TEST_F(DetailsPopoverTest, AFailedCommandReadsTheSameSentence)
{
    phone().setReply(detailsCommand(), {{}, "error: closed\n", 1, 0});
    DevicePanel& panel = card();
    QTest::mouseClick(panel.infoButton(), Qt::LeftButton);
    PhoneDetailsView* view = panel.popover()->view();
    ASSERT_TRUE(waitUntil([&] { return !view->isLoading(); }, 15s));
    EXPECT_TRUE(view->hasFailed());
    EXPECT_TRUE(view->rows().isEmpty());
}

TEST_F(DetailsPopoverTest, ClosingBeforeTheAnswerLeavesNoAdbBehind)
{
    phone().setReply(detailsCommand(), {"Model=Late\n", {}, 0, 20000});
    DevicePanel& panel = card();
    QTest::mouseClick(panel.infoButton(), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([] { return !phonetest::adbClientsWith(QStringLiteral("Model=")).isEmpty(); }, 10s));
    panel.popover()->close();
    EXPECT_FALSE(panel.showingDetails());
    EXPECT_TRUE(waitUntil([] { return phonetest::adbClientsWith(QStringLiteral("Model=")).isEmpty(); }, 5s))
        << phonetest::adbClientsWith(QStringLiteral("Model=")).join(QLatin1Char('\n')).toStdString();
}

} // namespace
