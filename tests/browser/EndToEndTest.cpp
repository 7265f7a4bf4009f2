// The model on the real adb tool, with the fake phone as the only phone: it
// is listed under its own name, chosen, and its storage listed, within two
// polls.

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

using namespace browsertest;

namespace {

// The phone's name as its shell reports it: the first usable answer.
QString expectedName(const FakePhoneHarness& phone)
{
    const auto result = phone.shell(QStringLiteral(
        "settings get global device_name 2>/dev/null; getprop ro.product.marketname; getprop ro.product.model"));
    for (const QString& line : QString::fromUtf8(result.out).split(QLatin1Char('\n'))) {
        const QString name = line.trimmed();
        if (!name.isEmpty() && name != QStringLiteral("null") && !name.startsWith(QStringLiteral("sdk_")))
            return name;
    }
    return {};
}

TEST(BrowserEndToEndTest, ThePhoneIsListedNamedChosenAndItsStorageListedWithinTwoPolls)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/adb")))
        GTEST_SKIP() << "adb is not installed";
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    ASSERT_TRUE(QDir(phone.storage()).mkpath(QStringLiteral("DCIM")));
    QFile note(phone.storage() + QStringLiteral("/notes 10.txt"));
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.close();
    const QString name = expectedName(phone);
    ASSERT_FALSE(name.isEmpty());

    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    // The polls run only when the test says so; no third one ever does.
    auto clock = std::make_shared<ManualClock>();
    BrowserModel::Collaborators collaborators;
    collaborators.adb = makeSystemAdbSource();
    collaborators.mtp = std::make_shared<FakeMtpSource>(); // no USB phones here
    collaborators.settings = &settings;
    collaborators.clock = clock;
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    auto model = std::make_unique<BrowserModel>(std::move(collaborators));
    EXPECT_FALSE(model->adbMissing());
    for (int poll = 1; poll <= 2; ++poll) {
        ASSERT_EQ(clock->fire(), 1);
        ASSERT_TRUE(testsupport::waitUntil([&] { return clock->waiting() == 1; }, std::chrono::seconds(15)));
    }
    ASSERT_TRUE(testsupport::waitUntil(
        [&] { return !model->isLoading() && names(model->entries()).contains(QStringLiteral("notes 10.txt")); },
        std::chrono::seconds(15)))
        << "devices: " << model->devices().size();

    ASSERT_EQ(model->devices().size(), 1);
    EXPECT_EQ(model->devices().first(), (Device{phone.serial(), QStringLiteral("device"), name, Device::Transport::adb}));
    EXPECT_EQ(model->selectedSerial(), phone.serial());
    EXPECT_EQ(model->path(), QStringLiteral("/sdcard"));
    EXPECT_EQ(names(model->visibleEntries()), (QStringList{QStringLiteral("DCIM"), QStringLiteral("notes 10.txt")}));
    EXPECT_FALSE(model->errorMessage().has_value());

    model.reset();
    phone.stop();
}

} // namespace
