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

TEST(Task, DeliversEachResultOrFailureOnceOnTheReceiversThread)
{
    QObject receiver;
    const QThread* gui = QCoreApplication::instance()->thread();
    std::atomic<int> workedOnGui = 0;
    int delivered = 0, deliveredElsewhere = 0;
    std::optional<QString> text;
    for (int i = 0; i < 200; ++i) {
        Task::run(
            &receiver,
            [&, i](const Cancel&) {
                workedOnGui += QThread::currentThread() == gui;
                if (i == 0)
                    throw SystemError(QStringLiteral("disk full"));
                return i;
            },
            [&](int) {
                ++delivered;
                deliveredElsewhere += QThread::currentThread() != gui;
            },
            [&](std::exception_ptr e) { text = failureText(e).value_or(QStringLiteral("none")); });
    }
    ASSERT_TRUE(waitUntil([&] { return delivered == 199 && text.has_value(); }));
    QCoreApplication::processEvents();
    EXPECT_EQ(delivered, 199);
    EXPECT_EQ(deliveredElsewhere + workedOnGui, 0);
    EXPECT_EQ(*text, QStringLiteral("disk full"));
    EXPECT_TRUE(receiver.children().isEmpty()); // couriers clean up after delivery
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
    bool called = false;
    {
        QObject receiver;
        Task::run(
            &receiver,
            [&](const Cancel&) {
                while (!release)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
            },
            [&] { called = true; }, [&](std::exception_ptr) { called = true; });
    }
    release = true; // the worker finishes after the receiver is gone
    ASSERT_TRUE(waitUntil([&] { return WorkerPool::shared().activeJobs() == 0; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

namespace {
struct ThreadsRefused {
    ThreadsRefused() { WorkerPool::shared().refuseThreadsForTesting(true); }
    ~ThreadsRefused() { WorkerPool::shared().refuseThreadsForTesting(false); }
};
} // namespace

// Mended: Task::run threw when no thread could be made, so every caller had to
// remember a catch; one that forgot ended the application from a timer slot.
TEST(Task, AThreadThatCannotStartIsTheTasksOwnFailureDeliveredLater)
{
    QObject receiver;
    bool worked = false, done = false;
    std::optional<QString> text;
    {
        const ThreadsRefused refused;
        EXPECT_NO_THROW(Task::run(
            &receiver, [&](const Cancel&) { worked = true; }, [&] { done = true; },
            [&](std::exception_ptr e) { text = failureText(e).value_or(QStringLiteral("none")); }));
    }
    EXPECT_FALSE(text.has_value()); // never inside the caller, as no other failure is
    ASSERT_TRUE(waitUntil([&] { return text.has_value(); }));
    EXPECT_TRUE(text->startsWith(QStringLiteral("Couldn't start a worker thread"))) << text->toStdString();
    EXPECT_FALSE(worked);
    EXPECT_FALSE(done);
    EXPECT_TRUE(receiver.children().isEmpty());

    // A receiver gone before the failure lands hears nothing.
    bool heard = false;
    {
        QObject gone;
        const ThreadsRefused refused;
        Task::run(&gone, [](const Cancel&) {}, [] {}, [&](std::exception_ptr) { heard = true; });
    }
    QCoreApplication::processEvents();
    EXPECT_FALSE(heard);
}
