#pragma once

// The tool windows over a browser model fed by fakes whose adb phone is the
// fake phone behind the real adb.

#include "BrowserFakes.h"
#include "PhoneFixture.h"
#include "TestSupport.h"

#include <QSettings>
#include <QTemporaryDir>

class ToolWindowTest : public PhoneTest {
protected:
    // The browser model's adb, located at a path of the test's choosing.
    class LocatedAdb : public browsertest::FakeAdbSource {
    public:
        QString path = QStringLiteral("/usr/bin/adb");
        std::optional<ADB> locate() override { return FakeAdbSource::locate() ? std::optional(ADB(path)) : std::nullopt; }
    };
    ~ToolWindowTest() override
    {
        if (hasPhone())
            phone().clearReplies();
    }

    // Built on first use; reset it for a model that looks for adb again.
    BrowserModel& model() { return *(m_model ? m_model : (m_model = browsertest::newModel(located, mtp, settings))); }
    Device ready(const QString& name = QStringLiteral("Pixel 7")) const
    {
        return browsertest::adbPhone(serial(), QStringLiteral("device"), name);
    }
    // One device pass with these phones, the first one chosen.
    void offer(const std::vector<Device>& devices)
    {
        located->setDevices(devices);
        bool done = false;
        model().refreshDevices([&done] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }, std::chrono::seconds(5)));
        if (!devices.empty())
            model().setSelectedSerial(devices.front().serial);
    }

    QTemporaryDir folder;
    QSettings settings{folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<LocatedAdb> located = std::make_shared<LocatedAdb>();
    std::shared_ptr<browsertest::FakeMtpSource> mtp = std::make_shared<browsertest::FakeMtpSource>();
    std::unique_ptr<BrowserModel> m_model;
};
