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
    m_kept.reset();
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

bool MirrorVideoSurface::convertBack(const MirrorPicture& picture, QSize fit)
{
    Picture& back = m_slots[m_back];
    if (back.image.size() != fit)
        back.image = QImage(fit, QImage::Format_RGB32); // BGRA bytes on little-endian
    return !back.image.isNull() && picture.convert(back.image);
}

void MirrorVideoSurface::publishLocked(QSize videoSize)
{
    Picture& back = m_slots[m_back];
    back.videoSize = videoSize;
    back.number = ++m_presented;
    m_keptFit = back.image.size();
    std::swap(m_back, m_ready);
    m_hasNew = true;
    requestRepaintLocked();
}

void MirrorVideoSurface::present(const MirrorPicture& picture, quint64 generation)
{
    const std::lock_guard converting(m_converting);
    QSize view;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        view = m_viewSize;
    }
    const QSize videoSize = picture.size();
    const QRect fit = fitted(videoSize, view);
    if (fit.isEmpty() || !convertBack(picture, fit.size()))
        return;
    std::shared_ptr<const MirrorPicture> kept = picture.keep();

    std::unique_lock lock(m_mutex);
    if (generation != m_generation)
        return;
    std::swap(m_kept, kept);
    publishLocked(videoSize);
    lock.unlock(); // the picture before is let go outside the lock
}

void MirrorVideoSurface::redraw()
{
    const std::lock_guard converting(m_converting);
    std::shared_ptr<const MirrorPicture> kept;
    QRect fit;
    {
        std::lock_guard lock(m_mutex);
        if (!m_kept)
            return;
        kept = m_kept;
        fit = fitted(kept->size(), m_viewSize);
        if (fit.isEmpty() || fit.size() == m_keptFit)
            return;
    }
    if (!convertBack(*kept, fit.size()))
        return;
    std::lock_guard lock(m_mutex);
    // Cleared meanwhile: it stays black.
    if (m_kept != kept)
        return;
    publishLocked(kept->size());
}
