#include "SurfaceAhead.h"

#include "Error.h"
#include "OnceAhead.h"
#include "WorkerPool.h"

#include <QBackingStore>
#include <QEvent>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <memory>

namespace {

// Faults in every whole page of [start, start + length) for writing.
void faultIn(uchar* start, size_t length)
{
    const auto page = uintptr_t(sysconf(_SC_PAGESIZE));
    const uintptr_t first = (uintptr_t(start) + page - 1) & ~(page - 1);
    const uintptr_t end = (uintptr_t(start) + length) & ~(page - 1);
    if (end <= first)
        return;
    if (madvise(reinterpret_cast<void*>(first), end - first, MADV_POPULATE_WRITE) == 0)
        return;
    // A kernel older than 5.14: a write to each page does the same. Nothing
    // has painted yet, and the first paint covers the whole window.
    for (uintptr_t at = first; at < end; at += page)
        *reinterpret_cast<volatile uchar*>(at) = 0;
}

// Holds the window's first paint, resize or change of native window, and its
// end, until the worker is done. A child of the window, so it goes before
// the window frees its store.
class Gate : public QObject {
public:
    Gate(QWidget* window, std::shared_ptr<OnceAhead> work) : QObject(window), m_work(std::move(work))
    {
        window->windowHandle()->installEventFilter(this);
    }
    ~Gate() override { m_work->drop(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Expose:
        case QEvent::UpdateRequest:
        case QEvent::Resize:
        case QEvent::PlatformSurface:
            m_work->run();
            watched->removeEventFilter(this);
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::shared_ptr<OnceAhead> m_work;
};

} // namespace

void SurfaceAhead::prepare(QWidget* window)
{
    if (!window->isWindow() || window->size().isEmpty())
        return;
    window->winId();
    QBackingStore* store = window->backingStore();
    if (!store || !window->windowHandle())
        return;
    store->resize(window->size());
    QPaintDevice* device = store->paintDevice();
    if (!device || device->devType() != QInternal::Image)
        return;
    auto* image = static_cast<QImage*>(device);
    auto* start = const_cast<uchar*>(image->constBits());
    const auto length = size_t(image->sizeInBytes());
    if (!start || length == 0)
        return;
    auto work = std::make_shared<OnceAhead>([start, length] { faultIn(start, length); });
    try {
        WorkerPool::shared().start([work](std::stop_token) { work->runIfWaiting(); });
    } catch (const NoThreadError&) {
        return;
    }
    new Gate(window, std::move(work));
}
