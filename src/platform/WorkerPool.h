#pragma once

#include <chrono>
#include <functional>
#include <stop_token>

// Threads for blocking background work. A job never waits for a free thread:
// adb commands and transfers may block for minutes, so the pool grows as
// needed and lets idle threads go after a while.
class WorkerPool {
public:
    static WorkerPool& shared();

    // Runs job on a worker thread with the stop token of `stop`.
    void start(std::function<void(std::stop_token)> job, std::stop_source stop = {});

    // Asks every running job to stop and waits for all of them, at most
    // `limit`. Called once when the application quits. Returns whether every
    // job ended in time.
    bool shutdown(std::chrono::milliseconds limit);

    // Jobs running or queued right now.
    int activeJobs() const;

    // Tests stand in for a system out of threads: while refused, start()
    // fails as it does when no thread can be made.
    void refuseThreadsForTesting(bool refuse);

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

private:
    WorkerPool();
    ~WorkerPool();
    struct State;
    State* d;
};
