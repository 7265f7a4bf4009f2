// The transfer capsule over the browser: the spinner until progress is
// known, the percentage clamped and in the locale's form, Stop and Escape
// only for a job that can be stopped, and no redrawing for a change that
// does not show.

#include "BrowserPane.h"
#include "DetailView.h"
#include "TransferHUD.h"
#include "TestSupport.h"
#include "WindowFixture.h"

#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>

using namespace windowtest;

namespace {

class TransferCapsule : public WindowTest {
protected:
    // A copy to the computer that reports `fraction` and then waits.
    TransferHUD& runningCopy(double fraction)
    {
        adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"))});
        model().setAskWhereToSave(false);
        model().setSaveFolder(saved.path());
        adb->phone(QStringLiteral("A1"))->onTransfer([fraction](const QString&, const Progress& progress, const Cancel& cancel) {
            progress(fraction);
            testsupport::waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
        DetailView& pane = show<DetailView>(bareEnvironment(), QSize(700, 500));
        TransferHUD* hud = pane.browser()->transferHUD();
        EXPECT_TRUE(hud->isHidden());
        model().download({file(QStringLiteral("a.jpg"))});
        EXPECT_FALSE(hud->isHidden());
        spinnerFirst = hud->showsSpinner() && hud->percentText().isEmpty();
        // Over the listing, not under it, once it has slid in.
        QWidget* body = pane.browser()->bodyWidget();
        EXPECT_TRUE(testsupport::waitUntil([&] { return hud->geometry().bottom() < body->height() - 10; }));
        QWidget* top = body->childAt(hud->geometry().center());
        EXPECT_TRUE(top == hud || hud->isAncestorOf(top));
        return *hud;
    }

    QTemporaryDir saved;
    bool spinnerFirst = false; // before the first report
};

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(TransferCapsule, ShowsTheSpinnerThenThePercentageAndStopEndsTheJob)
{
    TransferHUD& hud = runningCopy(0.421);
    EXPECT_TRUE(spinnerFirst);
    ASSERT_TRUE(testsupport::waitUntil([&] { return hud.percentText() == QStringLiteral("42%"); }));
    EXPECT_FALSE(hud.showsSpinner());
    EXPECT_EQ(hud.message(), QStringLiteral("Copying “a.jpg” to Mac (1 of 1)…"));
    ASSERT_FALSE(hud.stopButton()->isHidden());
    EXPECT_EQ(hud.stopButton()->toolTip(), QStringLiteral("Stop"));
    hud.stopButton()->click();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
    EXPECT_FALSE(model().errorMessage());
}

TEST_F(TransferCapsule, EscapeInTheWindowStopsTheJob)
{
    TransferHUD& hud = runningCopy(0.1);
    QTest::keyClick(hud.window(), Qt::Key_Escape);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
}

TEST_F(TransferCapsule, ShowsWhatTheJobSaysClampedAndOnlyRedrawsForAVisibleChange)
{
    TransferHUD hud(&model());
    hud.setJob(Job{QStringLiteral("Deleting <b>x</b>…"), std::nullopt, false});
    EXPECT_TRUE(hud.stopButton()->isHidden());
    EXPECT_TRUE(hud.showsSpinner());
    // Progress -> percentage shown.
    const struct {
        double progress;
        const char* shown;
    } cases[] = {{0.0, "0%"}, {1.0, "100%"}, {1.7, "100%"}, {-0.2, "0%"}, {std::nan(""), ""}};
    for (const auto& c : cases) {
        hud.setJob(Job{QStringLiteral("Copying…"), c.progress, true});
        EXPECT_EQ(hud.percentText(), QString::fromUtf8(c.shown)) << c.progress;
    }
    EXPECT_FALSE(hud.stopButton()->isHidden());

    hud.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&hud));
    hud.setJob(Job{QStringLiteral("Copying…"), 0.42, true});
    QWidget* ring = hud.findChild<QWidget*>(QStringLiteral("ring"));
    ASSERT_TRUE(ring);
    PaintCounter counter;
    ring->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;
    hud.setJob(Job{QStringLiteral("Copying…"), 0.4200001, true});
    QCoreApplication::processEvents();
    EXPECT_EQ(counter.paints, 0);
    hud.setJob(Job{QStringLiteral("Copying…"), 0.6, true});
    QCoreApplication::processEvents();
    EXPECT_GT(counter.paints, 0);
}

} // namespace
