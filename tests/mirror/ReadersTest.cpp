#include "Error.h"
#include "H264StreamGenerator.h"
#include "MirrorAudio.h"
#include "MirrorConnection.h"
#include "MirrorStreamWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
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

struct VideoRun {
    FakeLink link;
    std::vector<Event> events;
    std::vector<int> stopsAtEvent;

    bool operator()(const QByteArray& bytes)
    {
        return run(bytes, [this](int fd) {
            MirrorConnection::readVideo(fd, link, [this](const Event& e) {
                events.push_back(e);
                stopsAtEvent.push_back(link.stops);
            });
        });
    }
    template <class T>
    int count() const
    {
        return int(std::count_if(events.begin(), events.end(), [](const Event& e) { return std::holds_alternative<T>(e.value); }));
    }
    // The error number of the ended event; -1 without one.
    int endedWith() const
    {
        for (const Event& e : events) {
            if (const auto* ended = std::get_if<Event::Ended>(&e.value)) {
                try {
                    std::rethrow_exception(ended->error);
                } catch (const SystemError& error) {
                    return error.errorNumber();
                }
            }
        }
        return -1;
    }
};

QByteArray pcm(int frames) { return QByteArray(frames * 4, '\x10'); }

MirrorConnection::AudioFactory pulledPlayer()
{
    return [] { return std::make_shared<MirrorAudio>(MirrorAudio::Output::pulled); };
}

std::vector<QString> clipboards(const QByteArray& stream, bool* returned = nullptr)
{
    std::vector<QString> texts;
    const bool ok = run(stream, [&](int fd) {
        MirrorConnection::readDeviceMessages(fd, [&](const Event& e) { texts.push_back(std::get<Event::Clipboard>(e.value).text); });
    });
    if (returned)
        *returned = ok;
    return texts;
}

} // namespace

TEST(VideoReader, DeliversSizesAndFramesAndEndsWithTheStreamsError)
{
    H264StreamGenerator stream({});
    const QByteArray config = videoConfiguration(stream.configuration());
    const QByteArray picture = videoPicture(stream.picture(0));

    VideoRun run;
    ASSERT_TRUE(run(videoSize(1080, 2340) + videoSize(0, 2340) + videoSize(1080, 0) + config + picture));
    ASSERT_EQ(run.count<Event::Size>(), 1) << "a zero side is ignored";
    const auto size = std::get<Event::Size>(run.events[0].value);
    EXPECT_EQ(size.width, 1080);
    EXPECT_EQ(size.height, 2340);
    EXPECT_EQ(run.count<Event::Frame>(), 1);
    EXPECT_EQ(run.endedWith(), ECONNRESET);
    EXPECT_EQ(run.link.stops, 1);
    EXPECT_EQ(run.stopsAtEvent.back(), 1) << "ended comes after the stop";

    VideoRun configOnly;
    ASSERT_TRUE(configOnly(config + config));
    EXPECT_EQ(configOnly.count<Event::Frame>(), 0);
}

TEST(VideoReader, PayloadLengthsAreCheckedBeforeReading)
{
    const struct {
        quint32 length;
        int error;
    } cases[] = {{0, EBADMSG}, {33'554'432, EBADMSG}, {0xFFFFFFFF, EBADMSG}, {33'554'431, ECONNRESET}};
    for (const auto& c : cases) {
        VideoRun run;
        QByteArray bytes = header(0, c.length);
        if (c.error == ECONNRESET)
            bytes += QByteArray(qsizetype(c.length), '\x55'); // accepted: read whole, then the stream ends
        ASSERT_TRUE(run(bytes)) << c.length;
        EXPECT_EQ(run.endedWith(), c.error) << c.length;
        EXPECT_EQ(run.count<Event::Frame>(), 0);
    }
}

TEST(VideoReader, AnAlreadyStoppedConnectionHearsNothing)
{
    VideoRun run;
    run.link.isStopped = true;
    ASSERT_TRUE(run(videoSize(10, 20).left(7)));
    EXPECT_TRUE(run.events.empty());
    EXPECT_EQ(run.link.stops, 0);
}

TEST(AudioReader, PlaysPcmAndSkipsConfiguration)
{
    FakeLink link;
    ASSERT_TRUE(run(audioCodec() + audioConfiguration("\x12\x34"_qba) + audioPcm(pcm(250)) + audioPcm(pcm(1)), [&](int fd) {
        MirrorConnection::readAudio(fd, link, pulledPlayer());
    }));
    ASSERT_TRUE(link.audio);
    EXPECT_EQ(link.audio->queued(), 251);
    EXPECT_EQ(link.stops, 0);
}

TEST(AudioReader, EndsSilentlyOnAnythingWrong)
{
    const QByteArray good = audioPcm(pcm(100));
    const struct {
        const char* name;
        QByteArray stream;
        bool playerMade;
        qint64 queued; // -1: no player kept
    } cases[] = {
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

TEST(AudioReader, APlayerMadeAfterTheStopIsStoppedNotKept)
{
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

TEST(DeviceMessageReader, DeliversClipboardsAndSkipsWhatItDoesNotUse)
{
    const QByteArray big(1'048'575, 'x');
    const auto texts = clipboards(clipboard("") + clipboardAcknowledgement(7) + uhidOutput(3, "12345")
                                  + clipboard("a\xFF" "b") + clipboard(big) + clipboard("after"));
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[0], QString());
    EXPECT_EQ(texts[1], QStringLiteral("a\uFFFDb"));
    EXPECT_EQ(texts[2].size(), big.size());
    EXPECT_EQ(texts[3], QStringLiteral("after"));
}

TEST(DeviceMessageReader, StopsAtAnOverlongClipboardOrAnUnknownType)
{
    const struct {
        const char* name;
        QByteArray stream;
    } cases[] = {
        {"1 MiB", clipboard("one") + "\0\0\x10\0\0"_qba + QByteArray(64, 'x') + clipboard("two")},
        {"unknown type", clipboard("one") + "\x05"_qba + clipboard("two") + QByteArray(100'000, '\0')},
        {"truncated", clipboard("one") + clipboard("two").left(6)},
    };
    for (const auto& c : cases) {
        bool returned = false;
        EXPECT_EQ(clipboards(c.stream, &returned), std::vector<QString>({QStringLiteral("one")})) << c.name;
        EXPECT_TRUE(returned) << c.name;
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
        EXPECT_NE(video.endedWith(), -1);
        FakeLink link;
        EXPECT_TRUE(run("\0raw"_qba + junk, [&](int fd) {
            MirrorConnection::readAudio(fd, link, pulledPlayer());
        }));
        EXPECT_LE(link.audio ? link.audio->queued() : 0, MirrorAudio::queueLimit + junk.size() / 4);
        EXPECT_TRUE(run(junk, [](int fd) { MirrorConnection::readDeviceMessages(fd, [](const Event&) {}); }));
    }
}
