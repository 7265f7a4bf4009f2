// Decoding and conversion of a phone's 1080 x 1920 stream at 8 Mbit/s:
// CPU time per frame for decoding (through MirrorFrameSink) and for the
// conversion to a window-sized and to a full-sized picture.

#include "BenchSupport.h"
#include "H264SampleBuilder.h"
#include "H264StreamGenerator.h"
#include "MirrorDecoder.h"
#include "MirrorFrameSink.h"

#include <cstdio>
#include <ctime>
#include <vector>

namespace {

constexpr int frameCount = 600; // ten seconds at 60 frames per second

double processCpu() { return bench::cpuSeconds(); }

void print(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    std::printf("%-34s median %6.2f ms   p99 %6.2f ms\n", what, ms[ms.size() / 2], ms[ms.size() * 99 / 100]);
}

} // namespace

int main()
{
    H264StreamGenerator stream({.width = 1080, .height = 1920, .keyFrameInterval = 600, .bitRate = 8'000'000});
    std::printf("encoding %d frames of 1080 x 1920 at 8 Mbit/s with libx264...\n", frameCount);
    std::vector<QByteArray> packets;
    size_t bytes = 0;
    for (int i = 0; i < frameCount; ++i) {
        packets.push_back(stream.picture(i, true));
        bytes += size_t(packets.back().size());
    }
    std::printf("stream: %.2f Mbit/s at 60 fps\n", double(bytes) * 8 / (frameCount / 60.0) / 1e6);

    // Decoding alone: the sink with no view converts nothing.
    H264SampleBuilder builder;
    builder.configure(stream.configuration());
    std::vector<H264Sample> samples;
    for (const QByteArray& p : packets)
        samples.push_back(*builder.sample(p));
    {
        MirrorFrameSink sink;
        std::vector<double> decode;
        for (const H264Sample& s : samples) {
            const double cpu = processCpu();
            sink.enqueue(s);
            decode.push_back((processCpu() - cpu) * 1e3);
        }
        print("decode (CPU, all threads)", decode);
    }

    // Conversion of decoded pictures, through the surface the widget shows:
    // only the surface's part of each decoding is timed.
    for (const QSize view : {QSize(450, 800), QSize(1080, 1920)}) {
        MirrorVideoSurface surface;
        surface.setViewSize(view);
        std::vector<double> convert;
        const auto present = [&](const MirrorPicture& picture) {
            const double cpu = processCpu();
            surface.present(picture, surface.generation());
            convert.push_back((processCpu() - cpu) * 1e3);
            surface.takePicture();
        };
        for (int round = 0; round < 5; ++round) {
            const std::unique_ptr<MirrorDecoder> decoder = MirrorDecoderModule::makeDecoder();
            decoder->open(samples.front().format()->avcC());
            for (size_t i = 0; i < 120; ++i)
                decoder->decode(samples[i].data(), samples[i].size(), present);
        }
        char label[64];
        std::snprintf(label, sizeof label, "convert to %d x %d BGRA", view.width(), view.height());
        print(label, convert);
    }
    std::printf("goal: decoding plus conversion well inside 16.7 ms per frame (about 8 ms or less)\n");
    return 0;
}
