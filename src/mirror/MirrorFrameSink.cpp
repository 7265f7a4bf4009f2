#include "MirrorFrameSink.h"

#include "Error.h"
#include "MirrorDecoder.h"

MirrorFrameSink::MirrorFrameSink() = default;

MirrorFrameSink::~MirrorFrameSink() = default;

bool MirrorFrameSink::decode(const H264Sample& sample, quint64 generation)
{
    if (!m_decoder) {
        try {
            m_decoder = MirrorDecoderModule::makeDecoder();
        } catch (const Error&) {
            return false; // the session says so before it starts
        }
    }
    const QByteArray& avcC = sample.format()->avcC();
    if (avcC != m_avcC) {
        m_avcC.clear();
        if (!m_decoder->open(avcC))
            return false;
        m_avcC = avcC;
    }
    return m_decoder->decode(sample.data(), sample.size(),
                             [&](const MirrorPicture& picture) { m_surface.present(picture, generation); });
}

MirrorFrameSink::Result MirrorFrameSink::enqueue(const H264Sample& sample)
{
    Result result;
    const quint64 generation = m_surface.generation();
    if (m_restart.exchange(false)) {
        if (m_decoder)
            m_decoder->flush();
        m_failed = false;
        m_waitingForKeyFrame = false;
    }
    if (m_failed) {
        if (m_decoder)
            m_decoder->flush();
        m_failed = false;
        // A key frame has been asked for; the pictures before it cannot decode.
        m_waitingForKeyFrame = true;
        result.needsKeyFrame = true;
    }
    if (m_waitingForKeyFrame && sample.isKeyFrame())
        m_waitingForKeyFrame = false;
    if (!m_waitingForKeyFrame && !decode(sample, generation))
        m_failed = true;

    std::lock_guard lock(m_lock);
    ++m_frameCount;
    result.isFirst = !m_shownFirstFrame;
    m_shownFirstFrame = true;
    return result;
}

void MirrorFrameSink::reset()
{
    // Restart before the clear: a sample that sees the new generation then
    // also sees the restart, so no picture of the old stream follows the black.
    m_restart = true;
    m_surface.clear();
    std::lock_guard lock(m_lock);
    m_shownFirstFrame = false;
    m_frameCount = 0;
}

int MirrorFrameSink::takeFrameCount()
{
    std::lock_guard lock(m_lock);
    const int count = m_frameCount;
    m_frameCount = 0;
    return count;
}
