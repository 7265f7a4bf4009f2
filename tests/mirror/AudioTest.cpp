#include "MirrorAudio.h"

#include <gtest/gtest.h>

namespace {

// Little-endian samples, as on every machine this runs on.
QByteArray pcm(std::initializer_list<qint16> samples)
{
    return QByteArray(reinterpret_cast<const char*>(samples.begin()), qsizetype(samples.size() * 2));
}

QByteArray silence(qint64 frames) { return QByteArray(frames * 4, '\0'); }

} // namespace

TEST(MirrorAudio, QueuesWholeFramesUntilTheLimitIsPassed)
{
    // Frames queued first, bytes played, frames queued after.
    const struct { qint64 before; qsizetype packet; qint64 after; } cases[] = {
        {0, 3, 0}, {0, 4003, 1000}, {7200, 400, 7300}, {7201, 400, 7201}};
    for (const auto& c : cases) {
        MirrorAudio audio(MirrorAudio::Output::pulled);
        if (c.before > 0)
            audio.play(silence(c.before));
        audio.play(QByteArray(c.packet, '\x01'));
        EXPECT_EQ(audio.queued(), c.after) << c.before << " + " << c.packet << " bytes";
    }
}

TEST(MirrorAudio, PullsConvertedSamplesOffTheQueueUntilThePlayerIsGone)
{
    std::optional<MirrorAudio::Tap> tap;
    {
        MirrorAudio audio(MirrorAudio::Output::pulled);
        tap = audio.tap();
        audio.play(pcm({-32768, 16384, 32767, 0}));
        audio.play(pcm({1, -1}));
        EXPECT_EQ(audio.queued(), 3);
        std::vector<float> out(8, 9.0f);
        EXPECT_EQ(tap->pull(out.data(), 4), 3); // across both packets, then silence
        EXPECT_EQ(out, std::vector<float>({-1.0f, 0.5f, 32767.0f / 32768, 0.0f, 1.0f / 32768, -1.0f / 32768, 0, 0}));
        EXPECT_EQ(audio.queued(), 0);
        audio.play(silence(100));
        EXPECT_EQ(tap->pull(out.data(), 3), 3);
        EXPECT_EQ(audio.queued(), 97);
    }
    std::vector<float> out(4, 9.0f);
    EXPECT_EQ(tap->pull(out.data(), 2), 0);
    EXPECT_EQ(out, std::vector<float>(4, 0.0f));
}
