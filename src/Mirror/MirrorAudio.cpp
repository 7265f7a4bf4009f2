#include "MirrorAudio.h"

#include "Error.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QEventLoop>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>
#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <future>
#include <limits>
#include <mutex>
#include <vector>

struct MirrorAudio::State {
    std::mutex lock; // guards everything below
    qint64 queued = 0;
    std::deque<std::vector<float>> buffers; // interleaved frames, oldest first
    size_t readOffset = 0;                  // samples of the oldest buffer already played
    bool stopped = false;                   // nothing is queued once the output has stopped
};

qint64 MirrorAudio::Tap::pull(float* out, qint64 frames) const
{
    qint64 taken = 0;
    if (auto state = m_state.lock()) {
        std::lock_guard lock(state->lock);
        while (taken < frames && !state->buffers.empty()) {
            const std::vector<float>& front = state->buffers.front();
            const size_t available = (front.size() - state->readOffset) / channelCount;
            const size_t count = std::min<size_t>(available, size_t(frames - taken));
            std::memcpy(out + taken * channelCount, front.data() + state->readOffset, count * channelCount * sizeof(float));
            taken += qint64(count);
            state->readOffset += count * channelCount;
            if (state->readOffset == front.size()) {
                state->buffers.pop_front();
                state->readOffset = 0;
            }
        }
        state->queued -= taken;
    }
    std::fill(out + taken * channelCount, out + frames * channelCount, 0.0f);
    return taken;
}

namespace {

// What the audio sink pulls from: the queue, padded with silence, so the
// output never starves into an underrun.
class QueueReader : public QIODevice {
public:
    explicit QueueReader(MirrorAudio::Tap tap) : m_tap(std::move(tap)) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override { return std::numeric_limits<int>::max(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        constexpr qint64 frameBytes = MirrorAudio::channelCount * sizeof(float);
        const qint64 frames = maxSize / frameBytes;
        if (frames <= 0)
            return 0;
        m_samples.resize(size_t(frames) * MirrorAudio::channelCount);
        m_tap.pull(m_samples.data(), frames);
        std::memcpy(data, m_samples.data(), size_t(frames * frameBytes)); // the sink's memory need not be aligned for float
        return frames * frameBytes;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    MirrorAudio::Tap m_tap;
    std::vector<float> m_samples;
};

// How long the sound output may take to start before the player gives up.
constexpr auto startLimit = std::chrono::seconds(5);

} // namespace

// The audio sink lives on a thread of its own with an event loop, because
// the audio reader's thread has none.
struct MirrorAudio::Device {
    QThread* thread = nullptr;

    ~Device()
    {
        if (!thread)
            return;
        thread->quit();
        thread->wait();
        delete thread;
    }
};

MirrorAudio::MirrorAudio(Output output) : m_state(std::make_shared<State>())
{
    if (output == Output::pulled)
        return;

    auto started = std::make_shared<std::promise<QString>>();
    std::future<QString> result = started->get_future();
    auto device = std::make_unique<Device>();
    device->thread = QThread::create([started, tap = tap()] {
        const QAudioDevice out = QMediaDevices::defaultAudioOutput();
        if (out.isNull()) {
            started->set_value(QStringLiteral("There is no sound output."));
            return;
        }
        QAudioFormat format;
        format.setSampleRate(sampleRate);
        format.setChannelCount(channelCount);
        format.setSampleFormat(QAudioFormat::Float);
        QueueReader reader(tap);
        reader.open(QIODevice::ReadOnly);
        QAudioSink sink(out, format);
        sink.start(&reader);
        if (sink.error() != QAudio::NoError || sink.state() == QAudio::StoppedState) {
            started->set_value(QStringLiteral("The sound output couldn't start."));
            return;
        }
        started->set_value(QString());
        QEventLoop loop;
        loop.exec(); // until QThread::quit(), also when it came first
        sink.stop();
    });
    device->thread->setObjectName(QStringLiteral("Mirror sound output"));
    device->thread->start(QThread::TimeCriticalPriority);

    if (result.wait_for(startLimit) != std::future_status::ready) {
        // Waiting for a stuck sound server would hang the reader too; the
        // thread holds nothing of ours but the weak tap, so it is let go.
        device->thread->quit();
        device->thread = nullptr;
        throw SystemError(QStringLiteral("The sound output didn't start in time."));
    }
    const QString failure = result.get();
    if (!failure.isEmpty())
        throw SystemError(failure);
    m_device = std::move(device);
}

MirrorAudio::~MirrorAudio()
{
    stop();
}

void MirrorAudio::stop()
{
    {
        std::lock_guard lock(m_state->lock);
        m_state->stopped = true;
        m_state->buffers.clear();
        m_state->readOffset = 0;
        m_state->queued = 0;
    }
    if (m_device && m_device->thread)
        m_device->thread->quit();
}

qint64 MirrorAudio::queued() const
{
    std::lock_guard lock(m_state->lock);
    return m_state->queued;
}

void MirrorAudio::play(const QByteArray& packet)
{
    if (packet.size() < 4)
        return;
    const qint64 frames = packet.size() / 4;
    {
        std::lock_guard lock(m_state->lock);
        if (m_state->stopped || m_state->queued > queueLimit)
            return;
        m_state->queued += frames;
    }
    std::vector<float> buffer;
    try {
        buffer.resize(size_t(frames) * channelCount);
    } catch (const std::bad_alloc&) {
        // Nothing will ever play these frames: without taking them off again
        // the count would creep up until every packet is dropped.
        std::lock_guard lock(m_state->lock);
        m_state->queued -= frames;
        return;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(packet.constData());
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = float(qFromLittleEndian<qint16>(bytes + 2 * i)) * (1.0f / 32768.0f);
    std::lock_guard lock(m_state->lock);
    if (m_state->stopped)
        return; // stop() has already zeroed the count
    m_state->buffers.push_back(std::move(buffer));
}
