#include "Cancel.h"

#include "Error.h"

#include <condition_variable>
#include <mutex>
#include <system_error>

void Cancel::check() const
{
    if (isCancelled())
        throw Cancelled();
}

TimeLimit::TimeLimit(std::chrono::milliseconds limit)
{
    try {
        m_timer = std::jthread([source = m_source, limit](std::stop_token ended) mutable {
            std::mutex mutex;
            std::condition_variable_any wake;
            std::unique_lock lock(mutex);
            wake.wait_for(lock, ended, limit, [] { return false; });
            if (!ended.stop_requested())
                source.request_stop();
        });
    } catch (const std::system_error&) {
        m_source.request_stop();
    }
}

TimeLimit::~TimeLimit() = default;

GraceAfterStop::GraceAfterStop(const Cancel& after, std::chrono::milliseconds limit)
{
    if (!after.token().stop_possible())
        return; // never stopped
    try {
        m_timer = std::jthread([source = m_source, stop = after.token(), limit](std::stop_token ended) mutable {
            std::mutex mutex;
            std::condition_variable_any wake;
            // Made before the lock is taken and ended after it is let go:
            // the callback takes the lock itself.
            const std::stop_callback onStop(stop, [&] {
                std::lock_guard guard(mutex);
                wake.notify_all();
            });
            std::unique_lock lock(mutex);
            if (!wake.wait(lock, ended, [&] { return stop.stop_requested(); }))
                return;
            wake.wait_for(lock, ended, limit, [] { return false; });
            if (!ended.stop_requested())
                source.request_stop();
        });
    } catch (const std::system_error&) {
        m_source.request_stop();
    }
}

GraceAfterStop::~GraceAfterStop() = default;
