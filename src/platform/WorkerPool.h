#pragma once

#include <chrono>
#include <functional>
#include <stop_token>
#include <thread>

// Threads for blocking background work. A job never waits for a free thread:
// adb commands and transfers may block for minutes, so the pool grows as
// needed and lets idle threads go after a while.
class WorkerPool {
public:
    static WorkerPool& shared();

    // Runs job on a worker thread with the stop token of `stop`. Throws
    // NoThreadError when no thread can be made; Task::run turns that into the
    // task's failure, so only callers of start() itself handle it.
    void start(std::function<void(std::stop_token)> job, std::stop_source stop = {});

    // A thread of its own, outside the pool, for work that lives as long as
    // its owner (a device's queue, a stream's reader). Throws NoThreadError
    // as start() does.
    std::thread ownThread(std::function<void()> body);

    // Asks every running job to stop and waits for all of them, at most
    // `limit`. Called once when the application quits. Returns whether every
    // job ended in time.
    bool shutdown(std::chrono::milliseconds limit);

    // Tests that quit an application in a process that goes on: work
    // started from now on runs again instead of being stopped at once.
    void reopenForTesting();

    // Jobs running or queued right now.
    int activeJobs() const;

    // Tests stand in for a system out of threads: while refused, start()
    // and ownThread() fail as they do when no thread can be made.
    void refuseThreadsForTesting(bool refuse);
    // A system that runs out part way: the next `granted` threads of
    // ownThread() are made and every later one refused, until
    // refuseThreadsForTesting(false).
    void refuseOwnThreadsAfterForTesting(int granted);

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

private:
    WorkerPool();
    ~WorkerPool();
    struct State;
    State* d;
};
