#include "AvahiQtPoll.h"

#include <avahi-common/timeval.h>

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <chrono>

// The opaque types of avahi's event-loop interface are ours to define.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    AvahiWatchEvent happened = AvahiWatchEvent(0);
    AvahiWatchEvent wanted = AvahiWatchEvent(0);
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QTimer* timer = nullptr;
};

namespace {

// Notifiers and timers may be freed from inside their own signal; they are
// silenced at once and deleted once control is back in the event loop.
void retire(QObject* object)
{
    QObject::disconnect(object, nullptr, nullptr, nullptr);
    object->deleteLater();
}

void dispatch(AvahiWatch* watch, AvahiWatchEvent event)
{
    watch->happened = event;
    // The callback may free the watch: nothing touches it afterwards.
    watch->callback(watch, watch->fd, event, watch->userdata);
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent event)
{
    watch->wanted = event;
    watch->read->setEnabled(event & AVAHI_WATCH_IN);
    watch->write->setEnabled(event & AVAHI_WATCH_OUT);
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent event, AvahiWatchCallback callback, void* userdata)
{
    auto* watch = new AvahiWatch;
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    watch->read = new QSocketNotifier(fd, QSocketNotifier::Read);
    watch->write = new QSocketNotifier(fd, QSocketNotifier::Write);
    QObject::connect(watch->read, &QSocketNotifier::activated, watch->read,
                     [watch] { dispatch(watch, AVAHI_WATCH_IN); });
    QObject::connect(watch->write, &QSocketNotifier::activated, watch->write,
                     [watch] { dispatch(watch, AVAHI_WATCH_OUT); });
    watchUpdate(watch, event);
    return watch;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch)
{
    return watch->happened;
}

void watchFree(AvahiWatch* watch)
{
    watch->read->setEnabled(false);
    watch->write->setEnabled(false);
    retire(watch->read);
    retire(watch->write);
    delete watch;
}

void timeoutUpdate(AvahiTimeout* timeout, const timeval* when)
{
    if (!when) {
        timeout->timer->stop();
        return;
    }
    // avahi_age is negative for a time still ahead; round up to whole ms.
    const AvahiUsec ahead = -avahi_age(when);
    const auto delay = std::chrono::milliseconds(ahead > 0 ? (ahead + 999) / 1000 : 0);
    timeout->timer->start(delay);
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const timeval* when, AvahiTimeoutCallback callback, void* userdata)
{
    auto* timeout = new AvahiTimeout;
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer = new QTimer;
    timeout->timer->setSingleShot(true);
    QObject::connect(timeout->timer, &QTimer::timeout, timeout->timer,
                     [timeout] { timeout->callback(timeout, timeout->userdata); });
    timeoutUpdate(timeout, when);
    return timeout;
}

void timeoutFree(AvahiTimeout* timeout)
{
    timeout->timer->stop();
    retire(timeout->timer);
    delete timeout;
}

} // namespace

AvahiQtPoll::AvahiQtPoll()
{
    m_api.userdata = this;
    m_api.watch_new = watchNew;
    m_api.watch_update = watchUpdate;
    m_api.watch_get_events = watchGetEvents;
    m_api.watch_free = watchFree;
    m_api.timeout_new = timeoutNew;
    m_api.timeout_update = timeoutUpdate;
    m_api.timeout_free = timeoutFree;
}
