#include "MirrorVideoSurface.h"

#include "MirrorDecoder.h"

#include <algorithm>
#include <cmath>

QRect MirrorVideoSurface::fitted(QSize video, QSize view)
{
    if (video.isEmpty() || view.isEmpty())
        return {};
    const double scale = std::min(double(view.width()) / video.width(), double(view.height()) / video.height());
    const int w = std::clamp(int(std::lround(video.width() * scale)), 1, view.width());
    const int h = std::clamp(int(std::lround(video.height() * scale)), 1, view.height());
    return QRect((view.width() - w) / 2, (view.height() - h) / 2, w, h);
}

void MirrorVideoSurface::setViewSize(QSize devicePixels)
{
    std::lock_guard lock(m_mutex);
    m_viewSize = devicePixels;
}

void MirrorVideoSurface::setRepaintRequest(std::function<void()> request)
{
    std::lock_guard lock(m_mutex);
    m_repaintRequest = std::move(request);
    m_repaintPending = false;
}

MirrorVideoSurface::Picture MirrorVideoSurface::takePicture()
{
    std::lock_guard lock(m_mutex);
    m_repaintPending = false;
    if (m_hasNew) {
        std::swap(m_front, m_ready);
        m_hasNew = false;
    }
    return m_slots[m_front];
}

void MirrorVideoSurface::clear()
{
    std::lock_guard lock(m_mutex);
    ++m_generation;
    m_slots[m_front] = Picture();
    m_hasNew = false;
    requestRepaintLocked();
}

quint64 MirrorVideoSurface::generation() const
{
    std::lock_guard lock(m_mutex);
    return m_generation;
}

void MirrorVideoSurface::requestRepaintLocked()
{
    // Held under the mutex, so that a view that removes its request in its
    // destructor is never called afterwards.
    if (m_repaintPending || !m_repaintRequest)
        return;
    m_repaintPending = true;
    m_repaintRequest();
}

void MirrorVideoSurface::present(const MirrorPicture& picture, quint64 generation)
{
    QSize view;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        view = m_viewSize;
    }
    const QSize videoSize = picture.size();
    const QRect fit = fitted(videoSize, view);
    if (fit.isEmpty())
        return;

    // The back buffer belongs to this thread alone between hand-overs.
    Picture& back = m_slots[m_back];
    if (back.image.size() != fit.size())
        back.image = QImage(fit.size(), QImage::Format_RGB32); // BGRA bytes on little-endian
    if (back.image.isNull() || !picture.convert(back.image))
        return;
    back.videoSize = videoSize;

    std::lock_guard lock(m_mutex);
    if (generation != m_generation)
        return;
    back.number = ++m_presented;
    std::swap(m_back, m_ready);
    m_hasNew = true;
    requestRepaintLocked();
}
