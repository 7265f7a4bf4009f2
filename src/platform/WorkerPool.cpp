#include "WorkerPool.h"

#include "Error.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <list>
#include <mutex>
#include <cerrno>
#include <system_error>
#include <thread>

namespace {
constexpr auto idleLifetime = std::chrono::seconds(30);

struct Job {
    std::function<void(std::stop_token)> run;
    std::stop_source stop;
};
} // namespace

struct WorkerPool::State {
    mutable std::mutex mutex;
    std::condition_variable wake;     // a job is queued
    std::condition_variable finished; // a job ended
    std::deque<Job> queue;
    std::list<std::stop_source> running;
    int idle = 0;
    int threads = 0;
    bool closing = false;
    bool refused = false;
    int ownGranted = -1; // own threads still made before refusing; -1: all

    void workerLoop();
};

void WorkerPool::State::workerLoop()
{
    std::unique_lock lock(mutex);
    for (;;) {
        ++idle;
        bool got = wake.wait_for(lock, idleLifetime, [&] { return !queue.empty() || closing; });
        --idle;
        if (!got || queue.empty()) {
            --threads;
            finished.notify_all();
            return;
        }
        Job job = std::move(queue.front());
        queue.pop_front();
        auto it = running.insert(running.end(), job.stop);
        lock.unlock();
        try {
            job.run(job.stop.get_token());
        } catch (...) {
            // A job reports its own failures; nothing may escape a worker.
        }
        job = {};
        lock.lock();
        running.erase(it);
        finished.notify_all();
    }
}

WorkerPool::WorkerPool() : d(new State) {}

WorkerPool::~WorkerPool()
{
    // Intentionally leaked state: detached workers may still hold it at exit.
}

WorkerPool& WorkerPool::shared()
{
    static WorkerPool* pool = new WorkerPool; // never destroyed; see ~WorkerPool
    return *pool;
}

void WorkerPool::start(std::function<void(std::stop_token)> job, std::stop_source stop)
{
    std::unique_lock lock(d->mutex);
    if (d->refused)
        throw NoThreadError(EAGAIN);
    if (d->closing)
        stop.request_stop();
    d->queue.push_back(Job{std::move(job), std::move(stop)});
    if (d->idle >= static_cast<int>(d->queue.size())) {
        d->wake.notify_one();
        return;
    }
    try {
        std::thread([state = d] { state->workerLoop(); }).detach();
        ++d->threads;
    } catch (const std::system_error& e) {
        d->queue.pop_back();
        throw NoThreadError(e.code().value());
    }
}

std::thread WorkerPool::ownThread(std::function<void()> body)
{
    {
        std::lock_guard lock(d->mutex);
        if (d->refused || d->ownGranted == 0)
            throw NoThreadError(EAGAIN);
        if (d->ownGranted > 0)
            --d->ownGranted;
    }
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error& e) {
        throw NoThreadError(e.code().value());
    }
}

bool WorkerPool::shutdown(std::chrono::milliseconds limit)
{
    std::unique_lock lock(d->mutex);
    d->closing = true;
    for (auto& job : d->queue)
        job.stop.request_stop();
    for (auto& stop : d->running)
        stop.request_stop();
    d->wake.notify_all();
    return d->finished.wait_for(lock, limit, [&] { return d->queue.empty() && d->running.empty(); });
}

void WorkerPool::reopenForTesting()
{
    std::lock_guard lock(d->mutex);
    d->closing = false;
}

void WorkerPool::refuseThreadsForTesting(bool refuse)
{
    std::lock_guard lock(d->mutex);
    d->refused = refuse;
    d->ownGranted = -1;
}

void WorkerPool::refuseOwnThreadsAfterForTesting(int granted)
{
    std::lock_guard lock(d->mutex);
    d->ownGranted = std::max(granted, 0);
}

int WorkerPool::activeJobs() const
{
    std::lock_guard lock(d->mutex);
    return static_cast<int>(d->queue.size() + d->running.size());
}
