#include "Task.h"

#include "WorkerPool.h"

#include <QMetaObject>

namespace taskdetail {

Courier::Courier(QObject* receiver) : QObject(receiver), m_link(std::make_shared<Link>())
{
    m_link->courier = this;
}

Courier::~Courier()
{
    std::lock_guard lock(m_link->mutex);
    m_link->courier = nullptr;
}

void Courier::post(const std::shared_ptr<Link>& link, std::function<void()> deliver)
{
    std::lock_guard lock(link->mutex);
    Courier* courier = link->courier;
    if (!courier)
        return;
    // Posting under the link's lock: the courier cannot be destroyed in between.
    QMetaObject::invokeMethod(
        courier,
        [courier, deliver = std::move(deliver)]() mutable {
            QPointer<Courier> alive(courier);
            deliver();
            deliver = nullptr;
            if (alive)
                delete courier;
        },
        Qt::QueuedConnection);
}

void startOnWorker(std::function<void(std::stop_token)> job, std::stop_source stop)
{
    WorkerPool::shared().start(std::move(job), std::move(stop));
}

} // namespace taskdetail
