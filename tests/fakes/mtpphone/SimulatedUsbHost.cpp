#include "SimulatedUsbHost.h"

#include <algorithm>
#include <atomic>

namespace mtpsim {

namespace {

// The claimed interface of one simulated phone; releases the claim when destroyed.
class SimulatedInterface : public UsbInterface {
public:
    explicit SimulatedInterface(std::shared_ptr<SimulatedPhone> phone) : m_phone(std::move(phone))
    {
        m_phone->claim();
        const auto settings = m_phone->settings();
        m_number = settings.interfaceNumber;
        m_endpoints = settings.endpoints;
    }
    ~SimulatedInterface() override { m_phone->release(); }

    uint8_t number() const override { return m_number; }
    std::vector<UsbEndpoint> endpoints() const override { return m_endpoints; }

    size_t bulkOut(uint8_t endpoint, QByteArrayView data, std::chrono::milliseconds timeout) override
    {
        requireEndpoint(endpoint, false);
        awaitPhone(timeout);
        return m_phone->bulkOut(endpoint, data, timeout);
    }
    size_t bulkIn(uint8_t endpoint, char* buffer, size_t capacity, std::chrono::milliseconds timeout) override
    {
        requireEndpoint(endpoint, true);
        awaitPhone(timeout);
        return m_phone->bulkIn(endpoint, buffer, capacity, timeout);
    }
    void controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, QByteArrayView data,
                    std::chrono::milliseconds timeout) override
    {
        awaitPhone(timeout);
        m_phone->controlOut(requestType, request, value, index, data, timeout);
    }
    size_t controlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, char* buffer,
                     size_t capacity, std::chrono::milliseconds timeout) override
    {
        awaitPhone(timeout);
        return m_phone->controlIn(requestType, request, value, index, buffer, capacity, timeout);
    }
    void abandon() override
    {
        m_abandoned = true;
        // Both ways a phone can stop answering end their waits, and what is
        // on its way to or from a phone that answers ends as a cancelled URB does.
        m_phone->wakeFrozenWaits();
        m_phone->abortBulk();
    }
    void resume() override { m_abandoned = false; }
    void readInterrupt(uint8_t endpoint, size_t capacity, ReadDone done) override
    {
        auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                               [endpoint](const UsbEndpoint& e) { return e.address == endpoint; });
        if (it == m_endpoints.end() || it->transferType() != UsbEndpoint::interrupt || !it->isIn())
            throw UsbError(UsbStatus::other, QStringLiteral("Invalid parameter"));
        m_phone->readInterrupt(endpoint, capacity, std::move(done));
    }
    void abortPipe(uint8_t endpoint) override
    {
        const auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                                     [endpoint](const UsbEndpoint& e) { return e.address == endpoint; });
        if (it != m_endpoints.end() && it->transferType() == UsbEndpoint::bulk)
            m_phone->abortBulk();
        else
            m_phone->abortInterrupt();
    }
    void clearStall(uint8_t endpoint) override { m_phone->clearStall(endpoint); }

private:
    // A frozen phone holds the transfer until its time-out; an abandoned
    // interface fails it at once.
    void awaitPhone(std::chrono::milliseconds timeout)
    {
        if (!m_abandoned && m_phone->waitWhileFrozen(timeout, m_abandoned) && !m_abandoned)
            throw UsbError(UsbStatus::timeout, QStringLiteral("Operation timed out"));
        if (m_abandoned)
            throw UsbError(UsbStatus::aborted, QStringLiteral("Interrupted system call"));
    }

    void requireEndpoint(uint8_t endpoint, bool in) const
    {
        auto it = std::find_if(m_endpoints.begin(), m_endpoints.end(),
                               [endpoint](const UsbEndpoint& e) { return e.address == endpoint; });
        if (it == m_endpoints.end() || it->isIn() != in || it->transferType() != UsbEndpoint::bulk)
            throw UsbError(UsbStatus::other, QStringLiteral("Invalid parameter"));
    }

    std::shared_ptr<SimulatedPhone> m_phone;
    uint8_t m_number = 0;
    std::vector<UsbEndpoint> m_endpoints;
    std::atomic<bool> m_abandoned{false};
};

} // namespace

uint64_t SimulatedUsbHost::plug(const std::shared_ptr<SimulatedPhone>& phone)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_phones, [&](const Plugged& p) { return p.phone == phone; });
    const uint64_t id = m_nextID++;
    m_phones.push_back({phone, id});
    phone->setAttached(true);
    return id;
}

void SimulatedUsbHost::unplug(const std::shared_ptr<SimulatedPhone>& phone)
{
    {
        std::lock_guard lock(m_mutex);
        std::erase_if(m_phones, [&](const Plugged& p) { return p.phone == phone; });
    }
    phone->setAttached(false);
}

uint64_t SimulatedUsbHost::registryID(const std::shared_ptr<SimulatedPhone>& phone) const
{
    std::lock_guard lock(m_mutex);
    for (const auto& p : m_phones) {
        if (p.phone == phone)
            return p.registryID;
    }
    return 0;
}

void SimulatedUsbHost::addInterface(const UsbInterfaceRecord& record)
{
    std::lock_guard lock(m_mutex);
    m_others.push_back(record);
}

std::vector<UsbInterfaceRecord> SimulatedUsbHost::interfaces()
{
    std::lock_guard lock(m_mutex);
    std::vector<UsbInterfaceRecord> records = m_others;
    for (const auto& p : m_phones) {
        if (!p.phone->attached())
            continue; // it vanished mid-transfer
        const auto settings = p.phone->settings();
        records.push_back({p.registryID, settings.interfaceName, settings.usbSerial, settings.usbProduct});
    }
    return records;
}

void SimulatedUsbHost::failOpensWith(std::exception_ptr error)
{
    std::lock_guard lock(m_mutex);
    m_openFailure = std::move(error);
}

std::unique_ptr<UsbInterface> SimulatedUsbHost::open(uint64_t registryID)
{
    std::shared_ptr<SimulatedPhone> phone;
    {
        std::lock_guard lock(m_mutex);
        if (m_openFailure)
            std::rethrow_exception(m_openFailure);
        for (const auto& p : m_phones) {
            if (p.registryID == registryID)
                phone = p.phone;
        }
    }
    if (!phone)
        throw UsbError(UsbStatus::noDevice, QStringLiteral("No such device (it may have been disconnected)"));
    return std::make_unique<SimulatedInterface>(phone);
}

} // namespace mtpsim
