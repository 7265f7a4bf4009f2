#include "DrawnAhead.h"

#include "Error.h"
#include "OnceAhead.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <mutex>

struct DrawnAhead::State {
    explicit State(std::function<QImage()> draw) : drawing([this, draw = std::move(draw)] { picture = draw(); }) {}

    OnceAhead drawing;
    QImage picture; // once drawn
};

namespace {

// The pictures wait for one worker in turn: each is small, and a thread
// started for each would cost the window more than drawing it.
struct Lane {
    std::mutex lock;
    std::condition_variable ended;
    std::deque<std::shared_ptr<DrawnAhead::State>> waiting;
    bool running = false;
};

Lane& lane()
{
    static Lane shared;
    return shared;
}

// No drawing may outlive the application whose libraries it draws with:
// what still waits is left to whoever takes it, the one under way ends.
void endLane()
{
    Lane& pictures = lane();
    std::unique_lock hold(pictures.lock);
    pictures.waiting.clear();
    pictures.ended.wait(hold, [&] { return !pictures.running; });
}

} // namespace

DrawnAhead::DrawnAhead(std::function<QImage()> draw) : m_state(std::make_shared<State>(std::move(draw)))
{
    // Once for each application object (tests make one after another).
    static QPointer<QCoreApplication> endsWith;
    if (QCoreApplication* application = QCoreApplication::instance(); application && endsWith != application) {
        qAddPostRoutine(endLane);
        endsWith = application;
    }
    Lane& pictures = lane();
    std::lock_guard hold(pictures.lock);
    pictures.waiting.push_back(m_state);
    if (pictures.running)
        return;
    try {
        WorkerPool::shared().start([&pictures](std::stop_token) {
            for (;;) {
                std::shared_ptr<State> next;
                {
                    std::lock_guard turn(pictures.lock);
                    if (pictures.waiting.empty()) {
                        pictures.running = false;
                        pictures.ended.notify_all();
                        return;
                    }
                    next = std::move(pictures.waiting.front());
                    pictures.waiting.pop_front();
                }
                next->drawing.runIfWaiting();
            }
        });
        pictures.running = true;
    } catch (const NoThreadError&) {
        // Drawn when needed; nothing waits for a worker that won't come.
        pictures.waiting.clear();
    }
}

QImage DrawnAhead::take() const
{
    m_state->drawing.run();
    return m_state->picture;
}
