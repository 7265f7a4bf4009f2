#include "Cancel.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <optional>

using namespace std::chrono_literals;
using testsupport::waitUntil;

// The grace a step gets after a Stop: untouched until the Stop, then cut off
// once its time is up; a step that can't be stopped keeps going.
TEST(GraceAfterStop, CancelsOnlyTheGivenTimeAfterTheStop)
{
    std::stop_source stop;
    const GraceAfterStop brief(Cancel(stop.get_token()), 20ms);
    const GraceAfterStop lasting(Cancel(stop.get_token()), 1h);
    EXPECT_FALSE(waitUntil([&] { return brief.cancel().isCancelled(); }, 100ms)) << "before the Stop";

    stop.request_stop();
    EXPECT_FALSE(lasting.cancel().isCancelled()) << "a Stop is not the end of the grace";
    EXPECT_TRUE(waitUntil([&] { return brief.cancel().isCancelled(); }, 30s));
    EXPECT_FALSE(lasting.cancel().isCancelled());
}

TEST(GraceAfterStop, AStopAlreadyMadeStartsTheGraceAtOnce)
{
    std::stop_source stop;
    stop.request_stop();
    const GraceAfterStop grace(Cancel(stop.get_token()), 20ms);
    EXPECT_TRUE(waitUntil([&] { return grace.cancel().isCancelled(); }, 30s));
}

TEST(GraceAfterStop, AStepThatCannotBeStoppedIsNeverCutOff)
{
    const GraceAfterStop grace(Cancel(), 1ms);
    EXPECT_FALSE(waitUntil([&] { return grace.cancel().isCancelled(); }, 100ms));
}

// The step ends before its grace does: its timer doesn't hold it, stopped or not.
TEST(GraceAfterStop, EndingTheStepEndsTheTimerAtOnce)
{
    for (const bool stopped : {false, true}) {
        SCOPED_TRACE(stopped ? "after a Stop" : "without a Stop");
        std::stop_source stop;
        // Were it held, the wait below would end with the grace, not hang.
        auto grace = std::make_unique<GraceAfterStop>(Cancel(stop.get_token()), 20s);
        if (stopped)
            stop.request_stop();
        auto ended = std::async(std::launch::async, [&] { grace.reset(); });
        EXPECT_EQ(ended.wait_for(5s), std::future_status::ready);
    }
}
