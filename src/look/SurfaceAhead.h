#pragma once

#include <QSize>

class QWidget;

// The first paint of a large window spends milliseconds on the kernel handing
// out the pages of its backing store, one fault at a time. Made before the
// window is built, the store's pages are faulted in on a worker meanwhile,
// and the first paint finds them there.
namespace SurfaceAhead {

// Makes `window` (a top-level widget) `size` big, creates its native window
// and backing store, and faults the store's memory in on a worker. The
// window's first event and its destruction wait for that work, so nothing
// paints into or frees the memory while the worker is on it. Without a
// thread to spare, or a store that is not plain memory, it does nothing more.
// The window keeps its native window until its first event: nothing that
// makes it anew (a new parent, new window flags) may come in between.
void prepare(QWidget* window, QSize size);

} // namespace SurfaceAhead
