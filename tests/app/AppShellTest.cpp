#include "AppShell.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The whole table is shown through the application's windows; here only
// that stored values survive the round trip through the settings file,
// where they come back as text.
TEST(AppShell, StoredSettingsDecideAfterARestart)
{
    const QVariant none;
    const std::tuple<QVariant, QVariant, bool, bool> cases[] = {
        {false, true, true, false}, {true, false, true, false}, {true, none, true, true},
        {none, QStringLiteral("yes"), true, true}, {true, true, false, false}, // without a tray, never
    };
    for (const auto& [showIcon, keepRunning, tray, stays] : cases) {
        QTemporaryDir dir;
        const QString file = dir.path() + QStringLiteral("/test.ini");
        {
            QSettings settings(file, QSettings::IniFormat);
            if (showIcon.isValid())
                settings.setValue(QStringLiteral("showMenuBarIcon"), showIcon);
            if (keepRunning.isValid())
                settings.setValue(QStringLiteral("keepRunningInMenuBar"), keepRunning);
        }
        EXPECT_EQ(AppShell::staysInMenuBar(QSettings(file, QSettings::IniFormat), tray), stays);
    }
}

TEST(AppShell, CleanUpRunsEveryStepOnceEvenWhenOneFails)
{
    QTemporaryDir dir;
    QSettings settings(dir.path() + QStringLiteral("/test.ini"), QSettings::IniFormat);
    AppShell shell(&settings, [] { return false; });
    int ran = 0;
    shell.addCleanUp([&] { ++ran; throw std::runtime_error("gone"); });
    shell.addCleanUp([&] { ++ran; });
    shell.cleanUp();
    shell.cleanUp();
    EXPECT_EQ(ran, 2);
}
