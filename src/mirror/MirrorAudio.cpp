#include "MirrorAudio.h"

#include "Error.h"
#include "SharedLibrary.h"
#include "WorkerPool.h"

#include <QtEndian>

#include <pulse/context.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>


#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// libpulse and the dozen codec libraries it pulls in are opened when sound
// first plays, not at the application's start.
struct Pulse {
#define VANTELORQUIST_PULSE_FUNCTIONS(X)                                                                             \
    X(pa_mainloop_new) X(pa_mainloop_free) X(pa_mainloop_get_api) X(pa_mainloop_wakeup) X(pa_mainloop_prepare)     \
        X(pa_mainloop_poll) X(pa_mainloop_dispatch) X(pa_context_new) X(pa_context_connect) X(pa_context_disconnect) \
            X(pa_context_unref) X(pa_context_get_state) X(pa_stream_new) X(pa_stream_connect_playback)              \
                X(pa_stream_disconnect) X(pa_stream_unref) X(pa_stream_get_state) X(pa_stream_get_buffer_attr)      \
                    X(pa_stream_writable_size) X(pa_stream_write)
#define VANTELORQUIST_PULSE_MEMBER(name) decltype(&::name) name = nullptr;
    VANTELORQUIST_PULSE_FUNCTIONS(VANTELORQUIST_PULSE_MEMBER)
#undef VANTELORQUIST_PULSE_MEMBER
    bool loaded = false;
};

// The library's functions, or nullptr where it cannot be opened.
const Pulse* pulse()
{
    static const Pulse table = [] {
        Pulse t;
        SharedLibrary library("libpulse.so.0");
#define VANTELORQUIST_PULSE_RESOLVE(name) library.resolve(t.name, #name);
        VANTELORQUIST_PULSE_FUNCTIONS(VANTELORQUIST_PULSE_RESOLVE)
#undef VANTELORQUIST_PULSE_RESOLVE
        t.loaded = library.complete();
        return t;
    }();
    return table.loaded ? &table : nullptr;
}

} // namespace

struct MirrorAudio::State {
    std::mutex lock; // guards everything below
    qint64 waiting = 0;                     // frames accepted by play() and not yet handed to the sound server
    qint64 inServer = 0;                    // frames the server holds for the stream and has not yet played
    qint64 deviceFrames = 0;                // the output device's own share of the delay
    std::deque<std::vector<float>> buffers; // interleaved frames, oldest first
    size_t readOffset = 0;                  // samples of the oldest buffer already handed out
    bool stopped = false;                   // nothing is queued once the output has stopped
    pa_mainloop* loop = nullptr;            // the output's loop while it runs
    bool kicked = false;                    // the output has work it has not looked at yet

    // Takes up to `frames` frames off the front of the queue.
    qint64 take(float* out, qint64 frames)
    {
        qint64 taken = 0;
        while (taken < frames && !buffers.empty()) {
            const std::vector<float>& front = buffers.front();
            const size_t available = (front.size() - readOffset) / channelCount;
            const size_t count = std::min<size_t>(available, size_t(frames - taken));
            std::memcpy(out + taken * channelCount, front.data() + readOffset, count * channelCount * sizeof(float));
            taken += qint64(count);
            readOffset += count * channelCount;
            if (readOffset == front.size()) {
                buffers.pop_front();
                readOffset = 0;
            }
        }
        waiting -= taken;
        return taken;
    }

    // Makes the output look at the queue and the stop flag soon.
    void kick()
    {
        kicked = true;
        if (loop)
            pulse()->pa_mainloop_wakeup(loop); // set only while the library is open
    }

    void clear()
    {
        buffers.clear();
        readOffset = 0;
        waiting = 0;
        inServer = 0;
    }
};

qint64 MirrorAudio::Tap::pull(float* out, qint64 frames) const
{
    qint64 taken = 0;
    if (auto state = m_state.lock()) {
        std::lock_guard lock(state->lock);
        taken = state->take(out, frames);
    }
    std::fill(out + taken * channelCount, out + frames * channelCount, 0.0f);
    return taken;
}

namespace {

constexpr qint64 frameBytes = MirrorAudio::channelCount * sizeof(float);
constexpr qint64 msFrames = MirrorAudio::sampleRate / 1000;
// What the server may hold for us, its own buffer and the device's together;
// the rest of the bound waits in the player's queue.
constexpr qint64 serverFrames = 60 * msFrames;
// The server asks for more in steps of this size.
constexpr qint64 requestFrames = 10 * msFrames;

// How long the sound output may take to start before the player gives up.
constexpr auto startLimit = std::chrono::seconds(5);

QString noServer() { return QStringLiteral("There is no sound output."); }
QString couldNotStart() { return QStringLiteral("The sound output couldn't start."); }

// One connection to the sound server and its playback stream. Everything
// of libpulse is made, used and freed on the output's own thread; other
// threads only wake its loop, under the state's lock, while it is
// registered there.
class ServerOutput {
public:
    explicit ServerOutput(std::shared_ptr<MirrorAudio::State> state) : m_state(std::move(state)) {}
    ServerOutput(const ServerOutput&) = delete;
    ServerOutput& operator=(const ServerOutput&) = delete;

    ~ServerOutput()
    {
        {
            // Unregistered before the loop is freed, so nobody wakes freed memory;
            // a server that went away leaves the player stopped.
            std::lock_guard lock(m_state->lock);
            m_state->loop = nullptr;
            m_state->stopped = true;
            m_state->clear();
            m_state->deviceFrames = 0;
        }
        if (m_stream) {
            m_pa->pa_stream_disconnect(m_stream);
            m_pa->pa_stream_unref(m_stream);
        }
        if (m_context) {
            m_pa->pa_context_disconnect(m_context);
            m_pa->pa_context_unref(m_context);
        }
        if (m_loop)
            m_pa->pa_mainloop_free(m_loop);
    }

    // Connects and opens the stream; an empty text when sound is playing.
    QString open()
    {
        if (!m_pa)
            return noServer();
        m_loop = m_pa->pa_mainloop_new();
        if (!m_loop)
            return couldNotStart();
        {
            std::lock_guard lock(m_state->lock);
            if (m_state->stopped)
                return couldNotStart();
            m_state->loop = m_loop;
        }
        m_context = m_pa->pa_context_new(m_pa->pa_mainloop_get_api(m_loop), "Vantelorquist");
        // A desktop's server is running or socket-activated; spawning one would
        // fork this threaded process, and no server means no sound.
        if (!m_context || m_pa->pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            return noServer();
        while (m_pa->pa_context_get_state(m_context) != PA_CONTEXT_READY) {
            if (!PA_CONTEXT_IS_GOOD(m_pa->pa_context_get_state(m_context)) || !iterate())
                return noServer();
        }

        const pa_sample_spec spec {PA_SAMPLE_FLOAT32NE, uint32_t(MirrorAudio::sampleRate), uint8_t(MirrorAudio::channelCount)};
        m_stream = m_pa->pa_stream_new(m_context, "Phone sound", &spec, nullptr);
        if (!m_stream)
            return couldNotStart();
        pa_buffer_attr attributes;
        attributes.maxlength = uint32_t(MirrorAudio::queueLimit * frameBytes); // never more than the bound
        attributes.tlength = uint32_t(serverFrames * frameBytes); // buffer and device together, by the flag below
        attributes.prebuf = uint32_t(-1);
        attributes.minreq = uint32_t(requestFrames * frameBytes);
        attributes.fragsize = uint32_t(-1);
        if (m_pa->pa_stream_connect_playback(m_stream, nullptr, &attributes, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            return couldNotStart();
        while (m_pa->pa_stream_get_state(m_stream) != PA_STREAM_READY) {
            if (!PA_STREAM_IS_GOOD(m_pa->pa_stream_get_state(m_stream)) || !iterate())
                return couldNotStart();
        }
        // The server splits the asked-for delay between the stream's buffer and
        // the device; what it gave the device is what the buffer lacks.
        const pa_buffer_attr* given = m_pa->pa_stream_get_buffer_attr(m_stream);
        m_bufferBytes = given ? qint64(given->tlength) : qint64(attributes.tlength);
        m_scratch.resize(size_t(std::max(m_bufferBytes, qint64(attributes.maxlength)) / sizeof(float)));
        std::lock_guard lock(m_state->lock);
        m_state->deviceFrames = std::clamp(serverFrames - m_bufferBytes / frameBytes, qint64(0), serverFrames);
        return {};
    }

    // Feeds the stream until the player stops or the server goes away.
    void run()
    {
        while (m_pa->pa_context_get_state(m_context) == PA_CONTEXT_READY && m_pa->pa_stream_get_state(m_stream) == PA_STREAM_READY) {
            {
                std::lock_guard lock(m_state->lock);
                if (m_state->stopped)
                    return;
                m_state->kicked = false;
            }
            feed();
            if (!iterate())
                return;
        }
    }

private:
    // Hands the server as much of the queue as it has room for.
    void feed()
    {
        const size_t writable = m_pa->pa_stream_writable_size(m_stream);
        if (writable == size_t(-1))
            return;
        qint64 taken;
        {
            std::lock_guard lock(m_state->lock);
            const qint64 room = std::min(qint64(writable), qint64(m_scratch.size() * sizeof(float))) / frameBytes;
            taken = m_state->take(m_scratch.data(), room);
            // What the server has not asked for again is still in its buffer.
            const qint64 held = m_bufferBytes - (qint64(writable) - taken * frameBytes);
            m_state->inServer = std::clamp(held / frameBytes, qint64(0), m_bufferBytes / frameBytes);
        }
        if (taken > 0)
            m_pa->pa_stream_write(m_stream, m_scratch.data(), size_t(taken * frameBytes), nullptr, 0, PA_SEEK_RELATIVE);
    }

    // One pass of the loop: waits for the server or a kick. Preparing drains
    // the loop's wake-ups, so a kick that came before is repeated after it.
    bool iterate()
    {
        if (m_pa->pa_mainloop_prepare(m_loop, -1) < 0)
            return false;
        {
            std::lock_guard lock(m_state->lock);
            if (m_state->kicked || m_state->stopped)
                m_pa->pa_mainloop_wakeup(m_loop);
            if (m_state->stopped)
                m_stopSeen = true;
        }
        return m_pa->pa_mainloop_poll(m_loop) >= 0 && m_pa->pa_mainloop_dispatch(m_loop) >= 0 && !m_stopSeen;
    }

    std::shared_ptr<MirrorAudio::State> m_state;
    const Pulse* m_pa = pulse();
    pa_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    qint64 m_bufferBytes = 0; // the stream's buffer as the server set it up
    std::vector<float> m_scratch;
    bool m_stopSeen = false;
};

} // namespace

MirrorAudio::MirrorAudio(Output output) : m_state(std::make_shared<State>())
{
    if (output == Output::pulled)
        return;

    auto started = std::make_shared<std::promise<QString>>();
    std::future<QString> result = started->get_future();
    try {
        // Detached: nothing ever waits for it to end. It holds the state, so
        // it never outlives what it touches.
        WorkerPool::shared().ownThread([started, state = m_state] {
            pthread_setname_np(pthread_self(), "Mirror sound");
            ServerOutput server(state);
            const QString failure = server.open();
            started->set_value(failure);
            if (failure.isEmpty())
                server.run();
        }).detach();
    } catch (const NoThreadError&) {
        throw SystemError(couldNotStart());
    }

    if (result.wait_for(startLimit) != std::future_status::ready) {
        // A stuck sound server would hang the reader too; the output ends
        // by itself once the server lets it.
        stop();
        throw SystemError(QStringLiteral("The sound output didn't start in time."));
    }
    const QString failure = result.get();
    if (!failure.isEmpty())
        throw SystemError(failure);
}

MirrorAudio::~MirrorAudio()
{
    stop();
}

void MirrorAudio::stop()
{
    std::lock_guard lock(m_state->lock);
    m_state->stopped = true;
    m_state->clear();
    m_state->kick();
}

qint64 MirrorAudio::queued() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->waiting + m_state->inServer;
}

void MirrorAudio::play(const QByteArray& packet)
{
    if (packet.size() < 4)
        return;
    const qint64 frames = packet.size() / 4;
    {
        std::lock_guard lock(m_state->lock);
        if (m_state->stopped || m_state->waiting + m_state->inServer + m_state->deviceFrames > queueLimit)
            return;
        m_state->waiting += frames;
    }
    std::vector<float> buffer;
    try {
        buffer.resize(size_t(frames) * channelCount);
    } catch (const std::bad_alloc&) {
        // Nothing will ever play these frames: without taking them off again
        // the count would creep up until every packet is dropped.
        std::lock_guard lock(m_state->lock);
        if (!m_state->stopped)
            m_state->waiting -= frames;
        return;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(packet.constData());
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = float(qFromLittleEndian<qint16>(bytes + 2 * i)) * (1.0f / 32768.0f);
    std::lock_guard lock(m_state->lock);
    if (m_state->stopped)
        return; // stop() has already zeroed the count
    m_state->buffers.push_back(std::move(buffer));
    m_state->kick();
}
