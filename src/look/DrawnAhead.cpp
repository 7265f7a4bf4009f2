#include "DrawnAhead.h"

#include "Error.h"
#include "WorkerPool.h"

#include <condition_variable>
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

DrawnAhead::DrawnAhead(std::function<QImage()> draw) : m_state(std::make_shared<State>())
{
    m_state->draw = std::move(draw);
    try {
        WorkerPool::shared().start([state = m_state](std::stop_token) { state->drawIfWaiting(); });
    } catch (const NoThreadError&) {
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
