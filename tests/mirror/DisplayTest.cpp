#include "H264SampleBuilder.h"
#include "H264StreamGenerator.h"
#include "MirrorDecoder.h"
#include "MirrorFrameSink.h"
#include "MirrorVideoWidget.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QEvent>
#include <QPixmap>

#include <gtest/gtest.h>

#include <thread>

using namespace std::chrono_literals;
using testsupport::waitUntil;

namespace {

// The luma of a grey pixel, in the encoder's limited range.
int lumaAt(const QImage& image, QPoint at) { return 16 + qGreen(image.pixel(at)) * 219 / 255; }

bool isBlack(const QImage& image, QPoint at) { return (image.pixel(at) & 0xFFFFFF) == 0; }

// Counts a widget's paints and the queued calls (repaint requests) that reach it.
struct Counter : QObject {
    int paints = 0, repaintRequests = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        repaintRequests += event->type() == QEvent::MetaCall;
        return false;
    }
};

} // namespace

TEST(MirrorVideoWidget, ShowsTheNewestPictureFittedOnBlackPaintsOnceForABurstAndBlackAfterAReset)
{
    H264StreamGenerator stream({}); // 320 x 640
    H264SampleBuilder builder;
    builder.configure(stream.configuration());
    MirrorFrameSink sink;
    MirrorVideoWidget widget(sink.layer());
    Counter counter;
    widget.resize(400, 400); // wider than the picture: bars left and right
    widget.installEventFilter(&counter);
    widget.show();
    waitUntil([&] { return counter.paints > 0; }, 5s);
    int next = 0;
    auto enqueue = [&](int count) {
        while (count-- > 0)
            sink.enqueue(*builder.sample(stream.picture(next++)));
    };
    auto grab = [&] { return widget.grab().toImage(); };

    EXPECT_TRUE(isBlack(grab(), {200, 200})) << "nothing shown yet";
    enqueue(3);
    ASSERT_TRUE(waitUntil([&] { return !isBlack(grab(), {200, 200}); }, 30s));
    const QImage shown = grab();
    EXPECT_NEAR(lumaAt(shown, {200, 200}), H264StreamGenerator::lumaFor(2), 6);
    // 320 x 640 fitted into 400 x 400 is 200 x 400 in the middle.
    for (const auto& [at, black] : {std::pair{QPoint(95, 200), true}, {{305, 200}, true}, {{105, 5}, false}, {{295, 395}, false}})
        EXPECT_EQ(isBlack(shown, at), black) << at.x() << "," << at.y();

    waitUntil([] { return false; }, 50ms);
    const int paints = counter.paints, requests = counter.repaintRequests;
    // Twelve pictures arrive from the video thread while the GUI thread is busy.
    std::thread video([&] { enqueue(12); });
    std::this_thread::sleep_for(200ms);
    video.join();
    waitUntil([] { return false; }, 300ms);
    EXPECT_EQ(counter.paints - paints, 1);
    EXPECT_EQ(counter.repaintRequests - requests, 1) << "stale pictures were queued";
    EXPECT_NEAR(lumaAt(grab(), {200, 200}), H264StreamGenerator::lumaFor(14), 6);

    sink.reset();
    EXPECT_TRUE(isBlack(grab(), {200, 200})) << "a reset shows black at once";
}

namespace {

// A picture of fine detail at any size: a checkerboard of single pixels, as
// a phone's text is at its own resolution.
class FinePicture final : public MirrorPicture {
public:
    QSize size() const override { return {1080, 2160}; }
    bool convert(QImage& target) const override
    {
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x)
                target.setPixel(x, y, (x + y) % 2 ? 0xFFFFFFFF : 0xFF808080);
        return true;
    }
    std::shared_ptr<const MirrorPicture> keep() const override { return std::make_shared<FinePicture>(); }
};

// How many neighbours differ along the middle row of the picture, between x0 and x1.
int changesAlong(const QImage& image, int x0, int x1)
{
    const int y = image.height() / 2;
    int changes = 0;
    for (int x = x0 + 1; x < x1; ++x)
        changes += image.pixel(x, y) != image.pixel(x - 1, y);
    return changes;
}

} // namespace

// Mended: the picture was converted once at the size the view had when it
// came, and the phone sends one only when its screen changes: a still
// screen stayed blurred and stretched after the window was made larger.
TEST(MirrorVideoWidget, AStillPictureIsConvertedAgainWhenTheViewGrows)
{
    MirrorFrameSink sink;
    MirrorVideoWidget widget(sink.layer());
    widget.resize(100, 200);
    widget.show();
    ASSERT_TRUE(waitUntil([&] { return widget.isVisible(); }, 30s));
    QCoreApplication::processEvents();
    sink.layer().present(FinePicture(), sink.layer().generation());
    ASSERT_TRUE(waitUntil([&] { return changesAlong(widget.grab().toImage(), 10, 90) >= 70; }, 30s));

    widget.resize(400, 800);
    // Stretched at first, then sharp at its new size with no new picture from the phone.
    EXPECT_TRUE(waitUntil([&] { return changesAlong(widget.grab().toImage(), 10, 390) >= 370; }, 30s))
        << changesAlong(widget.grab().toImage(), 10, 390);

    // A clear is not undone by a resize.
    sink.reset();
    widget.resize(300, 600);
    waitUntil([] { return false; }, 300ms);
    EXPECT_TRUE(isBlack(widget.grab().toImage(), {150, 300}));
}
