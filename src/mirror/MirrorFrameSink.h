#pragma once

#include "H264SampleBuilder.h"
#include "MirrorVideoSurface.h"

#include <QByteArray>

#include <atomic>
#include <memory>
#include <mutex>

class MirrorDecoder;

// Decodes the phone's samples on the video thread and hands the pictures to
// its surface, which the display widget shows. Counts what it is given for
// the session's frame rate and first-frame detection. The decoder comes from
// the decoding module, made at the first sample.
class MirrorFrameSink {
public:
    struct Result {
        bool needsKeyFrame = false; // the decoder had failed and was flushed
        bool isFirst = false;       // the first sample since the last reset
    };

    MirrorFrameSink();
    ~MirrorFrameSink();
    MirrorFrameSink(const MirrorFrameSink&) = delete;
    MirrorFrameSink& operator=(const MirrorFrameSink&) = delete;

    // Video thread: decodes the sample at once.
    Result enqueue(const H264Sample& sample);

    // At each start (GUI thread): shows black at once, zeroes the counters and
    // makes the decoder start over before the next sample, without waiting for it.
    void reset();

    // Samples enqueued since the last call; zeroes the count.
    int takeFrameCount();

    MirrorVideoSurface& layer() { return m_surface; }

private:
    bool decode(const H264Sample& sample, quint64 generation);

    MirrorVideoSurface m_surface;

    std::mutex m_lock; // guards the two counters
    int m_frameCount = 0;
    bool m_shownFirstFrame = false;

    std::atomic<bool> m_restart {false};

    // Video thread only.
    std::unique_ptr<MirrorDecoder> m_decoder;
    QByteArray m_avcC; // the stream the decoder is open for; empty when it is not
    bool m_failed = false;
    bool m_waitingForKeyFrame = false;
};
