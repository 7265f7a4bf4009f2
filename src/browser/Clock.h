#pragma once

#include <QObject>

#include <chrono>
#include <functional>

// When timed model work runs. The device poll waits on it, so tests can move
// time on by hand instead of sleeping.
class Clock {
public:
    virtual ~Clock() = default;

    // Runs `action` once on `context`'s thread, `delay` from now, measured on
    // a monotonic clock; never once `context` is gone.
    virtual void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) = 0;
    // The monotonic clock's time.
    virtual std::chrono::steady_clock::time_point now() const { return std::chrono::steady_clock::now(); }

    // Qt's precise timers.
    static std::shared_ptr<Clock> system();
};
