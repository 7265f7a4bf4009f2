#include "Streams.h"

#include <algorithm>

namespace adbphone {

namespace {

constexpr char kStdout = 1;
constexpr char kStderr = 2;
constexpr char kExit = 3;

// How often a log looks at the knobs for its end or a drop.
constexpr auto kKnobCheck = std::chrono::milliseconds(50);

} // namespace

TimedStream::TimedStream(Connection& connection, uint32_t localId, uint32_t remoteId, ShellStream::Kind kind)
    : Stream(connection, localId, remoteId), m_kind(kind)
{
}

TimedStream::~TimedStream()
{
    if (m_mirror)
        phone().stopMirror();
    if (m_log)
        phone().recordLogEvent(m_dropped ? "dropped" : m_exiting ? "ended" : "closed");
}

void TimedStream::append(char id, const QByteArray& data)
{
    if (data.isEmpty())
        return;
    if (m_kind == ShellStream::Kind::Raw) {
        m_pending += data;
        return;
    }
    const qsizetype largest = static_cast<qsizetype>(m_connection.maxPayload()) - 5;
    for (qsizetype offset = 0; offset < data.size(); offset += largest) {
        const qsizetype piece = std::min(largest, data.size() - offset);
        m_pending += id;
        adbwire::putLe32(m_pending, static_cast<uint32_t>(piece));
        m_pending += data.mid(offset, piece);
    }
}

void TimedStream::startReply(const ScriptedReply& reply, Clock::time_point now)
{
    m_reply = reply;
    m_replyAt = now + std::chrono::milliseconds(reply.delayMs);
}

void TimedStream::startLog(const LogScript& script, Clock::time_point now)
{
    m_log = true;
    m_script = script;
    phone().recordLogEvent("opened");
    QByteArray history = QByteArray(kLogHeader) + '\n';
    for (; m_nextEntry < script.history; ++m_nextEntry)
        history += logEntry(m_nextEntry) + '\n';
    for (const QByteArray& line : script.extra)
        history += line + '\n';
    append(kStdout, history);
    m_nextLive = now + std::chrono::milliseconds(script.intervalMs);
}

void TimedStream::startMirror()
{
    m_mirror = true;
}

void TimedStream::hostWrite(const QByteArray& data)
{
    (void)data; // neither a reply nor a log reads its input
    acknowledge();
}

void TimedStream::service(Clock::time_point now)
{
    if (m_log && !m_exiting) {
        const LogScript& current = phone().knobs().log;
        if (current.dropGeneration != m_script.dropGeneration) {
            m_dropped = true;
            m_connection.drop();
            return;
        }
        if (current.endGeneration != m_script.endGeneration)
            m_exiting = true;
    }
    if (m_mirror && !m_exiting && !phone().serviceMirror())
        m_exiting = true;
    if (m_reply && now >= m_replyAt) {
        append(kStdout, m_reply->out);
        append(kStderr, m_reply->err);
        m_status = m_reply->status & 0xff;
        m_reply.reset();
        m_exiting = true;
    }
    if (m_log && !m_exiting && m_script.intervalMs > 0 && now >= m_nextLive) {
        // A host that reads slowly holds the log back, as a phone's would be.
        if (m_pending.size() < 4 * static_cast<qsizetype>(m_connection.maxPayload())) {
            QByteArray lines;
            for (int i = 0; i < m_script.burst; ++i)
                lines += logEntry(m_nextEntry++) + '\n';
            append(kStdout, lines);
        }
        m_nextLive = std::max(now, m_nextLive + std::chrono::milliseconds(m_script.intervalMs));
    }
    if (!canSend())
        return;
    if (!m_pending.isEmpty()) {
        sendFrom(m_pending);
    } else if (m_exiting) {
        if (m_kind == ShellStream::Kind::ShellV2 && !m_exitSent) {
            m_exitSent = true;
            m_pending += kExit;
            adbwire::putLe32(m_pending, 1);
            m_pending += static_cast<char>(m_status);
            sendFrom(m_pending);
        } else {
            finish();
        }
    }
}

std::optional<Clock::time_point> TimedStream::wakeAt() const
{
    const Clock::time_point now = Clock::now();
    if (m_reply)
        return m_replyAt;
    if (m_mirror && !m_exiting)
        return now + kKnobCheck;
    if (!m_log || m_exiting)
        return std::nullopt;
    Clock::time_point at = now + kKnobCheck;
    if (m_script.intervalMs > 0)
        at = std::min(at, std::max(m_nextLive, now + std::chrono::milliseconds(1)));
    return at;
}

} // namespace adbphone
