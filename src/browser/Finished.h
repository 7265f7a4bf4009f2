#pragma once

#include <functional>

// Runs a caller's "finished" callback, which is optional.
inline void call(const std::function<void()>& finished)
{
    if (finished)
        finished();
}
