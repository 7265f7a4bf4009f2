// The transaction engine of MTPConnection: containers over the bulk pipes,
// recovery after an abandoned transaction.
#include "MTPConnection.h"

#include "MTPCodes.h"
#include "MTPReader.h"

#include <QtEndian>

#include <limits>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr auto controlTimeout = 2s;
constexpr auto drainTimeout = 150ms;
constexpr int drainReads = 64;
constexpr auto reconnectPause = 300ms;
// Get Device Status while the phone winds a cancelled transaction down.
constexpr auto statusTimeout = 250ms;
constexpr auto statusPause = 5ms;
// Transfers a transaction skips (zero-length packets, events, other
// transactions' containers) before it gives up on its response and recovers
// the session: a phone repeating itself for ever must not hold the queue for ever.
constexpr int strayLimit = 1024;

struct Header {
    uint32_t length;
    uint16_t type;
    uint16_t code;
    uint32_t transaction;
};

Header header(QByteArrayView chunk)
{
    if (chunk.size() < mtp::Container::headerSize)
        MTPReader::unexpected();
    const auto* bytes = reinterpret_cast<const uchar*>(chunk.data());
    return {qFromLittleEndian<uint32_t>(bytes), qFromLittleEndian<uint16_t>(bytes + 4),
            qFromLittleEndian<uint16_t>(bytes + 6), qFromLittleEndian<uint32_t>(bytes + 8)};
}

bool actsOnObject(uint16_t code)
{
    using namespace mtp::Operation;
    return code == getObjectInfo || code == getObject || code == deleteObject || code == moveObject
           || code == setObjectPropValue;
}

void appendHeader(QByteArray& out, uint32_t length, uint16_t type, uint16_t code, uint32_t transaction)
{
    uchar bytes[12];
    qToLittleEndian<uint32_t>(length, bytes);
    qToLittleEndian<uint16_t>(type, bytes + 4);
    qToLittleEndian<uint16_t>(code, bytes + 6);
    qToLittleEndian<uint32_t>(transaction, bytes + 8);
    out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

} // namespace

class MTPConnection::Waiting {
public:
    Waiting(MTPConnection& connection, std::chrono::milliseconds grace = stopGrace) : m_connection(connection)
    {
        m_connection.m_waitingGrace = grace.count();
        m_connection.m_waitingSince = std::max<int64_t>(1, std::chrono::steady_clock::now().time_since_epoch().count());
    }
    ~Waiting() { m_connection.m_waitingSince = 0; }
    Waiting(const Waiting&) = delete;
    Waiting& operator=(const Waiting&) = delete;

private:
    MTPConnection& m_connection;
};

std::vector<uint32_t> MTPConnection::transact(uint16_t code, const std::vector<uint32_t>& params, const Send& send,
                                              int64_t sendLength, const Receive& receive, const QString& what)
{
    // Operations on the object their first parameter names: never sent with
    // a handle that names no single object, since DeleteObject(0xFFFFFFFF)
    // deletes everything on the phone.
    if (actsOnObject(code) && !params.empty() && !mtp::isObjectHandle(params.front()))
        throw MTPError::failed(QStringLiteral("The phone couldn't ") + what
                               + QStringLiteral(": that is the phone's whole storage, not one item."));
    const uint32_t transaction = ++m_transactionID;
    m_statedLength.reset();
    m_dataDelivered = false;
    try {
        QByteArray command;
        const auto length = static_cast<uint32_t>(mtp::Container::headerSize + 4 * params.size());
        appendHeader(command, length, mtp::Container::command, code, transaction);
        for (const uint32_t param : params) {
            uchar bytes[4];
            qToLittleEndian<uint32_t>(param, bytes);
            command.append(reinterpret_cast<const char*>(bytes), 4);
        }
        write(command);

        if (send) {
            try {
                sendData(code, transaction, send, sendLength);
            } catch (const MTPError& error) {
                // A data phase cut short leaves the phone waiting for the rest:
                // nothing sent after it would be read as a command.
                if (error.kind() != MTPError::Kind::gone)
                    recover();
                throw;
            }
        }

        for (int strays = 0;; ++strays) {
            if (strays > strayLimit) {
                // Left alone, the phone would go on repeating itself into the next transaction.
                recover();
                MTPReader::unexpected();
            }
            if (strays > 0 && cancelRequested())
                throw Cancelled();
            const QByteArrayView chunk = read();
            if (chunk.isEmpty())
                continue; // a zero-length packet between containers
            const Header h = header(chunk);
            if (h.type == mtp::Container::data) {
                dataPhase(chunk, h.length, h.transaction == transaction, receive);
                continue;
            }
            if (h.type != mtp::Container::response || h.transaction != transaction)
                continue; // events, and what is left of abandoned transactions
            if (h.length < mtp::Container::headerSize)
                MTPReader::unexpected();
            if (h.length < chunk.size())
                m_inbox = chunk.sliced(h.length).toByteArray();
            const qsizetype covered = std::min<qsizetype>(h.length, chunk.size());
            std::vector<uint32_t> result;
            const auto* bytes = reinterpret_cast<const uchar*>(chunk.data());
            for (qsizetype at = mtp::Container::headerSize; at + 4 <= covered; at += 4)
                result.push_back(qFromLittleEndian<uint32_t>(bytes + at));
            if (h.code != mtp::Response::ok)
                throw MTPError::response(h.code, what);
            return result;
        }
    } catch (const Cancelled&) {
        recover();
        throw;
    } catch (const MTPError& error) {
        // A vanished phone is not recovered; other MTP failures leave the session as it is.
        if (error.kind() == MTPError::Kind::gone)
            disconnect();
        throw;
    } catch (...) {
        // The caller's own failure (a file that can't be written) mid-transfer.
        recover();
        throw;
    }
}

QByteArray MTPConnection::fetch(uint16_t code, const std::vector<uint32_t>& params, const QString& what)
{
    // Thrown from inside the data phase, so that the transaction is abandoned and recovered.
    struct TooLarge {};
    QByteArray data;
    try {
        transact(
            code, params, {}, 0,
            [&data](QByteArrayView piece) {
                if (piece.size() > replyLimit - data.size())
                    throw TooLarge();
                data.append(piece);
            },
            what);
    } catch (const TooLarge&) {
        throw MTPError::failed(QStringLiteral("The phone sent a reply too large to read."));
    }
    return data;
}

void MTPConnection::sendData(uint16_t code, uint32_t transaction, const Send& send, int64_t sendLength)
{
    const int64_t total = sendLength + mtp::Container::headerSize;
    const uint32_t announced =
        total >= 0 && total <= 0xFFFFFFFELL ? static_cast<uint32_t>(total) : mtp::Container::unboundedLength;
    m_pending.clear();
    m_pending.reserve(transferUnit + mtp::Container::headerSize);
    appendHeader(m_pending, announced, mtp::Container::data, code, transaction);
    int64_t written = 0;

    // Every transfer but the last is exactly one unit; the header rides with the first bytes.
    const Emit emit = [&](QByteArrayView piece) {
        m_pending.append(piece);
        qsizetype start = 0;
        while (m_pending.size() - start >= transferUnit) {
            write(QByteArrayView(m_pending).sliced(start, transferUnit));
            start += transferUnit;
            written += transferUnit;
            if (cancelRequested()) {
                m_pending.clear();
                throw Cancelled();
            }
        }
        m_pending.remove(0, start);
    };
    send(emit);
    if (!m_pending.isEmpty()) {
        write(m_pending);
        written += m_pending.size();
        m_pending.clear();
    }
    if (written % m_outPacketSize == 0)
        write(QByteArrayView()); // a zero-length packet ends a transfer of whole packets
}

void MTPConnection::dataPhase(QByteArrayView chunk, uint32_t length, bool deliver, const Receive& receive)
{
    if (length < mtp::Container::headerSize)
        MTPReader::unexpected();
    const bool unbounded = length == mtp::Container::unboundedLength;
    int64_t remaining = unbounded ? std::numeric_limits<int64_t>::max() : int64_t(length) - mtp::Container::headerSize;
    if (deliver) {
        // What the phone said it sends; unsaid once any container of the phase leaves it open.
        const bool said = !unbounded && (!m_dataDelivered || m_statedLength);
        m_statedLength = said ? m_statedLength.value_or(0) + remaining : std::optional<int64_t>();
        m_dataDelivered = true;
    }
    bool full = chunk.size() == transferUnit;
    QByteArrayView piece = chunk.sliced(mtp::Container::headerSize);
    // Data nobody takes is dropped, but not without end.
    int64_t dropped = 0;
    const bool taken = deliver && receive;
    for (;;) {
        if (piece.size() > remaining) {
            m_inbox = piece.sliced(remaining).toByteArray();
            piece = piece.first(remaining);
        }
        if (taken && !piece.isEmpty())
            receive(piece);
        else if ((dropped += piece.size()) > replyLimit) {
            recover(); // so that the rest of it doesn't meet the next transaction
            MTPReader::unexpected();
        }
        remaining -= piece.size();
        if (remaining <= 0)
            return;
        // Without a length, the first transfer shorter than a unit ends the container.
        if (unbounded && !full)
            return;
        if (cancelRequested())
            throw Cancelled();
        piece = read();
        full = piece.size() == transferUnit;
    }
}

void MTPConnection::write(QByteArrayView bytes)
{
    if (!m_bulkOut || !m_interface)
        throw MTPError::gone();
    try {
        const Waiting waiting(*this);
        m_interface->bulkOut(*m_bulkOut, bytes, m_timeout);
    } catch (const UsbError& error) {
        // Cut off by a Stop: the phone is still there, in the middle of the transaction.
        if (error.status() == UsbStatus::aborted && cutOff())
            throw Cancelled();
        if (error.status() == UsbStatus::stall) {
            try {
                m_interface->clearStall(*m_bulkOut);
            } catch (const std::exception&) {
            }
        }
        throw usbError(error);
    }
}

QByteArrayView MTPConnection::read()
{
    if (!m_inbox.isEmpty()) {
        m_chunk = std::move(m_inbox);
        m_inbox = QByteArray();
        // What is left over always starts a container; one whose header was
        // cut by the end of a full transfer goes on in the next transfer.
        if (m_chunk.size() < mtp::Container::headerSize)
            m_chunk.append(transfer());
        return m_chunk;
    }
    return transfer();
}

QByteArrayView MTPConnection::transfer()
{
    if (!m_bulkIn || !m_readBuffer || !m_interface)
        throw MTPError::gone();
    try {
        const Waiting waiting(*this);
        const size_t moved = m_interface->bulkIn(*m_bulkIn, m_readBuffer.get(), transferUnit, m_timeout);
        return QByteArrayView(m_readBuffer.get(), static_cast<qsizetype>(moved));
    } catch (const UsbError& error) {
        if (error.status() == UsbStatus::aborted && cutOff())
            throw Cancelled();
        if (error.status() == UsbStatus::stall) {
            try {
                m_interface->clearStall(*m_bulkIn);
            } catch (const std::exception&) {
            }
        }
        throw usbError(error);
    }
}

MTPError MTPConnection::usbError(const UsbError& error)
{
    switch (error.status()) {
    case UsbStatus::noDevice:
    case UsbStatus::notResponding:
    case UsbStatus::aborted:
        return MTPError::gone();
    default:
        return MTPError::failed(QStringLiteral("USB error talking to the phone: ") + error.description());
    }
}

bool MTPConnection::sendClassRequest(uint8_t request, const QByteArray& body)
{
    if (!m_interface)
        return false;
    try {
        const Waiting waiting(*this, controlGrace);
        m_interface->controlOut(mtp::ClassRequest::requestType, request, 0, m_interface->number(),
                                QByteArrayView(body).first(std::min<qsizetype>(body.size(), 0xFFFF)), controlTimeout);
        return true;
    } catch (const std::exception&) {
        return false; // recovery goes on without it
    }
}

std::optional<MTPConnection::DeviceStatus> MTPConnection::deviceStatus()
{
    if (!m_interface)
        return std::nullopt;
    // wLength and a response code, then a few halted endpoints at most.
    uchar reply[64];
    size_t moved = 0;
    try {
        const Waiting waiting(*this, controlGrace);
        moved = m_interface->controlIn(mtp::ClassRequest::inRequestType, mtp::ClassRequest::getDeviceStatus, 0,
                                       m_interface->number(), reinterpret_cast<char*>(reply), sizeof reply,
                                       statusTimeout);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (moved < 4)
        return std::nullopt;
    DeviceStatus status;
    status.code = qFromLittleEndian<uint16_t>(reply + 2);
    // The length the phone states, as far as it sent it.
    const size_t covered = std::min<size_t>(moved, qFromLittleEndian<uint16_t>(reply));
    for (size_t at = 4; at + 4 <= covered; at += 4)
        status.halted.push_back(qFromLittleEndian<uint32_t>(reply + at));
    return status;
}

void MTPConnection::drain()
{
    if (!m_bulkIn || !m_readBuffer || !m_interface)
        return;
    for (int i = 0; i < drainReads; ++i) {
        try {
            if (m_interface->bulkIn(*m_bulkIn, m_readBuffer.get(), transferUnit, drainTimeout) == 0)
                return;
        } catch (const std::exception&) {
            return;
        }
    }
}

bool MTPConnection::realign()
{
    // A session still being set up has nothing worth keeping. Cut off by a
    // Stop, the transfers go through again for this.
    if (!m_interface || m_settingUp || !resumeTransfers())
        return false;
    QByteArray body;
    uchar bytes[6];
    qToLittleEndian<uint16_t>(mtp::ClassRequest::cancellationCode, bytes);
    qToLittleEndian<uint32_t>(m_transactionID, bytes + 2);
    body.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
    if (!sendClassRequest(mtp::ClassRequest::cancel, body))
        return false;
    // Busy while the phone drops the transaction; the pipes it halted meanwhile are the host's to clear.
    const auto until = std::chrono::steady_clock::now() + cancelBudget;
    for (;;) {
        const std::optional<DeviceStatus> status = deviceStatus();
        if (!status)
            return false;
        if (status->code != mtp::Response::deviceBusy) {
            for (const uint32_t endpoint : status->halted) {
                // Only our own pipes: the numbers are the phone's word.
                if (endpoint != m_bulkIn.value_or(0) && endpoint != m_bulkOut.value_or(0))
                    continue;
                try {
                    m_interface->clearStall(static_cast<uint8_t>(endpoint));
                } catch (const std::exception&) {
                    return false;
                }
            }
            break;
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(statusPause);
    }
    // What was already on its way from the phone is not the next transaction's.
    m_pending.clear();
    drain();
    m_inbox.clear();
    return true;
}

void MTPConnection::recover()
{
    if (m_recovering)
        return;
    // Given up on: the phone is not waited for again in this run.
    if (severed()) {
        disconnect();
        return;
    }
    m_recovering = true;
    if (!realign()) {
        // A phone that doesn't go along gets a new session, unless a Stop is
        // waiting: then the next run claims it afresh.
        const bool stopped = stopWaiting();
        if (!stopped)
            drain();
        disconnect();
        if (!isClosed() && !stopped) {
            std::this_thread::sleep_for(reconnectPause);
            try {
                connect();
            } catch (const std::exception&) {
                // The connection stays released; the next run tries again.
            }
        }
    }
    m_recovering = false;
}
