#pragma once

#include <QString>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <future>
#include <mutex>
#include <thread>
#include <type_traits>

// One worker thread running closures one at a time in the order they were
// queued. Used where a device must see one request at a time.
class SerialQueue {
public:
    // Throws NoThreadError when no thread can be made.
    explicit SerialQueue(QString name);
    // Runs what is already queued, then stops the thread.
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    const QString& name() const { return m_name; }

    void post(std::function<void()> work);

    // Whether the caller is this queue's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == m_threadId; }

    // Runs work on the queue and waits for its result or exception. On the
    // queue's own thread the work runs at once, so nested calls cannot deadlock.
    template <class F>
    auto runAndWait(F&& work) -> std::invoke_result_t<F&>;

private:
    struct State {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<std::function<void()>> queue;
        bool stopping = false;
    };
    static void loop(std::shared_ptr<State> state);

    QString m_name;
    std::shared_ptr<State> m_state; // shared with the thread, which may outlive us
    std::thread m_thread;
    std::thread::id m_threadId;
};

template <class F>
auto SerialQueue::runAndWait(F&& work) -> std::invoke_result_t<F&>
{
    using R = std::invoke_result_t<F&>;
    if (isCurrent())
        return work();
    std::promise<R> promise;
    auto future = promise.get_future();
    post([&promise, &work] {
        try {
            if constexpr (std::is_void_v<R>) {
                work();
                promise.set_value();
            } else {
                promise.set_value(work());
            }
        } catch (...) {
            promise.set_exception(std::current_exception());
        }
    });
    return future.get();
}
