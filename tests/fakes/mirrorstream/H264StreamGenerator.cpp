#include "H264StreamGenerator.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <stdexcept>
#include <string>

struct H264StreamGenerator::Encoder {
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    QByteArray configuration;
    int64_t next = 0;

    ~Encoder()
    {
        avcodec_free_context(&context);
        av_frame_free(&frame);
        av_packet_free(&packet);
    }
};

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("H.264 test stream: " + what);
}

// The SPS and PPS at the head of a packet, up to the first picture unit.
QByteArray leadingParameterSets(const QByteArray& packet)
{
    for (qsizetype i = 0; i + 3 < packet.size(); ++i) {
        if (packet[i] == 0 && packet[i + 1] == 0 && packet[i + 2] == 1) {
            const int type = packet[i + 3] & 0x1F;
            if (type != 7 && type != 8 && type != 9)
                return packet.left(i > 0 && packet[i - 1] == 0 ? i - 1 : i);
        }
    }
    return packet;
}

} // namespace

H264StreamGenerator::H264StreamGenerator(const Options& options)
    : m_options(options), m_encoder(std::make_unique<Encoder>())
{
    av_log_set_level(AV_LOG_ERROR); // no encoder statistics in test output
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec)
        fail("libavcodec has no libx264 encoder");
    AVCodecContext* c = m_encoder->context = avcodec_alloc_context3(codec);
    c->width = options.width;
    c->height = options.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational {1, 60};
    c->framerate = AVRational {60, 1};
    c->gop_size = options.keyFrameInterval;
    c->max_b_frames = 0;
    if (options.bitRate > 0) {
        c->bit_rate = options.bitRate;
        c->rc_max_rate = options.bitRate;
        c->rc_buffer_size = options.bitRate / 2;
    }
    if (!options.inBandParameterSets)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "tune", "zerolatency", 0);
    std::string params = "keyint-min=" + std::to_string(options.keyFrameInterval) + ":scenecut=0";
    if (options.delimiters)
        params += ":aud=1";
    av_opt_set(c->priv_data, "x264-params", params.c_str(), 0);
    if (avcodec_open2(c, codec, nullptr) < 0)
        fail("the encoder did not open");

    AVFrame* f = m_encoder->frame = av_frame_alloc();
    f->format = c->pix_fmt;
    f->width = c->width;
    f->height = c->height;
    if (av_frame_get_buffer(f, 0) < 0)
        fail("no picture buffer");
    m_encoder->packet = av_packet_alloc();

    if (!options.inBandParameterSets) {
        m_encoder->configuration = QByteArray(reinterpret_cast<const char*>(c->extradata), c->extradata_size);
    }
}

H264StreamGenerator::~H264StreamGenerator() = default;

QByteArray H264StreamGenerator::configuration() const
{
    if (m_encoder->configuration.isEmpty()) {
        // In-band streams carry their sets in the first key frame; take them from a copy.
        H264StreamGenerator probe(m_options);
        m_encoder->configuration = leadingParameterSets(probe.picture(0));
    }
    return m_encoder->configuration;
}

int H264StreamGenerator::lumaFor(int index)
{
    return 20 + (index * 37) % 216;
}

QByteArray H264StreamGenerator::picture(int index, bool textured)
{
    AVFrame* f = m_encoder->frame;
    if (av_frame_make_writable(f) < 0)
        fail("picture buffer not writable");
    const int luma = lumaFor(index);
    for (int y = 0; y < f->height; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        if (!textured) {
            std::memset(row, luma, size_t(f->width));
            continue;
        }
        for (int x = 0; x < f->width; ++x)
            row[x] = uint8_t(luma + ((x * 7 + y * 3 + index * 11) ^ (x * y + index)) % 40 - 20);
    }
    for (int plane = 1; plane < 3; ++plane) {
        for (int y = 0; y < f->height / 2; ++y)
            std::memset(f->data[plane] + y * f->linesize[plane], 128, size_t(f->width / 2));
    }
    f->pts = m_encoder->next++;
    if (avcodec_send_frame(m_encoder->context, f) < 0)
        fail("the encoder refused a picture");
    AVPacket* p = m_encoder->packet;
    if (avcodec_receive_packet(m_encoder->context, p) < 0)
        fail("the encoder held a picture back");
    QByteArray bytes(reinterpret_cast<const char*>(p->data), p->size);
    av_packet_unref(p);
    return bytes;
}
