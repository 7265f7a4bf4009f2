#pragma once

// One adb connection and the streams it carries. A stream sends one WRTE at a
// time and waits for the host's OKAY before the next; the host does the same
// towards us, so a stream that cannot take more input yet holds back its OKAY.

#include "AdbWire.h"
#include "Phone.h"

#include <QByteArray>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <poll.h>
#include <vector>

namespace adbphone {

using Clock = std::chrono::steady_clock;

// How the mirroring client starts its server on the phone.
inline constexpr char kMirrorServerCommand[] =
    "CLASSPATH=/data/local/tmp/vantelorquist-scrcpy-server.jar app_process / com.genymobile.scrcpy.Server ";

class ShellStream;

class Stream {
public:
    Stream(Connection& connection, uint32_t localId, uint32_t remoteId);
    virtual ~Stream() = default;

    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    // The host's WRTE; the stream answers it with OKAY once it took the data.
    virtual void hostWrite(const QByteArray& data) = 0;
    void hostOkay() { m_awaitingOkay = false; }
    // Called on every turn of the loop: make whatever progress is possible.
    virtual void service(Clock::time_point now) = 0;
    virtual void addPollFds(std::vector<pollfd>& fds) const { (void)fds; }
    virtual std::optional<Clock::time_point> wakeAt() const { return std::nullopt; }

    bool finished() const { return m_finished; }

protected:
    Phone& phone();
    bool canSend() const;
    // Sends up to one payload off the front of `queue`.
    void sendFrom(QByteArray& queue);
    void acknowledge();
    // Closes our side; the connection then forgets the stream.
    void finish();

    Connection& m_connection;
    const uint32_t m_localId;
    const uint32_t m_remoteId;

private:
    bool m_awaitingOkay = false;
    bool m_finished = false;
};

class Connection {
public:
    Connection(Phone& phone, int fd);
    ~Connection();

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void readAvailable();
    void service(Clock::time_point now);
    void flush();
    void addPollFds(std::vector<pollfd>& fds) const;
    std::optional<Clock::time_point> wakeAt() const;

    bool dead() const { return m_dead; }
    // Closes the link as a phone that vanished would: what is queued still
    // goes out, nothing more is read or answered.
    void drop();

    void send(uint32_t command, uint32_t arg0, uint32_t arg1, const QByteArray& data = {});
    uint32_t maxPayload() const { return m_maxPayload; }
    Phone& phone() { return m_phone; }

private:
    void handle(const adbwire::Message& message);
    void sendAuthToken();
    void open(uint32_t remoteId, QByteArray service);
    // The server's shell: it serves until adb closes it, or prints the exit
    // lines of the knobs and ends.
    std::unique_ptr<Stream> startMirrorServer(uint32_t localId, uint32_t remoteId, int kind,
                                              const QByteArray& command);
    void close();

    Phone& m_phone;
    int m_fd;
    QByteArray m_in;
    QByteArray m_out;
    qsizetype m_outOffset = 0;
    bool m_online = false;
    bool m_dead = false;
    bool m_dropping = false;
    uint32_t m_maxPayload = 4096;
    uint32_t m_nextLocalId = 1;
    std::map<uint32_t, std::unique_ptr<Stream>> m_streams;
    std::set<uint32_t> m_leaving; // streams whose end takes the phone away
};

// Shell commands ("shell,v2,...:", "shell:", "exec:"), run or scripted.
class ShellStream : public Stream {
public:
    enum class Kind {
        ShellV2, // framed stdout/stderr/exit packets
        Raw,     // plain bytes, stderr mixed in, no exit status
    };

    ShellStream(Connection& connection, uint32_t localId, uint32_t remoteId, Kind kind);
    ~ShellStream() override;

    void startScripted(const ScriptedReply& reply);
    void startCommand(const QByteArray& command, const QByteArray& term);
    // Ends as a shell whose connection dropped ends for adb 29: status 0,
    // only the first `keep` bytes of standard output, no standard error.
    void cutAfter(qint64 keep)
    {
        m_cut = true;
        m_keep = std::max<qint64>(0, keep);
    }

    void hostWrite(const QByteArray& data) override;
    void service(Clock::time_point now) override;
    void addPollFds(std::vector<pollfd>& fds) const override;

private:
    void appendOutput(char id, const char* data, qsizetype size);
    void readPipe(int& fd, char id);
    void feedStdin();
    void closeFd(int& fd);

    Kind m_kind;
    pid_t m_pid = -1;
    int m_pidFd = -1;
    int m_inFd = -1;
    int m_outFd = -1;
    int m_errFd = -1;
    bool m_exited = false;
    int m_status = 0;
    bool m_exitQueued = false;
    bool m_okayOwed = false;
    bool m_closeStdin = false;
    bool m_cut = false;
    qint64 m_keep = 0;
    QByteArray m_pending;  // to the host
    QByteArray m_stdin;    // to the command
    QByteArray m_packets;  // shell packets from the host, not yet complete
};

// A scripted command that takes its time: a reply held back for a while, or
// the phone's log, which runs until the host closes it or the script ends it.
class TimedStream : public Stream {
public:
    TimedStream(Connection& connection, uint32_t localId, uint32_t remoteId, ShellStream::Kind kind);
    ~TimedStream() override;

    void startReply(const ScriptedReply& reply, Clock::time_point now);
    void startLog(const LogScript& script, Clock::time_point now);
    // The mirroring server's shell: open while the server runs; closing it
    // from the host ends the server.
    void startMirror();

    void hostWrite(const QByteArray& data) override;
    void service(Clock::time_point now) override;
    std::optional<Clock::time_point> wakeAt() const override;

private:
    void append(char id, const QByteArray& data);

    ShellStream::Kind m_kind;
    QByteArray m_pending;
    // a held reply
    std::optional<ScriptedReply> m_reply;
    Clock::time_point m_replyAt {};
    // a log
    bool m_log = false;
    LogScript m_script;
    qint64 m_nextEntry = 0;
    Clock::time_point m_nextLive {};
    bool m_dropped = false;
    bool m_mirror = false;
    // the end
    bool m_exiting = false;
    bool m_exitSent = false;
    int m_status = 0;
};

// One stream of the mirroring server ("localabstract:scrcpy_<scid>"),
// carried between adb and our end of the server's socket, one WRTE at a
// time each way.
class BridgeStream : public Stream {
public:
    BridgeStream(Connection& connection, uint32_t localId, uint32_t remoteId, int fd);
    ~BridgeStream() override;

    void hostWrite(const QByteArray& data) override;
    void service(Clock::time_point now) override;
    void addPollFds(std::vector<pollfd>& fds) const override;

private:
    int m_fd;
    bool m_ended = false;   // the server closed its side
    QByteArray m_toHost;
    QByteArray m_toServer;  // the host's last WRTE, acknowledged once written
};

// The file sync service ("sync:"): STAT, LIST, RECV, SEND, QUIT.
class SyncStream : public Stream {
public:
    SyncStream(Connection& connection, uint32_t localId, uint32_t remoteId);
    ~SyncStream() override;

    void hostWrite(const QByteArray& data) override;
    void service(Clock::time_point now) override;
    std::optional<Clock::time_point> wakeAt() const override;

private:
    enum class State { Idle, Receiving, Sending, Closing };

    void process();
    bool takeRequest();
    bool takeSendPacket();
    void stat(const QByteArray& path);
    void list(const QByteArray& path);
    void startReceive(const QByteArray& path);
    void startSend(const QByteArray& pathAndMode);
    void finishSend(uint32_t mtime);
    void sendChunk(Clock::time_point now);
    void fail(const QByteArray& message);
    void abandonSend();
    void closeFile();

    State m_state = State::Idle;
    QByteArray m_in;
    QByteArray m_pending;
    int m_fileFd = -1;
    // SEND in progress
    int m_parentFd = -1;
    QByteArray m_name;
    bool m_symlink = false;
    QByteArray m_linkTarget;
    // pacing
    Clock::time_point m_nextChunk {};
    bool m_okayOwed = false;
    Clock::time_point m_okayAt {};
};

} // namespace adbphone
