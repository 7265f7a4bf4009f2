#include "AppShell.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// The rule as read back from the INI file, where values come back as text.
bool stays(const QVariant& showIcon, const QVariant& keepRunning, bool tray = true)
{
    QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/test.ini");
    {
        QSettings settings(file, QSettings::IniFormat);
        if (showIcon.isValid())
            settings.setValue(QStringLiteral("showMenuBarIcon"), showIcon);
        if (keepRunning.isValid())
            settings.setValue(QStringLiteral("keepRunningInMenuBar"), keepRunning);
    }
    return AppShell::staysInMenuBar(QSettings(file, QSettings::IniFormat), tray);
}

} // namespace

// The whole table is shown through the application's windows; here only
// that stored values survive the round trip through the settings file.
TEST(AppShell, StoredSettingsDecideAfterARestart)
{
    const QVariant none;
    EXPECT_FALSE(stays(false, true));
    EXPECT_FALSE(stays(true, false));
    EXPECT_TRUE(stays(true, none));
    EXPECT_TRUE(stays(none, QStringLiteral("yes")));
    EXPECT_FALSE(stays(true, true, false)); // without a tray, never
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
