#include "MTPConnection.h"

#include "MTPCodes.h"
#include "MTPDatasets.h"
#include "MTPReader.h"
#include "Error.h"

#include <condition_variable>
#include <future>
#include <random>
#include <thread>

using namespace std::chrono_literals;

namespace {

const QString doThat = QStringLiteral("do that");

constexpr auto sessionSetupTimeout = 4s;
constexpr auto transferTimeout = 60s;
constexpr auto resetPause = 500ms;

} // namespace

// The cancellation of one run: set by its caller's cancellation, read by the
// transfers while that run is the one on the queue.
struct MTPConnection::RunTicket {
    bool cancelRequested = false; // under the connection's lock
    bool interrupted = false;     // its transfers cut off; under the connection's lock
    bool severed = false;         // given up on; under the connection's lock
};

// The pending interrupt read. `stopped` is set before the interface goes away,
// so no read is queued on a released interface.
struct MTPConnection::EventListener {
    std::recursive_mutex mutex;
    bool stopped = false;
    UsbInterface* interface = nullptr;
    uint8_t endpoint = 0;
    SerialQueue* queue = nullptr;
};

MTPConnection::MTPConnection(std::shared_ptr<UsbHost> host, uint64_t registryID, QString serial, QString name)
    : m_host(std::move(host)),
      m_registryID(registryID),
      m_serial(std::move(serial)),
      m_name(std::move(name)),
      m_eventQueue(QStringLiteral("Vantelorquist.mtp-events.") + m_serial),
      m_queue(QStringLiteral("Vantelorquist.mtp.") + m_serial)
{
}

MTPConnection::~MTPConnection()
{
    // Normally closed by the manager first; never leave a claim behind.
    if (m_interface)
        disconnect();
}

MTPConnection::Status MTPConnection::status() const
{
    std::lock_guard lock(m_lock);
    return m_status;
}

QString MTPConnection::name() const
{
    std::lock_guard lock(m_lock);
    return m_name;
}

void MTPConnection::setStatus(Status status)
{
    std::lock_guard lock(m_lock);
    m_status = status;
}

bool MTPConnection::cancelRequested() const
{
    if (m_recovering || m_askingAfterStop) // recovery finishes what the cancellation started
        return false;
    std::lock_guard lock(m_lock);
    return m_activeRun && m_activeRun->cancelRequested;
}

QByteArray MTPConnection::objectInfo(const QString& name, uint16_t format, int64_t size, const QDateTime& modified)
{
    return mtp::writeObjectInfo(name, format, size, modified);
}

// ---- the bridge ----------------------------------------------------------------

void MTPConnection::runOnQueue(const std::function<void()>& work, const Cancel& cancel)
{
    if (m_queue.isCurrent()) { // a run inside a run: already in order on the queue
        work();
        return;
    }
    struct Job {
        std::mutex mutex;
        std::condition_variable changed;
        enum class State { queued, running, done, dropped } state = State::queued;
        std::exception_ptr error;
    };
    auto job = std::make_shared<Job>();
    auto ticket = std::make_shared<RunTicket>();

    std::stop_callback onCancel(cancel.token(), [this, job, ticket] {
        {
            std::lock_guard lock(m_lock);
            ticket->cancelRequested = true;
        }
        std::lock_guard lock(job->mutex);
        job->changed.notify_all();
    });

    m_queue.post([self = shared_from_this(), job, ticket, &work] {
        {
            std::lock_guard lock(job->mutex);
            if (job->state == Job::State::dropped)
                return; // the caller gave up before its turn; `work` is gone
            job->state = Job::State::running;
        }
        bool cancelled;
        {
            std::lock_guard lock(self->m_lock);
            self->m_activeRun = ticket;
            cancelled = ticket->cancelRequested;
        }
        std::exception_ptr error;
        try {
            if (cancelled)
                throw Cancelled();
            if (!self->m_interface) {
                // Closed: the claim is let go of for good.
                if (self->isClosed())
                    throw MTPError::gone();
                self->connect();
            }
            work();
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(self->m_lock);
            // A cut-off that landed as the run's last transfer ended must not
            // fail the next run's transfers.
            if ((ticket->interrupted || ticket->severed) && self->m_live)
                self->m_live->resume();
            self->m_activeRun.reset();
        }
        std::lock_guard lock(job->mutex);
        job->error = std::move(error);
        job->state = Job::State::done;
        job->changed.notify_all();
    });

    const auto over = [&] {
        return job->state == Job::State::done || (job->state == Job::State::queued && cancel.isCancelled());
    };
    std::unique_lock lock(job->mutex);
    job->changed.wait(lock, [&] { return over() || cancel.isCancelled(); });
    if (!over()) {
        // Stopped while running: the run ends between transfers. A transfer
        // that goes on (a slow cable, or no answer) is cut off, and the run
        // cancels the phone's transaction; a phone that then leaves a request
        // unanswered is given up on.
        enum { going, cut, given } stage = going;
        int64_t cutAt = 0;
        while (!job->changed.wait_for(lock, 25ms, over)) {
            const int64_t since = m_waitingSince.load();
            const std::chrono::milliseconds grace(m_waitingGrace.load());
            const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            if (stage == given || since == 0
                || std::chrono::steady_clock::duration(now - std::max(since, cutAt)) < grace)
                continue;
            lock.unlock();
            if (stage == going)
                interrupt(ticket);
            else
                sever(ticket); // from now on every transfer of the run fails at once
            lock.lock();
            stage = stage == going ? cut : given;
            cutAt = now;
        }
    }
    if (job->state != Job::State::done) {
        job->state = Job::State::dropped;
        throw Cancelled();
    }
    // The failure is the caller's alone from here, whichever thread lets go of the job last.
    const std::exception_ptr error = std::move(job->error);
    lock.unlock();
    // Whatever a stopped run ends with is the Stop.
    if (error && cancel.isCancelled())
        throw Cancelled();
    if (error)
        std::rethrow_exception(error);
}

void MTPConnection::interrupt(const std::shared_ptr<RunTicket>& ticket)
{
    std::lock_guard lock(m_lock);
    ticket->interrupted = true;
    if (m_activeRun == ticket && m_live)
        m_live->abandon();
}

bool MTPConnection::stopWaiting() const
{
    std::lock_guard lock(m_lock);
    return m_activeRun && (m_activeRun->cancelRequested || m_activeRun->interrupted || m_activeRun->severed);
}

bool MTPConnection::cutOff() const
{
    std::lock_guard lock(m_lock);
    return m_activeRun && m_activeRun->interrupted && !m_activeRun->severed;
}

bool MTPConnection::resumeTransfers()
{
    std::lock_guard lock(m_lock);
    if (!m_activeRun)
        return true;
    if (m_activeRun->severed)
        return false;
    if (m_activeRun->interrupted && m_live)
        m_live->resume();
    return true;
}

void MTPConnection::sever(const std::shared_ptr<RunTicket>& ticket)
{
    std::lock_guard lock(m_lock);
    ticket->severed = true;
    if (m_activeRun == ticket && m_live)
        m_live->abandon();
}

bool MTPConnection::severed() const
{
    std::lock_guard lock(m_lock);
    return m_activeRun && m_activeRun->severed;
}

bool MTPConnection::isClosed() const
{
    std::lock_guard lock(m_lock);
    return m_closed;
}

// ---- status checks and closing ---------------------------------------------------

void MTPConnection::check()
{
    Status remembered;
    {
        std::lock_guard lock(m_lock);
        if (m_checkPending || m_status == Status::ready || m_closed)
            return;
        m_checkPending = true;
        remembered = m_status;
    }
    auto finished = std::make_shared<std::promise<void>>();
    auto future = finished->get_future();
    m_queue.post([self = shared_from_this(), finished] {
        try {
            if (!self->m_interface)
                self->connect();
            else
                self->findStorage();
        } catch (...) {
            // The status tells the outcome.
        }
        {
            std::lock_guard lock(self->m_lock);
            self->m_checkPending = false;
        }
        finished->set_value();
    });
    if (remembered == Status::connecting)
        future.wait();
}

std::shared_future<void> MTPConnection::close()
{
    {
        std::lock_guard lock(m_lock);
        m_closed = true;
    }
    auto closed = std::make_shared<std::promise<void>>();
    std::shared_future<void> future = closed->get_future().share();
    m_queue.post([self = shared_from_this(), closed] {
        self->closeWork();
        closed->set_value();
    });
    return future;
}

void MTPConnection::closeWork()
{
    if (m_interface) {
        try {
            transact(mtp::Operation::closeSession, {}, {}, 0, {}, doThat);
        } catch (...) {
            // Closing goes on whatever the phone says.
        }
    }
    disconnect();
}

// ---- the session -------------------------------------------------------------------

void MTPConnection::connect()
{
    try {
        m_interface = m_host->open(m_registryID);
    } catch (const UsbError& error) {
        // Unplugged since: no other program is to blame.
        if (error.status() == UsbStatus::noDevice) {
            setStatus(Status::connecting);
            throw MTPError::gone();
        }
        // Held by another program, or not ours to open: the user is asked to quit the others.
        setStatus(Status::busy);
        throw MTPError::busy();
    } catch (const NoThreadError&) {
        // This computer's doing, not another program's hold on the phone.
        throw;
    } catch (const std::exception&) {
        setStatus(Status::busy);
        throw MTPError::busy();
    }
    {
        std::lock_guard lock(m_lock);
        m_live = m_interface.get();
        // Given up on while the claim was made.
        if (m_activeRun && m_activeRun->severed)
            m_live->abandon();
    }
    try {
        findPipes();
        m_readBuffer = std::make_unique<char[]>(transferUnit);
        if (m_eventPipe) {
            m_listener = std::make_shared<EventListener>();
            m_listener->interface = m_interface.get();
            m_listener->endpoint = *m_eventPipe;
            m_listener->queue = &m_eventQueue;
            listenForEvents(m_listener);
        }
        m_inbox.clear();
        static thread_local std::mt19937 random{std::random_device{}()};
        m_transactionID = std::uniform_int_distribution<uint32_t>(0x1000, 0x7FFF0000)(random);
        m_timeout = sessionSetupTimeout;
        m_settingUp = true;
        try {
            openSession();
        } catch (const MTPError& error) {
            // A phone that stopped answering may come back after a reset.
            if (error.kind() != MTPError::Kind::failed || !error.text().startsWith(QStringLiteral("USB error")))
                throw;
            sendClassRequest(mtp::ClassRequest::deviceReset, {});
            std::this_thread::sleep_for(resetPause);
            m_inbox.clear();
            openSession();
        }
        ++m_sessions;
        readDeviceInfo();
        findStorage();
        m_timeout = transferTimeout;
        m_settingUp = false;
    } catch (const std::exception& error) {
        m_timeout = transferTimeout;
        m_settingUp = false;
        disconnect();
        const auto* mtpError = dynamic_cast<const MTPError*>(&error);
        if (!mtpError || mtpError->kind() != MTPError::Kind::busy)
            setStatus(Status::connecting);
        throw;
    }
}

void MTPConnection::findPipes()
{
    m_bulkIn.reset();
    m_bulkOut.reset();
    m_eventPipe.reset();
    const std::vector<UsbEndpoint> endpoints = m_interface->endpoints();
    static constexpr uint8_t order[] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    for (const uint8_t address : order) {
        auto it = std::find_if(endpoints.begin(), endpoints.end(),
                               [address](const UsbEndpoint& e) { return e.address == address; });
        if (it == endpoints.end())
            continue;
        if (it->transferType() == UsbEndpoint::bulk && it->isIn()) {
            if (!m_bulkIn)
                m_bulkIn = address;
        } else if (it->transferType() == UsbEndpoint::bulk) {
            if (!m_bulkOut) {
                m_bulkOut = address;
                // A packet size of 0 could never end a transfer; take the high-speed size.
                m_outPacketSize = it->maxPacketSize ? it->maxPacketSize : 512;
            }
        } else if (it->transferType() == UsbEndpoint::interrupt && it->isIn()) {
            m_eventPipe = address; // the last one wins
        }
    }
    if (!m_bulkIn || !m_bulkOut)
        throw MTPError::failed(QStringLiteral("The phone's file transfer interface looks unusual."));
}

void MTPConnection::openSession()
{
    try {
        transact(mtp::Operation::openSession, {1}, {}, 0, {}, doThat);
    } catch (const MTPError& error) {
        // Session Already Open: a session left by an earlier run is as good as a new one.
        if (error.kind() != MTPError::Kind::failed || !error.text().contains(QStringLiteral("0x201E")))
            throw;
    }
}

void MTPConnection::readDeviceInfo()
{
    MTPReader reader(fetch(mtp::Operation::getDeviceInfo, {}, doThat));
    reader.u16(); // standard version
    reader.u32(); // vendor extension
    reader.u16();
    reader.string();
    reader.u16(); // functional mode
    const auto operations = reader.u16Array();
    m_operations = QSet<uint16_t>(operations.begin(), operations.end());
    reader.u16Array(); // events
    const auto properties = reader.u16Array();
    m_deviceProperties = QSet<uint16_t>(properties.begin(), properties.end());
    reader.u16Array(); // capture formats
    reader.u16Array(); // playback formats
    const QString manufacturer = reader.string();
    const QString model = reader.string();
    m_manufacturer = manufacturer.isEmpty() ? std::nullopt : std::optional<QString>(capitalizedWords(manufacturer));

    QString name = model;
    if (m_deviceProperties.contains(mtp::DeviceProperty::deviceFriendlyName)) {
        try {
            MTPReader value(
                fetch(mtp::Operation::getDevicePropValue, {mtp::DeviceProperty::deviceFriendlyName}, doThat));
            const QString friendly = value.string();
            if (!friendly.isEmpty())
                name = friendly;
        } catch (const std::exception&) {
            // The model name will do.
        }
    }
    if (!name.isEmpty()) {
        std::lock_guard lock(m_lock);
        m_name = name;
    }
}

void MTPConnection::findStorage()
{
    MTPReader reader(fetch(mtp::Operation::getStorageIDs, {}, doThat));
    const auto ids = reader.u32Array();
    std::vector<uint32_t> usable;
    for (const uint32_t id : ids) {
        if (id & 0xFFFF) // a zero low half is a storage that is not present
            usable.push_back(id);
    }
    const bool keep = m_storageID && std::find(usable.begin(), usable.end(), *m_storageID) != usable.end();
    if (!keep) {
        m_storageID = usable.empty() ? std::nullopt : std::optional<uint32_t>(usable.front());
        m_handles.clear();
    }
    setStatus(m_storageID ? Status::ready : Status::locked);
}

void MTPConnection::disconnect()
{
    if (m_listener) {
        {
            std::lock_guard lock(m_listener->mutex);
            m_listener->stopped = true;
        }
        m_listener.reset();
    }
    if (m_interface && m_eventPipe)
        m_interface->abortPipe(*m_eventPipe);
    m_bulkIn.reset();
    m_bulkOut.reset();
    m_eventPipe.reset();
    m_readBuffer.reset();
    {
        std::lock_guard lock(m_lock);
        m_live = nullptr;
    }
    m_interface.reset(); // ends the claim
    m_handles.clear();
    m_storageID.reset();
}

void MTPConnection::listenForEvents(const std::shared_ptr<EventListener>& listener)
{
    std::lock_guard lock(listener->mutex);
    if (listener->stopped)
        return;
    try {
        // Events are not used; a pending read keeps the phone's event queue flowing.
        listener->interface->readInterrupt(listener->endpoint, 64, [listener](UsbStatus status, QByteArray) {
            std::lock_guard guard(listener->mutex);
            if (status != UsbStatus::ok || listener->stopped)
                return;
            listener->queue->post([listener] { listenForEvents(listener); });
        });
    } catch (const std::exception&) {
        // Listening ends quietly.
    }
}
