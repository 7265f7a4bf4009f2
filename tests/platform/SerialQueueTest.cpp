#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsWorkOneAtATimeInOrderForCallersOnAnyThread)
{
    std::vector<int> order;
    std::atomic<int> running = 0;
    bool overlapped = false;
    int counter = 0; // touched only on the queue
    {
        SerialQueue queue(QStringLiteral("test"));
        for (int i = 0; i < 100; ++i) {
            queue.post([&, i] {
                overlapped |= ++running > 1;
                order.push_back(i);
                --running;
            });
        }
        std::vector<std::thread> callers;
        for (int t = 0; t < 8; ++t) {
            callers.emplace_back([&] {
                for (int i = 0; i < 200; ++i)
                    queue.runAndWait([&] { ++counter; });
            });
        }
        for (auto& c : callers)
            c.join();
    } // the destructor finishes queued work
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
    EXPECT_EQ(counter, 1600);
}

TEST(SerialQueue, RunAndWaitGivesValuesAndExceptionsAndMayNest)
{
    SerialQueue queue(QStringLiteral("test"));
    std::thread::id ranOn;
    EXPECT_EQ(queue.runAndWait([&] {
        ranOn = std::this_thread::get_id();
        return queue.runAndWait([] { return 3; }) + 1; // nested: no deadlock
    }), 4);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_THROW(queue.runAndWait([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    EXPECT_EQ(queue.runAndWait([] { return 8; }), 8); // still working after a failure
}
