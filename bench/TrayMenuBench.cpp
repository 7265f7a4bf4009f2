// The tray menu while a job reports progress continuously: how often the job
// line changes in the menu per second (each change is a D-Bus update on
// trays that mirror the menu). The goal is at most two.

#include "BrowserFakes.h"
#include "MenuBarItem.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QTemporaryDir>

#include <atomic>
#include <cstdio>
#include <thread>

using namespace browsertest;

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto adb = std::make_shared<FakeAdbSource>();
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = std::make_shared<FakeMtpSource>();
    collaborators.settings = &settings;
    collaborators.clock = std::make_shared<ManualClock>();
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    collaborators.desktop = std::make_shared<ScriptedDesktop>();
    BrowserModel model(std::move(collaborators));

    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("big.mp4"))});
    bool passed = false;
    model.refreshDevices([&] { passed = true; });
    while (!passed)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    QMenu menu;
    MenuBarContent::Hooks hooks;
    hooks.bringUp = [](const QString&) {};
    hooks.canOpen = [](const QString&) { return false; };
    hooks.openSettings = [] {};
    hooks.quit = [] {};
    Environment env;
    env.model = &model;
    auto* content = new MenuBarContent(env, hooks, &menu);

    // The transfer reports a new fraction every 100 microseconds for 5 seconds.
    constexpr int seconds = 5;
    std::atomic<int> reports = 0;
    adb->phone(QStringLiteral("A1"))->onTransfer([&](const QString&, const Progress& progress, const Cancel& cancel) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end && !cancel.isCancelled()) {
            progress(double(reports % 10000) / 10000.0);
            ++reports;
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    });
    model.setAskWhereToSave(false);
    model.setRevealAfterCopy(false);
    model.setSaveFolder(folder.path());
    int menuChanges = 0;
    for (QAction* item : menu.actions())
        QObject::connect(item, &QAction::changed, [&] { ++menuChanges; });
    QElapsedTimer timer;
    timer.start();
    model.download({file(QStringLiteral("big.mp4"))});
    const int linesBefore = content->jobLineUpdates();
    while (model.job())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    const double elapsed = timer.elapsed() / 1000.0;
    const int lines = content->jobLineUpdates() - linesBefore;
    std::printf("tray menu during a %.1f s job with %d progress reports:\n", elapsed, int(reports));
    std::printf("  job line changes: %d (%.2f per second)\n", lines, lines / elapsed);
    std::printf("  menu item changes of any kind: %d (%.2f per second)\n", menuChanges, menuChanges / elapsed);
    return 0;
}
