#include "AppShell.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

struct Settings {
    QTemporaryDir dir;
    QSettings settings {dir.path() + QStringLiteral("/test.ini"), QSettings::IniFormat};
};

bool stays(const QVariant& showIcon, const QVariant& keepRunning, bool tray = true)
{
    Settings s;
    if (showIcon.isValid())
        s.settings.setValue(QStringLiteral("showMenuBarIcon"), showIcon);
    if (keepRunning.isValid())
        s.settings.setValue(QStringLiteral("keepRunningInMenuBar"), keepRunning);
    s.settings.sync();
    // Read back through a fresh object, as the INI file hands it back.
    QSettings reread(s.settings.fileName(), QSettings::IniFormat);
    return AppShell::staysInMenuBar(reread, tray);
}

} // namespace

TEST(AppShell, StaysInTheTrayByTheTwoSettings)
{
    const QVariant none;
    EXPECT_FALSE(stays(false, true));
    EXPECT_FALSE(stays(false, none));
    EXPECT_TRUE(stays(true, true));
    EXPECT_TRUE(stays(none, true));
    EXPECT_TRUE(stays(QStringLiteral("maybe"), true));
    EXPECT_FALSE(stays(true, false));
    EXPECT_FALSE(stays(none, false));
    EXPECT_TRUE(stays(true, none));
    EXPECT_TRUE(stays(none, none));
    EXPECT_TRUE(stays(none, QStringLiteral("yes")));
}

TEST(AppShell, WithoutATrayTheProcessNeverStays)
{
    EXPECT_FALSE(stays(QVariant(), QVariant(), false));
    EXPECT_FALSE(stays(true, true, false));
}

TEST(AppShell, ClosingOnlyTheMainWindowEntersTrayMode)
{
    Settings s;
    AppShell shell(&s.settings, [] { return true; });
    shell.install();
    int entered = 0;
    QObject::connect(&shell, &AppShell::enteredMenuBarMode, [&] { ++entered; });

    QWidget apps;
    apps.setObjectName(QStringLiteral("apps"));
    apps.show();
    apps.close();
    QWidget unnamed;
    unnamed.show();
    unnamed.close();
    EXPECT_EQ(entered, 0);

    QWidget main;
    main.setObjectName(QStringLiteral("main"));
    main.show();
    main.close();
    EXPECT_EQ(entered, 1);

    s.settings.setValue(QStringLiteral("showMenuBarIcon"), false);
    main.show();
    main.close();
    EXPECT_EQ(entered, 1);
}

TEST(AppShell, CleanUpRunsEveryStepOnceEvenWhenOneFails)
{
    Settings s;
    AppShell shell(&s.settings, [] { return false; });
    int ran = 0;
    shell.addCleanUp([&] { ++ran; throw std::runtime_error("gone"); });
    shell.addCleanUp([&] { ++ran; });
    shell.cleanUp();
    shell.cleanUp();
    EXPECT_EQ(ran, 2);
}
