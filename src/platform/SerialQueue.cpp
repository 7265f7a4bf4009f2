#include "SerialQueue.h"

#include "WorkerPool.h"

#include <pthread.h>

SerialQueue::SerialQueue(QString name) : m_name(std::move(name)), m_state(std::make_shared<State>())
{
    m_thread = WorkerPool::shared().ownThread([state = m_state] { loop(state); });
    m_threadId = m_thread.get_id();
    // Thread names are limited to 15 bytes; they only help debugging.
    pthread_setname_np(m_thread.native_handle(), m_name.left(15).toUtf8().constData());
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->stopping = true;
    }
    m_state->wake.notify_all();
    if (isCurrent())
        m_thread.detach(); // the last owner let go from inside a queued closure
    else
        m_thread.join();
}

void SerialQueue::post(std::function<void()> work)
{
    {
        std::lock_guard lock(m_state->mutex);
        m_state->queue.push_back(std::move(work));
    }
    m_state->wake.notify_one();
}

void SerialQueue::loop(std::shared_ptr<State> state)
{
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->wake.wait(lock, [&] { return !state->queue.empty() || state->stopping; });
        if (state->queue.empty())
            return;
        auto work = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        try {
            work();
        } catch (...) {
            // Posted work reports its own failures.
        }
        work = nullptr;
        lock.lock();
    }
}
