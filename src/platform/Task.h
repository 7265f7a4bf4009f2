#pragma once

#include "Cancel.h"

#include <QObject>
#include <QPointer>

#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <type_traits>
#include <utility>

// A piece of background work started from the GUI thread. Holding the Task
// only allows cancelling it; dropping the handle does not stop the work.
class Task {
public:
    Task() = default;

    void cancel() { m_stop.request_stop(); }
    bool isCancelled() const { return m_stop.stop_requested(); }
    // Whether this handle refers to work that was started.
    bool isValid() const { return m_stop.stop_possible(); }

    // Runs work(cancel) on a worker thread. When it returns, done(result) runs
    // on the receiver's thread; when it throws, failed(exception) does. Neither
    // runs once the receiver has been destroyed, so callbacks may capture it.
    // Never throws: when no thread can be started, that is the task's failure,
    // delivered to failed() later on the receiver's thread like any other.
    template <class Work, class Done, class Failed>
    static Task run(QObject* receiver, Work&& work, Done&& done, Failed&& failed);
    // A handle for work that starts later, once its turn comes: cancelling it
    // requests stop on `stop`, which the owner of the work watches.
    static Task waitingOn(std::stop_source stop) { return Task(std::move(stop)); }

private:
    explicit Task(std::stop_source stop) : m_stop(std::move(stop)) {}
    std::stop_source m_stop;
};

namespace taskdetail {

// A child of the receiver that delivers one result. Its destruction (with the
// receiver, or after delivery) closes the link, so a worker never posts to a
// destroyed object.
class Courier : public QObject {
public:
    struct Link {
        std::mutex mutex;
        Courier* courier = nullptr;
    };

    explicit Courier(QObject* receiver);
    ~Courier() override;

    std::shared_ptr<Link> link() const { return m_link; }

    // Called from the worker: runs deliver on the courier's thread, which then
    // deletes the courier. Dropped when the courier is already gone.
    static void post(const std::shared_ptr<Link>& link, std::function<void()> deliver);

private:
    std::shared_ptr<Link> m_link;
};

void startOnWorker(std::function<void(std::stop_token)> job, std::stop_source stop);

} // namespace taskdetail

template <class Work, class Done, class Failed>
Task Task::run(QObject* receiver, Work&& work, Done&& done, Failed&& failed)
{
    using Result = std::invoke_result_t<Work&, const Cancel&>;
    std::stop_source stop;
    auto* courier = new taskdetail::Courier(receiver);
    auto link = courier->link();
    // Shared with the start-failure path below: the job is dropped unrun then.
    auto onFailure = std::make_shared<std::decay_t<Failed>>(std::forward<Failed>(failed));
    auto job = [link, work = std::forward<Work>(work), done = std::forward<Done>(done),
                onFailure](std::stop_token token) mutable {
        Cancel cancel(std::move(token));
        std::function<void()> deliver;
        try {
            if constexpr (std::is_void_v<Result>) {
                work(cancel);
                deliver = [done = std::move(done)]() mutable { done(); };
            } else {
                auto result = std::make_shared<Result>(work(cancel));
                deliver = [done = std::move(done), result]() mutable { done(std::move(*result)); };
            }
        } catch (...) {
            deliver = [onFailure, error = std::current_exception()] { (*onFailure)(error); };
        }
        taskdetail::Courier::post(link, std::move(deliver));
    };
    try {
        taskdetail::startOnWorker(std::move(job), stop);
    } catch (...) {
        taskdetail::Courier::post(link, [onFailure, error = std::current_exception()] { (*onFailure)(error); });
    }
    return Task(std::move(stop));
}
