// A ready MTP phone reaches the browser model as its connection: the model
// hands out that connection as the phone's files and lists through it.
#include "BrowserFakes.h"
#include "MTPManager.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TestSupport.h"
#include "WorkerPool.h"

namespace {

// The system's own source hands out a connection only when it is a PhoneFiles.
static_assert(std::is_convertible_v<MTPConnection*, PhoneFiles*>);

// The model's view of the MTP layer, over a manager of simulated phones.
class ManagerSource : public MtpSource {
public:
    explicit ManagerSource(std::shared_ptr<UsbHost> host) : manager(std::move(host)) {}

    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) override
    {
        return manager.devices(skipping, cancel);
    }
    std::shared_ptr<PhoneFiles> connection(const QString& serial) override { return manager.connection(serial); }
    bool isMissingItem(const std::exception_ptr& error) const override
    {
        try {
            std::rethrow_exception(error);
        } catch (const MTPError& e) {
            return e.kind() == MTPError::Kind::notFound;
        } catch (...) {
            return false;
        }
    }

    MTPManager manager;
};

TEST(MTPPhoneInTheBrowser, TheReadyConnectionIsThePhonesFiles)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    phone->addFolder(0, QStringLiteral("DCIM"));
    phone->addFile(0, QStringLiteral("notes.txt"), QByteArray("n"));
    host->plug(phone);
    auto source = std::make_shared<ManagerSource>(host);

    QTemporaryDir folder;
    QSettings settings(folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    BrowserModel::Collaborators collaborators;
    auto adb = std::make_shared<browsertest::FakeAdbSource>();
    collaborators.adb = adb;
    collaborators.mtp = source;
    collaborators.settings = &settings;
    collaborators.clock = std::make_shared<browsertest::ManualClock>();
    collaborators.discovery =
        std::make_unique<WirelessDiscovery>(std::make_unique<browsertest::SilentServiceBrowser>());
    auto model = std::make_unique<BrowserModel>(std::move(collaborators));

    bool passed = false;
    model->refreshDevices([&] { passed = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return passed; }));
    ASSERT_TRUE(model->readyDevice());
    EXPECT_EQ(model->readyDevice()->transport, Device::Transport::mtp);

    const std::shared_ptr<PhoneFiles> files = model->files();
    EXPECT_EQ(files, std::shared_ptr<PhoneFiles>(source->manager.connection(QStringLiteral("SIM0001"))));
    EXPECT_TRUE(dynamic_cast<MTPConnection*>(files.get()));
    EXPECT_TRUE(testsupport::waitUntil([&] { return model->entries().size() == 2; }))
        << model->entries().size() << " entries";

    model.reset();
    testsupport::waitUntil([] { return WorkerPool::shared().activeJobs() == 0; });
    source->manager.closeAll();
}

} // namespace
