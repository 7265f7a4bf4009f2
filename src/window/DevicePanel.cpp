#include "DevicePanel.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DetailsPopover.h"
#include "DevicePanelViews.h"
#include "Digits.h"
#include "Glass.h"
#include "Look.h"
#include "StorageMeter.h"
#include "WindowRules.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int factSymbolSize = 15;

QLabel* symbolLabel(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setFixedSize(factSymbolSize + 2, factSymbolSize);
    Accessibility::hide(label);
    return label;
}

void setSymbol(QLabel* label, const QString& symbol, const QColor& color)
{
    label->setPixmap(Look::symbol(symbol, factSymbolSize, color, label->devicePixelRatioF()));
    label->setProperty("symbol", symbol);
    label->setProperty("color", color);
}

} // namespace

DevicePanel::DevicePanel(const Environment& env, QWidget* parent) : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("devicePanel"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 6, 0, 6);
    auto* card = new GlassSurface(GlassSurface::Shape::roundedRectangle, 18, false, this);
    card->setObjectName(QStringLiteral("deviceCard"));
    outer->addWidget(card);
    auto* stack = new QVBoxLayout(card);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(12);
    const QFont caption = Look::caption(font());
    const QColor secondary = Look::secondary(palette());

    // The header: tile, name over subtitle, the details button.
    auto* header = new QHBoxLayout;
    header->setSpacing(10);
    m_tile = new DeviceTile(card);
    header->addWidget(m_tile);
    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    m_name = new OneLineLabel(card);
    m_name->setObjectName(QStringLiteral("deviceName"));
    m_name->setFont(Look::headline(font()));
    names->addWidget(m_name);
    m_subtitle = new OneLineLabel(card);
    m_subtitle->setObjectName(QStringLiteral("deviceSubtitle"));
    m_subtitle->setFont(caption);
    Look::setForeground(m_subtitle, secondary);
    names->addWidget(m_subtitle);
    header->addLayout(names, 1);
    m_info = new QToolButton(card);
    m_info->setObjectName(QStringLiteral("phoneDetailsButton"));
    m_info->setAutoRaise(true);
    m_info->setIcon(Look::symbolIcon(QStringLiteral("info.circle"), secondary));
    m_info->setIconSize(QSize(16, 16));
    m_info->setCursor(Qt::PointingHandCursor);
    m_info->setToolTip(QStringLiteral("Phone details"));
    Accessibility::setName(m_info, QStringLiteral("Phone Details"), {}, m_info->toolTip());
    connect(m_info, &QToolButton::clicked, this, [this] { setShowingDetails(!showingDetails()); });
    header->addWidget(m_info);
    stack->addLayout(header);

    // The facts: battery and free space over the storage meter.
    m_facts = new QWidget(card);
    m_facts->setObjectName(QStringLiteral("factsSection"));
    auto* facts = new QVBoxLayout(m_facts);
    facts->setContentsMargins(0, 0, 0, 0);
    facts->setSpacing(6);
    auto* row = new QHBoxLayout;
    row->setSpacing(6);
    m_batterySymbol = symbolLabel(m_facts);
    m_batterySymbol->setObjectName(QStringLiteral("batterySymbol"));
    row->addWidget(m_batterySymbol);
    m_batteryText = new DigitsLabel(m_facts);
    m_batteryText->setObjectName(QStringLiteral("batteryText"));
    m_batteryText->setFont(caption);
    Look::setForeground(m_batteryText, secondary);
    row->addWidget(m_batteryText);
    row->addStretch();
    m_free = new DigitsLabel(m_facts);
    m_free->setObjectName(QStringLiteral("freeText"));
    m_free->setFont(caption);
    Look::setForeground(m_free, secondary);
    row->addWidget(m_free);
    facts->addLayout(row);
    m_meter = new StorageMeter(m_facts);
    facts->addWidget(m_meter);
    stack->addWidget(m_facts);

    // Why the phone is not ready.
    m_stateLine = new QWidget(card);
    m_stateLine->setObjectName(QStringLiteral("stateLine"));
    auto* line = new QHBoxLayout(m_stateLine);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(4);
    auto* warning = symbolLabel(m_stateLine);
    setSymbol(warning, QStringLiteral("exclamationmark.circle"), Look::orange());
    line->addWidget(warning);
    m_stateText = new QLabel(m_stateLine);
    m_stateText->setTextFormat(Qt::PlainText);
    m_stateText->setFont(caption);
    Look::setForeground(m_stateText, Look::orange());
    line->addWidget(m_stateText, 1);
    stack->addWidget(m_stateLine);

    // The tools, and the badge of a running recording.
    m_toolsSection = new QWidget(card);
    m_toolsSection->setObjectName(QStringLiteral("toolsSection"));
    auto* tools = new QVBoxLayout(m_toolsSection);
    tools->setContentsMargins(0, 0, 0, 0);
    tools->setSpacing(8);
    m_toolRow = new QWidget(m_toolsSection);
    m_toolRow->setObjectName(QStringLiteral("toolRow"));
    auto* toolLine = new QHBoxLayout(m_toolRow);
    toolLine->setContentsMargins(0, 0, 0, 0);
    toolLine->setSpacing(0);
    BrowserModel* model = m_env.model;
    struct Tool {
        const char* title;
        const char* symbol;
        const char* help;
        std::function<void()> action;
        bool available;
    };
    const auto window = [this](const QString& identifier) {
        return std::function<void()>([this, identifier] { m_env.openWindow(identifier); });
    };
    const Tool table[] = {
        {"Mirror", "rectangle.on.rectangle", "Mirror the screen (Ctrl+Alt+M)", window(QStringLiteral("mirror")),
         m_env.canOpen(QStringLiteral("mirror"))},
        {"Capture", "camera", "Save a screenshot to your computer (Ctrl+Alt+P)", [model] { model->takeScreenshot(); }, true},
        {"Record", "record.circle", "Record the screen to a video, up to 3 minutes (Ctrl+Alt+R)",
         [model] { model->toggleRecording(); }, true},
        {"Apps", "square.grid.2x2", "Manage installed apps (Ctrl+Alt+A)", window(QStringLiteral("apps")),
         m_env.canOpen(QStringLiteral("apps"))},
        {"Logcat", "text.alignleft", "Read the phone's log (Ctrl+Shift+L)", window(QStringLiteral("logcat")),
         m_env.canOpen(QStringLiteral("logcat"))},
    };
    for (const Tool& tool : table) {
        auto* button = new ToolButton(QString::fromUtf8(tool.title), QString::fromUtf8(tool.symbol),
                                      QString::fromUtf8(tool.help), m_toolRow);
        button->setObjectName(QStringLiteral("tool") + QString::fromUtf8(tool.title));
        // A tool whose window or operation is not there yet stays disabled.
        button->setEnabled(tool.available);
        if (tool.available)
            connect(button, &QAbstractButton::clicked, this, [action = tool.action] { action(); });
        toolLine->addWidget(button, 1);
        m_tools.append(button);
    }
    tools->addWidget(m_toolRow);
    m_badge = new RecordingBadge(m_toolsSection);
    connect(m_badge, &QAbstractButton::clicked, model, &BrowserModel::toggleRecording);
    tools->addWidget(m_badge);
    stack->addWidget(m_toolsSection);

    for (auto signal : {&BrowserModel::devicesChanged, &BrowserModel::selectedSerialChanged,
                        &BrowserModel::deviceInfoChanged, &BrowserModel::recordingStartedChanged,
                        &BrowserModel::jobChanged})
        connect(model, signal, this, &DevicePanel::refresh);
    refresh();
}

DevicePanel::~DevicePanel()
{
    delete m_popover.data();
}

DevicePanel::State DevicePanel::state(const BrowserModel& model)
{
    return {model.selectedDevice(), model.deviceInfo(), model.recordingStarted(), model.job().has_value()};
}

void DevicePanel::refresh()
{
    display(state(*m_env.model));
}

void DevicePanel::display(const State& state)
{
    if (!state.device) {
        setShowingDetails(false);
        hide();
        return;
    }
    const Device& phone = *state.device;
    const bool ready = phone.isReady();
    const bool readyOverADB = WindowRules::isReadyOverADB(phone);
    m_tile->setDevice(phone);
    m_name->setText(phone.model);
    const QString subtitleText = subtitle(phone, state.info);
    m_subtitle->setText(subtitleText);
    m_subtitle->setHidden(subtitleText.isEmpty());
    m_info->setVisible(readyOverADB);
    if (!readyOverADB)
        setShowingDetails(false);

    if (state.info && ready)
        showFacts(*state.info);
    m_facts->setVisible(state.info && ready);
    m_stateText->setText(phone.stateDescription());
    m_stateLine->setVisible(!ready);

    const bool recording = state.recordingStarted.has_value();
    m_toolsSection->setVisible(readyOverADB || recording);
    m_toolRow->setEnabled(readyOverADB);
    m_tools.at(1)->setEnabled(!state.jobRunning);
    if (recording)
        m_tools.at(2)->setLook(QStringLiteral("Stop"), QStringLiteral("stop.circle.fill"), Look::red());
    else
        m_tools.at(2)->setLook(QStringLiteral("Record"), QStringLiteral("record.circle"));
    if (recording)
        m_badge->setStarted(*state.recordingStarted);
    m_badge->setVisible(recording);
    show();
}

void DevicePanel::showFacts(const DeviceInfo& info)
{
    m_batterySymbol->setVisible(info.battery.has_value());
    m_batteryText->setVisible(info.battery.has_value());
    if (info.battery) {
        const int level = *info.battery;
        const BatteryLook look = battery(level, info.charging);
        setSymbol(m_batterySymbol, look.symbol, look.red ? Look::red() : Look::secondary(palette()));
        m_batteryText->setText(QString::number(level) + QStringLiteral("%"));
        Accessibility::setName(m_batteryText,
                               QStringLiteral("Battery ") + QString::number(level) + QStringLiteral(" percent") +
                                   (info.charging ? QStringLiteral(", charging") : QString()),
                               {});
    }
    m_free->setVisible(info.storageFree.has_value());
    if (info.storageFree)
        m_free->setText(Look::byteCount(*info.storageFree) + QStringLiteral(" free"));
    const bool meter = info.storageFree && info.storageTotal && *info.storageTotal > 0;
    if (meter)
        m_meter->setStorage(*info.storageTotal, *info.storageFree);
    m_meter->setVisible(meter);
}

QString DevicePanel::subtitle(const Device& device, const std::optional<DeviceInfo>& info)
{
    QStringList parts;
    if (info && info->manufacturer && !info->manufacturer->isEmpty())
        parts.append(*info->manufacturer);
    if (info && info->androidVersion && !info->androidVersion->isEmpty())
        parts.append(QStringLiteral("Android ") + *info->androidVersion);
    if (parts.isEmpty()) {
        if (device.transport == Device::Transport::mtp)
            parts.append(QStringLiteral("File transfer"));
        else if (device.isWireless())
            parts.append(QStringLiteral("Wi-Fi"));
        else
            parts.append(QStringLiteral("USB"));
    }
    return parts.join(QStringLiteral(" · "));
}

QString DevicePanel::subtitle(const Device& device) const
{
    return subtitle(device, m_env.model->deviceInfo());
}

DevicePanel::BatteryLook DevicePanel::battery(int level, bool charging)
{
    if (charging)
        return {QStringLiteral("battery.100.bolt"), false};
    if (level < 13)
        return {QStringLiteral("battery.0"), true};
    if (level < 38)
        return {QStringLiteral("battery.25"), level <= 15};
    if (level < 63)
        return {QStringLiteral("battery.50"), false};
    if (level < 88)
        return {QStringLiteral("battery.75"), false};
    return {QStringLiteral("battery.100"), false};
}

void DevicePanel::setClock(std::function<QDateTime()> now)
{
    m_badge->setClock(std::move(now));
}

bool DevicePanel::showingDetails() const
{
    return m_popover != nullptr;
}

DetailsPopover* DevicePanel::popover() const
{
    return m_popover;
}

void DevicePanel::setShowingDetails(bool showing)
{
    if (showing == showingDetails())
        return;
    if (!showing) {
        m_popover->close();
        return;
    }
    m_popover = new DetailsPopover(m_env.model, m_info);
    connect(m_popover, &DetailsPopover::closed, this, [this] { m_popover = nullptr; });
    m_popover->open();
}
