#include "Clock.h"

#include <QTimer>

#include <memory>

namespace {

class SystemClock final : public Clock {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override
    {
        // A precise timer keeps the two-second rhythm without slack.
        QTimer::singleShot(delay, Qt::PreciseTimer, context, std::move(action));
    }
};

} // namespace

std::shared_ptr<Clock> Clock::system()
{
    return std::make_shared<SystemClock>();
}
