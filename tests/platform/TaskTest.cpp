#include "Error.h"
#include "Task.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <gtest/gtest.h>
#include <thread>

using testsupport::waitUntil;

TEST(Task, DeliversResultOnTheReceiversThread)
{
    QObject receiver;
    std::optional<int> result;
    QThread* deliveredOn = nullptr;
    QThread* workedOn = nullptr;
    Task::run(
        &receiver,
        [&](const Cancel&) {
            workedOn = QThread::currentThread();
            return 42;
        },
        [&](int value) {
            result = value;
            deliveredOn = QThread::currentThread();
        },
        [](std::exception_ptr) { FAIL(); });
    ASSERT_TRUE(waitUntil([&] { return result.has_value(); }));
    EXPECT_EQ(*result, 42);
    EXPECT_EQ(deliveredOn, QCoreApplication::instance()->thread());
    EXPECT_NE(workedOn, deliveredOn);
}

TEST(Task, DeliversExceptionsToTheFailureHandler)
{
    QObject receiver;
    std::optional<QString> text;
    Task::run(
        &receiver, [](const Cancel&) -> int { throw SystemError(QStringLiteral("disk full")); },
        [](int) { FAIL(); }, [&](std::exception_ptr e) { text = failureText(e).value_or(QStringLiteral("none")); });
    ASSERT_TRUE(waitUntil([&] { return text.has_value(); }));
    EXPECT_EQ(*text, QStringLiteral("disk full"));
}

TEST(Task, CancellationReachesTheWorkAndIsNotAFailureText)
{
    QObject receiver;
    std::atomic<bool> started = false;
    std::optional<std::exception_ptr> error;
    Task task = Task::run(
        &receiver,
        [&](const Cancel& cancel) {
            started = true;
            while (!cancel.isCancelled())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            cancel.check();
        },
        [] { FAIL(); }, [&](std::exception_ptr e) { error = e; });
    ASSERT_TRUE(waitUntil([&] { return started.load(); }));
    task.cancel();
    ASSERT_TRUE(waitUntil([&] { return error.has_value(); }));
    EXPECT_FALSE(failureText(*error).has_value());
}

TEST(Task, NothingIsDeliveredToADestroyedReceiver)
{
    std::atomic<bool> release = false;
    std::atomic<bool> finished = false;
    bool called = false;
    {
        QObject receiver;
        Task::run(
            &receiver,
            [&](const Cancel&) {
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                return 1;
            },
            [&](int) { called = true; }, [&](std::exception_ptr) { called = true; });
    }
    release = true;
    // The worker finishes after the receiver is gone; give it time to try.
    ASSERT_TRUE(waitUntil([&] { return WorkerPool::shared().activeJobs() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    (void)finished;
}

TEST(Task, ManyConcurrentTasksAllDeliverOnce)
{
    QObject receiver;
    int delivered = 0;
    for (int i = 0; i < 200; ++i) {
        Task::run(
            &receiver, [i](const Cancel&) { return i; }, [&](int) { ++delivered; },
            [](std::exception_ptr) { FAIL(); });
    }
    ASSERT_TRUE(waitUntil([&] { return delivered == 200; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 200);
    EXPECT_TRUE(receiver.children().isEmpty()); // couriers clean up after delivery
}
