// The PhoneFiles contract over MTPConnection and the simulated phone: the
// same suite that ADBFiles passes.
#include "MTPConnection.h"
#include "PhoneFilesContract.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"

namespace {

// The contract hands out PhoneFiles by unique_ptr; the connection itself is
// shared, as the manager shares it.
class SharedFiles : public PhoneFiles {
public:
    explicit SharedFiles(std::shared_ptr<MTPConnection> connection) : c(std::move(connection)) {}

    std::vector<RemoteEntry> list(const QString& p, bool h, const Cancel& x) override { return c->list(p, h, x); }
    using PhoneFiles::pull;
    void pull(const QString& p, const QString& d, const Progress& g, const Cancel& x) override { c->pull(p, d, g, x); }
    void push(const QString& p, const QString& d, const Progress& g, const Cancel& x) override { c->push(p, d, g, x); }
    bool exists(const QString& p, const Cancel& x) override { return c->exists(p, x); }
    std::optional<bool> existence(const QString& p, const Cancel& x) override { return c->existence(p, x); }
    void remove(const QString& p, const Cancel& x) override { c->remove(p, x); }
    void makeFolder(const QString& p, const Cancel& x) override { c->makeFolder(p, x); }
    void move(const QString& from, const QString& to, const Cancel& x) override { c->move(from, to, x); }
    DeviceInfo info(const Cancel& x) override { return c->info(x); }

private:
    std::shared_ptr<MTPConnection> c;
};

// The simulated phone's storage root is the phone's "/sdcard"; items are
// seeded and read back on the phone directly, behind the connection's back
// (so its path cache meets stale handles as it would on a real phone).
class MTPTransport : public PhoneFilesTransport {
public:
    ~MTPTransport() override
    {
        if (m_connection)
            m_connection->close().wait();
    }

    bool start(QString* error) override
    {
        m_connection = std::make_shared<MTPConnection>(m_host, m_host->plug(m_phone), QStringLiteral("SIM0001"),
                                                       QStringLiteral("Pixel 7"));
        m_connection->check();
        *error = QStringLiteral("the simulated phone did not become ready");
        return m_connection->status() == MTPConnection::Status::ready;
    }
    std::unique_ptr<PhoneFiles> files() override { return std::make_unique<SharedFiles>(m_connection); }
    QString root() const override { return QStringLiteral("/sdcard"); }

    void seedFile(const QString& path, const QByteArray& content, const QDateTime& modified) override
    {
        m_phone->addFile(replaced(path), MTPConnection::parts(path).constLast(), content, modified);
    }
    void seedFolder(const QString& path) override
    {
        m_phone->addFolder(replaced(path), MTPConnection::parts(path).constLast());
    }
    std::optional<QByteArray> readFile(const QString& path) const override
    {
        const auto object = m_phone->objectAt(relative(path));
        if (!object || object->isFolder())
            return std::nullopt;
        return object->content ? object->content->bytes() : QByteArray();
    }
    bool isFolder(const QString& path) const override
    {
        const auto object = m_phone->objectAt(relative(path));
        return object && object->isFolder();
    }
    bool isPresent(const QString& path) const override { return m_phone->objectAt(relative(path)).has_value(); }

    // About 150 ms per MiB: a few MiB take a second or so.
    void setSlowTransfers(bool slow) override
    {
        m_phone->configure([slow](auto& s) { s.delayPerMiB = std::chrono::microseconds(slow ? 150000 : 0); });
    }
    bool isNotFound(const Error& error) const override
    {
        const auto* mtp = dynamic_cast<const MTPError*>(&error);
        return mtp && mtp->kind() == MTPError::Kind::notFound;
    }
private:
    static QString relative(const QString& path) { return MTPConnection::parts(path).join(QLatin1Char('/')); }

    // The handle of the folder that will hold path, after whatever stood at path is gone.
    uint32_t replaced(const QString& path)
    {
        if (const auto old = m_phone->objectAt(relative(path)))
            m_phone->removeObject(old->handle);
        const auto parent = m_phone->objectAt(relative(path).section(QLatin1Char('/'), 0, -2));
        return parent ? parent->handle : 0;
    }

    std::shared_ptr<mtpsim::SimulatedUsbHost> m_host = std::make_shared<mtpsim::SimulatedUsbHost>();
    std::shared_ptr<mtpsim::SimulatedPhone> m_phone = std::make_shared<mtpsim::SimulatedPhone>();
    std::shared_ptr<MTPConnection> m_connection;
};

INSTANTIATE_TEST_SUITE_P(MTPConnection, PhoneFilesContract,
                         ::testing::Values(PhoneFilesTransportKind{
                             "mtp", [] { return std::unique_ptr<PhoneFilesTransport>(new MTPTransport); }}),
                         phoneFilesTransportName);

} // namespace
