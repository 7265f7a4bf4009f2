#include "MirrorVideoSurface.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>

MirrorVideoSurface::MirrorVideoSurface() = default;

MirrorVideoSurface::~MirrorVideoSurface() { sws_freeContext(m_scaler); }

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

void MirrorVideoSurface::present(const AVFrame& frame, quint64 generation)
{
    QSize view;
    {
        std::lock_guard lock(m_mutex);
        if (generation != m_generation)
            return;
        view = m_viewSize;
    }
    const QSize videoSize(frame.width, frame.height);
    const QRect fit = fitted(videoSize, view);
    if (fit.isEmpty())
        return;

    // The back buffer belongs to this thread alone between hand-overs.
    Picture& back = m_slots[m_back];
    if (back.image.size() != fit.size())
        back.image = QImage(fit.size(), QImage::Format_RGB32); // BGRA bytes on little-endian
    if (back.image.isNull())
        return;

    const auto format = AVPixelFormat(frame.format);
    SwsContext* scaler = sws_getCachedContext(m_scaler, frame.width, frame.height, format, fit.width(),
                                              fit.height(), AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!scaler) {
        m_scaler = nullptr; // freed by sws_getCachedContext
        return;
    }
    const bool fullRange = frame.color_range == AVCOL_RANGE_JPEG || format == AV_PIX_FMT_YUVJ420P;
    const int space = frame.colorspace == AVCOL_SPC_BT709 ? SWS_CS_ITU709 : SWS_CS_DEFAULT;
    const int colours = space * 2 + (fullRange ? 1 : 0);
    if (scaler != m_scaler || colours != m_colours) {
        sws_setColorspaceDetails(scaler, sws_getCoefficients(space), fullRange ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
        m_scaler = scaler;
        m_colours = colours;
    }
    uint8_t* destination[4] = {back.image.bits(), nullptr, nullptr, nullptr};
    const int strides[4] = {int(back.image.bytesPerLine()), 0, 0, 0};
    sws_scale(m_scaler, frame.data, frame.linesize, 0, frame.height, destination, strides);
    back.videoSize = videoSize;

    std::lock_guard lock(m_mutex);
    if (generation != m_generation)
        return;
    back.number = ++m_presented;
    std::swap(m_back, m_ready);
    m_hasNew = true;
    requestRepaintLocked();
}
