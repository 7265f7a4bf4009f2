#include "SimulatedPhone.h"

#include <QLocale>
#include <QtEndian>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace mtpsim {

namespace {

// The numbers of the MTP standard this phone answers to. Kept apart from the
// client's own table on purpose: a wrong number there must not be mirrored here.
enum : uint16_t {
    GetDeviceInfo = 0x1001,
    OpenSession = 0x1002,
    CloseSession = 0x1003,
    GetStorageIDs = 0x1004,
    GetStorageInfo = 0x1005,
    GetObjectHandles = 0x1007,
    GetObjectInfo = 0x1008,
    GetObject = 0x1009,
    DeleteObject = 0x100B,
    SendObjectInfo = 0x100C,
    SendObject = 0x100D,
    GetDevicePropValue = 0x1015,
    MoveObject = 0x1019,
    SetObjectPropValue = 0x9804,
    GetObjectPropList = 0x9805,
};

enum : uint16_t {
    OK = 0x2001,
    GeneralError = 0x2002,
    SessionNotOpen = 0x2003,
    OperationNotSupported = 0x2005,
    ParameterNotSupported = 0x2006,
    InvalidStorageID = 0x2008,
    InvalidObjectHandle = 0x2009,
    DevicePropNotSupported = 0x200A,
    StoreFull = 0x200C,
    DeviceBusy = 0x2019,
    NoValidObjectInfo = 0x2015,
    InvalidParentObject = 0x201A,
    InvalidDevicePropValue = 0x201C,
    InvalidParameter = 0x201D,
    SessionAlreadyOpen = 0x201E,
    InvalidObjectPropCode = 0xA801,
    DepthSpecUnsupported = 0xA808,
};

enum : uint16_t { CommandBlock = 1, DataBlock = 2, ResponseBlock = 3, EventBlock = 4 };
enum : uint16_t { FormatUndefined = 0x3000, FormatAssociation = 0x3001 };
enum : uint16_t {
    PropStorageID = 0xDC01,
    PropObjectFormat = 0xDC02,
    PropObjectSize = 0xDC04,
    PropObjectFileName = 0xDC07,
    PropDateModified = 0xDC09,
    PropParentObject = 0xDC0B,
};
enum : uint16_t { TypeUint16 = 0x0004, TypeUint32 = 0x0006, TypeUint64 = 0x0008, TypeString = 0xFFFF };
constexpr uint16_t BatteryLevel = 0x5001, DeviceFriendlyName = 0xD402;
constexpr uint8_t CancelRequest = 0x64, DeviceResetRequest = 0x66, GetDeviceStatusRequest = 0x67;

QString describe(UsbStatus status)
{
    // The USB stack's own words, as libusb gives them.
    switch (status) {
    case UsbStatus::ok: return QStringLiteral("Success");
    case UsbStatus::timeout: return QStringLiteral("Operation timed out");
    case UsbStatus::stall: return QStringLiteral("Pipe error");
    case UsbStatus::noDevice: return QStringLiteral("No such device (it may have been disconnected)");
    case UsbStatus::notResponding: return QStringLiteral("Input/Output Error");
    case UsbStatus::aborted: return QStringLiteral("System call interrupted (perhaps due to signal)");
    case UsbStatus::busy: return QStringLiteral("Resource busy");
    case UsbStatus::access: return QStringLiteral("Access denied (insufficient permissions)");
    case UsbStatus::other: return QStringLiteral("Other error");
    }
    return {};
}

// Little-endian dataset writing and reading, the phone's own.
struct Out {
    QByteArray data;
    void u8(uint8_t v) { data.append(static_cast<char>(v)); }
    void u16(uint16_t v)
    {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void u64(uint64_t v)
    {
        u32(static_cast<uint32_t>(v));
        u32(static_cast<uint32_t>(v >> 32));
    }
    void str(const QString& text)
    {
        if (text.isEmpty()) {
            u8(0);
            return;
        }
        const qsizetype units = std::min<qsizetype>(text.size(), 254);
        u8(static_cast<uint8_t>(units + 1));
        for (qsizetype i = 0; i < units; ++i)
            u16(text.at(i).unicode());
        u16(0);
    }
    void u16s(const std::vector<uint16_t>& values)
    {
        u32(static_cast<uint32_t>(values.size()));
        for (auto v : values)
            u16(v);
    }
    void u32s(const std::vector<uint32_t>& values)
    {
        u32(static_cast<uint32_t>(values.size()));
        for (auto v : values)
            u32(v);
    }
};

struct In {
    QByteArrayView data;
    qsizetype at = 0;
    bool ok = true;
    uint64_t n(int count)
    {
        if (data.size() - at < count) {
            ok = false;
            return 0;
        }
        uint64_t v = 0;
        for (int i = 0; i < count; ++i)
            v |= uint64_t(uint8_t(data[at + i])) << (8 * i);
        at += count;
        return v;
    }
    QString str()
    {
        const int count = static_cast<int>(n(1));
        QString text;
        for (int i = 0; i < count && ok; ++i) {
            const auto unit = static_cast<char16_t>(n(2));
            if (unit != 0 || i + 1 < count)
                text.append(QChar(unit));
        }
        // A phone keeps at most 254 units, whatever the count said.
        text.truncate(254);
        return text;
    }
};

QByteArray header(uint32_t length, uint16_t type, uint16_t code, uint32_t transaction)
{
    Out out;
    out.u32(length);
    out.u16(type);
    out.u16(code);
    out.u32(transaction);
    return out.data;
}

uint16_t packetSize(const std::vector<UsbEndpoint>& endpoints, bool in)
{
    for (const auto& e : endpoints) {
        if (e.transferType() == UsbEndpoint::bulk && e.isIn() == in)
            return e.maxPacketSize ? e.maxPacketSize : 512;
    }
    return 512;
}

} // namespace

// Bytes the phone has put on its bulk-in pipe: a container (or a data
// container and its response together), sent in whole packets and ended by a
// short one, a zero-length packet when the length is a whole number of packets.
struct SimulatedPhone::Message {
    uint32_t transaction = 0;
    bool isData = false;
    QByteArray head;
    std::shared_ptr<Content> body;
    QByteArray tail;
    uint64_t total = 0;
    uint64_t sent = 0;
    bool zeroLengthPending = false;
    bool cutShort = false;

    void copy(uint64_t from, char* out, size_t count) const
    {
        const uint64_t headSize = static_cast<uint64_t>(head.size());
        const uint64_t bodySize = body ? body->size() : 0;
        while (count > 0) {
            size_t n;
            if (from < headSize) {
                n = static_cast<size_t>(std::min<uint64_t>(count, headSize - from));
                std::memcpy(out, head.constData() + from, n);
            } else if (from < headSize + bodySize) {
                n = static_cast<size_t>(std::min<uint64_t>(count, headSize + bodySize - from));
                body->read(from - headSize, out, n);
            } else {
                const uint64_t at = from - headSize - bodySize;
                n = static_cast<size_t>(std::min<uint64_t>(count, tail.size() - at));
                std::memcpy(out, tail.constData() + at, n);
            }
            out += n;
            from += n;
            count -= n;
        }
    }
};

SimulatedPhone::SimulatedPhone()
{
    m_settings.operations = {GetDeviceInfo, OpenSession,      CloseSession,      GetStorageIDs,     GetStorageInfo,
                             GetObjectHandles, GetObjectInfo, GetObject,         DeleteObject,      SendObjectInfo,
                             SendObject,    GetDevicePropValue, MoveObject,      SetObjectPropValue, GetObjectPropList};
    addStorage(0x00010001);
}

SimulatedPhone::~SimulatedPhone() = default;

void SimulatedPhone::configure(const std::function<void(Settings&)>& change)
{
    std::lock_guard lock(m_mutex);
    change(m_settings);
    m_sessionID = m_settings.sessionOpen && !m_sessionID ? 1 : m_sessionID;
    m_changed.notify_all();
}

SimulatedPhone::Settings SimulatedPhone::settings() const
{
    std::lock_guard lock(m_mutex);
    return m_settings;
}

// ---- storage -------------------------------------------------------------------------

void SimulatedPhone::addStorage(uint32_t id, uint64_t capacity, uint64_t free, const QString& description)
{
    std::lock_guard lock(m_mutex);
    m_storages.push_back({id, capacity, free, description});
}

void SimulatedPhone::removeStorage(uint32_t id)
{
    std::lock_guard lock(m_mutex);
    std::erase_if(m_storages, [id](const Storage& s) { return s.id == id; });
}

QString SimulatedPhone::dateString(const QDateTime& date)
{
    if (!date.isValid())
        return QStringLiteral("20240101T120000");
    return QLocale::c().toString(date.toLocalTime(), QStringLiteral("yyyyMMdd'T'HHmmss"));
}

uint32_t SimulatedPhone::storageOr(uint32_t storage) const
{
    if (storage)
        return storage;
    return m_storages.empty() ? 0 : m_storages.front().id;
}

uint32_t SimulatedPhone::newObject(Object object)
{
    object.handle = m_nextHandle++;
    const uint32_t handle = object.handle;
    m_objects.emplace(handle, std::move(object));
    return handle;
}

uint32_t SimulatedPhone::addFolder(uint32_t parent, const QString& name, const QDateTime& modified, uint32_t storage)
{
    std::lock_guard lock(m_mutex);
    Object object;
    object.storage = parent ? m_objects.at(parent).storage : storageOr(storage);
    object.parent = parent;
    object.format = FormatAssociation;
    object.name = name;
    object.created = object.modified = dateString(modified);
    return newObject(std::move(object));
}

uint32_t SimulatedPhone::addFile(uint32_t parent, const QString& name, std::shared_ptr<Content> content,
                                 const QDateTime& modified, uint32_t storage)
{
    std::lock_guard lock(m_mutex);
    Object object;
    object.storage = parent ? m_objects.at(parent).storage : storageOr(storage);
    object.parent = parent;
    object.format = FormatUndefined;
    object.name = name;
    object.created = object.modified = dateString(modified);
    object.content = std::move(content);
    return newObject(std::move(object));
}

uint32_t SimulatedPhone::addFile(uint32_t parent, const QString& name, const QByteArray& bytes,
                                 const QDateTime& modified, uint32_t storage)
{
    return addFile(parent, name, bytesContent(bytes), modified, storage);
}

std::vector<uint32_t> SimulatedPhone::descendants(uint32_t handle) const
{
    std::vector<uint32_t> result{handle};
    for (size_t i = 0; i < result.size(); ++i) {
        for (const auto& [h, o] : m_objects) {
            if (o.parent == result[i])
                result.push_back(h);
        }
    }
    return result;
}

std::vector<uint32_t> SimulatedPhone::listed(uint32_t folder) const
{
    std::vector<uint32_t> result;
    for (const auto& [h, o] : m_objects) {
        if (o.parent == folder)
            result.push_back(h);
    }
    for (auto [at, end] = m_settings.alsoListed.equal_range(folder); at != end; ++at)
        result.push_back(at->second);
    return result;
}

std::vector<SimulatedPhone::Object> SimulatedPhone::objects() const
{
    std::lock_guard lock(m_mutex);
    std::vector<Object> all;
    for (const auto& [handle, object] : m_objects)
        all.push_back(object);
    return all;
}

QString SimulatedPhone::pathOf(uint32_t handle) const
{
    std::lock_guard lock(m_mutex);
    QString path;
    for (int depth = 0; depth < 1000 && handle != 0; ++depth) {
        const auto it = m_objects.find(handle);
        if (it == m_objects.end())
            return {};
        path = path.isEmpty() ? it->second.name : it->second.name + QLatin1Char('/') + path;
        handle = it->second.parent;
    }
    return path;
}

void SimulatedPhone::removeObject(uint32_t handle)
{
    std::lock_guard lock(m_mutex);
    for (uint32_t h : descendants(handle))
        m_objects.erase(h);
}

void SimulatedPhone::renameObject(uint32_t handle, const QString& name)
{
    std::lock_guard lock(m_mutex);
    if (const auto it = m_objects.find(handle); it != m_objects.end())
        it->second.name = name;
}

void SimulatedPhone::moveObject(uint32_t handle, uint32_t parent)
{
    std::lock_guard lock(m_mutex);
    if (const auto it = m_objects.find(handle); it != m_objects.end())
        it->second.parent = parent;
}

std::optional<SimulatedPhone::Object> SimulatedPhone::object(uint32_t handle) const
{
    std::lock_guard lock(m_mutex);
    auto it = m_objects.find(handle);
    return it == m_objects.end() ? std::nullopt : std::optional<Object>(it->second);
}

std::optional<SimulatedPhone::Object> SimulatedPhone::objectAt(const QString& path) const
{
    std::lock_guard lock(m_mutex);
    const uint32_t storage = storageOr(0);
    uint32_t parent = 0;
    std::optional<Object> found;
    for (const QString& name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        found.reset();
        for (const auto& [h, o] : m_objects) {
            if (o.parent == parent && o.storage == storage && o.name == name) {
                found = o;
                break;
            }
        }
        if (!found)
            return std::nullopt;
        parent = found->handle;
    }
    return found;
}

bool SimulatedPhone::validObject(uint32_t handle) const
{
    return m_objects.count(handle) != 0;
}

// ---- events and injected containers ----------------------------------------------------

QByteArray SimulatedPhone::container(uint16_t type, uint16_t code, uint32_t transaction,
                                     const std::vector<uint32_t>& params)
{
    QByteArray bytes = header(static_cast<uint32_t>(12 + 4 * params.size()), type, code, transaction);
    Out out;
    for (auto p : params)
        out.u32(p);
    return bytes + out.data;
}

bool SimulatedPhone::sendEvent(const QByteArray& bytes)
{
    std::unique_lock lock(m_mutex);
    if (!m_interruptRead)
        return false;
    auto done = std::move(*m_interruptRead);
    m_interruptRead.reset();
    lock.unlock();
    done(UsbStatus::ok, bytes);
    return true;
}

void SimulatedPhone::injectBeforeNextReply(const QByteArray& transfer)
{
    std::lock_guard lock(m_mutex);
    m_injected.push_back(transfer);
}

// ---- faults -------------------------------------------------------------------------------

void SimulatedPhone::failAfter(Direction direction, uint64_t bytes, UsbStatus status, bool unplug,
                               std::optional<uint16_t> armedBy)
{
    std::lock_guard lock(m_mutex);
    m_fault = Fault{direction, bytes, status, unplug, armedBy};
}

void SimulatedPhone::stallNext(Direction direction)
{
    std::lock_guard lock(m_mutex);
    (direction == Direction::in ? m_stallIn : m_stallOut) = true;
}

void SimulatedPhone::fail(UsbStatus status)
{
    throw UsbError(status, describe(status));
}

void SimulatedPhone::checkFault(Direction direction, size_t bytes)
{
    if (!m_fault || m_fault->direction != direction || m_fault->armedBy)
        return;
    if (bytes <= m_fault->budget) {
        m_fault->budget -= bytes;
        return;
    }
    const Fault fault = *m_fault;
    m_fault.reset();
    if (fault.unplug)
        m_attached = false;
    fail(fault.status);
}

// ---- records ---------------------------------------------------------------------------------

std::vector<SimulatedPhone::Command> SimulatedPhone::commands() const
{
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::vector<uint16_t> SimulatedPhone::commandCodes() const
{
    std::lock_guard lock(m_mutex);
    std::vector<uint16_t> codes;
    for (const auto& c : m_commands)
        codes.push_back(c.code);
    return codes;
}

std::vector<SimulatedPhone::ClassRequest> SimulatedPhone::classRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_classRequests;
}

int SimulatedPhone::deviceStatusRequests() const
{
    std::lock_guard lock(m_mutex);
    return m_deviceStatusRequests;
}

std::vector<size_t> SimulatedPhone::outTransfers() const
{
    std::lock_guard lock(m_mutex);
    return m_outTransfers;
}

std::vector<size_t> SimulatedPhone::inTransfers() const
{
    std::lock_guard lock(m_mutex);
    return m_inTransfers;
}

std::vector<uint32_t> SimulatedPhone::dataLengths() const
{
    std::lock_guard lock(m_mutex);
    return m_dataLengths;
}

int SimulatedPhone::claimAttempts() const
{
    std::lock_guard lock(m_mutex);
    return m_claimAttempts;
}

std::vector<uint8_t> SimulatedPhone::clearedStalls() const
{
    std::lock_guard lock(m_mutex);
    return m_clearedStalls;
}

std::vector<QString> SimulatedPhone::violations() const
{
    std::lock_guard lock(m_mutex);
    return m_violations;
}

int SimulatedPhone::claims() const
{
    std::lock_guard lock(m_mutex);
    return m_claims;
}

int SimulatedPhone::releases() const
{
    std::lock_guard lock(m_mutex);
    return m_releases;
}

bool SimulatedPhone::claimed() const
{
    std::lock_guard lock(m_mutex);
    return m_claimed;
}

bool SimulatedPhone::sessionIsOpen() const
{
    std::lock_guard lock(m_mutex);
    return m_sessionID != 0;
}

int SimulatedPhone::pendingInterruptReads() const
{
    std::lock_guard lock(m_mutex);
    return m_interruptRead ? 1 : 0;
}

std::set<uint8_t> SimulatedPhone::bulkEndpointsUsed() const
{
    std::lock_guard lock(m_mutex);
    return m_bulkEndpoints;
}

std::optional<uint8_t> SimulatedPhone::interruptEndpointUsed() const
{
    std::lock_guard lock(m_mutex);
    return m_interruptEndpoint;
}

void SimulatedPhone::clearRecords()
{
    std::lock_guard lock(m_mutex);
    m_commands.clear();
    m_classRequests.clear();
    m_deviceStatusRequests = 0;
    m_outTransfers.clear();
    m_inTransfers.clear();
    m_dataLengths.clear();
    m_clearedStalls.clear();
    m_violations.clear();
    m_bulkEndpoints.clear();
    m_interruptEndpoint.reset();
}

// ---- the USB side ------------------------------------------------------------------------------

bool SimulatedPhone::attached() const
{
    std::lock_guard lock(m_mutex);
    return m_attached;
}

void SimulatedPhone::setAttached(bool attached)
{
    std::unique_lock lock(m_mutex);
    m_attached = attached;
    m_changed.notify_all();
    if (attached) {
        // Plugged in again: the phone starts its USB function afresh.
        m_claimed = false;
        m_bulkIn.clear();
        m_injected.clear();
        m_incoming.reset();
        m_expectZeroLength = false;
        m_sendTarget.reset();
        m_sessionID = 0;
        m_fault.reset();
        m_halted.clear();
        m_busy = 0;
        return;
    }
    if (m_interruptRead) {
        auto done = std::move(*m_interruptRead);
        m_interruptRead.reset();
        lock.unlock();
        done(UsbStatus::noDevice, {});
    }
}

void SimulatedPhone::claim()
{
    std::lock_guard lock(m_mutex);
    ++m_claimAttempts;
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_settings.heldByOtherProgram || m_claimed)
        fail(UsbStatus::busy);
    m_claimed = true;
    ++m_claims;
}

void SimulatedPhone::release()
{
    std::unique_lock lock(m_mutex);
    m_claimed = false;
    ++m_releases;
    if (m_interruptRead) {
        auto done = std::move(*m_interruptRead);
        m_interruptRead.reset();
        lock.unlock();
        done(UsbStatus::aborted, {});
    }
}

void SimulatedPhone::readInterrupt(uint8_t endpoint, size_t, UsbInterface::ReadDone done)
{
    std::lock_guard lock(m_mutex);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_interruptRead)
        fail(UsbStatus::busy);
    m_interruptRead = std::move(done);
    m_interruptEndpoint = endpoint;
}

void SimulatedPhone::abortInterrupt()
{
    std::unique_lock lock(m_mutex);
    if (!m_interruptRead)
        return;
    auto done = std::move(*m_interruptRead);
    m_interruptRead.reset();
    lock.unlock();
    done(UsbStatus::aborted, {});
}

void SimulatedPhone::clearStall(uint8_t endpoint)
{
    std::lock_guard lock(m_mutex);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    m_clearedStalls.push_back(endpoint);
    m_halted.erase(endpoint);
}

void SimulatedPhone::controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
                                QByteArrayView data, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    waitWhileUnresponsive(lock, timeout, m_bulkAborts);
    m_classRequests.push_back({requestType, request, value, index, data.toByteArray()});
    if (requestType != 0x21 || index != m_settings.interfaceNumber)
        return;
    if (request == CancelRequest && data.size() >= 6) {
        In in{data};
        if (in.n(2) == 0x4001)
            cancelTransaction(static_cast<uint32_t>(in.n(4)));
        // Busy until the transaction is wound down; the host asks with Get Device Status.
        m_busy = m_settings.busyAfterCancel;
        if (m_settings.haltOnCancel) {
            for (const UsbEndpoint& e : m_settings.endpoints) {
                if (e.transferType() == UsbEndpoint::bulk)
                    m_halted.insert(e.address);
            }
        }
    } else if (request == DeviceResetRequest) {
        resetDevice();
    } else {
        return;
    }
    if (m_settings.chatterEndsOnCancel)
        m_settings.chatter.reset();
}

size_t SimulatedPhone::controlIn(uint8_t requestType, uint8_t request, uint16_t, uint16_t index, char* buffer,
                                 size_t capacity, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    waitWhileUnresponsive(lock, timeout, m_bulkAborts);
    // Get Device Status is the one device-to-host request of the class; the
    // control pipe refuses the others.
    if (requestType != 0xA1 || request != GetDeviceStatusRequest || index != m_settings.interfaceNumber
        || m_settings.refusesDeviceStatus)
        fail(UsbStatus::stall);
    ++m_deviceStatusRequests;
    const bool busy = m_busy > 0;
    if (busy)
        --m_busy;
    // wLength, the response code, then the endpoints that are halted.
    Out out;
    out.u16(static_cast<uint16_t>(4 + 4 * m_halted.size()));
    out.u16(busy ? DeviceBusy : OK);
    for (const uint8_t endpoint : m_halted)
        out.u32(endpoint);
    const size_t n = std::min<size_t>(capacity, static_cast<size_t>(out.data.size()));
    std::memcpy(buffer, out.data.constData(), n);
    return n;
}

void SimulatedPhone::cancelTransaction(uint32_t transaction)
{
    if (m_holding == transaction) {
        m_holding.reset();
        m_changed.notify_all();
    }
    if (m_incoming && m_incoming->transaction == transaction) {
        m_incoming.reset();
        m_sendTarget.reset(); // what arrived so far stays on the phone
    }
    m_expectZeroLength = false;
    bool cut = false;
    for (auto it = m_bulkIn.begin(); it != m_bulkIn.end();) {
        if (it->transaction != transaction) {
            ++it;
            continue;
        }
        if (it->isData && !cut) {
            // Whatever was already on its way still arrives; the rest never does.
            cut = true;
            it->total = it->sent + std::min(m_settings.cancelLeftover, it->total - it->sent);
            it->cutShort = true;
            if (it->sent == it->total) {
                it = m_bulkIn.erase(it);
                continue;
            }
            ++it;
            continue;
        }
        it = m_bulkIn.erase(it);
    }
}

void SimulatedPhone::resetDevice()
{
    m_holding.reset();
    m_changed.notify_all();
    m_sessionID = 0;
    m_busy = 0;
    m_halted.clear();
    m_bulkIn.clear();
    m_incoming.reset();
    m_expectZeroLength = false;
    m_sendTarget.reset();
}

void SimulatedPhone::freezeAfterBytes(uint64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_freezeBudget = bytes;
    if (bytes == 0) {
        m_frozen = true;
        m_freezeBudget.reset();
    }
}

void SimulatedPhone::thaw()
{
    std::lock_guard lock(m_mutex);
    m_frozen = false;
    m_freezeBudget.reset();
    m_frozenChanged.notify_all();
}

bool SimulatedPhone::frozen() const
{
    std::lock_guard lock(m_mutex);
    return m_frozen;
}

bool SimulatedPhone::waitWhileFrozen(std::chrono::milliseconds timeout, const std::atomic<bool>& abandoned)
{
    std::unique_lock lock(m_mutex);
    m_frozenChanged.wait_for(lock, timeout, [&] { return !m_frozen || abandoned; });
    return m_frozen;
}

void SimulatedPhone::wakeFrozenWaits()
{
    std::lock_guard lock(m_mutex);
    m_frozenChanged.notify_all();
}

void SimulatedPhone::pauseAfterBytes(uint64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_pauseBudget = bytes;
    if (bytes == 0) {
        m_pausing = true;
        m_pauseBudget.reset();
    }
}

void SimulatedPhone::resume()
{
    std::lock_guard lock(m_mutex);
    m_pausing = false;
    m_pauseBudget.reset();
    m_changed.notify_all();
}

bool SimulatedPhone::paused() const
{
    std::lock_guard lock(m_mutex);
    return m_heldInPause;
}

void SimulatedPhone::countTowardsPause(size_t bytes)
{
    if (!m_pauseBudget)
        return;
    if (bytes >= *m_pauseBudget) {
        m_pausing = true;
        m_pauseBudget.reset();
    } else {
        *m_pauseBudget -= bytes;
    }
}

void SimulatedPhone::waitWhilePaused(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                                     uint64_t aborts)
{
    if (!m_pausing)
        return;
    const auto over = [&] { return !m_pausing || !m_attached || m_bulkAborts != aborts; };
    m_heldInPause = true;
    const bool ended = timeout.count() > 0 ? m_changed.wait_for(lock, timeout, over) : (m_changed.wait(lock, over), true);
    m_heldInPause = false;
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_bulkAborts != aborts) {
        m_pausing = false;
        fail(UsbStatus::aborted);
    }
    if (!ended)
        fail(UsbStatus::timeout);
}

void SimulatedPhone::countTowardsFreeze(size_t bytes)
{
    if (!m_freezeBudget)
        return;
    if (bytes >= *m_freezeBudget) {
        m_frozen = true;
        m_freezeBudget.reset();
    } else {
        *m_freezeBudget -= bytes;
    }
}

void SimulatedPhone::travel(std::unique_lock<std::mutex>& lock, size_t bytes, uint64_t aborts, size_t* across,
                            size_t packet)
{
    // The host's abort ends the transfer on the wire, whatever the phone does,
    // as cancelling a URB does: the packets that got across by then stay across.
    const auto aborted = [&] { return m_bulkAborts != aborts; };
    const std::chrono::microseconds perMiB = m_settings.delayPerMiB;
    if (perMiB.count() > 0) {
        const std::chrono::microseconds whole = perMiB * int64_t(bytes) / (1 << 20);
        const auto start = std::chrono::steady_clock::now();
        m_changed.wait_for(lock, whole, [&] { return !m_attached || aborted(); });
        if (across && aborted() && whole.count() > 0) {
            const double part = std::min(1.0, std::chrono::duration<double>(std::chrono::steady_clock::now() - start) / whole);
            *across = size_t(double(bytes) * part) / packet * packet;
        }
    }
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (aborted())
        fail(UsbStatus::aborted);
}

void SimulatedPhone::abortBulk()
{
    std::lock_guard lock(m_mutex);
    ++m_bulkAborts;
    m_changed.notify_all();
}

void SimulatedPhone::waitWhileUnresponsive(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                                           uint64_t aborts)
{
    if (!m_settings.unresponsive)
        return;
    // Aborted on its way to a phone that won't answer it.
    if (m_bulkAborts != aborts)
        fail(UsbStatus::aborted);
    // A transfer without a time-out waits as long as libusb lets it: for ever.
    const auto limit = timeout.count() > 0 ? std::chrono::steady_clock::now() + timeout
                                           : std::chrono::steady_clock::time_point::max();
    const auto over = [&] { return !m_settings.unresponsive || !m_attached || m_bulkAborts != aborts; };
    bool ended = false;
    if (limit == std::chrono::steady_clock::time_point::max()) {
        m_changed.wait(lock, over);
        ended = true;
    } else {
        ended = m_changed.wait_until(lock, limit, over);
    }
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_bulkAborts != aborts)
        fail(UsbStatus::aborted);
    if (!ended)
        fail(UsbStatus::timeout);
}

void SimulatedPhone::waitWhileHolding(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                                      uint64_t aborts)
{
    if (!m_holding || !m_settings.lostAnswerWaits || !m_bulkIn.empty())
        return;
    const auto over = [&] {
        return !m_holding || !m_settings.lostAnswerWaits || !m_bulkIn.empty() || !m_attached || m_bulkAborts != aborts;
    };
    const bool ended = timeout.count() > 0 ? m_changed.wait_for(lock, timeout, over) : (m_changed.wait(lock, over), true);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_bulkAborts != aborts)
        fail(UsbStatus::aborted);
    if (!ended)
        fail(UsbStatus::timeout);
}

bool SimulatedPhone::nameTaken(uint32_t storage, uint32_t parent, const QString& name, uint32_t except) const
{
    if (!m_settings.caseInsensitiveNames)
        return false;
    const QString key = name.normalized(QString::NormalizationForm_C).toCaseFolded();
    for (const auto& [handle, object] : m_objects) {
        if (handle != except && object.storage == storage && object.parent == parent
            && object.name.normalized(QString::NormalizationForm_C).toCaseFolded() == key)
            return true;
    }
    return false;
}

size_t SimulatedPhone::bulkIn(uint8_t endpoint, char* buffer, size_t capacity, std::chrono::milliseconds timeout)
{
    uint64_t aborts = 0;
    {
        std::unique_lock lock(m_mutex);
        aborts = m_bulkAborts;
        m_bulkEndpoints.insert(endpoint);
        if (m_halted.count(endpoint))
            fail(UsbStatus::stall);
        waitWhileUnresponsive(lock, timeout, aborts);
        waitWhileHolding(lock, timeout, aborts);
        waitWhilePaused(lock, timeout, aborts);
    }
    const size_t moved = bulkInNow(buffer, capacity);
    std::unique_lock lock(m_mutex);
    countTowardsPause(moved);
    travel(lock, moved, aborts);
    return moved;
}

size_t SimulatedPhone::bulkInNow(char* buffer, size_t capacity)
{
    std::lock_guard lock(m_mutex);
    if (!m_attached)
        fail(UsbStatus::noDevice);
    if (m_stallIn) {
        m_stallIn = false;
        fail(UsbStatus::stall);
    }
    if (m_bulkIn.empty() && m_settings.chatter) {
        const size_t n = static_cast<size_t>(std::min<qsizetype>(qsizetype(capacity), m_settings.chatter->size()));
        std::memcpy(buffer, m_settings.chatter->constData(), n);
        m_inTransfers.push_back(n);
        return n;
    }
    if (m_bulkIn.empty())
        fail(UsbStatus::timeout); // nothing to say: the host waits in vain
    Message& message = m_bulkIn.front();
    if (message.zeroLengthPending) {
        checkFault(Direction::in, 0);
        m_bulkIn.pop_front();
        m_inTransfers.push_back(0);
        return 0;
    }
    const size_t n = static_cast<size_t>(std::min<uint64_t>(capacity, message.total - message.sent));
    checkFault(Direction::in, n);
    message.copy(message.sent, buffer, n);
    message.sent += n;
    countTowardsFreeze(n);
    if (message.sent == message.total) {
        const uint16_t packet = packetSize(m_settings.endpoints, true);
        // A read that filled the buffer with whole packets has not seen the end yet.
        if (!message.cutShort && message.total % packet == 0 && n == capacity)
            message.zeroLengthPending = true;
        else
            m_bulkIn.pop_front();
    }
    m_inTransfers.push_back(n);
    return n;
}

size_t SimulatedPhone::bulkOut(uint8_t endpoint, QByteArrayView data, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    const uint64_t aborts = m_bulkAborts;
    if (m_halted.count(endpoint))
        fail(UsbStatus::stall);
    size_t across = 0;
    waitWhilePaused(lock, timeout, aborts);
    try {
        travel(lock, size_t(data.size()), aborts, &across, packetSize(m_settings.endpoints, false));
    } catch (const UsbError& error) {
        // A cancelled transfer of a data phase: what got across is the phone's,
        // and the phone still waits for the rest.
        if (error.status() == UsbStatus::aborted && across > 0 && m_incoming && !m_settings.unresponsive) {
            m_outTransfers.push_back(across);
            receiveData(data.first(qsizetype(across)));
        }
        throw;
    }
    m_bulkEndpoints.insert(endpoint);
    waitWhileUnresponsive(lock, timeout, aborts);
    if (m_stallOut) {
        m_stallOut = false;
        fail(UsbStatus::stall);
    }
    checkFault(Direction::out, static_cast<size_t>(data.size()));
    m_outTransfers.push_back(static_cast<size_t>(data.size()));
    countTowardsFreeze(static_cast<size_t>(data.size()));
    countTowardsPause(static_cast<size_t>(data.size()));
    if (m_incoming) {
        receiveData(data);
        return static_cast<size_t>(data.size());
    }
    if (data.isEmpty()) {
        if (m_expectZeroLength)
            m_expectZeroLength = false;
        else
            m_violations.push_back(QStringLiteral("a zero-length packet where none was due"));
        return 0;
    }
    if (m_expectZeroLength) {
        m_violations.push_back(QStringLiteral("a data phase of whole packets without a zero-length packet"));
        m_expectZeroLength = false;
    }
    handleCommand(data, timeout);
    return static_cast<size_t>(data.size());
}

void SimulatedPhone::handleCommand(QByteArrayView bytes, std::chrono::milliseconds timeout)
{
    In in{bytes};
    const auto length = static_cast<uint32_t>(in.n(4));
    const auto type = static_cast<uint16_t>(in.n(2));
    const auto code = static_cast<uint16_t>(in.n(2));
    const auto transaction = static_cast<uint32_t>(in.n(4));
    if (!in.ok || type != CommandBlock || length != bytes.size() || length > 32 || (length - 12) % 4) {
        m_violations.push_back(QStringLiteral("not a command container"));
        return;
    }
    std::vector<uint32_t> params;
    while (in.at < bytes.size())
        params.push_back(static_cast<uint32_t>(in.n(4)));
    m_commands.push_back({code, transaction, params, timeout});
    m_holding.reset();
    if (m_fault && m_fault->armedBy == code)
        m_fault->armedBy.reset();
    if (m_settings.onCommand)
        m_settings.onCommand(code);
    if (m_settings.freezeAt == code) {
        m_frozen = true;
        m_freezeBudget.reset();
    }

    for (const QByteArray& injected : m_injected) {
        Message message;
        message.head = injected;
        message.total = static_cast<uint64_t>(injected.size());
        if (injected.isEmpty())
            message.cutShort = true; // a lone zero-length packet
        m_bulkIn.push_back(std::move(message));
    }
    m_injected.clear();

    if (m_settings.replyInstead) {
        if (auto transfers = m_settings.replyInstead(code, transaction)) {
            for (const QByteArray& transfer : *transfers) {
                Message message;
                message.transaction = transaction;
                message.head = transfer;
                message.total = static_cast<uint64_t>(transfer.size());
                message.cutShort = true; // each one a transfer of its own, as given
                m_bulkIn.push_back(std::move(message));
            }
            return;
        }
    }

    const bool dataOut = code == SendObjectInfo || code == SendObject || code == SetObjectPropValue;
    auto silent = m_settings.silentFor.find(code);
    if (silent != m_settings.silentFor.end() && silent->second > 0) {
        if (--silent->second == 0)
            m_settings.silentFor.erase(silent);
        if (!dataOut)
            return;
        m_incoming = Incoming{code, transaction, params};
        m_incoming->silent = true;
        return;
    }
    if (dataOut) { // the data phase comes first, whatever the answer will be
        m_incoming = Incoming{code, transaction, params};
        return;
    }
    auto forced = m_settings.responseFor.find(code);
    const Reply reply = forced != m_settings.responseFor.end() ? Reply{forced->second, {}, {}, {}}
                                                                : execute(code, params, {});
    queueReply(code, transaction, reply);
}

void SimulatedPhone::receiveData(QByteArrayView bytes)
{
    Incoming& in = *m_incoming;
    QByteArrayView payload = bytes;
    if (!in.started) {
        In h{bytes};
        const auto length = static_cast<uint32_t>(h.n(4));
        const auto type = static_cast<uint16_t>(h.n(2));
        const auto code = static_cast<uint16_t>(h.n(2));
        const auto transaction = static_cast<uint32_t>(h.n(4));
        if (!h.ok || type != DataBlock || code != in.code || transaction != in.transaction || length < 12) {
            m_violations.push_back(QStringLiteral("a data phase that does not start with its data container"));
            m_incoming.reset();
            return;
        }
        in.started = true;
        in.announced = length;
        m_dataLengths.push_back(length);
        payload = bytes.sliced(12);
        if (in.code == SendObject && m_sendTarget && validObject(*m_sendTarget))
            m_objects.at(*m_sendTarget).content = std::make_shared<ReceivedContent>(m_settings.keepLimit);
    }
    in.received += static_cast<uint64_t>(bytes.size());
    if (!payload.isEmpty()) {
        if (in.code == SendObject) {
            if (m_sendTarget && validObject(*m_sendTarget)) {
                auto content = std::static_pointer_cast<ReceivedContent>(m_objects.at(*m_sendTarget).content);
                content->append(payload.data(), static_cast<size_t>(payload.size()));
            }
        } else {
            in.data.append(payload);
        }
    }
    const uint16_t packet = packetSize(m_settings.endpoints, false);
    bool done;
    if (in.announced == 0xFFFFFFFF) {
        done = bytes.isEmpty() || bytes.size() % packet != 0; // a short packet ends it
    } else {
        if (in.received > in.announced)
            m_violations.push_back(QStringLiteral("more data than the container announced"));
        done = in.received >= in.announced;
        if (done && in.announced % packet == 0)
            m_expectZeroLength = true;
    }
    if (done)
        finishDataPhase();
}

void SimulatedPhone::finishDataPhase()
{
    Incoming in = std::move(*m_incoming);
    m_incoming.reset();
    if (in.silent)
        return;
    auto forced = m_settings.responseFor.find(in.code);
    Reply reply = forced != m_settings.responseFor.end() ? Reply{forced->second, {}, {}, {}}
                                                          : execute(in.code, in.params, in.data);
    if (in.code == SendObject) {
        // A stated length must agree with the size the ObjectInfo gave; an
        // unstated one is read to the short packet.
        const uint64_t payload = in.received - 12;
        if (m_sendTarget && in.announced != 0xFFFFFFFF && m_sendAnnounced != 0xFFFFFFFF && payload != m_sendAnnounced)
            m_violations.push_back(QStringLiteral("SendObject carried %1 bytes where its ObjectInfo announced %2")
                                       .arg(payload)
                                       .arg(m_sendAnnounced));
        m_sendTarget.reset();
    }
    queueReply(in.code, in.transaction, reply);
}

void SimulatedPhone::queueReply(uint16_t code, uint32_t transaction, const Reply& reply)
{
    if (m_settings.loseAnswerOf.count(code)) {
        // Carried out, its data sent, its response lost on the way.
        m_settings.loseAnswerOf.clear();
        if (m_settings.lostAnswerWaits)
            m_holding = transaction;
        if (reply.code == OK && (reply.data || reply.content)) {
            Reply dataOnly = reply;
            queueReplyParts(code, transaction, dataOnly, false);
        }
        return;
    }
    queueReplyParts(code, transaction, reply, true);
}

void SimulatedPhone::queueReplyParts(uint16_t code, uint32_t transaction, const Reply& reply, bool withResponse)
{
    Message response;
    response.transaction = transaction;
    response.head = container(ResponseBlock, reply.code, transaction, reply.params);
    response.total = static_cast<uint64_t>(response.head.size());
    if (reply.code != OK || (!reply.data && !reply.content)) {
        if (withResponse)
            m_bulkIn.push_back(std::move(response));
        return;
    }
    Message data;
    data.transaction = transaction;
    data.isData = true;
    const uint64_t payload = reply.data ? static_cast<uint64_t>(reply.data->size()) : reply.content->size();
    const uint64_t length = 12 + payload;
    const bool unbounded = m_settings.unboundedLengths || length > 0xFFFFFFFEull;
    data.head = header(unbounded ? 0xFFFFFFFF : static_cast<uint32_t>(length), DataBlock, code, transaction);
    if (reply.data)
        data.head += *reply.data;
    data.body = reply.content;
    data.total = length;
    if (m_settings.coalesceResponse && withResponse) {
        data.tail = response.head;
        data.total += static_cast<uint64_t>(data.tail.size());
        m_bulkIn.push_back(std::move(data));
    } else {
        m_bulkIn.push_back(std::move(data));
        if (withResponse)
            m_bulkIn.push_back(std::move(response));
    }
}

// ---- operations -------------------------------------------------------------------------------

QByteArray SimulatedPhone::deviceInfo() const
{
    Out out;
    out.u16(100);
    out.u32(6);
    out.u16(100);
    out.str(QStringLiteral("microsoft.com: 1.0; android.com: 1.0;"));
    out.u16(0);
    out.u16s(std::vector<uint16_t>(m_settings.operations.begin(), m_settings.operations.end()));
    out.u16s({0x4002, 0x4003, 0x4004, 0x4005, 0x400C});
    std::vector<uint16_t> properties;
    if (m_settings.batteryLevel)
        properties.push_back(BatteryLevel);
    if (m_settings.friendlyName)
        properties.push_back(DeviceFriendlyName);
    out.u16s(properties);
    out.u16s({});
    out.u16s({FormatUndefined, FormatAssociation});
    out.str(m_settings.manufacturer);
    out.str(m_settings.model);
    out.str(QStringLiteral("1.0"));
    out.str(QStringLiteral("SIM0001"));
    return out.data;
}

QByteArray SimulatedPhone::objectInfoDataset(const Object& object) const
{
    Out out;
    out.u32(object.storage);
    out.u16(object.format);
    out.u16(0);
    out.u32(object.size() >= 0xFFFFFFFFull ? 0xFFFFFFFF : static_cast<uint32_t>(object.size()));
    out.u16(0);
    for (int i = 0; i < 6; ++i)
        out.u32(0);
    out.u32(object.parent);
    out.u16(object.isFolder() ? 1 : 0);
    out.u32(0);
    out.u32(0);
    out.str(object.name);
    out.str(object.created);
    out.str(object.modified);
    out.str(QString());
    return out.data;
}

SimulatedPhone::Reply SimulatedPhone::execute(uint16_t code, const std::vector<uint32_t>& params,
                                              const QByteArray& data)
{
    auto param = [&](size_t i) { return i < params.size() ? params[i] : 0u; };
    auto fail = [](uint16_t response) { return Reply{response, {}, {}, {}}; };
    if (!m_settings.operations.count(code))
        return fail(OperationNotSupported);
    if (code != GetDeviceInfo && code != OpenSession && !m_sessionID)
        return fail(SessionNotOpen);
    if (const auto instead = m_settings.dataFor.find(code); instead != m_settings.dataFor.end())
        return Reply{OK, {}, {}, instead->second};

    switch (code) {
    case GetDeviceInfo:
        return Reply{OK, {}, deviceInfo(), {}};
    case OpenSession:
        if (m_sessionID)
            return Reply{SessionAlreadyOpen, {m_sessionID}, {}, {}};
        if (param(0) == 0)
            return fail(InvalidParameter);
        m_sessionID = param(0);
        return {};
    case CloseSession:
        m_sessionID = 0;
        return {};
    case GetStorageIDs: {
        Out out;
        std::vector<uint32_t> ids;
        for (const auto& s : m_storages)
            ids.push_back(s.id);
        out.u32s(ids);
        return Reply{OK, {}, out.data, {}};
    }
    case GetStorageInfo: {
        auto it = std::find_if(m_storages.begin(), m_storages.end(), [&](const Storage& s) { return s.id == param(0); });
        if (it == m_storages.end())
            return fail(InvalidStorageID);
        Out out;
        out.u16(3); // fixed RAM
        out.u16(2); // generic hierarchical
        out.u16(0); // read-write
        out.u64(it->capacity);
        out.u64(it->free);
        out.u32(0xFFFFFFFF);
        out.str(it->description);
        out.str(QString());
        return Reply{OK, {}, out.data, {}};
    }
    case GetObjectHandles: {
        const uint32_t storage = param(0), format = param(1), parent = param(2);
        if (storage != 0xFFFFFFFF
            && std::none_of(m_storages.begin(), m_storages.end(), [&](const Storage& s) { return s.id == storage; }))
            return fail(InvalidStorageID);
        if (parent != 0 && parent != 0xFFFFFFFF) {
            if (!validObject(parent))
                return fail(InvalidObjectHandle);
            if (!m_objects.at(parent).isFolder())
                return fail(InvalidParentObject);
        }
        std::vector<uint32_t> handles;
        for (const auto& [h, o] : m_objects) {
            if (storage != 0xFFFFFFFF && o.storage != storage)
                continue;
            if (format && o.format != format)
                continue;
            if (parent == 0xFFFFFFFF ? o.parent != 0 : (parent != 0 && o.parent != parent))
                continue;
            handles.push_back(h);
        }
        if (parent != 0) {
            for (auto [at, end] = m_settings.alsoListed.equal_range(parent == 0xFFFFFFFF ? 0 : parent); at != end; ++at)
                handles.push_back(at->second);
        }
        Out out;
        out.u32s(handles);
        return Reply{OK, {}, out.data, {}};
    }
    case GetObjectInfo:
        if (!validObject(param(0)))
            return fail(InvalidObjectHandle);
        if (m_settings.undescribed.count(param(0)))
            return fail(GeneralError);
        return Reply{OK, {}, objectInfoDataset(m_objects.at(param(0))), {}};
    case GetObject: {
        if (!validObject(param(0)))
            return fail(InvalidObjectHandle);
        const Object& object = m_objects.at(param(0));
        if (object.isFolder())
            return fail(GeneralError);
        return Reply{OK, {}, {}, object.content ? object.content : bytesContent({})};
    }
    case DeleteObject:
        if (param(0) == 0xFFFFFFFF) { // every object (of the format given, when one is)
            std::erase_if(m_objects, [&](const auto& item) { return !param(1) || item.second.format == param(1); });
            return {};
        }
        if (!validObject(param(0)))
            return fail(InvalidObjectHandle);
        for (uint32_t h : descendants(param(0)))
            m_objects.erase(h);
        return {};
    case SendObjectInfo:
        return sendObjectInfo(params, data);
    case SendObject:
        if (!m_sendTarget)
            return fail(NoValidObjectInfo);
        return {};
    case GetDevicePropValue: {
        Out out;
        if (param(0) == DeviceFriendlyName && m_settings.friendlyName)
            out.str(*m_settings.friendlyName);
        else if (param(0) == BatteryLevel && m_settings.batteryLevel)
            out.u8(*m_settings.batteryLevel);
        else
            return fail(DevicePropNotSupported);
        return Reply{OK, {}, out.data, {}};
    }
    case MoveObject: {
        const uint32_t handle = param(0), parent = param(2);
        if (!validObject(handle))
            return fail(InvalidObjectHandle);
        const uint32_t storage = param(1) ? param(1) : m_objects.at(handle).storage;
        if (parent && (!validObject(parent) || !m_objects.at(parent).isFolder()))
            return fail(InvalidParentObject);
        const auto below = descendants(handle);
        if (std::find(below.begin(), below.end(), parent) != below.end())
            return fail(InvalidParentObject);
        m_objects.at(handle).parent = parent;
        for (uint32_t h : below)
            m_objects.at(h).storage = parent ? m_objects.at(parent).storage : storage;
        return {};
    }
    case SetObjectPropValue: {
        if (!validObject(param(0)))
            return fail(InvalidObjectHandle);
        if (param(1) != PropObjectFileName)
            return fail(InvalidObjectPropCode);
        In in{data};
        const QString name = in.str();
        if (!in.ok || name.isEmpty())
            return fail(InvalidDevicePropValue);
        const Object& renamed = m_objects.at(param(0));
        if (nameTaken(renamed.storage, renamed.parent, name, renamed.handle))
            return fail(GeneralError);
        m_objects.at(param(0)).name = name;
        return {};
    }
    case GetObjectPropList:
        return propertyList(params);
    default:
        return fail(OperationNotSupported);
    }
}

SimulatedPhone::Reply SimulatedPhone::sendObjectInfo(const std::vector<uint32_t>& params, const QByteArray& data)
{
    const uint32_t storage = storageOr(params.size() > 0 ? params[0] : 0);
    const uint32_t parent = params.size() > 1 ? params[1] : 0;
    if (std::none_of(m_storages.begin(), m_storages.end(), [&](const Storage& s) { return s.id == storage; }))
        return Reply{InvalidStorageID, {}, {}, {}};
    const bool root = parent == 0 || parent == 0xFFFFFFFF;
    if (!root && (!validObject(parent) || !m_objects.at(parent).isFolder()))
        return Reply{InvalidParentObject, {}, {}, {}};
    In in{data};
    in.n(4); // storage
    const auto format = static_cast<uint16_t>(in.n(2));
    in.n(2);
    const auto announced = static_cast<uint32_t>(in.n(4));
    in.n(2);
    for (int i = 0; i < 7; ++i)
        in.n(4);
    in.n(2);
    in.n(4);
    in.n(4);
    Object object;
    object.name = in.str();
    object.created = in.str();
    object.modified = in.str();
    in.str();
    if (!in.ok || object.name.isEmpty())
        return Reply{GeneralError, {}, {}, {}};
    object.storage = root ? storage : m_objects.at(parent).storage;
    object.parent = root ? 0 : parent;
    object.format = format;
    if (m_settings.storageFull)
        return Reply{StoreFull, {}, {}, {}};
    if (nameTaken(object.storage, object.parent, object.name, 0))
        return Reply{GeneralError, {}, {}, {}};
    if (format != FormatAssociation)
        object.content = std::make_shared<ReceivedContent>(m_settings.keepLimit);
    const uint32_t handle = newObject(std::move(object));
    if (format != FormatAssociation) {
        m_sendTarget = handle;
        m_sendAnnounced = announced;
    }
    return Reply{OK, {storage, parent, m_settings.newHandle.value_or(handle)}, {}, {}};
}

SimulatedPhone::Reply SimulatedPhone::propertyList(const std::vector<uint32_t>& params) const
{
    auto param = [&](size_t i) { return i < params.size() ? params[i] : 0u; };
    const uint32_t handle = param(0), format = param(1), property = param(2), group = param(3), depth = param(4);
    if (group != 0)
        return Reply{ParameterNotSupported, {}, {}, {}};
    static const std::vector<uint16_t> all = {PropStorageID,      PropObjectFormat, PropObjectSize,
                                              PropObjectFileName, PropDateModified, PropParentObject};
    std::vector<uint16_t> properties;
    if (property == 0xFFFFFFFF)
        properties = all;
    else if (std::find(all.begin(), all.end(), property) != all.end())
        properties = {static_cast<uint16_t>(property)};
    else
        return Reply{InvalidObjectPropCode, {}, {}, {}};

    const bool root = handle == 0 || handle == 0xFFFFFFFF;
    if (!root && !validObject(handle))
        return Reply{InvalidObjectHandle, {}, {}, {}};
    std::vector<uint32_t> objects;
    if (depth == 0 || m_settings.propListAboutItself) {
        if (root && !m_settings.propListAboutItself)
            return Reply{InvalidObjectHandle, {}, {}, {}};
        objects.push_back(root ? 0 : handle);
    } else if (depth == 1) {
        objects = listed(root ? 0 : handle);
    } else {
        return Reply{DepthSpecUnsupported, {}, {}, {}};
    }

    Out out;
    uint32_t count = 0;
    Out elements;
    Object storageRoot; // how some responders describe the root: an object 0 named "/"
    storageRoot.storage = storageOr(0);
    storageRoot.format = FormatAssociation;
    storageRoot.name = QStringLiteral("/");
    for (uint32_t h : objects) {
        const Object& o = h ? m_objects.at(h) : storageRoot;
        if (format && o.format != format)
            continue;
        for (uint16_t p : properties) {
            elements.u32(h);
            elements.u16(p);
            switch (p) {
            case PropStorageID:
                elements.u16(TypeUint32);
                elements.u32(o.storage);
                break;
            case PropObjectFormat:
                elements.u16(TypeUint16);
                elements.u16(o.format);
                break;
            case PropObjectSize:
                elements.u16(TypeUint64);
                elements.u64(o.size());
                break;
            case PropObjectFileName:
                elements.u16(TypeString);
                elements.str(o.name);
                break;
            case PropDateModified:
                elements.u16(TypeString);
                elements.str(o.modified);
                break;
            case PropParentObject:
                elements.u16(TypeUint32);
                elements.u32(o.parent);
                break;
            }
            ++count;
        }
    }
    out.u32(count);
    out.data += elements.data;
    return Reply{OK, {}, out.data, {}};
}

} // namespace mtpsim
