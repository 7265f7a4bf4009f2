#pragma once

#include "Cancel.h"
#include "MTPError.h"
#include "MTPObject.h"
#include "PhoneFiles.h"
#include "SerialQueue.h"
#include "UsbHost.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <vector>

// One phone's USB MTP interface: the claim, the MTP session on it, the
// transaction engine, what the session learnt about the phone, and the phone's
// files through paths. Created and owned by MTPManager (always through a
// shared_ptr). All USB work runs on the connection's serial work queue, one
// transaction at a time; every PhoneFiles operation is one run on that queue.
class MTPConnection : public PhoneFiles, public std::enable_shared_from_this<MTPConnection> {
public:
    enum class Status {
        connecting, // no session: not tried yet, or the last attempt failed
        ready,      // a session is open and a storage is usable
        locked,     // a session is open but no storage is usable
        busy,       // another program holds the interface
    };

    MTPConnection(std::shared_ptr<UsbHost> host, uint64_t registryID, QString serial, QString name);
    ~MTPConnection();

    MTPConnection(const MTPConnection&) = delete;
    MTPConnection& operator=(const MTPConnection&) = delete;

    // ---- PhoneFiles --------------------------------------------------------------
    // "/sdcard" stands for the root of the chosen storage. Progress callbacks
    // are called on the work queue.
    std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) override;
    using PhoneFiles::pull;
    void pull(const QString& path, const QString& destination, const Progress& progress,
              const Cancel& cancel) override;
    void push(const QString& source, const QString& destination, const Progress& progress,
              const Cancel& cancel) override;
    // Whether a name is taken is the phone's word, never the path cache's.
    bool exists(const QString& path, const Cancel& cancel) override;
    std::optional<bool> existence(const QString& path, const Cancel& cancel) override;
    // Every item of the folder: one the phone can't describe fails it.
    std::vector<RemoteEntry> listAll(const QString& path, const Cancel& cancel) override;
    // The item of exactly that name as the phone lists it now; none there fails.
    void remove(const QString& path, const Cancel& cancel) override;
    // What this connection made at `path` goes only while it is still that
    // item there (its handle, name, kind and no more than the bytes sent),
    // never by its name, also after the session was opened anew; gone or
    // moved already, it counts as removed. A path it holds no record of
    // (another run's leftover) goes by its name.
    void removeOwn(const QString& path, const Cancel& cancel) override;
    void makeFolder(const QString& path, const Cancel& cancel) override;
    void move(const QString& from, const QString& to, const Cancel& cancel) override;
    // Fails before anything is removed on a phone that can't rename, and
    // when the item at `to` is not the covered one as list() gives it.
    // A failure after the old file went leaves the new one at `from`; a
    // rename whose answer was lost succeeds once the phone says it happened.
    std::optional<Clash> putInPlace(const QString& from, const QString& to, const Covered& covered,
                                    const Cancel& cancel) override;
    // A rename whose answer was lost succeeds once the phone says it happened.
    bool takeName(const QString& from, const QString& to, const Cancel& cancel) override;
    void checkStorable(const QString& name) const override;
    bool canRename(const Cancel& cancel) override;
    DeviceInfo info(const Cancel& cancel) override;

    // The components of a phone path below the storage root: a leading
    // "/sdcard" is dropped, the rest split at "/" without empty components.
    static QStringList parts(const QString& path);

    const QString& serial() const { return m_serial; }
    uint64_t registryID() const { return m_registryID; }
    Status status() const;
    QString name() const;

    // Brings a connection that is not ready a step closer: a new or failed
    // one is connected (and this waits for the attempt), a busy one tries the
    // claim again and a locked one reads its storages again (without waiting).
    // Never fails.
    void check();

    // Ends the session and releases the interface on the work queue, after
    // everything queued before it; the future is ready once that has run.
    // The connection is closed for good: runs after it fail as the phone's
    // going does and never claim the interface again.
    std::shared_future<void> close();

    // ---- the bridge to the work queue ----------------------------------------
    // Runs body(*this) on the work queue and returns its result or rethrows
    // its failure; the caller's thread waits. The interface is claimed first
    // when it is not. Cancelling `cancel` cancels this run only: a run that
    // has not started yet is dropped at once, a running one sees it between
    // transfers, recovers the session and throws Cancelled. A transfer of the
    // cancelled run still on its way after stopGrace (a slow cable, or a
    // phone that stopped answering) is cut off, and the phone is asked to
    // drop the transaction, so that the session goes on. A phone that then
    // leaves a request unanswered as long (a class request, controlGrace) is
    // given up on: the transfers are aborted, the interface is released, and
    // the next run claims it afresh.
    template <class Body>
    auto run(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&, MTPConnection&>;

    // ---- the transaction engine (work queue only) ----------------------------
    using Emit = std::function<void(QByteArrayView)>;
    using Send = std::function<void(const Emit& emit)>;
    using Receive = std::function<void(QByteArrayView)>;

    // One MTP transaction: command, optional data out (`send` emits the
    // payload, `sendLength` bytes announced), optional data in (`receive` is
    // called per piece), response. Returns the response parameters; a failed
    // response throws the MTPError for its code, with `what` completing
    // "The phone couldn't …".
    std::vector<uint32_t> transact(uint16_t code, const std::vector<uint32_t>& params, const Send& send,
                                   int64_t sendLength, const Receive& receive, const QString& what);
    // A transaction whose data-in phase is collected whole (datasets, not files),
    // up to replyLimit bytes; a longer one fails and the session is recovered.
    QByteArray fetch(uint16_t code, const std::vector<uint32_t>& params, const QString& what);

    // The payload bytes the data phase of the last transaction said it
    // carries; none when it said nothing (a length of 0xFFFFFFFF) or there
    // was no data phase. A said length always arrives whole or fails.
    std::optional<int64_t> statedDataLength() const { return m_statedLength; }

    // Whether the run in progress was cancelled; read between transfers.
    bool cancelRequested() const;

    // How long a cancelled run's transfer may go on before it is cut off, and
    // a request after that before the phone is given up on.
    static constexpr std::chrono::milliseconds stopGrace{150};
    // The same for a class request, which a phone that answers at all answers
    // at once, whatever the cable carries meanwhile.
    static constexpr std::chrono::milliseconds controlGrace{50};
    // How long the phone may stay busy with a cancelled transaction before
    // the session is opened anew instead.
    static constexpr std::chrono::milliseconds cancelBudget{300};

    // ---- what the session learnt (work queue only) ---------------------------
    std::optional<uint32_t> storageID() const { return m_storageID; }
    // Reads the storage list again and picks the storage to use (sets ready or locked).
    void findStorage();

    // An ObjectInfo dataset for SendObjectInfo.
    static QByteArray objectInfo(const QString& name, uint16_t format, int64_t size, const QDateTime& modified);

    // The size of one bulk transfer in either direction.
    static constexpr qsizetype transferUnit = 1024 * 1024;
    // The most a reply held in memory may hold: a property list of a folder
    // of 100,000 items is a few MB.
    static constexpr qsizetype replyLimit = 64 * 1024 * 1024;

    // ---- the object tree (work queue only) -----------------------------------
    // A parent's children, through the property list when the phone has one
    // and none of its property lists has failed or answered about other
    // objects. A child the phone can't describe (other than one no longer
    // there) is left out and counted in `undescribed`.
    std::vector<MTPObject> children(uint32_t parent, uint32_t storage, int* undescribed = nullptr);
    std::vector<MTPObject> propertyList(uint32_t parent, uint32_t storage, int* undescribed = nullptr);
    MTPObject objectInfo(uint32_t handle);
    // children() that also records each child in the path cache.
    std::vector<MTPObject> list(uint32_t parent, const QStringList& parts, uint32_t storage,
                                int* undescribed = nullptr);
    // The failure of a look into the folder at `parts` for an item the
    // phone couldn't describe, which may be the one looked for.
    static QString undescribedIn(const QStringList& parts);
    // The handle at a phone path (the root handle for the storage root).
    uint32_t resolve(const QString& path);
    // Drops the path and everything below it from the path cache.
    void forget(const QString& path);
    MTPObject object(const QString& path);
    // How loosely findNamed() may match a name, at most.
    enum class NameMatch {
        exact,
        canonical,    // also another Unicode form of it
        ignoringCase, // also another letter case
    };
    // The item of exactly that name; else, as far as `loosest` allows, the
    // only one of the looser kind (two such items and none exact: none).
    static const MTPObject* findNamed(const std::vector<MTPObject>& objects, const QString& name,
                                      NameMatch loosest);
    // The handle of the folder at path, creating the missing folders on the way.
    uint32_t makeFolders(const QString& path);
    uint32_t createFolder(const QString& name, uint32_t parent);
    // The chosen storage, searched for when there is none yet; throws locked.
    uint32_t requireStorage();

    // Runs body() in one run, once more with an emptied path cache when a
    // cached handle turned out stale.
    template <class Body>
    auto withPaths(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&>;
    // withPaths() for a body that changes the phone: when its outcome is not
    // known (no answer, a Stop, a USB failure) any cached path may now lead
    // elsewhere, and the cache goes.
    template <class Body>
    auto changing(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&>;

    // ---- transfers (work queue only) -------------------------------------------
    using ByteCount = std::function<void(int64_t bytes)>;
    // Tree walks skip a handle they have already met (a broken phone may list a folder inside itself).
    void download(const MTPObject& object, const QString& target, const ByteCount& progress,
                  QSet<uint32_t>& visited);
    int64_t folderSize(const MTPObject& object);
    // Sends regular files and folders; anything else (a link to a folder too) is added to `skipped`.
    void upload(const QString& source, const QString& name, uint32_t parent, const QString& parentPath,
                const ByteCount& progress, QStringList& skipped);

private:
    struct RunTicket;
    struct EventListener;

    void runOnQueue(const std::function<void()>& work, const Cancel& cancel);
    void setStatus(Status status);

    // Session lifecycle.
    void connect();
    void findPipes();
    void openSession();
    void readDeviceInfo();
    void disconnect();
    static void listenForEvents(const std::shared_ptr<EventListener>& listener);

    // Engine internals.
    void sendData(uint16_t code, uint32_t transaction, const Send& send, int64_t sendLength);
    void dataPhase(QByteArrayView chunk, uint32_t length, bool deliver, const Receive& receive);
    void write(QByteArrayView bytes);
    QByteArrayView read();
    QByteArrayView transfer(); // one bulk-in transfer into the read buffer
    MTPError usbError(const UsbError& error);
    // Whether the phone took the request.
    bool sendClassRequest(uint8_t request, const QByteArray& body);
    // What Get Device Status answers: a response code and the endpoints the
    // phone halted; nothing when the phone doesn't answer it.
    struct DeviceStatus {
        uint16_t code = 0;
        std::vector<uint32_t> halted;
    };
    std::optional<DeviceStatus> deviceStatus();
    void drain();
    void recover();
    // Cancels the transaction in progress the way the still-image class has
    // it (Cancel, then Get Device Status until the phone is ready), keeping
    // the session; false when the phone doesn't go along.
    bool realign();
    void closeWork();

    // Cuts off the transfers in progress while `ticket`'s run is the one on
    // the queue (later ones fail too, until the run resumes them). Any thread.
    void interrupt(const std::shared_ptr<RunTicket>& ticket);
    // Whether the running run was cut off and not given up on: its aborted
    // transfers are the Stop's doing.
    bool cutOff() const;
    // Lets the cut-off run's transfers through again; false when it was given up on.
    bool resumeTransfers();
    // Aborts the transfers of the interface in use while `ticket`'s run is
    // the one on the queue, for good. Any thread.
    void sever(const std::shared_ptr<RunTicket>& ticket);
    // Whether the running run was given up on: recovery would only wait.
    bool severed() const;
    // Whether a Stop came for the running run, cut off or not: recovery
    // leaves the phone to the next run instead of waiting on it.
    bool stopWaiting() const;
    bool isClosed() const;

    // Marks a USB request as waiting for the phone while it lives.
    class Waiting;

    // list() and listAll(): `whole` fails on an item the phone can't
    // describe, where a browse leaves it out.
    std::vector<RemoteEntry> entries(const QString& path, bool showHidden, bool whole, const Cancel& cancel);
    void retryingStalePaths(const std::function<void()>& attempt);
    void forgetAfterUnknownOutcome(const std::function<void()>& attempt);
    // An object this connection made, as it made it: its path's key, handle
    // and the bytes sent. Handle 0: what was made there has moved away.
    struct Made {
        uint32_t handle;
        uint32_t parent;
        bool isFolder;
        int64_t size;
    };
    void madeHere(const QString& path, uint32_t handle, uint32_t parent, bool isFolder, int64_t size);
    // The two ways of removing: what this connection made, only by its
    // handle and only while it is still as made; and the person's item by its name.
    void removeMade(const QString& path, const Made& made);
    void removeNamed(const QString& path);
    // move() on the queue, inside the caller's run.
    void moveNow(const QString& from, const QString& to);
    // Marks what was made at `from`, and inside it, as moved away.
    void movedAway(const QString& from);
    // The handle at `path`, whose last component is asked of the phone, never of the cache.
    uint32_t lookUp(const QString& path);
    // What the phone says now of `handle` after a change whose answer was
    // lost (asked even after a Stop: the step it stopped may be done). A
    // handle from before a reopened session is looked for again in `parent`.
    // None when that can't be told.
    struct Whereabouts {
        bool gone = false;
        uint32_t parent = 0; // 0: the root
        QString name;
    };
    std::optional<Whereabouts> whereNow(uint32_t handle, uint32_t parent, uint64_t session);
    // moveNow() of the object `pushed` (in `parent`, of `session`); a
    // failure whose answer may be lost counts as done once the phone says
    // the object has the new name.
    void moveTo(uint32_t pushed, uint32_t parent, uint64_t session, const QString& from, const QString& to);
    void checkCancel() const;
    void deleteQuietly(uint32_t handle);

    const std::shared_ptr<UsbHost> m_host;
    const uint64_t m_registryID;
    const QString m_serial;

    // Guards status, name, the running ticket's cancel flag and checkPending.
    mutable std::mutex m_lock;
    Status m_status = Status::connecting;
    QString m_name;
    std::shared_ptr<RunTicket> m_activeRun;
    bool m_checkPending = false;
    bool m_closed = false;
    // The interface in use, for aborting its transfers from another thread;
    // set and cleared on the queue.
    UsbInterface* m_live = nullptr;
    // When the USB request now waiting for the phone began (steady clock
    // ticks); 0 when none waits.
    std::atomic<int64_t> m_waitingSince{0};
    // How long that request may wait once the run is stopped (milliseconds).
    std::atomic<int64_t> m_waitingGrace{stopGrace.count()};

    // Work queue only.
    std::unique_ptr<UsbInterface> m_interface;
    std::optional<uint8_t> m_bulkIn, m_bulkOut, m_eventPipe;
    int m_outPacketSize = 512;
    std::unique_ptr<char[]> m_readBuffer;
    QByteArray m_inbox;  // bytes that arrived beyond the container being read
    QByteArray m_chunk;  // holds the inbox while read() hands it out
    QByteArray m_pending; // the data-out phase's bytes not yet written
    std::optional<int64_t> m_statedLength; // of the last transaction's data-in phase
    bool m_dataDelivered = false;          // the last transaction had a data-in phase
    std::shared_ptr<EventListener> m_listener;
    uint32_t m_transactionID = 0;
    QSet<uint16_t> m_operations;
    QSet<uint16_t> m_deviceProperties;
    std::optional<QString> m_manufacturer;
    std::optional<uint32_t> m_storageID;
    QHash<QString, uint32_t> m_handles; // path cache: components joined by "/" → handle
    // What pushes and new folders made, by the key of the path they made it
    // at; kept over reopened sessions, each handle checked before it is used.
    QHash<QString, Made> m_made;
    bool m_listsByProperties = true; // until a property list of the phone fails
    uint64_t m_sessions = 0;         // sessions opened: handles are asked about only within one
    bool m_recovering = false;
    // A look at whether a stopped step was carried out after all: the Stop
    // doesn't end it, the time allowed after a Stop does.
    bool m_askingAfterStop = false;
    bool m_settingUp = false; // connect() opens the session and reads the phone
    std::chrono::milliseconds m_timeout{60000};

    // Last, so that they stop before the state their work uses goes away.
    SerialQueue m_eventQueue;
    SerialQueue m_queue;
};

template <class Body>
auto MTPConnection::withPaths(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&>
{
    using Result = std::invoke_result_t<Body&>;
    if constexpr (std::is_void_v<Result>) {
        run([&](MTPConnection& self) { self.retryingStalePaths([&] { body(); }); }, cancel);
    } else {
        std::optional<Result> result;
        run([&](MTPConnection& self) { self.retryingStalePaths([&] { result.emplace(body()); }); }, cancel);
        return std::move(*result);
    }
}

template <class Body>
auto MTPConnection::changing(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&>
{
    using Result = std::invoke_result_t<Body&>;
    if constexpr (std::is_void_v<Result>) {
        run([&](MTPConnection& self) { self.forgetAfterUnknownOutcome([&] { body(); }); }, cancel);
    } else {
        std::optional<Result> result;
        run([&](MTPConnection& self) { self.forgetAfterUnknownOutcome([&] { result.emplace(body()); }); }, cancel);
        return std::move(*result);
    }
}

template <class Body>
auto MTPConnection::run(Body&& body, const Cancel& cancel) -> std::invoke_result_t<Body&, MTPConnection&>
{
    using Result = std::invoke_result_t<Body&, MTPConnection&>;
    if constexpr (std::is_void_v<Result>) {
        runOnQueue([&] { body(*this); }, cancel);
    } else {
        std::optional<Result> result;
        runOnQueue([&] { result.emplace(body(*this)); }, cancel);
        return std::move(*result);
    }
}
