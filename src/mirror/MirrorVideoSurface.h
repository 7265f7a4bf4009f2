#pragma once

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class MirrorPicture;

// Where decoded pictures wait for the display: each is converted on the video
// thread to the size it is shown at, and kept in one of three buffers so that
// neither the video thread nor the painter waits for the other. Only the
// newest picture is ever shown; older ones are overwritten, never queued.
// The newest is also kept as decoded: the phone sends a picture only when
// its screen changes, so a still screen is converted again from it when
// the view changes size.
class MirrorVideoSurface {
public:
    struct Picture {
        QImage image;       // fitted to the view; null when cleared
        QSize videoSize;    // the decoded picture's own size
        quint64 number = 0; // counts the pictures presented, from 1
    };

    MirrorVideoSurface() = default;
    MirrorVideoSurface(const MirrorVideoSurface&) = delete;
    MirrorVideoSurface& operator=(const MirrorVideoSurface&) = delete;

    // The rectangle of a picture of `video` pixels fitted, centred, inside `view`.
    static QRect fitted(QSize video, QSize view);

    // GUI side. The view's size in device pixels; pictures are converted to
    // fit it. Until it is set, pictures are decoded but not converted.
    void setViewSize(QSize devicePixels);
    // Called (from any thread) when a new picture or a clear waits to be
    // shown; at most once until the next takePicture().
    void setRepaintRequest(std::function<void()> request);
    // The newest picture; takes it over from the video thread.
    Picture takePicture();
    // Shows black from now on; a picture of an earlier generation that is
    // still being converted is dropped.
    void clear();
    // Converts the newest picture again at the view's size, when it was
    // converted at another; it is then shown as a new picture.
    void redraw();

    // Video side.
    quint64 generation() const;
    // Converts and publishes a decoded picture unless a clear came after `generation`.
    void present(const MirrorPicture& picture, quint64 generation);

private:
    void requestRepaintLocked();
    // Converts into the back buffer; the caller holds m_converting.
    bool convertBack(const MirrorPicture& picture, QSize fit);
    // Hands the back buffer over as the newest picture, under m_mutex.
    void publishLocked(QSize videoSize);

    mutable std::mutex m_mutex;
    std::function<void()> m_repaintRequest;
    bool m_repaintPending = false;
    QSize m_viewSize;
    quint64 m_generation = 0;
    quint64 m_presented = 0;

    // Triple buffer: the painter owns `front`, the video thread owns `back`;
    // `ready` is the newest finished picture, handed over under the mutex.
    Picture m_slots[3];
    int m_front = 0;
    int m_ready = 1;
    int m_back = 2;
    bool m_hasNew = false;

    // Held by whichever thread converts into `back`: the video thread, or
    // the GUI thread redrawing a still picture.
    std::mutex m_converting;
    std::shared_ptr<const MirrorPicture> m_kept; // the newest picture, as decoded
    QSize m_keptFit;                             // the size it was last converted to
};
