#include "ToolWindow.h"

#include "BrowserModel.h"

namespace ToolWindow {

std::optional<Device> readyPhone(const BrowserModel& model)
{
    std::optional<Device> device = model.selectedDevice();
    if (!model.adb() || !device || !device->isReady() || device->transport != Device::Transport::adb)
        return std::nullopt;
    return device;
}

QString title(const QString& title, const std::optional<QString>& subtitle)
{
    if (!subtitle || subtitle->isEmpty())
        return title;
    return title + QStringLiteral(" — ") + *subtitle;
}

} // namespace ToolWindow

ReadySerial::ReadySerial(BrowserModel& model, QObject* parent) : QObject(parent), m_model(model)
{
    connect(&model, &BrowserModel::devicesChanged, this, &ReadySerial::update);
    connect(&model, &BrowserModel::selectedSerialChanged, this, &ReadySerial::update);
    // adb is located once, when it was missing; the flag tells.
    connect(&model, &BrowserModel::adbMissingChanged, this, &ReadySerial::update);
    if (const std::optional<Device> phone = ToolWindow::readyPhone(model))
        m_value = phone->serial;
}

void ReadySerial::update()
{
    std::optional<QString> now;
    if (const std::optional<Device> phone = ToolWindow::readyPhone(m_model))
        now = phone->serial;
    if (now == m_value)
        return;
    m_value = now;
    Q_EMIT changed();
}
