#include "Error.h"
#include "H264StreamGenerator.h"
#include "MirrorAudio.h"
#include "MirrorConnection.h"
#include "MirrorStreamWriter.h"

#include <gtest/gtest.h>

#include <future>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

using namespace mirrorstream;
using Event = MirrorConnection::Event;

namespace {

// The connection as a reader sees it. Readers run on one thread and the test
// looks only after they have returned, so nothing here needs a lock.
struct FakeLink : MirrorConnection::ReaderLink {
    bool isStopped = false;
    int stops = 0;
    std::shared_ptr<MirrorAudio> audio;

    bool stopped() override { return isStopped; }
    void stop() override { isStopped = true, ++stops; }
    bool keepAudio(std::shared_ptr<MirrorAudio> player) override
    {
        if (!isStopped)
            audio = std::move(player);
        return !isStopped;
    }
};

// Runs a reader on one end of a socket pair while `bytes` are written to the
// other, which is then closed. True when the reader returned in time.
bool run(const QByteArray& bytes, const std::function<void(int)>& reader)
{
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return false;
    const timeval limit {20, 0};
    ::setsockopt(fds[1], SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    auto done = std::async(std::launch::async, [&] {
        reader(fds[0]);
        ::shutdown(fds[0], SHUT_RDWR); // the writer stops when the reader has given up
    });
    writeAll(fds[1], bytes);
    ::shutdown(fds[1], SHUT_RDWR);
    const bool returned = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!returned)
        ::shutdown(fds[0], SHUT_RDWR); // never hang the suite
    done.wait();
    ::close(fds[0]);
    ::close(fds[1]);
    return returned;
}

// What the video reader delivered, and how many stops it had made when it ended.
struct VideoRun {
    FakeLink link;
    std::vector<std::pair<int, int>> sizes;
    int events = 0, frames = 0, error = -1, stopsAtEnd = -1;

    bool operator()(const QByteArray& bytes)
    {
        return run(bytes, [this](int fd) {
            MirrorConnection::readVideo(fd, link, [this](const Event& e) {
                ++events;
                frames += std::holds_alternative<Event::Frame>(e.value);
                if (const auto* size = std::get_if<Event::Size>(&e.value))
                    sizes.emplace_back(size->width, size->height);
                if (const auto* ended = std::get_if<Event::Ended>(&e.value)) {
                    stopsAtEnd = link.stops;
                    try {
                        std::rethrow_exception(ended->error);
                    } catch (const SystemError& failure) {
                        error = failure.errorNumber();
                    }
                }
            });
        });
    }
};

QByteArray pcm(int frames) { return QByteArray(frames * 4, '\x10'); }

} // namespace

TEST(VideoReader, DeliversSizesAndPicturesChecksLengthsBeforeReadingAndEndsAfterStopping)
{
    H264StreamGenerator stream({});
    using Sizes = std::vector<std::pair<int, int>>;
    const struct {
        const char* name;
        QByteArray bytes;
        Sizes sizes;
        int frames, error;
    } cases[] = {
        // A zero side is ignored; the configuration is no picture.
        {"stream", videoSize(1080, 2340) + videoSize(0, 2340) + videoSize(1080, 0) +
                       videoConfiguration(stream.configuration()) + videoPicture(stream.picture(0)),
         {{1080, 2340}}, 1, ECONNRESET},
        // Mended: a width of 3,000,000,000 overflowed the picture's sizes.
        {"largest sides", videoSize(16384, 16384), {{16384, 16384}}, 0, ECONNRESET},
        {"width beyond", videoSize(3'000'000'000u, 2340) + videoSize(1080, 2340), {}, 0, EBADMSG},
        {"height beyond", videoSize(1080, 16385), {}, 0, EBADMSG},
        {"length 0", header(0, 0), {}, 0, EBADMSG},
        {"length 2^25", header(0, 33'554'432), {}, 0, EBADMSG},
        {"length 2^32 - 1", header(0, 0xFFFFFFFF), {}, 0, EBADMSG},
        {"length 2^25 - 1, read whole", header(0, 33'554'431) + QByteArray(33'554'431, '\x55'), {}, 0, ECONNRESET},
    };
    for (const auto& c : cases) {
        VideoRun run;
        ASSERT_TRUE(run(c.bytes)) << c.name;
        EXPECT_EQ(run.sizes, c.sizes) << c.name;
        EXPECT_EQ(run.frames, c.frames) << c.name;
        EXPECT_EQ(run.error, c.error) << c.name;
        EXPECT_EQ(run.stopsAtEnd, 1) << c.name;
    }
}

TEST(Readers, AnAlreadyStoppedConnectionHearsNothingAndKeepsNoPlayer)
{
    VideoRun video;
    video.link.isStopped = true;
    ASSERT_TRUE(video(videoSize(10, 20).left(7)));
    EXPECT_EQ(video.events, 0);
    EXPECT_EQ(video.link.stops, 0);

    FakeLink link;
    link.isStopped = true;
    std::shared_ptr<MirrorAudio> made;
    ASSERT_TRUE(run(audioCodec() + audioPcm(pcm(10)), [&](int fd) {
        MirrorConnection::readAudio(fd, link, [&] { return made = std::make_shared<MirrorAudio>(MirrorAudio::Output::pulled); });
    }));
    ASSERT_TRUE(made);
    EXPECT_FALSE(link.audio);
    made->play(pcm(10));
    EXPECT_EQ(made->queued(), 0) << "a stopped player takes nothing";
}

TEST(AudioReader, PlaysPcmAndEndsSilentlyOnAnythingWrong)
{
    const QByteArray good = audioPcm(pcm(100));
    const struct {
        const char* name;
        QByteArray stream;
        bool playerMade;
        qint64 queued; // -1: no player kept
    } cases[] = {
        {"pcm after a configuration", audioCodec() + audioConfiguration("\x12\x34"_qba) + good + audioPcm(pcm(1)), true, 101},
        {"codec word", "\0RAW"_qba + good, true, -1},
        {"no player", audioCodec() + good, false, -1},
        {"length 0", audioCodec() + good + header(0, 0) + good, true, 100},
        {"length 1 MiB", audioCodec() + good + header(0, 1 << 20) + QByteArray(1 << 20, '\0') + good, true, 100},
        {"truncated", audioCodec() + good + good.left(20), true, 100},
    };
    for (const auto& c : cases) {
        FakeLink link;
        ASSERT_TRUE(run(c.stream, [&](int fd) {
            MirrorConnection::readAudio(fd, link, [&]() -> std::shared_ptr<MirrorAudio> {
                if (!c.playerMade)
                    throw SystemError(QStringLiteral("There is no sound output."));
                return std::make_shared<MirrorAudio>(MirrorAudio::Output::pulled);
            });
        })) << c.name;
        EXPECT_EQ(link.audio ? link.audio->queued() : -1, c.queued) << c.name;
        EXPECT_EQ(link.stops, 0) << c.name;
    }
}

TEST(DeviceMessageReader, DeliversClipboardsSkipsWhatItDoesNotUseAndStopsAtAnythingWrong)
{
    const QByteArray big(1'048'575, 'x');
    const QString one = QStringLiteral("one");
    const struct {
        const char* name;
        QByteArray stream;
        std::vector<QString> texts;
    } cases[] = {
        {"all kinds", clipboard("") + clipboardAcknowledgement(7) + uhidOutput(3, "12345") + clipboard("a\xFF" "b")
                          + clipboard(big) + clipboard("after"),
         {QString(), QStringLiteral("a\uFFFDb"), QString::fromLatin1(big), QStringLiteral("after")}},
        {"1 MiB", clipboard("one") + "\0\0\x10\0\0"_qba + QByteArray(64, 'x') + clipboard("two"), {one}},
        {"unknown type", clipboard("one") + "\x05"_qba + clipboard("two") + QByteArray(100'000, '\0'), {one}},
        {"truncated", clipboard("one") + clipboard("two").left(6), {one}},
    };
    for (const auto& c : cases) {
        std::vector<QString> texts;
        EXPECT_TRUE(run(c.stream, [&](int fd) {
            MirrorConnection::readDeviceMessages(fd, [&](const Event& e) { texts.push_back(std::get<Event::Clipboard>(e.value).text); });
        })) << c.name;
        EXPECT_EQ(texts, c.texts) << c.name;
    }
}

TEST(Readers, RandomBytesEndEveryReaderWithoutACrash)
{
    std::mt19937 random(102);
    for (int round = 0; round < 40; ++round) {
        QByteArray junk(qsizetype(random() % 5000), Qt::Uninitialized);
        for (char& c : junk)
            c = char(random());
        VideoRun video;
        EXPECT_TRUE(video(junk));
        EXPECT_NE(video.error, -1);
        FakeLink link;
        EXPECT_TRUE(run("\0raw"_qba + junk, [&](int fd) {
            MirrorConnection::readAudio(fd, link, [] { return std::make_shared<MirrorAudio>(MirrorAudio::Output::pulled); });
        }));
        EXPECT_LE(link.audio ? link.audio->queued() : 0, MirrorAudio::queueLimit + junk.size() / 4);
        EXPECT_TRUE(run(junk, [](int fd) { MirrorConnection::readDeviceMessages(fd, [](const Event&) {}); }));
    }
}
