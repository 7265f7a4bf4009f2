// Which phone the screen-mirroring window may mirror.

#include "BrowserModel.h"

std::optional<BrowserModel::MirrorTarget> BrowserModel::mirrorTarget() const
{
    if (!m_adb)
        return std::nullopt;
    const std::optional<Device> device = selectedDevice();
    if (!device || !device->isReady() || device->transport != Device::Transport::adb)
        return std::nullopt;
    return MirrorTarget {*m_adb, device->serial, device->model, m_settings};
}
