#pragma once

#include <avahi-common/watch.h>

// avahi's event-loop interface served by the Qt event loop of the thread
// that creates it (socket notifiers and timers), so that every avahi
// callback runs on that thread and nothing needs a lock.
class AvahiQtPoll {
public:
    AvahiQtPoll();
    AvahiQtPoll(const AvahiQtPoll&) = delete;
    AvahiQtPoll& operator=(const AvahiQtPoll&) = delete;

    const AvahiPoll* api() const { return &m_api; }

private:
    AvahiPoll m_api;
};
