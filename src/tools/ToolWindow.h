#pragma once

#include "Models.h"

#include <QObject>
#include <QString>

#include <optional>

class BrowserModel;

// What the phone tool windows (log, apps) share about the phone they work with.
namespace ToolWindow {

// The chosen phone when adb is located and the phone is ready ("device")
// over adb; none otherwise.
std::optional<Device> readyPhone(const BrowserModel& model);

// A window title with the phone's name after it, as the tool windows show
// their subtitle.
QString title(const QString& title, const std::optional<QString>& subtitle);

} // namespace ToolWindow

// The ready phone's serial, worked out again on every change of the browser
// model's phones, choice or adb; `changed` fires when the serial differs.
class ReadySerial : public QObject {
    Q_OBJECT
public:
    explicit ReadySerial(BrowserModel& model, QObject* parent = nullptr);

    const std::optional<QString>& value() const { return m_value; }

Q_SIGNALS:
    void changed();

private:
    void update();

    BrowserModel& m_model;
    std::optional<QString> m_value;
};
