// The transfer capsule over the browser: the spinner until progress is
// known, the percentage clamped, Stop and Escape only for a job that can be
// stopped.

#include "BrowserPane.h"
#include "DetailView.h"
#include "TransferHUD.h"
#include "TestSupport.h"
#include "WindowFixture.h"

#include <QTemporaryDir>
#include <QToolButton>

#include <cmath>

using namespace windowtest;
using testsupport::waitUntil;

namespace {

class TransferCapsule : public WindowTest {
protected:
    // A copy to the computer that reports `fraction` and then waits for Stop.
    TransferHUD& runningCopy(double fraction)
    {
        adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
        model().setAskWhereToSave(false);
        model().setSaveFolder(saved.path());
        adb->phone(u"A1"_s)->onTransfer([fraction](const QString&, const Progress& progress, const Cancel& cancel) {
            progress(fraction);
            waitUntil([&] { return cancel.isCancelled(); });
            cancel.check();
        });
        DetailView& pane = show<DetailView>(bareEnvironment(), QSize(700, 500));
        TransferHUD* hud = pane.browser()->transferHUD();
        EXPECT_TRUE(hud->isHidden());
        model().download({file(u"a.jpg"_s)});
        EXPECT_FALSE(hud->isHidden());
        spinnerFirst = hud->showsSpinner() && hud->percentText().isEmpty();
        // Over the listing, not under it, once it has slid in.
        QWidget* body = pane.browser()->bodyWidget();
        EXPECT_TRUE(waitUntil([&] { return hud->geometry().bottom() < body->height() - 10; }));
        QWidget* top = body->childAt(hud->geometry().center());
        EXPECT_TRUE(top == hud || hud->isAncestorOf(top));
        return *hud;
    }

    QTemporaryDir saved;
    bool spinnerFirst = false; // before the first report
};

TEST_F(TransferCapsule, ShowsTheSpinnerThenThePercentageAndStopOrEscapeEndsTheJob)
{
    for (bool escape : {false, true}) {
        TransferHUD& hud = runningCopy(0.421);
        EXPECT_TRUE(spinnerFirst);
        ASSERT_TRUE(waitUntil([&] { return hud.percentText() == u"42%"_s; }));
        EXPECT_FALSE(hud.showsSpinner());
        EXPECT_EQ(hud.message(), u"Copying “a.jpg” to computer (1 of 1)…"_s);
        ASSERT_FALSE(hud.stopButton()->isHidden());
        if (escape)
            QTest::keyClick(hud.window(), Qt::Key_Escape);
        else
            hud.stopButton()->click();
        ASSERT_TRUE(waitUntil([&] { return !model().job(); }));
        EXPECT_FALSE(model().errorMessage());
    }
}

TEST_F(TransferCapsule, ShowsWhatTheJobSaysClamped)
{
    TransferHUD hud(&model());
    hud.setJob(Job{u"Deleting <b>x</b>…"_s, std::nullopt, false});
    EXPECT_TRUE(hud.stopButton()->isHidden());
    EXPECT_TRUE(hud.showsSpinner());
    const std::pair<double, const char*> cases[] = {{0.0, "0%"}, {1.0, "100%"}, {1.7, "100%"}, {-0.2, "0%"}, {std::nan(""), ""}};
    for (const auto& [progress, shown] : cases) {
        hud.setJob(Job{u"Copying…"_s, progress, true});
        EXPECT_EQ(hud.percentText(), QString::fromUtf8(shown)) << progress;
    }
    EXPECT_FALSE(hud.stopButton()->isHidden());
}

} // namespace
