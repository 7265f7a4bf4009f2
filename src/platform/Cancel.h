#pragma once

#include <stop_token>

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
