#include "DrawnAhead.h"

#include "Error.h"
#include "WorkerPool.h"

#include <QCoreApplication>
#include <QPointer>

#include <condition_variable>
#include <deque>
#include <mutex>

struct DrawnAhead::State {
    enum class Phase { waiting, drawing, drawn };

    std::mutex lock;
    std::condition_variable drawn;
    Phase phase = Phase::waiting;
    std::function<QImage()> draw;
    QImage picture;

    // Draws here when nobody has begun; false when someone else has.
    bool drawIfWaiting()
    {
        std::unique_lock hold(lock);
        if (phase != Phase::waiting)
            return false;
        phase = Phase::drawing;
        std::function<QImage()> work = std::move(draw);
        hold.unlock();
        QImage result = work();
        hold.lock();
        picture = std::move(result);
        phase = Phase::drawn;
        drawn.notify_all();
        return true;
    }
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

DrawnAhead::DrawnAhead(std::function<QImage()> draw) : m_state(std::make_shared<State>())
{
    m_state->draw = std::move(draw);
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
                next->drawIfWaiting();
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
    State& state = *m_state;
    if (!state.drawIfWaiting()) {
        std::unique_lock hold(state.lock);
        state.drawn.wait(hold, [&] { return state.phase == State::Phase::drawn; });
    }
    std::lock_guard hold(state.lock);
    return state.picture;
}
