#pragma once

#include <chrono>
#include <stop_token>
#include <thread>

// The cancellation token that every blocking operation takes as its last
// parameter. Blocking code registers a std::stop_callback on token() to end
// what it waits on, and calls check() at its safe points.
class Cancel {
public:
    Cancel() = default; // never cancelled
    explicit Cancel(std::stop_token token) : m_token(std::move(token)) {}

    bool isCancelled() const noexcept { return m_token.stop_requested(); }
    void check() const; // throws Cancelled
    const std::stop_token& token() const noexcept { return m_token; }

private:
    std::stop_token m_token;
};

// A token cancelled once `limit` has passed: for the clean-up after a Stop,
// which must end soon whatever the phone does. Without a thread to time it
// the token is cancelled at once.
class TimeLimit {
public:
    explicit TimeLimit(std::chrono::milliseconds limit);
    ~TimeLimit(); // ends the timer at once

    TimeLimit(const TimeLimit&) = delete;
    TimeLimit& operator=(const TimeLimit&) = delete;

    Cancel cancel() const { return Cancel(m_source.get_token()); }
    bool expired() const { return m_source.stop_requested(); }

private:
    std::stop_source m_source;
    std::jthread m_timer;
};

// A token cancelled `limit` after `after` is: for a step a Stop should not
// cut in two while the phone answers, yet that must end soon after a Stop
// whatever the phone does. Without a thread to time it the token is
// cancelled at once.
class GraceAfterStop {
public:
    GraceAfterStop(const Cancel& after, std::chrono::milliseconds limit);
    ~GraceAfterStop(); // ends the timer at once

    GraceAfterStop(const GraceAfterStop&) = delete;
    GraceAfterStop& operator=(const GraceAfterStop&) = delete;

    Cancel cancel() const { return Cancel(m_source.get_token()); }

private:
    std::stop_source m_source;
    std::jthread m_timer;
};
