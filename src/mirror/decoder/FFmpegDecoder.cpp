// The decoding module: H.264 decoding with libavcodec and the conversion of
// its pictures with libswscale, behind MirrorDecoder. Built as a library of
// its own and loaded when mirroring first starts.

#include "H264SampleBuilder.h"
#include "MirrorDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/mem.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <QtGlobal>

#include <cstdarg>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

static_assert(H264Sample::padding == AV_INPUT_BUFFER_PADDING_SIZE);

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

// The conversion to BGRA at the shown size, kept between pictures.
struct Scaler {
    SwsContext* context = nullptr;
    int colours = -1; // the colour space and range it was set up for

    ~Scaler() { sws_freeContext(context); }
};

// Scales `frame` into `target` as BGRA.
bool convertFrame(const AVFrame& frame, Scaler& scaler, QImage& target)
{
    const auto format = AVPixelFormat(frame.format);
    SwsContext* context = sws_getCachedContext(scaler.context, frame.width, frame.height, format, target.width(),
                                               target.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr,
                                               nullptr);
    if (!context) {
        scaler.context = nullptr; // freed by sws_getCachedContext
        return false;
    }
    const bool fullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P;
    const int space = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    const int colours = space * 2 + (fullRange ? 1 : 0);
    if (context != scaler.context || colours != scaler.colours) {
        sws_setColorspaceDetails(context, sws_getCoefficients(space), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        scaler.context = context;
        scaler.colours = colours;
    }
    uint8_t* destination[4] = {target.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(target.bytesPerLine()), 0, 0, 0};
    sws_scale(context, frame.data, frame.linesize, 0, frame.height, destination, strides);
    return true;
}

// A picture kept past its decoding: a reference to the decoder's frame,
// with a scaler of its own for the thread that converts it.
class KeptPicture final : public MirrorPicture {
public:
    explicit KeptPicture(AVFrame* frame) : m_frame(frame) {}
    ~KeptPicture() { av_frame_free(&m_frame); }
    KeptPicture(const KeptPicture&) = delete;
    KeptPicture& operator=(const KeptPicture&) = delete;

    static std::shared_ptr<const MirrorPicture> of(const AVFrame& frame)
    {
        AVFrame* copy = av_frame_alloc();
        if (!copy || av_frame_ref(copy, &frame) < 0) {
            av_frame_free(&copy);
            return nullptr;
        }
        return std::make_shared<const KeptPicture>(copy);
    }

    QSize size() const override { return {m_frame->width, m_frame->height}; }
    bool convert(QImage& target) const override { return convertFrame(*m_frame, m_scaler, target); }
    std::shared_ptr<const MirrorPicture> keep() const override { return of(*m_frame); }

private:
    AVFrame* m_frame;
    mutable Scaler m_scaler;
};

class Picture final : public MirrorPicture {
public:
    Picture(const AVFrame& frame, Scaler& scaler) : m_frame(frame), m_scaler(scaler) {}

    QSize size() const override { return {m_frame.width, m_frame.height}; }
    bool convert(QImage& target) const override { return convertFrame(m_frame, m_scaler, target); }
    std::shared_ptr<const MirrorPicture> keep() const override { return KeptPicture::of(m_frame); }

private:
    const AVFrame& m_frame;
    Scaler& m_scaler;
};

class FFmpegDecoder final : public MirrorDecoder {
public:
    FFmpegDecoder() : m_frame(av_frame_alloc()), m_packet(av_packet_alloc()) {}

    ~FFmpegDecoder() override
    {
        close();
        av_frame_free(&m_frame);
        av_packet_free(&m_packet);
    }

    bool open(const QByteArray& avcC) override
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
        return true;
    }

    void flush() override
    {
        if (m_decoder)
            avcodec_flush_buffers(m_decoder);
    }

    bool decode(const uint8_t* data, size_t size, const std::function<void(const MirrorPicture&)>& show) override
    {
        if (!m_decoder)
            return false;
        av_packet_unref(m_packet);
        m_packet->data = const_cast<uint8_t*>(data); // not reference-counted: the decoder copies it
        m_packet->size = int(size);
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
                show(Picture(*m_frame, m_scaler));
            av_frame_unref(m_frame);
            if (damaged)
                return false;
        }
    }

private:
    void close()
    {
        if (m_decoder)
            unwatch(m_decoder);
        avcodec_free_context(&m_decoder);
    }

    AVCodecContext* m_decoder = nullptr;
    AVFrame* m_frame;
    AVPacket* m_packet;
    Scaler m_scaler;
    bool m_loggedError = false; // set by the decoder's log, under its lock
};

} // namespace

extern "C" Q_DECL_EXPORT int vantelorquist_decoder_interface()
{
    return MirrorDecoder::interfaceVersion;
}

extern "C" Q_DECL_EXPORT MirrorDecoder* vantelorquist_make_decoder()
{
    return new FFmpegDecoder;
}
