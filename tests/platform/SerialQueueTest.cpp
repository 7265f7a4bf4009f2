#include "SerialQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

TEST(SerialQueue, RunsWorkOneAtATimeInOrder)
{
    std::vector<int> order;
    std::atomic<int> running = 0;
    bool overlapped = false;
    {
        SerialQueue queue(QStringLiteral("test"));
        for (int i = 0; i < 100; ++i) {
            queue.post([&, i] {
                if (++running > 1)
                    overlapped = true;
                order.push_back(i);
                --running;
            });
        }
    } // the destructor finishes queued work
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
    EXPECT_FALSE(overlapped);
}

TEST(SerialQueue, RunAndWaitReturnsValuesAndExceptions)
{
    SerialQueue queue(QStringLiteral("test"));
    std::thread::id ranOn;
    int value = queue.runAndWait([&] {
        ranOn = std::this_thread::get_id();
        return 7;
    });
    EXPECT_EQ(value, 7);
    EXPECT_NE(ranOn, std::this_thread::get_id());
    EXPECT_THROW(queue.runAndWait([]() -> int { throw std::runtime_error("x"); }), std::runtime_error);
    // The queue keeps working after a failure.
    EXPECT_EQ(queue.runAndWait([] { return 8; }), 8);
}

TEST(SerialQueue, NestedRunAndWaitDoesNotDeadlock)
{
    SerialQueue queue(QStringLiteral("test"));
    int inner = queue.runAndWait([&] { return queue.runAndWait([] { return 3; }) + 1; });
    EXPECT_EQ(inner, 4);
}

TEST(SerialQueue, CallersOnManyThreadsAreServedInTurn)
{
    SerialQueue queue(QStringLiteral("test"));
    int counter = 0; // touched only on the queue
    std::vector<std::thread> callers;
    for (int t = 0; t < 8; ++t) {
        callers.emplace_back([&] {
            for (int i = 0; i < 200; ++i)
                queue.runAndWait([&] { ++counter; });
        });
    }
    for (auto& c : callers)
        c.join();
    EXPECT_EQ(queue.runAndWait([&] { return counter; }), 1600);
}
