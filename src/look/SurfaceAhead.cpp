#include "SurfaceAhead.h"

#include "Error.h"
#include "WorkerPool.h"

#include <QBackingStore>
#include <QEvent>
#include <QImage>
#include <QWidget>
#include <QWindow>

#include <sys/mman.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

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

// The faulting-in, done once: by the worker, or by whoever needs the memory
// first and finds it not begun; one under way is waited for.
struct Work {
    enum class Phase { waiting, running, done };

    std::mutex lock;
    std::condition_variable ended;
    Phase phase = Phase::waiting;
    uchar* start = nullptr;
    size_t length = 0;

    // Runs it here unless someone has begun; then waits for it to end.
    void run()
    {
        {
            std::unique_lock hold(lock);
            if (phase != Phase::waiting) {
                ended.wait(hold, [this] { return phase == Phase::done; });
                return;
            }
            phase = Phase::running;
        }
        faultIn(start, length);
        std::lock_guard hold(lock);
        phase = Phase::done;
        ended.notify_all();
    }

    // What is not begun is dropped; what is under way is waited for.
    void end()
    {
        std::unique_lock hold(lock);
        if (phase == Phase::waiting)
            phase = Phase::done;
        ended.wait(hold, [this] { return phase == Phase::done; });
    }
};

// Holds the window's first event and its end until the worker is done. A
// child of the window, so it goes before the window frees its store.
class Gate : public QObject {
public:
    Gate(QWidget* window, std::shared_ptr<Work> work) : QObject(window), m_work(std::move(work))
    {
        window->windowHandle()->installEventFilter(this);
    }
    ~Gate() override { m_work->end(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        m_work->run();
        watched->removeEventFilter(this);
        return QObject::eventFilter(watched, event);
    }

private:
    std::shared_ptr<Work> m_work;
};

} // namespace

void SurfaceAhead::prepare(QWidget* window, QSize size)
{
    if (!window->isWindow())
        return;
    window->resize(size);
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
    auto work = std::make_shared<Work>();
    work->start = start;
    work->length = length;
    try {
        WorkerPool::shared().start([work](std::stop_token) { work->run(); });
    } catch (const NoThreadError&) {
        return;
    }
    new Gate(window, std::move(work));
}
