#pragma once

#include "ADB.h"
#include "ControlMessage.h"
#include "H264SampleBuilder.h"

#include <QMetaObject>
#include <QString>
#include <QStringDecoder>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <variant>

class ChildProcess;
class ControlMessage;
class MirrorAudio;
class SystemError;

// Everything the mirroring server prints, keeping the last 4096 characters.
class ServerLog {
public:
    void append(const QByteArray& bytes);
    // The last line naming an error or an exception, without the server's prefixes.
    std::optional<QString> lastLine() const;

private:
    mutable std::mutex m_lock;
    QStringDecoder m_decoder {QStringDecoder::Utf8};
    QString m_text;
};

// One running mirroring server on a phone with its sockets. Shared: the
// reader threads hold it; the server's watcher and the quit hook hold it weakly.
class MirrorConnection : public std::enable_shared_from_this<MirrorConnection> {
public:
    // What the connection reports to its owner, on the thread that read it.
    struct Event {
        // The video stream announced a new frame size (phone pixels).
        struct Size {
            double width = 0;
            double height = 0;
        };
        // One sample ready for display.
        struct Frame {
            H264Sample sample;
        };
        // The phone's clipboard changed.
        struct Clipboard {
            QString text;
        };
        // Mirroring ended by itself; no error means the server process exited.
        struct Ended {
            std::exception_ptr error;
        };

        std::variant<Size, Frame, Clipboard, Ended> value;
    };
    using EventHandler = std::function<void(const Event&)>;

    // What a reader loop needs of its connection; every call takes the
    // connection's lock for itself alone.
    class ReaderLink {
    public:
        virtual ~ReaderLink() = default;
        virtual bool stopped() = 0;
        virtual void stop() = 0;
        // Stores the player where stop() will find it; false, storing
        // nothing, when the connection is already stopped.
        virtual bool keepAudio(std::shared_ptr<MirrorAudio> player) = 0;
    };
    using AudioFactory = std::function<std::shared_ptr<MirrorAudio>()>;

    // The reader loops, each on a thread of its own. They return when their
    // stream ends and never close their descriptors.
    //
    // Video: delivers size and frame; on a broken stream stops the connection
    // and then delivers ended, unless the connection was already stopped.
    // A connection's own readers deliver nothing once its stop() has returned.
    static void readVideo(int fd, ReaderLink& link, const EventHandler& onEvent);
    // Audio: plays the sound through a player from `makePlayer`; ends
    // silently whatever goes wrong, without an event.
    static void readAudio(int fd, ReaderLink& link, const AudioFactory& makePlayer);
    // Device messages: delivers clipboard; ends silently.
    static void readDeviceMessages(int fd, const EventHandler& onEvent);

    // Reads exactly `size` bytes, repeating reads interrupted by a signal.
    // Throws SystemError ECONNRESET at the end of the stream or on any error.
    static void readExact(int fd, void* buffer, size_t size);
    // A POSIX failure of the streams, described by the system's own text.
    static SystemError posixError(int code);

    // What tests and the packaging change; the defaults are the real ones.
    struct Options {
        QStringList serverCandidates = defaultServerCandidates();
        std::chrono::milliseconds deadline {8000}; // for the first (video) connection
        std::chrono::milliseconds pause {100};     // between connection attempts
        AudioFactory makePlayer;                   // none: the default audio output
        // Control messages waiting for the phone; a message that would go
        // beyond this is dropped (one always fits into an empty queue), but
        // never the release of a press that was queued.
        qsizetype controlQueueLimit = 1 << 20;
        // How long the phone may take no control byte at all, while messages
        // wait, before mirroring stops.
        std::chrono::milliseconds controlStall {3000};
    };
    // The installed resource folder's file, then the source tree's.
    static QStringList defaultServerCandidates();
    static const QString remoteServerPath;

    static std::shared_ptr<MirrorConnection> create(ADB adb, QString serial, bool audio, EventHandler onEvent,
                                                    Options options);
    ~MirrorConnection();
    MirrorConnection(const MirrorConnection&) = delete;
    MirrorConnection& operator=(const MirrorConnection&) = delete;

    // Pushes and starts the server and connects the streams; returns when the
    // readers run. Blocking, on a worker thread; called once. Throws ADBError,
    // SystemError or Cancelled (also when stop() comes first); each failing
    // step keeps its own error, also when the server has exited meanwhile. A
    // connection whose start failed delivers no events.
    void start(const Cancel& cancel);
    // Idempotent; from any thread. Ends the readers, the server and the forward.
    // Once it returns, no event is delivered: a delivery under way (at most
    // one frame's decoding) finishes first.
    void stop();
    // Queues one control message for the control writer, which writes it
    // whole. Never blocks; a no-op once stopped or before the streams exist;
    // a message that doesn't fit the queue is dropped whole. When the phone
    // takes nothing for `controlStall` while messages wait (the socket's
    // buffers and then the queue stay full), the connection ends with
    // `controlStalledText()`.
    void send(const ControlMessage& message);
    static QString controlStalledText();

    bool wantsAudio() const { return m_wantsAudio; }
    // Connections tried for the video stream so far (for benchmarks).
    int connectionAttempts() const { return m_attempts; }

    bool stopped();

    // A descriptor that is shut down by stop() but closed only by its last holder.
    struct Socket {
        explicit Socket(int descriptor) : fd(descriptor) {}
        ~Socket();
        Socket(const Socket&) = delete;
        Socket& operator=(const Socket&) = delete;
        const int fd;
    };
    using SocketPtr = std::shared_ptr<Socket>;

private:
    MirrorConnection(ADB adb, QString serial, bool audio, EventHandler onEvent, Options options);

    std::optional<QString> serverJar() const;
    std::shared_ptr<ServerLog> launchServer(const QString& scid);
    SocketPtr connectWhenReady(int port, const ServerLog& log, const Cancel& halt);
    static SocketPtr connect(int port);
    void registerSockets(SocketPtr video, SocketPtr audio, SocketPtr control);
    void serverEnded();
    bool serverHasExited();
    void startReaders(const SocketPtr& video, const SocketPtr& audio, const SocketPtr& control);
    void writeControl(const SocketPtr& control);
    void removeForward(int port) const;
    bool keepAudio(std::shared_ptr<MirrorAudio> player);
    std::optional<QString> lastServerLine(std::chrono::milliseconds patience);
    // The events' only road to the owner.
    void deliver(const Event& event);
    // Stops the connection and owes the owner one `ended`; false when it was
    // already stopped, by itself or by the owner.
    bool stopItself();
    void endItself(std::exception_ptr error);
    // No event is delivered from now on.
    void closeDeliveries();
    void halt();
    class Link;

    const ADB m_adb;
    const QString m_serial;
    const EventHandler m_onEvent;
    const bool m_wantsAudio;
    const Options m_options;

    std::mutex m_lock;
    std::condition_variable_any m_wake; // a pause ends early when the server exits
    std::shared_ptr<ChildProcess> m_server;
    SocketPtr m_videoSocket;
    SocketPtr m_controlSocket;
    SocketPtr m_audioSocket;
    std::shared_ptr<MirrorAudio> m_audio;
    std::optional<int> m_forwardedPort;
    bool m_stopped = false;
    bool m_starting = true;       // until start() has returned
    bool m_serverExited = false;  // seen by start() while it runs
    std::shared_ptr<ServerLog> m_log;
    // Control messages waiting for the writer thread (guarded by m_lock).
    std::condition_variable m_controlWake;
    ControlQueue m_controlQueue;

    // Held while an event is delivered, so that stop() can wait for it; taken
    // before m_lock. Recursive: the owner's handler may stop the connection.
    std::recursive_mutex m_deliveryLock;
    bool m_delivers = true; // until the first stop
    bool m_endOwed = false; // stopped itself; its `ended` is still to come

    std::atomic<int> m_attempts {0};
    std::stop_source m_halt; // stop() and the caller's cancellation end start()'s waits
    QMetaObject::Connection m_quitHook;
};
