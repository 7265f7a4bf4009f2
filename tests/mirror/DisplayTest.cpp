#include "H264SampleBuilder.h"
#include "H264StreamGenerator.h"
#include "MirrorFrameSink.h"
#include "MirrorVideoWidget.h"
#include "TestSupport.h"

#include <QEvent>
#include <QPixmap>

#include <gtest/gtest.h>

#include <thread>

namespace {

// The luma of a grey pixel, in the encoder's limited range.
int lumaAt(const QImage& image, QPoint at) { return 16 + qGreen(image.pixel(at)) * 219 / 255; }

bool isBlack(const QImage& image, QPoint at) { return (image.pixel(at) & 0xFFFFFF) == 0; }

// A widget over a sink, counting its paints.
struct Display : QObject {
    H264StreamGenerator stream {{}}; // 320 x 640
    H264SampleBuilder builder;
    MirrorFrameSink sink;
    MirrorVideoWidget widget {sink.layer()};
    int next = 0, paints = 0, repaintRequests = 0; // repaintRequests: queued calls that reached the widget

    Display()
    {
        builder.configure(stream.configuration());
        widget.resize(400, 400); // wider than the picture: bars left and right
        widget.installEventFilter(this);
        widget.show();
        testsupport::waitUntil([&] { return paints > 0; }, std::chrono::seconds(5));
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        repaintRequests += event->type() == QEvent::MetaCall;
        return false;
    }
    void enqueue(int count)
    {
        while (count-- > 0)
            sink.enqueue(*builder.sample(stream.picture(next++)));
    }
    QImage grab() { return widget.grab().toImage(); }
};

} // namespace

TEST(MirrorVideoWidget, ShowsTheNewestPictureFittedOnBlackPaintsOnceForABurstAndBlackAfterAReset)
{
    Display display;
    EXPECT_TRUE(isBlack(display.grab(), {200, 200})) << "nothing shown yet";
    display.enqueue(3);
    ASSERT_TRUE(testsupport::waitUntil([&] { return !isBlack(display.grab(), {200, 200}); }, std::chrono::seconds(5)));
    const QImage shown = display.grab();
    EXPECT_NEAR(lumaAt(shown, {200, 200}), H264StreamGenerator::lumaFor(2), 6);
    // 320 x 640 fitted into 400 x 400 is 200 x 400 in the middle.
    for (const auto& [at, black] : {std::pair{QPoint(95, 200), true}, {{305, 200}, true}, {{105, 5}, false}, {{295, 395}, false}})
        EXPECT_EQ(isBlack(shown, at), black) << at.x() << "," << at.y();

    testsupport::waitUntil([] { return false; }, std::chrono::milliseconds(50));
    const int before = display.paints;
    const int requestsBefore = display.repaintRequests;
    // Twelve pictures arrive from the video thread while the GUI thread is busy.
    std::thread video([&] { display.enqueue(12); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    video.join();
    testsupport::waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(display.paints - before, 1);
    EXPECT_EQ(display.repaintRequests - requestsBefore, 1) << "stale pictures were queued";
    EXPECT_NEAR(lumaAt(display.grab(), {200, 200}), H264StreamGenerator::lumaFor(14), 6);

    display.sink.reset();
    EXPECT_TRUE(isBlack(display.grab(), {200, 200})) << "a reset shows black at once";
}
