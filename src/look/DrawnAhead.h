#pragma once

#include <QImage>

#include <functional>
#include <memory>

// A picture drawn on a worker while the window is still being built, so the
// first paint only copies it. Whoever needs it first and finds the drawing
// not begun draws it there; one under way is waited for. With no thread to
// spare, or a pool that never gets to it, it is drawn when needed.
class DrawnAhead {
public:
    // `draw` must be safe off the main thread: QImage and QPainter only.
    explicit DrawnAhead(std::function<QImage()> draw);

    // The picture; the same one at every call.
    QImage take() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};
