#include "H264StreamGenerator.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
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

struct Yuv {
    uint8_t y, u, v;
};

// Limited-range BT.601, what a decoder assumes when the stream says nothing.
Yuv yuv(int r, int g, int b)
{
    return {uint8_t(16 + (65.481 * r + 128.553 * g + 24.966 * b) / 255 + 0.5),
            uint8_t(128 + (-37.797 * r - 74.203 * g + 112.0 * b) / 255 + 0.5),
            uint8_t(128 + (112.0 * r - 93.786 * g - 18.214 * b) / 255 + 0.5)};
}

void fill(AVFrame* f, int x0, int y0, int x1, int y1, Yuv colour)
{
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, f->width), y1 = std::min(y1, f->height);
    for (int y = y0; y < y1; ++y)
        std::memset(f->data[0] + y * f->linesize[0] + x0, colour.y, size_t(std::max(x1 - x0, 0)));
    for (int y = y0 / 2; y < (y1 + 1) / 2; ++y) {
        std::memset(f->data[1] + y * f->linesize[1] + x0 / 2, colour.u, size_t(std::max((x1 + 1) / 2 - x0 / 2, 0)));
        std::memset(f->data[2] + y * f->linesize[2] + x0 / 2, colour.v, size_t(std::max((x1 + 1) / 2 - x0 / 2, 0)));
    }
}

// Bars in the usual order, a square that sweeps across and back, the
// picture's number in a 3 x 5 block font, and a border that shows any crop.
void drawTestCard(AVFrame* f, int index)
{
    const int w = f->width, h = f->height;
    fill(f, 0, 0, w, h, yuv(40, 40, 40));
    static const int bars[7][3] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                                   {191, 0, 191},   {191, 0, 0},   {0, 0, 191}};
    const int inset = 8;
    for (int i = 0; i < 7; ++i) {
        fill(f, inset + (w - 2 * inset) * i / 7, h / 10, inset + (w - 2 * inset) * (i + 1) / 7, h * 4 / 10,
             yuv(bars[i][0], bars[i][1], bars[i][2]));
    }
    const int shorter = std::min(w, h); // sizes that fit both orientations
    const int side = std::max(shorter / 8, 4);
    const int travel = std::max(w - 2 * inset - side, 1);
    const int step = (index * 4) % (2 * travel);
    const int x = inset + (step < travel ? step : 2 * travel - step);
    fill(f, x, h * 45 / 100, x + side, h * 45 / 100 + side, yuv(255, 255, 255));

    static const uint16_t glyphs[10] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249, 0x7BEF, 0x7BCF};
    const QByteArray digits = QByteArray::number(index);
    const int cell = std::max(shorter / 40, 1);
    const int advance = 4 * cell;
    int left = (w - int(digits.size()) * advance + cell) / 2;
    const int top = h * 7 / 10;
    for (const char digit : digits) {
        const uint16_t glyph = glyphs[digit - '0'];
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if (glyph & (1 << (14 - row * 3 - column)))
                    fill(f, left + column * cell, top + row * cell, left + (column + 1) * cell, top + (row + 1) * cell,
                         yuv(255, 255, 255));
            }
        }
        left += advance;
    }

    const Yuv white = yuv(255, 255, 255);
    const int edge = 2;
    fill(f, 0, 0, w, edge, white);
    fill(f, 0, h - edge, w, h, white);
    fill(f, 0, 0, edge, h, white);
    fill(f, w - edge, 0, w, h, white);
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
    if (m_options.testCard)
        drawTestCard(f, index);
    const int luma = lumaFor(index);
    for (int y = 0; !m_options.testCard && y < f->height; ++y) {
        uint8_t* row = f->data[0] + y * f->linesize[0];
        if (!textured) {
            std::memset(row, luma, size_t(f->width));
            continue;
        }
        for (int x = 0; x < f->width; ++x)
            row[x] = uint8_t(luma + ((x * 7 + y * 3 + index * 11) ^ (x * y + index)) % 40 - 20);
    }
    for (int plane = 1; !m_options.testCard && plane < 3; ++plane) {
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
