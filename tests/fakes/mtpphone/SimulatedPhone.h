#pragma once

#include "PhoneContent.h"
#include "UsbHost.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <vector>

namespace mtpsim {

// A phone in "File transfer" mode, seen from the USB cable: an MTP responder
// over an in-memory storage tree, answering the containers that arrive on its
// bulk-out pipe the way the MTP standard has a phone answer them, with knobs
// for the ways real phones fail. Thread-safe; plug it into a SimulatedUsbHost.
class SimulatedPhone {
public:
    // How the phone behaves. Change it through configure().
    struct Settings {
        // USB identity.
        std::optional<QString> usbSerial = QStringLiteral("SIM0001");
        std::optional<QString> usbProduct = QStringLiteral("Pixel_7");
        std::optional<QString> interfaceName = QStringLiteral("MTP");
        uint8_t interfaceNumber = 0;
        std::vector<UsbEndpoint> endpoints = {{0x81, UsbEndpoint::bulk, 512},
                                              {0x01, UsbEndpoint::bulk, 512},
                                              {0x82, UsbEndpoint::interrupt, 28}};

        // DeviceInfo.
        QString manufacturer = QStringLiteral("Google");
        QString model = QStringLiteral("Pixel 7");
        std::optional<QString> friendlyName; // DeviceFriendlyName offered when set
        std::optional<uint8_t> batteryLevel; // BatteryLevel offered when set
        std::set<uint16_t> operations;       // filled with everything the phone can do

        // Failure modes.
        bool heldByOtherProgram = false;  // claiming the interface fails as busy
        bool sessionOpen = false;         // a session is already open (OpenSession answers 0x201E)
        bool coalesceResponse = false;    // data and response leave in one transfer
        bool unboundedLengths = false;    // data containers announce 0xFFFFFFFF
        // GetObjectPropList answers about the object asked for whatever the
        // depth (the root as handle 0 named "/"), as some responders do.
        bool propListAboutItself = false;
        // Folder (0: the root) → handles it lists besides its children, both ways of listing.
        std::multimap<uint32_t, uint32_t> alsoListed;
        // Operation → the data phase sent instead of the real one (malformed or endless replies).
        std::map<uint16_t, std::shared_ptr<Content>> dataFor;
        uint64_t cancelLeftover = 1536;   // bytes still in flight when a Cancel arrives
        // After a Cancel request, Get Device Status answers Device_Busy this
        // many times before OK (the phone winding the transaction down).
        int busyAfterCancel = 2;
        // A Cancel request halts both bulk endpoints: Get Device Status names
        // them, and they fail every transfer until the host clears them.
        bool haltOnCancel = false;
        // Get Device Status is refused (the control pipe stalls), as by a
        // phone that never implemented it.
        bool refusesDeviceStatus = false;
        uint64_t keepLimit = 64ull << 20; // received bytes kept per object
        std::map<uint16_t, uint16_t> responseFor; // operation → response code, every time
        std::map<uint16_t, int> silentFor;        // operation → how many times it goes unanswered
        // A slow cable: each bulk transfer takes this long per MiB it moves.
        std::chrono::microseconds delayPerMiB{0};
        // The operation the phone freezes at, as freezeAfterBytes() does: it
        // carries the command out, and its response waits until thaw().
        std::optional<uint16_t> freezeAt;
        // Called as each command arrives, with the phone's lock held: it must
        // not call back into the phone.
        std::function<void(uint16_t code)> onCommand;
        // Called like onCommand; when it gives transfers, they are sent on the
        // bulk-in pipe exactly as given (an empty one a zero-length packet)
        // instead of the phone's own data and response (a broken or hostile stack).
        std::function<std::optional<std::vector<QByteArray>>(uint16_t code, uint32_t transaction)> replyInstead;
        // Sent on the bulk-in pipe whenever the phone has nothing else to send,
        // for ever (a stack stuck repeating itself).
        std::optional<QByteArray> chatter;
        // The chatter stops at a Cancel request or a device reset (a stack
        // stuck in the transaction it was given up on).
        bool chatterEndsOnCancel = false;
        // SendObjectInfo creates the object but answers with this handle for it.
        std::optional<uint32_t> newHandle;
        // An answer lost on the way: the next command of one of these
        // operations is carried out and its data sent, but its response never
        // comes (the set empties then). The read waiting for it fails at once
        // with a time-out, or with lostAnswerWaits waits until the host aborts
        // it or cancels the transaction (a slow answer: a Cancel is accepted).
        std::set<uint16_t> loseAnswerOf;
        bool lostAnswerWaits = false;
        // Objects whose GetObjectInfo fails with General_Error: items the phone can't describe.
        std::set<uint32_t> undescribed;

        // Faults for the copy tests.
        // Frozen: bulk transfers both ways and class requests wait without an
        // answer until this is turned off, the transfer's time-out passes or
        // the host aborts it; nothing is closed, as a phone whose MTP service hangs.
        bool unresponsive = false;
        // No room: SendObjectInfo answers Store_Full for files and folders.
        bool storageFull = false;
        // Names are compared ignoring letter case (and Unicode composition),
        // as on a FAT or case-folding storage: a new object or a rename to a
        // name a sibling has in another case is refused (General_Error).
        bool caseInsensitiveNames = false;
    };

    struct Command {
        uint16_t code;
        uint32_t transaction;
        std::vector<uint32_t> params;
        std::chrono::milliseconds timeout; // of the transfer that carried it
    };
    struct ClassRequest {
        uint8_t requestType;
        uint8_t request;
        uint16_t value;
        uint16_t index;
        QByteArray data;
    };
    struct Object {
        uint32_t handle = 0;
        uint32_t storage = 0;
        uint32_t parent = 0; // 0: the storage root
        uint16_t format = 0x3000;
        QString name;
        QString created;
        QString modified; // MTP date strings
        std::shared_ptr<Content> content;
        bool isFolder() const { return format == 0x3001; }
        uint64_t size() const { return content ? content->size() : 0; }
    };

    SimulatedPhone();
    ~SimulatedPhone();

    void configure(const std::function<void(Settings&)>& change);
    Settings settings() const;

    // ---- storage ------------------------------------------------------------
    // Storage IDs are listed in the order added; one whose low half is zero
    // stands for a slot without a medium.
    void addStorage(uint32_t id, uint64_t capacity = 64ull << 30, uint64_t free = 32ull << 30,
                    const QString& description = QStringLiteral("Internal shared storage"));
    void removeStorage(uint32_t id);
    // New objects; `parent` 0 is the root of `storage` (the first storage when 0).
    uint32_t addFolder(uint32_t parent, const QString& name, const QDateTime& modified = {}, uint32_t storage = 0);
    uint32_t addFile(uint32_t parent, const QString& name, std::shared_ptr<Content> content,
                     const QDateTime& modified = {}, uint32_t storage = 0);
    uint32_t addFile(uint32_t parent, const QString& name, const QByteArray& bytes, const QDateTime& modified = {},
                     uint32_t storage = 0);
    void removeObject(uint32_t handle);
    // As the phone's own Files app renames and moves: the handle stays.
    void renameObject(uint32_t handle, const QString& name);
    void moveObject(uint32_t handle, uint32_t parent); // in the same storage
    std::optional<Object> object(uint32_t handle) const;
    // The object at "a/b/c" below the first storage's root (exact names).
    std::optional<Object> objectAt(const QString& path) const;
    // Every object of every storage, as it is now.
    std::vector<Object> objects() const;
    // The path of an object below its storage's root ("a/b/c").
    QString pathOf(uint32_t handle) const;
    static QString dateString(const QDateTime& date);

    // ---- foreign containers -----------------------------------------------------
    // Raw bytes sent on the bulk-in pipe before the reply to the next command
    // (an event container, what is left of another transaction, a zero-length packet).
    void injectBeforeNextReply(const QByteArray& transfer);
    static QByteArray container(uint16_t type, uint16_t code, uint32_t transaction,
                                const std::vector<uint32_t>& params = {});
    // Completes the pending interrupt read with these bytes, as an event would;
    // false when no read is pending.
    bool sendEvent(const QByteArray& bytes);

    // ---- faults on the wire ---------------------------------------------------
    enum class Direction { in, out };
    // After `bytes` more bytes in that direction, the next transfer fails with
    // `status`; with `unplug` the phone is gone from then on. With `armedBy`,
    // the bytes are counted only from the arrival of that operation's command.
    void failAfter(Direction direction, uint64_t bytes, UsbStatus status, bool unplug = false,
                   std::optional<uint16_t> armedBy = std::nullopt);
    // The next bulk transfer in that direction stalls.
    void stallNext(Direction direction);

    // ---- a phone that stops answering -------------------------------------------
    // After `bytes` more bulk bytes (either direction) the phone freezes, as
    // one on a link that went dead without a reset: it stays attached, and
    // every transfer and control request waits out its time-out (or until the
    // host abandons the interface) and fails. thaw() lets it answer again.
    void freezeAfterBytes(uint64_t bytes);
    void thaw();
    bool frozen() const;

    // ---- a phone that holds a transfer ------------------------------------------
    // After `bytes` more bulk bytes (either direction) the next bulk transfer
    // waits, as on a cable so slow that nothing more gets across, while
    // class requests are answered: until resume(), its time-out, or the host
    // aborts it (a Stop cuts it off), which ends the pause. A test holds a
    // copy under way with it, for as long as it needs, and no longer.
    void pauseAfterBytes(uint64_t bytes);
    void resume();
    // Whether a bulk transfer is waiting in the pause.
    bool paused() const;

    // ---- what happened ----------------------------------------------------------
    std::vector<Command> commands() const;
    std::vector<uint16_t> commandCodes() const;
    std::vector<ClassRequest> classRequests() const; // host-to-device ones
    int deviceStatusRequests() const;                // Get Device Status requests answered
    std::vector<size_t> outTransfers() const; // sizes of bulk-out transfers, zero-length packets included
    std::vector<size_t> inTransfers() const;  // sizes of bulk-in transfers that succeeded
    std::vector<uint32_t> dataLengths() const; // length fields of the data containers received
    int claimAttempts() const;
    std::vector<uint8_t> clearedStalls() const;
    std::vector<QString> violations() const;  // what a real phone would have choked on
    int claims() const;
    int releases() const;
    bool claimed() const;
    bool sessionIsOpen() const;
    int pendingInterruptReads() const;
    // The endpoints the host moved bulk data on, and the one it last read events from.
    std::set<uint8_t> bulkEndpointsUsed() const;
    std::optional<uint8_t> interruptEndpointUsed() const;
    void clearRecords();

    // ---- the USB side (used by SimulatedUsbHost) --------------------------------
    bool attached() const;
    void setAttached(bool attached); // plugging in again starts from a fresh USB state
    // Claims the interface; throws UsbError.
    void claim();
    void release();
    size_t bulkOut(uint8_t endpoint, QByteArrayView data, std::chrono::milliseconds timeout);
    size_t bulkIn(uint8_t endpoint, char* buffer, size_t capacity,
                  std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    // Ends the bulk transfers in progress, as cancelling their URBs does: they
    // fail with `aborted` at once, whether or not the phone answers; the
    // phone is left where the transfer got to.
    void abortBulk();
    void controlOut(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, QByteArrayView data,
                    std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    size_t controlIn(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index, char* buffer,
                     size_t capacity, std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    void readInterrupt(uint8_t endpoint, size_t capacity, UsbInterface::ReadDone done);
    void abortInterrupt();
    void clearStall(uint8_t endpoint);
    // Waits while the phone is frozen, at most `timeout` or until `abandoned`;
    // whether it is still frozen.
    bool waitWhileFrozen(std::chrono::milliseconds timeout, const std::atomic<bool>& abandoned);
    // Wakes the waits above (the host abandoned an interface).
    void wakeFrozenWaits();

private:
    struct Message;
    struct Storage {
        uint32_t id;
        uint64_t capacity;
        uint64_t free;
        QString description;
    };
    struct Reply {
        uint16_t code = 0x2001;
        std::vector<uint32_t> params;
        std::optional<QByteArray> data;
        std::shared_ptr<Content> content; // a file's bytes as the data phase
    };
    struct Fault {
        Direction direction;
        uint64_t budget;
        UsbStatus status;
        bool unplug;
        std::optional<uint16_t> armedBy; // counting waits for this command
    };

    void checkFault(Direction direction, size_t bytes); // throws UsbError
    void countTowardsFreeze(size_t bytes);
    void countTowardsPause(size_t bytes);
    // While paused: waits until that ends; throws UsbError on a time-out, an abort or an unplug.
    void waitWhilePaused(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, uint64_t aborts);
    // Waits as the cable would; an unplug, or an abort since the abort count
    // was `aborts`, ends it with UsbError. Returns the bytes that got across
    // before an abort (whole packets of `packet` bytes) through `across`.
    void travel(std::unique_lock<std::mutex>& lock, size_t bytes, uint64_t aborts, size_t* across = nullptr,
                size_t packet = 512);
    size_t bulkInNow(char* buffer, size_t capacity);
    [[noreturn]] void fail(UsbStatus status);
    void handleCommand(QByteArrayView bytes, std::chrono::milliseconds timeout);
    void receiveData(QByteArrayView bytes);
    void finishDataPhase();
    Reply execute(uint16_t code, const std::vector<uint32_t>& params, const QByteArray& data);
    void queueReply(uint16_t code, uint32_t transaction, const Reply& reply);
    void queueReplyParts(uint16_t code, uint32_t transaction, const Reply& reply, bool withResponse);
    // While a lost answer is awaited: waits until the host gives up on it.
    void waitWhileHolding(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout, uint64_t aborts);
    void cancelTransaction(uint32_t transaction);
    void resetDevice();
    uint32_t storageOr(uint32_t storage) const;
    bool validObject(uint32_t handle) const;
    std::vector<uint32_t> descendants(uint32_t handle) const;
    std::vector<uint32_t> listed(uint32_t folder) const; // a folder's children in a property list
    QByteArray deviceInfo() const;
    QByteArray objectInfoDataset(const Object& object) const;
    Reply propertyList(const std::vector<uint32_t>& params) const;
    Reply sendObjectInfo(const std::vector<uint32_t>& params, const QByteArray& data);
    uint32_t newObject(Object object);

    // While unresponsive: waits until that ends; throws UsbError on a time-out, an abort or an unplug.
    // `aborts` is the abort count when the transfer began: an abort that came
    // while it travelled ends it too, as it reaches the frozen phone.
    void waitWhileUnresponsive(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds timeout,
                               uint64_t aborts);
    // A sibling of a new or renamed object that has its name as this phone compares names.
    bool nameTaken(uint32_t storage, uint32_t parent, const QString& name, uint32_t except) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed; // settings, attachment, aborts
    uint64_t m_bulkAborts = 0;
    Settings m_settings;
    std::vector<Storage> m_storages;
    std::map<uint32_t, Object> m_objects;
    uint32_t m_nextHandle = 1;

    // USB state.
    bool m_attached = true;
    bool m_claimed = false;
    std::deque<Message> m_bulkIn;
    std::vector<QByteArray> m_injected;
    std::optional<UsbInterface::ReadDone> m_interruptRead;
    std::optional<Fault> m_fault;
    bool m_stallIn = false, m_stallOut = false;
    std::set<uint8_t> m_halted; // bulk endpoints halted until the host clears them
    int m_busy = 0;             // Get Device Status answers still busy
    std::optional<uint64_t> m_freezeBudget;
    std::optional<uint64_t> m_pauseBudget;
    bool m_pausing = false; // bulk transfers wait
    bool m_heldInPause = false;
    std::optional<uint32_t> m_holding; // the transaction whose lost answer the host awaits
    bool m_frozen = false;
    std::condition_variable m_frozenChanged;

    // Protocol state.
    struct Incoming {
        uint16_t code;
        uint32_t transaction;
        std::vector<uint32_t> params;
        bool started = false;
        uint64_t announced = 0; // container length, 0xFFFFFFFF unbounded
        uint64_t received = 0;  // container bytes, header included
        QByteArray data;        // the dataset (not for SendObject)
        bool silent = false;    // no answer when it ends
    };
    std::optional<Incoming> m_incoming; // a data-out phase in progress
    bool m_expectZeroLength = false;
    std::optional<uint32_t> m_sendTarget; // the object SendObjectInfo announced
    uint32_t m_sendAnnounced = 0;         // the size its ObjectInfo gave
    uint32_t m_sessionID = 0;

    // Records.
    std::vector<Command> m_commands;
    std::vector<ClassRequest> m_classRequests;
    int m_deviceStatusRequests = 0;
    std::vector<size_t> m_outTransfers;
    std::vector<size_t> m_inTransfers;
    std::vector<uint32_t> m_dataLengths;
    int m_claimAttempts = 0;
    std::vector<uint8_t> m_clearedStalls;
    std::vector<QString> m_violations;
    int m_claims = 0, m_releases = 0;
    std::set<uint8_t> m_bulkEndpoints;
    std::optional<uint8_t> m_interruptEndpoint;
};

} // namespace mtpsim
