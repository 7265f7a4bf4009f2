// Packet-to-picture latency of screen mirroring: from the moment a picture
// packet's last byte is in the video socket to the moment the converted
// picture is ready for painting, with the real reader on its own thread.

#include "H264StreamGenerator.h"
#include "MirrorConnection.h"
#include "MirrorFrameSink.h"
#include "MirrorStreamWriter.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int frameCount = 600;

struct Link : MirrorConnection::ReaderLink {
    bool stopped() override { return true; } // the bench ends the stream itself
    void stop() override {}
    bool keepAudio(std::shared_ptr<MirrorAudio>) override { return false; }
};

} // namespace

int main()
{
    H264StreamGenerator stream({.width = 1080, .height = 1920, .keyFrameInterval = 600, .bitRate = 8'000'000});
    std::printf("encoding %d frames of 1080 x 1920 at 8 Mbit/s with libx264...\n", frameCount);
    std::vector<QByteArray> packets;
    for (int i = 0; i < frameCount; ++i)
        packets.push_back(mirrorstream::videoPicture(stream.picture(i, true)));

    MirrorFrameSink sink;
    sink.layer().setViewSize({450, 800});
    std::mutex mutex;
    std::condition_variable ready;
    Clock::time_point shownAt;
    bool shown = false;
    sink.layer().setRepaintRequest([&] {
        std::lock_guard lock(mutex);
        shownAt = Clock::now();
        shown = true;
        ready.notify_one();
    });

    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0)
        return 1;
    Link link;
    std::thread video([&] {
        MirrorConnection::readVideo(fds[0], link, [&](const MirrorConnection::Event& e) {
            if (const auto* frame = std::get_if<MirrorConnection::Event::Frame>(&e.value))
                sink.enqueue(frame->sample);
        });
    });

    mirrorstream::writeAll(fds[1], mirrorstream::videoConfiguration(stream.configuration()));
    std::vector<double> latency;
    int late = 0;
    auto tick = Clock::now();
    for (const QByteArray& packet : packets) {
        mirrorstream::writeAll(fds[1], packet);
        const auto written = Clock::now();
        std::unique_lock lock(mutex);
        if (!ready.wait_for(lock, std::chrono::seconds(2), [&] { return shown; })) {
            ++late; // the picture did not come out for its own packet
            continue;
        }
        shown = false;
        latency.push_back(std::chrono::duration<double, std::milli>(shownAt - written).count());
        lock.unlock();
        sink.layer().takePicture(); // as the painter does
        tick += std::chrono::microseconds(16'667);
        std::this_thread::sleep_until(tick);
    }
    ::shutdown(fds[1], SHUT_RDWR);
    video.join();
    ::close(fds[0]);
    ::close(fds[1]);

    std::sort(latency.begin(), latency.end());
    std::printf("packet to picture (450 x 800)  median %.2f ms   p99 %.2f ms   over %zu frames\n",
                latency[latency.size() / 2], latency[latency.size() * 99 / 100], latency.size());
    std::printf("pictures not out for their own packet: %d\n", late);
    return 0;
}
