#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

// Work done once, ahead of need: by a worker, or by whoever needs it first
// and finds it not begun; one under way is waited for.
class OnceAhead {
public:
    explicit OnceAhead(std::function<void()> work) : m_work(std::move(work)) {}
    OnceAhead(const OnceAhead&) = delete;
    OnceAhead& operator=(const OnceAhead&) = delete;

    // Does the work here unless someone has begun it; false when someone has.
    bool runIfWaiting()
    {
        {
            std::lock_guard hold(m_lock);
            if (m_phase != Phase::waiting)
                return false;
            m_phase = Phase::running;
        }
        m_work();
        std::lock_guard hold(m_lock);
        m_phase = Phase::done;
        m_ended.notify_all();
        return true;
    }

    // Returns once the work is done, here if nobody had begun it.
    void run()
    {
        if (!runIfWaiting())
            waitForEnd();
    }

    // Drops the work if nobody has begun it; one under way is waited for.
    void drop()
    {
        {
            std::lock_guard hold(m_lock);
            if (m_phase == Phase::waiting)
                m_phase = Phase::done;
        }
        waitForEnd();
    }

private:
    enum class Phase { waiting, running, done };

    void waitForEnd()
    {
        std::unique_lock hold(m_lock);
        m_ended.wait(hold, [this] { return m_phase == Phase::done; });
    }

    std::mutex m_lock;
    std::condition_variable m_ended;
    Phase m_phase = Phase::waiting;
    std::function<void()> m_work;
};
