#pragma once

#include <QByteArray>

#include <memory>

// Plays the phone's sound: raw PCM packets (48 kHz, 2 channels, signed 16-bit
// little-endian, interleaved) are converted to 32-bit float and queued for
// the sound server (PulseAudio, or PipeWire's pulse server), which a thread
// of the player feeds as the server asks for more. While the sound waiting
// in the queue, the server's buffer and the output device passes
// `queueLimit` frames, whole packets are dropped.
class MirrorAudio {
public:
    static constexpr int sampleRate = 48000;
    static constexpr int channelCount = 2;
    static constexpr qint64 queueLimit = 7200; // 150 ms

    // Where the sound goes: the default sound output, or nowhere until a
    // caller pulls it through tap().
    enum class Output { device, pulled };

    // Starts playing at once (silence while nothing is queued). Throws
    // SystemError when there is no sound server or the output cannot start.
    // Once the server goes away later, the player stops by itself and drops
    // every packet.
    explicit MirrorAudio(Output output = Output::device);
    ~MirrorAudio();
    MirrorAudio(const MirrorAudio&) = delete;
    MirrorAudio& operator=(const MirrorAudio&) = delete;

    // Queues one packet; never fails. Called on the audio reader's thread.
    void play(const QByteArray& packet);

    // Ends playback and drops what is queued; later packets are ignored.
    // Returns at once, from any thread, any number of times.
    void stop();

    // Frames queued whose playback has not completed: those still waiting
    // here and those the sound server holds but has not yet taken into its
    // output device.
    qint64 queued() const;

    struct State;

    // Reads the queued sound as the output does: interleaved float frames,
    // silence where the queue runs dry. The frames handed out are taken off
    // `queued`. Holds the player weakly: once it is gone, a pull gives
    // silence and changes nothing.
    class Tap {
    public:
        // Fills `frames` frames; returns how many of them came from the queue.
        qint64 pull(float* out, qint64 frames) const;

    private:
        friend class MirrorAudio;
        explicit Tap(std::weak_ptr<State> state) : m_state(std::move(state)) {}
        std::weak_ptr<State> m_state;
    };

    Tap tap() const { return Tap(m_state); }

private:
    std::shared_ptr<State> m_state;
};
