// The application: its windows by identifier, the main window it opens at
// launch, and what closing the main window does by the two settings.

#include "BrowserFakes.h"
#include "ContentView.h"
#include "VantelorquistApp.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

class Application : public browsertest::ModelTest {
protected:
    // An application over fakes; `tray` tells whether a tray icon shows.
    std::unique_ptr<VantelorquistApp> launch(bool tray)
    {
        VantelorquistApp::Options options;
        options.settings = &settings();
        options.trayShown = [tray] { return tray; };
        options.makeModel = [this] {
            ++modelsMade;
            return makeModel(settings());
        };
        auto app = std::make_unique<VantelorquistApp>(std::move(options));
        app->willFinishLaunching();
        app->didFinishLaunching();
        return app;
    }

    // Whether closing the main window keeps the process: the signal and
    // the answer to the last window closing agree.
    bool closingMainStays(VantelorquistApp& app)
    {
        QWidget* main = app.windows().open(QStringLiteral("main"));
        EXPECT_TRUE(main);
        QSignalSpy entered(&app.shell(), &AppShell::enteredMenuBarMode);
        main->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        const bool stays = entered.count() == 1;
        EXPECT_EQ(stays, !app.shell().shouldQuitAfterLastWindowClosed());
        return stays;
    }

    void store(const QString& key, const QVariant& value)
    {
        if (value.isValid())
            settings().setValue(key, value);
        else
            settings().remove(key);
    }

    int modelsMade = 0;
};

} // namespace

TEST_F(Application, OpensTheMainWindowAtLaunchAndKnowsTheOthersByIdentifier)
{
    auto app = launch(false);
    auto* main = qobject_cast<ContentView*>(app->windows().window(QStringLiteral("main")));
    ASSERT_TRUE(main);
    EXPECT_TRUE(main->isVisible());
    // Known, but with nothing to show they do not open.
    for (const QString& identifier : {QStringLiteral("mirror"), QStringLiteral("settings")}) {
        EXPECT_TRUE(app->windows().isDefined(identifier)) << identifier.toStdString();
        EXPECT_EQ(app->windows().open(identifier), nullptr) << identifier.toStdString();
    }
    // Without a tray icon closing the last window quits.
    EXPECT_FALSE(closingMainStays(*app));
}

TEST_F(Application, ClosingTheMainWindowFollowsTheTwoSettings)
{
    const QVariant nothing;
    const QVariant notABoolean = QStringLiteral("maybe");
    struct Row {
        QVariant showMenuBarIcon;
        QVariant keepRunning;
        bool stays;
    };
    const Row table[] = {
        {false, true, false},        {false, nothing, false},     {true, true, true},
        {nothing, true, true},       {notABoolean, true, true},   {true, false, false},
        {nothing, false, false},     {true, nothing, true},       {nothing, nothing, true},
        {nothing, notABoolean, true},
    };
    auto app = launch(true);
    for (const Row& row : table) {
        store(QStringLiteral("showMenuBarIcon"), row.showMenuBarIcon);
        store(QStringLiteral("keepRunningInMenuBar"), row.keepRunning);
        EXPECT_EQ(closingMainStays(*app), row.stays)
            << row.showMenuBarIcon.toString().toStdString() << " / " << row.keepRunning.toString().toStdString();
    }
    // The main window made anew each time, over the one model.
    EXPECT_EQ(modelsMade, 1);
}

TEST_F(Application, OtherWindowsNeverChangeTheMode)
{
    auto app = launch(true);
    QSignalSpy entered(&app->shell(), &AppShell::enteredMenuBarMode);
    QWidget logcat;
    logcat.setObjectName(QStringLiteral("logcat"));
    logcat.show();
    logcat.close();
    EXPECT_EQ(entered.count(), 0);
}
