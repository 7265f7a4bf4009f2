#include "MtpSource.h"

#include "MTPError.h"
#include "MTPManager.h"

bool MtpSource::isMissingItem(const std::exception_ptr& error) const
{
    try {
        std::rethrow_exception(error);
    } catch (const MTPError& e) {
        return e.kind() == MTPError::Kind::notFound || e.kind() == MTPError::Kind::stale;
    } catch (...) {
        return false;
    }
}

namespace {

class ManagerMtpSource final : public MtpSource {
public:
    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) override
    {
        return MTPManager::shared().devices(skipping, cancel);
    }

    std::shared_ptr<PhoneFiles> connection(const QString& serial) override
    {
        return MTPManager::shared().connection(serial);
    }

    QString deviceNode(const QString& serial) override { return MTPManager::shared().deviceNode(serial); }
};

} // namespace

std::shared_ptr<MtpSource> makeSystemMtpSource()
{
    return std::make_shared<ManagerMtpSource>();
}
