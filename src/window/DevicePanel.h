#pragma once

#include "Environment.h"

#include <QDateTime>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>

class DetailsPopover;
class DeviceTile;
class OneLineLabel;
class QLabel;
class QToolButton;
class RecordingBadge;
class StorageMeter;
class ToolButton;

// The card of the chosen phone at the top of the sidebar: its tile, name and
// subtitle, the button of its details, its battery and free storage (or why
// it is not ready), and its tools with the recording badge. It keeps nothing
// of the phone; it takes no space while no phone is chosen.
class DevicePanel : public QWidget {
    Q_OBJECT
public:
    explicit DevicePanel(const Environment& env, QWidget* parent = nullptr);
    ~DevicePanel() override;

    // What the card is drawn from; state() reads it from the model.
    struct State {
        std::optional<Device> device;
        std::optional<DeviceInfo> info;
        std::optional<QDateTime> recordingStarted;
        bool jobRunning = false;
    };
    static State state(const BrowserModel& model);
    // Draws the card for `state`; every change of the model calls it.
    void display(const State& state);

    // The manufacturer and Android version joined by " · ", else how the
    // phone is connected.
    static QString subtitle(const Device& device, const std::optional<DeviceInfo>& info);
    // The same with the model's current facts.
    QString subtitle(const Device& device) const;

    // The battery's symbol and whether it is drawn red, by level and charging.
    struct BatteryLook {
        QString symbol;
        bool red = false;
        friend bool operator==(const BatteryLook&, const BatteryLook&) = default;
    };
    static BatteryLook battery(int level, bool charging);

    // The recording badge's time source (the computer's clock by default).
    void setClock(std::function<QDateTime()> now);

    bool showingDetails() const;
    void setShowingDetails(bool showing);
    DetailsPopover* popover() const;

    QToolButton* infoButton() const { return m_info; }
    // Mirror, Capture, Record, Apps, Logcat.
    QList<ToolButton*> tools() const { return m_tools; }
    RecordingBadge* badge() const { return m_badge; }

private:
    void refresh();
    void showFacts(const DeviceInfo& info);
    void runTool(const std::function<void()>& action);

    Environment m_env;
    DeviceTile* m_tile;
    OneLineLabel* m_name;
    OneLineLabel* m_subtitle;
    QToolButton* m_info;
    QWidget* m_facts;
    QLabel* m_batterySymbol;
    QLabel* m_batteryText;
    QLabel* m_free;
    StorageMeter* m_meter;
    QWidget* m_stateLine;
    QLabel* m_stateText;
    QWidget* m_toolsSection;
    QWidget* m_toolRow;
    QList<ToolButton*> m_tools;
    RecordingBadge* m_badge;
    QPointer<DetailsPopover> m_popover;
    QString m_batteryShown;
};
