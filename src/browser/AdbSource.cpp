#include "AdbSource.h"

#include "ADBFiles.h"

namespace {

class SystemAdbSource final : public AdbSource {
public:
    std::optional<ADB> locate() override { return ADB::locate(); }

    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override { return adb.devices(cancel); }

    std::optional<QString> displayName(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return adb.displayName(serial, cancel);
    }

    std::optional<QString> serialNumber(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        return adb.serialNumber(serial, cancel);
    }

    std::shared_ptr<PhoneFiles> files(const ADB& adb, const QString& serial) override
    {
        return std::make_shared<ADBFiles>(adb, serial);
    }
};

} // namespace

std::shared_ptr<AdbSource> makeSystemAdbSource()
{
    return std::make_shared<SystemAdbSource>();
}
