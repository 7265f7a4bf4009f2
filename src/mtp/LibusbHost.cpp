#include "LibusbHost.h"

#include "WorkerPool.h"

#include <QDir>
#include <QFile>

#include <libusb.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

UsbStatus statusOf(int code)
{
    switch (code) {
    case LIBUSB_SUCCESS: return UsbStatus::ok;
    case LIBUSB_ERROR_TIMEOUT: return UsbStatus::timeout;
    case LIBUSB_ERROR_PIPE: return UsbStatus::stall;
    case LIBUSB_ERROR_NO_DEVICE:
    case LIBUSB_ERROR_NOT_FOUND: return UsbStatus::noDevice;
    case LIBUSB_ERROR_IO: return UsbStatus::notResponding;
    case LIBUSB_ERROR_INTERRUPTED: return UsbStatus::aborted;
    case LIBUSB_ERROR_BUSY: return UsbStatus::busy;
    case LIBUSB_ERROR_ACCESS: return UsbStatus::access;
    default: return UsbStatus::other;
    }
}

UsbError errorOf(int code)
{
    return UsbError(statusOf(code), QString::fromUtf8(libusb_strerror(code)));
}

UsbStatus statusOfTransfer(libusb_transfer_status status)
{
    switch (status) {
    case LIBUSB_TRANSFER_COMPLETED: return UsbStatus::ok;
    case LIBUSB_TRANSFER_TIMED_OUT: return UsbStatus::timeout;
    case LIBUSB_TRANSFER_CANCELLED: return UsbStatus::aborted;
    case LIBUSB_TRANSFER_STALL: return UsbStatus::stall;
    case LIBUSB_TRANSFER_NO_DEVICE: return UsbStatus::noDevice;
    case LIBUSB_TRANSFER_ERROR: return UsbStatus::notResponding;
    default: return UsbStatus::other;
    }
}

// The stack's text for a transfer that ended badly, as a synchronous call would give it.
QString transferErrorText(libusb_transfer_status status)
{
    switch (status) {
    case LIBUSB_TRANSFER_TIMED_OUT: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_TIMEOUT));
    case LIBUSB_TRANSFER_CANCELLED: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_INTERRUPTED));
    case LIBUSB_TRANSFER_STALL: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_PIPE));
    case LIBUSB_TRANSFER_NO_DEVICE: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_NO_DEVICE));
    case LIBUSB_TRANSFER_OVERFLOW: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_OVERFLOW));
    case LIBUSB_TRANSFER_ERROR: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_IO));
    default: return QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_OTHER));
    }
}

unsigned int milliseconds(std::chrono::milliseconds timeout)
{
    // libusb reads 0 as "wait forever", which no caller of ours means.
    return static_cast<unsigned int>(std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, UINT_MAX));
}

// A sysfs attribute without the line feed the kernel adds; nothing when absent.
std::optional<QString> attribute(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray bytes = file.readAll();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    return QString::fromUtf8(bytes);
}

std::optional<int> number(const QString& path, int base)
{
    const auto text = attribute(path);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int value = text->trimmed().toInt(&ok, base);
    return ok ? std::optional<int>(value) : std::nullopt;
}

} // namespace

// libusb's context and the thread that completes asynchronous transfers.
struct LibusbHost::Context {
    libusb_context* usb = nullptr;
    int initError = LIBUSB_SUCCESS;
    std::mutex mutex;
    std::thread events;
    std::atomic<bool> stopping{false};

    Context() { initError = libusb_init(&usb); }
    ~Context()
    {
        if (events.joinable()) {
            stopping = true;
            libusb_interrupt_event_handler(usb);
            events.join();
        }
        if (usb)
            libusb_exit(usb);
    }

    // Started with the first claimed interface: interrupt reads need it.
    void startEvents()
    {
        std::lock_guard lock(mutex);
        if (events.joinable())
            return;
        events = WorkerPool::shared().ownThread([this] {
            while (!stopping)
                libusb_handle_events_completed(usb, nullptr);
        });
    }
};

namespace {

class LibusbInterface : public UsbInterface {
public:
    LibusbInterface(std::shared_ptr<LibusbHost::Context> context, libusb_device_handle* handle, uint8_t number,
                    std::vector<UsbEndpoint> endpoints)
        : m_context(std::move(context)), m_handle(handle), m_number(number), m_endpoints(std::move(endpoints)) {}

    ~LibusbInterface() override
    {
        std::unique_lock lock(m_mutex);
        m_closing = true;
        for (auto* transfer : m_pending)
            libusb_cancel_transfer(transfer);
        m_idle.wait(lock, [this] { return m_pending.empty(); });
        lock.unlock();
        libusb_release_interface(m_handle, m_number);
        libusb_close(m_handle);
    }

    uint8_t number() const override { return m_number; }
    std::vector<UsbEndpoint> endpoints() const override { return m_endpoints; }

    size_t bulkOut(uint8_t endpoint, QByteArrayView data, std::chrono::milliseconds timeout) override
    {
        if (data.size() > INT_MAX)
            throw UsbError(UsbStatus::other, QStringLiteral("Transfer too large"));
        // libusb takes a mutable pointer for both directions; it only reads OUT data.
        auto* bytes = reinterpret_cast<unsigned char*>(const_cast<char*>(data.data()));
        return awaited([&](libusb_transfer* transfer) {
            libusb_fill_bulk_transfer(transfer, m_handle, endpoint, bytes, static_cast<int>(data.size()), &awake,
                                      nullptr, milliseconds(timeout));
        });
    }

    size_t bulkIn(uint8_t endpoint, char* buffer, size_t capacity, std::chrono::milliseconds timeout) override
    {
        return awaited([&](libusb_transfer* transfer) {
            libusb_fill_bulk_transfer(transfer, m_handle, endpoint, reinterpret_cast<unsigned char*>(buffer),
                                      static_cast<int>(std::min<size_t>(capacity, INT_MAX)), &awake, nullptr,
                                      milliseconds(timeout));
        });
    }

    void controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, QByteArrayView data,
                    std::chrono::milliseconds timeout) override
    {
        const auto length = static_cast<uint16_t>(std::min<qsizetype>(data.size(), 0xFFFF));
        QByteArray setup(LIBUSB_CONTROL_SETUP_SIZE + length, Qt::Uninitialized);
        auto* bytes = reinterpret_cast<unsigned char*>(setup.data());
        libusb_fill_control_setup(bytes, requestType, request, value, index, length);
        std::memcpy(bytes + LIBUSB_CONTROL_SETUP_SIZE, data.data(), length);
        awaited([&](libusb_transfer* transfer) {
            libusb_fill_control_transfer(transfer, m_handle, bytes, &awake, nullptr, milliseconds(timeout));
        });
    }

    size_t controlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, char* buffer,
                     size_t capacity, std::chrono::milliseconds timeout) override
    {
        const auto length = static_cast<uint16_t>(std::min<size_t>(capacity, 0xFFFF));
        QByteArray setup(LIBUSB_CONTROL_SETUP_SIZE + length, Qt::Uninitialized);
        auto* bytes = reinterpret_cast<unsigned char*>(setup.data());
        // Bit 7 of bmRequestType is what makes it device-to-host.
        libusb_fill_control_setup(bytes, requestType | LIBUSB_ENDPOINT_IN, request, value, index, length);
        const size_t moved = awaited([&](libusb_transfer* transfer) {
            libusb_fill_control_transfer(transfer, m_handle, bytes, &awake, nullptr, milliseconds(timeout));
        });
        // actual_length counts the data stage alone; the data follows the setup packet.
        const size_t copied = std::min<size_t>(moved, length);
        std::memcpy(buffer, bytes + LIBUSB_CONTROL_SETUP_SIZE, copied);
        return copied;
    }

    void abandon() override
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = true;
        // The URBs end at once whatever the device does with them.
        for (auto* transfer : m_awaited)
            libusb_cancel_transfer(transfer);
    }

    void resume() override
    {
        std::lock_guard lock(m_mutex);
        m_abandoned = false;
    }

    void readInterrupt(uint8_t endpoint, size_t capacity, ReadDone done) override
    {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            throw UsbError(UsbStatus::aborted, QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_INTERRUPTED)));
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        auto* buffer = static_cast<unsigned char*>(std::malloc(capacity));
        if (!transfer || !buffer) {
            libusb_free_transfer(transfer);
            std::free(buffer);
            throw errorOf(LIBUSB_ERROR_NO_MEM);
        }
        auto* read = new PendingRead{this, std::move(done)};
        libusb_fill_interrupt_transfer(transfer, m_handle, endpoint, buffer, static_cast<int>(capacity), &completed,
                                       read, 0);
        transfer->flags = LIBUSB_TRANSFER_FREE_BUFFER;
        const int rc = libusb_submit_transfer(transfer);
        if (rc != LIBUSB_SUCCESS) {
            delete read;
            libusb_free_transfer(transfer);
            throw errorOf(rc);
        }
        m_pending.push_back(transfer);
    }

    void abortPipe(uint8_t endpoint) override
    {
        std::lock_guard lock(m_mutex);
        for (auto* transfer : m_pending) {
            if (transfer->endpoint == endpoint)
                libusb_cancel_transfer(transfer);
        }
    }

    void clearStall(uint8_t endpoint) override
    {
        const int rc = libusb_clear_halt(m_handle, endpoint);
        if (rc != LIBUSB_SUCCESS)
            throw errorOf(rc);
    }

private:
    struct PendingRead {
        LibusbInterface* owner;
        ReadDone done;
    };

    // One transfer the calling thread waits for; asynchronous underneath, so
    // that abandon() can end it from another thread.
    struct Awaited {
        std::mutex mutex;
        std::condition_variable ended;
        bool done = false;
    };

    static void LIBUSB_CALL awake(libusb_transfer* transfer)
    {
        auto* waiter = static_cast<Awaited*>(transfer->user_data);
        std::lock_guard lock(waiter->mutex);
        waiter->done = true;
        waiter->ended.notify_all();
    }

    // Fills (with `fill`), submits and waits for one transfer; the bytes moved.
    template <class Fill>
    size_t awaited(Fill fill)
    {
        libusb_transfer* transfer = libusb_alloc_transfer(0);
        if (!transfer)
            throw errorOf(LIBUSB_ERROR_NO_MEM);
        Awaited waiter;
        fill(transfer);
        transfer->user_data = &waiter;
        {
            std::lock_guard lock(m_mutex);
            if (m_abandoned || m_closing) {
                libusb_free_transfer(transfer);
                throw UsbError(UsbStatus::aborted, QString::fromUtf8(libusb_strerror(LIBUSB_ERROR_INTERRUPTED)));
            }
            const int rc = libusb_submit_transfer(transfer);
            if (rc != LIBUSB_SUCCESS) {
                libusb_free_transfer(transfer);
                throw errorOf(rc);
            }
            m_awaited.push_back(transfer);
        }
        {
            // Completed by the context's event thread, a time-out included.
            std::unique_lock lock(waiter.mutex);
            waiter.ended.wait(lock, [&] { return waiter.done; });
        }
        {
            std::lock_guard lock(m_mutex);
            std::erase(m_awaited, transfer);
        }
        const libusb_transfer_status status = transfer->status;
        const int moved = transfer->actual_length;
        libusb_free_transfer(transfer);
        if (status != LIBUSB_TRANSFER_COMPLETED)
            throw UsbError(statusOfTransfer(status), transferErrorText(status));
        return static_cast<size_t>(std::max(moved, 0));
    }

    static void LIBUSB_CALL completed(libusb_transfer* transfer)
    {
        auto* read = static_cast<PendingRead*>(transfer->user_data);
        const UsbStatus status = statusOfTransfer(transfer->status);
        QByteArray data(reinterpret_cast<const char*>(transfer->buffer), std::max(transfer->actual_length, 0));
        // The callback may queue the next read on this interface: no lock held here.
        if (read->done)
            read->done(status, std::move(data));
        LibusbInterface* owner = read->owner;
        delete read;
        {
            // Notified under the lock: the destructor may free `owner` as soon as it sees the list empty.
            std::lock_guard lock(owner->m_mutex);
            std::erase(owner->m_pending, transfer);
            owner->m_idle.notify_all();
        }
        libusb_free_transfer(transfer); // touches neither `owner` nor the device handle
    }

    std::shared_ptr<LibusbHost::Context> m_context; // outlives the handle
    libusb_device_handle* m_handle;
    uint8_t m_number;
    std::vector<UsbEndpoint> m_endpoints;
    std::mutex m_mutex;
    std::condition_variable m_idle;
    std::vector<libusb_transfer*> m_pending;
    std::vector<libusb_transfer*> m_awaited; // the waited-for transfers in flight
    bool m_closing = false;
    bool m_abandoned = false;
};

} // namespace

LibusbHost::LibusbHost(QString sysfsDevices) : m_sysfs(std::move(sysfsDevices)), m_context(std::make_shared<Context>())
{
}

LibusbHost::~LibusbHost() = default;

uint64_t LibusbHost::registryID(int bus, int address, int configuration, int interfaceNumber)
{
    return (static_cast<uint64_t>(bus & 0xFFFF) << 32) | (static_cast<uint64_t>(address & 0xFFFF) << 16)
         | (static_cast<uint64_t>(configuration & 0xFF) << 8) | static_cast<uint64_t>(interfaceNumber & 0xFF);
}

std::vector<UsbInterfaceRecord> LibusbHost::interfaces()
{
    std::vector<UsbInterfaceRecord> result;
    QDir dir(m_sysfs);
    QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System, QDir::Name);
    for (const QString& entry : names) {
        // Interfaces are named "<device>:<configuration>.<interface>".
        const qsizetype colon = entry.indexOf(QLatin1Char(':'));
        if (colon <= 0)
            continue;
        const QString device = dir.filePath(entry.left(colon));
        const QString interface = dir.filePath(entry);
        const auto bus = number(device + QStringLiteral("/busnum"), 10);
        const auto address = number(device + QStringLiteral("/devnum"), 10);
        const auto ifnum = number(interface + QStringLiteral("/bInterfaceNumber"), 16);
        const qsizetype dot = entry.indexOf(QLatin1Char('.'), colon);
        bool configOk = false;
        const int configuration = entry.mid(colon + 1, dot < 0 ? -1 : dot - colon - 1).toInt(&configOk);
        if (!bus || !address || !ifnum || !configOk)
            continue;
        UsbInterfaceRecord record;
        record.registryID = registryID(*bus, *address, configuration, *ifnum);
        record.name = attribute(interface + QStringLiteral("/interface"));
        record.serial = attribute(device + QStringLiteral("/serial"));
        record.product = attribute(device + QStringLiteral("/product"));
        record.busNumber = int(*bus);
        record.deviceAddress = int(*address);
        result.push_back(std::move(record));
    }
    return result;
}

std::unique_ptr<UsbInterface> LibusbHost::open(uint64_t registryID)
{
    if (m_context->initError != LIBUSB_SUCCESS)
        throw errorOf(m_context->initError);
    const int bus = static_cast<int>((registryID >> 32) & 0xFFFF);
    const int address = static_cast<int>((registryID >> 16) & 0xFFFF);
    const int configuration = static_cast<int>((registryID >> 8) & 0xFF);
    const int ifnum = static_cast<int>(registryID & 0xFF);

    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context->usb, &list);
    if (count < 0)
        throw errorOf(static_cast<int>(count));
    libusb_device* device = nullptr;
    for (ssize_t i = 0; i < count; ++i) {
        if (libusb_get_bus_number(list[i]) == bus && libusb_get_device_address(list[i]) == address) {
            device = list[i];
            break;
        }
    }
    if (!device) {
        libusb_free_device_list(list, 1);
        throw errorOf(LIBUSB_ERROR_NO_DEVICE);
    }

    std::vector<UsbEndpoint> endpoints;
    libusb_config_descriptor* config = nullptr;
    int rc = libusb_get_active_config_descriptor(device, &config);
    if (rc != LIBUSB_SUCCESS) {
        libusb_free_device_list(list, 1);
        throw errorOf(rc);
    }
    bool found = false;
    if (config->bConfigurationValue == configuration) {
        for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
            const libusb_interface& candidate = config->interface[i];
            if (candidate.num_altsetting < 1 || candidate.altsetting[0].bInterfaceNumber != ifnum)
                continue;
            found = true;
            const libusb_interface_descriptor& setting = candidate.altsetting[0];
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& ep = setting.endpoint[e];
                endpoints.push_back({ep.bEndpointAddress, ep.bmAttributes, ep.wMaxPacketSize});
            }
        }
    }
    libusb_free_config_descriptor(config);
    if (!found) {
        libusb_free_device_list(list, 1);
        throw errorOf(LIBUSB_ERROR_NOT_FOUND);
    }

    libusb_device_handle* handle = nullptr;
    rc = libusb_open(device, &handle);
    libusb_free_device_list(list, 1); // the handle keeps its own reference
    if (rc != LIBUSB_SUCCESS)
        throw errorOf(rc);
    rc = libusb_claim_interface(handle, ifnum);
    if (rc != LIBUSB_SUCCESS) {
        libusb_close(handle);
        throw errorOf(rc);
    }
    try {
        m_context->startEvents();
    } catch (...) {
        // The phone stays free for the next attempt.
        libusb_release_interface(handle, ifnum);
        libusb_close(handle);
        throw;
    }
    return std::make_unique<LibusbInterface>(m_context, handle, static_cast<uint8_t>(ifnum), std::move(endpoints));
}
