#include "MtpSource.h"

#ifdef VANTELORQUIST_HAVE_MTP
#include "MTPError.h"
#include "MTPManager.h"

#include <type_traits>
#endif

namespace {

#ifdef VANTELORQUIST_HAVE_MTP

// A connection is of use here only once it offers the phone's files.
template <class Connection>
std::shared_ptr<PhoneFiles> asPhoneFiles(std::shared_ptr<Connection> connection)
{
    if constexpr (std::is_convertible_v<Connection*, PhoneFiles*>)
        return connection;
    else
        return nullptr;
}

class ManagerMtpSource final : public MtpSource {
public:
    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) override
    {
        return MTPManager::shared().devices(skipping, cancel);
    }

    std::shared_ptr<PhoneFiles> connection(const QString& serial) override
    {
        return asPhoneFiles(MTPManager::shared().connection(serial));
    }

    bool isMissingItem(const std::exception_ptr& error) const override
    {
        try {
            std::rethrow_exception(error);
        } catch (const MTPError& e) {
            return e.description().contains(QStringLiteral("isn't on the phone"));
        } catch (...) {
            return false;
        }
    }
};

#else

class NoMtpSource final : public MtpSource {
public:
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override { return {}; }
    std::shared_ptr<PhoneFiles> connection(const QString&) override { return nullptr; }
    bool isMissingItem(const std::exception_ptr&) const override { return false; }
};

#endif

} // namespace

std::shared_ptr<MtpSource> makeSystemMtpSource()
{
#ifdef VANTELORQUIST_HAVE_MTP
    return std::make_shared<ManagerMtpSource>();
#else
    return std::make_shared<NoMtpSource>();
#endif
}
