#include "H264SampleBuilder.h"
#include "H264StreamGenerator.h"
#include "MirrorFrameSink.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace {

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

QByteArray sampleBytes(const H264Sample& s) { return QByteArray(reinterpret_cast<const char*>(s.data()), qsizetype(s.size())); }

const QByteArray sps = hex("67 42 C0 1E AA");
const QByteArray pps = hex("68 CE 3C 80");
const QByteArray parameterSets = "\0\0\0\1"_qba + sps + "\0\0\0\1"_qba + pps;

// The mean luma of a picture converted to grey BGRA at full size, in the
// encoder's limited range.
double meanLuma(const QImage& image)
{
    double sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGreen(image.pixel(x, y));
    return 16 + sum / (double(image.width()) * image.height()) * 219.0 / 255.0;
}

// Feeds a generated stream through a builder and a sink that converts at full size.
struct Pipeline {
    H264SampleBuilder builder;
    MirrorFrameSink sink;
    MirrorFrameSink::Result result; // of the last enqueue

    explicit Pipeline(const QByteArray& configuration, QSize view = {320, 640})
    {
        sink.layer().setViewSize(view);
        builder.configure(configuration);
    }
    // Enqueues one picture packet; the picture it shows afterwards.
    MirrorVideoSurface::Picture feed(const QByteArray& packet)
    {
        auto sample = builder.sample(packet);
        EXPECT_TRUE(sample.has_value());
        if (sample)
            result = sink.enqueue(*sample);
        return sink.layer().takePicture();
    }
};

long residentPages()
{
    long size = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> size >> resident;
    return resident;
}

} // namespace

TEST(H264SampleBuilder, SplitsAnnexBAtStartCodes)
{
    const struct { const char* bytes; std::vector<const char*> units; } cases[] = {
        {"00 00 00 01 67 AA 00 00 01 68 BB 00 00 01 65 CC", {"67 AA", "68 BB", "65 CC"}},
        {"00 00 01 00 00 01 65", {"65"}},
        {"00 00 01 65 AA 00 00 01", {"65 AA"}},
        {"00 00 01 65 00 00 00 01 41", {"65", "41"}},
        {"FF 00 00 01 41", {"41"}},
    };
    for (const auto& c : cases) {
        std::vector<QByteArray> expected;
        for (const char* unit : c.units)
            expected.push_back(hex(unit));
        EXPECT_EQ(H264SampleBuilder::nalUnits(hex(c.bytes)), expected) << c.bytes;
    }
}

TEST(H264SampleBuilder, ConfiguresFromParameterSetsKeepsTheOldFormatOtherwiseAndSamplesOnlyPictureUnits)
{
    H264SampleBuilder builder;
    EXPECT_FALSE(builder.sample("\0\0\1\x65\xCC"_qba)); // unconfigured
    ASSERT_TRUE(builder.configure(parameterSets));
    const auto first = builder.format();
    EXPECT_EQ(first->avcC(), hex("01 42 C0 1E FF E1 00 05 67 42 C0 1E AA 01 00 04 68 CE 3C 80"));

    EXPECT_FALSE(H264Format::create(sps, {}));
    EXPECT_FALSE(H264Format::create(sps.left(3), pps));
    // No PPS, no SPS, an SPS shorter than 4 bytes: the old format stays, a picture still comes out.
    for (const QByteArray& packet : {"\0\0\1"_qba + sps, "\0\0\1"_qba + pps, "\0\0\1\x67\x42\xC0\0\0\1"_qba + pps}) {
        EXPECT_FALSE(builder.configure(packet)) << packet.toHex(' ').constData();
        EXPECT_TRUE(builder.sample(packet + "\0\0\1\x41\x9A"_qba));
        EXPECT_EQ(builder.format(), first);
    }

    // Parameter sets in the picture packet reconfigure, and only the slice is kept.
    const QByteArray otherSps = hex("67 4D 00 1F BB");
    auto sample = builder.sample("\0\0\0\1"_qba + otherSps + "\0\0\1"_qba + pps + "\0\0\1\x65\xCC"_qba);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sampleBytes(*sample), hex("00 00 00 02 65 CC"));
    EXPECT_EQ(sample->format()->sps(), otherSps);
    EXPECT_TRUE(sample->isKeyFrame());
    for (size_t i = 0; i < H264Sample::padding; ++i)
        ASSERT_EQ(sample->data()[sample->size() + i], 0);

    // Delimiters are dropped; parameter sets and delimiters alone give nothing.
    sample = builder.sample("\0\0\1\x09\xF0\0\0\1\x41\x9A\x01\0\0\1\x06\x05"_qba);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sampleBytes(*sample), hex("00 00 00 03 41 9A 01 00 00 00 02 06 05"));
    EXPECT_FALSE(sample->isKeyFrame());
    EXPECT_FALSE(builder.sample(parameterSets + "\0\0\1\x09\xF0"_qba));

    // Shorter than 5 bytes: never scanned for a parameter set, still a sample.
    const auto before = builder.format();
    sample = builder.sample("\0\0\1\x41"_qba);
    ASSERT_TRUE(sample);
    EXPECT_EQ(sampleBytes(*sample), hex("00 00 00 01 41"));
    EXPECT_EQ(builder.format(), before);
}

TEST(MirrorFrameSink, DecodesEveryLibx264VariantOnePicturePerPacketInOrder)
{
    const H264StreamGenerator::Options variants[] = {{}, {.delimiters = true}, {.inBandParameterSets = true}};
    for (const auto& options : variants) {
        SCOPED_TRACE(options.delimiters ? "delimiters" : options.inBandParameterSets ? "in-band parameter sets" : "plain");
        H264StreamGenerator stream(options);
        Pipeline pipe(stream.configuration());
        for (int i = 0; i < 25; ++i) {
            const auto picture = pipe.feed(stream.picture(i));
            ASSERT_EQ(picture.number, quint64(i + 1)) << "picture " << i << " not out at once";
            EXPECT_EQ(picture.videoSize, QSize(320, 640));
            EXPECT_NEAR(meanLuma(picture.image), H264StreamGenerator::lumaFor(i), 4) << "picture " << i;
        }
        EXPECT_EQ(pipe.sink.takeFrameCount(), 25);
    }

    // A new configuration at another size decodes at that size.
    H264StreamGenerator portrait({}), landscape({.width = 640, .height = 320});
    Pipeline pipe(portrait.configuration(), {640, 640});
    EXPECT_EQ(pipe.feed(portrait.picture(0)).image.size(), QSize(320, 640));
    pipe.builder.configure(landscape.configuration());
    const auto picture = pipe.feed(landscape.picture(3));
    EXPECT_EQ(picture.videoSize, QSize(640, 320));
    EXPECT_EQ(picture.image.size(), QSize(640, 320));
    EXPECT_NEAR(meanLuma(picture.image), H264StreamGenerator::lumaFor(3), 4);
}

TEST(MirrorFrameSink, DamageAsksForAKeyFrameOnceAndTheNextKeyFrameDecodes)
{
    H264StreamGenerator stream({.keyFrameInterval = 10});
    Pipeline pipe(stream.configuration());
    for (int i = 0; i < 3; ++i)
        pipe.feed(stream.picture(i, true));
    EXPECT_FALSE(pipe.result.needsKeyFrame);

    QByteArray damaged = stream.picture(3, true);
    for (qsizetype at = damaged.size() / 3; at < damaged.size(); at += 7)
        damaged[at] = char(damaged[at] ^ 0x5A);
    const quint64 shownBefore = pipe.feed(damaged).number;
    EXPECT_FALSE(pipe.result.needsKeyFrame);

    std::vector<bool> asked;
    for (int i = 4; i < 10; ++i) {
        EXPECT_LE(pipe.feed(stream.picture(i, true)).number, shownBefore + 1) << "a picture that cannot decode was shown";
        asked.push_back(pipe.result.needsKeyFrame);
    }
    EXPECT_EQ(asked, std::vector<bool>({true, false, false, false, false, false}));
    const auto key = pipe.feed(stream.picture(10, true));
    EXPECT_FALSE(pipe.result.needsKeyFrame);
    EXPECT_GT(key.number, shownBefore);
    EXPECT_NEAR(meanLuma(key.image), H264StreamGenerator::lumaFor(10), 6);
    EXPECT_GT(pipe.feed(stream.picture(11, true)).number, key.number);
}

TEST(MirrorFrameSink, SurvivesThousandsOfDamagedPackets)
{
    H264StreamGenerator stream({.width = 160, .height = 320, .keyFrameInterval = 5});
    std::vector<QByteArray> packets;
    for (int i = 0; i < 20; ++i)
        packets.push_back(stream.picture(i, true));
    Pipeline pipe(stream.configuration(), {160, 320});
    const long residentBefore = residentPages();
    std::mt19937 random(16);
    auto below = [&](qsizetype n) { return qsizetype(random() % quint32(std::max<qsizetype>(n, 1))); };
    for (int round = 0; round < 3000; ++round) {
        QByteArray packet = packets[size_t(round) % packets.size()];
        const int damage = round % 4; // 3: an undamaged packet now and then
        for (int k = 0; damage == 0 && k < 4; ++k) { // bit flips
            const qsizetype at = below(packet.size());
            packet[at] = char(packet[at] ^ (1 << (random() % 8)));
        }
        if (damage == 1) // truncation
            packet.truncate(below(packet.size()));
        if (damage == 2) { // random NAL units
            packet = QByteArray("\0\0\1", 3) + QByteArray(below(200) + 1, Qt::Uninitialized);
            std::generate(packet.begin() + 3, packet.end(), [&] { return char(random()); });
        }
        if (auto sample = pipe.builder.sample(packet))
            pipe.sink.enqueue(*sample);
    }
#ifndef __SANITIZE_ADDRESS__
    EXPECT_LT(residentPages() - residentBefore, 64l << 20 >> 12) << "memory grew by more than 64 MiB";
#else
    (void)residentBefore; // freed blocks stay in the sanitizer's quarantine, so growth tells nothing here
#endif
    // Still decoding afterwards.
    pipe.builder.configure(stream.configuration());
    for (int i = 20; i < 31; ++i)
        pipe.feed(stream.picture(i, true));
    EXPECT_NEAR(meanLuma(pipe.sink.layer().takePicture().image), H264StreamGenerator::lumaFor(30), 6);
}
