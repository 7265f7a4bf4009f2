// The model on the real adb tool and its two-second poll, with the fake phone
// as the only phone: it is listed under its own name, chosen, and its storage
// listed, within two polls.

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <atomic>

using namespace browsertest;

namespace {

// The real tool, counting how often the poll asked for its phones.
class CountingAdbSource : public AdbSource {
public:
    std::atomic<int> devicesCalls{0};

    std::optional<ADB> locate() override { return m_real->locate(); }
    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override
    {
        auto list = m_real->devices(adb, cancel);
        ++devicesCalls;
        return list;
    }
    std::optional<QString> displayName(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return m_real->displayName(adb, serial, cancel);
    }
    std::optional<QString> serialNumber(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return m_real->serialNumber(adb, serial, cancel);
    }
    std::shared_ptr<PhoneFiles> files(const ADB& adb, const QString& serial) override
    {
        return m_real->files(adb, serial);
    }

private:
    std::shared_ptr<AdbSource> m_real = makeSystemAdbSource();
};

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
    note.write("hello");
    note.close();
    const QString name = expectedName(phone);
    ASSERT_FALSE(name.isEmpty());

    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    auto adb = std::make_shared<CountingAdbSource>();
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = std::make_shared<FakeMtpSource>(); // no USB phones here
    collaborators.settings = &settings;
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    auto model = std::make_unique<BrowserModel>(std::move(collaborators));
    EXPECT_FALSE(model->adbMissing());

    const bool shown = testsupport::waitUntil(
        [&] {
            return model->selectedSerial() == phone.serial() && !model->isLoading()
                   && names(model->entries()).contains(QStringLiteral("notes 10.txt"));
        },
        std::chrono::seconds(15));
    ASSERT_TRUE(shown) << "devices: " << model->devices().size() << ", polls: " << adb->devicesCalls.load();
    EXPECT_LE(adb->devicesCalls.load(), 2);

    ASSERT_EQ(model->devices().size(), 1);
    const Device listed = model->devices().first();
    EXPECT_EQ(listed.serial, phone.serial());
    EXPECT_EQ(listed.state, QStringLiteral("device"));
    EXPECT_EQ(listed.transport, Device::Transport::adb);
    EXPECT_EQ(listed.model, name);
    EXPECT_EQ(model->path(), QStringLiteral("/sdcard"));
    EXPECT_EQ(names(model->visibleEntries()), (QStringList{QStringLiteral("DCIM"), QStringLiteral("notes 10.txt")}));
    EXPECT_FALSE(model->errorMessage().has_value());

    model.reset();
    phone.stop();
}

} // namespace
