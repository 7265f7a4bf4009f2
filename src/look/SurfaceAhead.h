#pragma once

class QWidget;

// The first paint of a large window spends milliseconds on the kernel handing
// out the pages of its backing store, one fault at a time. Made just before
// the window is shown, the store's pages are faulted in on a worker while
// the window is laid out and mapped, and the first paint finds them there.
namespace SurfaceAhead {

// Creates the native window and the backing store of `window` (a top-level
// widget, at the size it is to show at) and faults the store's memory in on
// a worker. The window's first paint, resize or change of native window, and
// its destruction, wait for that work, so nothing paints into or frees the
// memory while the worker is on it.
// Without a thread to spare, or a store that is not plain memory, it does
// nothing more.
// Nothing may make its native window anew (a new parent, new window flags)
// before it first shows.
void prepare(QWidget* window);

} // namespace SurfaceAhead
