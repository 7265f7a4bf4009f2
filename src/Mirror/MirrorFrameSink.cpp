#include "MirrorFrameSink.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
}

#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

namespace {

// libavcodec's H.264 decoder conceals most damage and says so only in its
// log, so the log of our decoders is where a failure is learnt of. Their
// messages are swallowed: a damaged picture is answered with a key frame.
std::mutex decodersMutex;
std::map<const void*, bool*> decoderErrors; // decoder -> its failure flag

void logMessage(void* context, int level, const char* format, va_list arguments)
{
    if (context) {
        std::lock_guard lock(decodersMutex);
        const auto found = decoderErrors.find(context);
        if (found != decoderErrors.end()) {
            if (level <= AV_LOG_ERROR)
                *found->second = true;
            return;
        }
    }
    av_log_default_callback(context, level, format, arguments);
}

void watch(const AVCodecContext* decoder, bool* failed)
{
    static std::once_flag installed;
    std::call_once(installed, [] { av_log_set_callback(logMessage); });
    std::lock_guard lock(decodersMutex);
    decoderErrors[decoder] = failed;
}

void unwatch(const AVCodecContext* decoder)
{
    std::lock_guard lock(decodersMutex);
    decoderErrors.erase(decoder);
}

// Whether the decoder logged an error since the last call.
bool takeLoggedError(bool* failed)
{
    std::lock_guard lock(decodersMutex);
    return std::exchange(*failed, false);
}

} // namespace

MirrorFrameSink::MirrorFrameSink()
    : m_frame(av_frame_alloc()), m_packet(av_packet_alloc())
{
}

MirrorFrameSink::~MirrorFrameSink()
{
    close();
    av_frame_free(&m_frame);
    av_packet_free(&m_packet);
}

void MirrorFrameSink::close()
{
    if (m_decoder)
        unwatch(m_decoder);
    avcodec_free_context(&m_decoder);
    m_avcC.clear();
}

bool MirrorFrameSink::open(const QByteArray& avcC)
{
    close();
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
    if (!codec || !m_frame || !m_packet)
        return false;
    m_decoder = avcodec_alloc_context3(codec);
    if (!m_decoder)
        return false;
    m_decoder->extradata = static_cast<uint8_t*>(av_mallocz(size_t(avcC.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!m_decoder->extradata) {
        close();
        return false;
    }
    std::memcpy(m_decoder->extradata, avcC.constData(), size_t(avcC.size()));
    m_decoder->extradata_size = int(avcC.size());
    // Every picture out as soon as its packet is in: frame threads would hold
    // each one back by a frame per thread.
    m_decoder->flags |= AV_CODEC_FLAG_LOW_DELAY | AV_CODEC_FLAG_OUTPUT_CORRUPT;
    m_decoder->thread_type = FF_THREAD_SLICE;
    m_decoder->thread_count = 0;
    // Report damage instead of hiding it, so that a fresh key frame is asked for.
    m_decoder->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_CRCCHECK;
    watch(m_decoder, &m_loggedError);
    if (avcodec_open2(m_decoder, codec, nullptr) < 0) {
        close();
        return false;
    }
    m_avcC = avcC;
    return true;
}

bool MirrorFrameSink::decode(const H264Sample& sample, quint64 generation)
{
    const QByteArray& avcC = sample.format()->avcC();
    if (!m_decoder || avcC != m_avcC) {
        if (!open(avcC))
            return false;
    }
    av_packet_unref(m_packet);
    m_packet->data = const_cast<uint8_t*>(sample.data()); // not reference-counted: the decoder copies it
    m_packet->size = int(sample.size());
    const int sent = avcodec_send_packet(m_decoder, m_packet);
    m_packet->data = nullptr;
    m_packet->size = 0;
    if (sent < 0) {
        takeLoggedError(&m_loggedError);
        return false;
    }
    while (true) {
        const int received = avcodec_receive_frame(m_decoder, m_frame);
        if (received == AVERROR(EAGAIN))
            return !takeLoggedError(&m_loggedError);
        if (received < 0)
            return false;
        const bool damaged = takeLoggedError(&m_loggedError) || m_frame->decode_error_flags != 0
                             || (m_frame->flags & AV_FRAME_FLAG_CORRUPT);
        if (!damaged)
            m_surface.present(*m_frame, generation);
        av_frame_unref(m_frame);
        if (damaged)
            return false;
    }
}

MirrorFrameSink::Result MirrorFrameSink::enqueue(const H264Sample& sample)
{
    Result result;
    const quint64 generation = m_surface.generation();
    if (m_restart.exchange(false)) {
        if (m_decoder)
            avcodec_flush_buffers(m_decoder);
        m_failed = false;
        m_waitingForKeyFrame = false;
    }
    if (m_failed) {
        if (m_decoder)
            avcodec_flush_buffers(m_decoder);
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
