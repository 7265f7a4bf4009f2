#include "Sidebar.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DevicePanel.h"
#include "Look.h"
#include "Theme.h"
#include "WindowRules.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QLabel* sectionHeader(const QString& text, QWidget* parent)
{
    auto* header = new QLabel(text, parent);
    header->setObjectName(text);
    QFont font = Look::caption(parent->font());
    font.setWeight(QFont::DemiBold);
    header->setFont(font);
    header->setContentsMargins(10, 10, 10, 4);
    Look::setForeground(header, Look::tertiary(parent->palette()));
    return header;
}

} // namespace

// ---- Sidebar -------------------------------------------------------------------------

Sidebar::Sidebar(const Environment& env, QWidget* parent) : QWidget(parent), m_env(env)
{
    setObjectName(QStringLiteral("sidebar"));
    setMinimumWidth(230);
    setMaximumWidth(320);
    auto* column = m_column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    auto* scroll = new QScrollArea(this);
    // The list inside takes the focus, not its frame.
    scroll->setFocusPolicy(Qt::NoFocus);
    Accessibility::setName(scroll, {}, QStringLiteral("Sidebar"));
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list = new SidebarList(scroll);
    QWidget* content = m_list;
    content->setObjectName(QStringLiteral("sidebarList"));
    auto* list = new QVBoxLayout(content);
    list->setContentsMargins(4, 4, 4, 4);
    list->setSpacing(0);

    m_locationsHeader = sectionHeader(QStringLiteral("Locations"), content);
    list->addWidget(m_locationsHeader);
    BrowserModel* model = m_env.model;
    for (const Place& place : Place::all()) {
        auto* row = new LocationRow(place.name, place.symbol, place.path, content);
        // Choosing a location records the folder left in the history.
        connect(row, &QAbstractButton::clicked, this, [this, model, path = place.path] {
            model->navigate(path, true);
            // The current folder again changes nothing; the check follows the path.
            updateHighlight();
        });
        m_locations.append(row);
        list->addWidget(row);
    }

    m_devicesHeader = sectionHeader(QStringLiteral("Devices"), content);
    list->addWidget(m_devicesHeader);
    m_deviceList = new QVBoxLayout;
    m_deviceList->setSpacing(0);
    list->addLayout(m_deviceList);

    m_wireless = new QPushButton(QStringLiteral("Connect over Wi-Fi…"), content);
    m_wireless->setIcon(Look::symbolIcon(QStringLiteral("wifi"), Look::secondary(palette()), m_wireless->iconSize().width()));
    m_wireless->setObjectName(QStringLiteral("sidebarWireless"));
    m_wireless->setFlat(true);
    m_wireless->setCursor(Qt::PointingHandCursor);
    m_wireless->setStyleSheet(QStringLiteral("QPushButton { text-align: left; padding: 4px 12px; border: none; }"));
    QPalette buttonPalette = m_wireless->palette();
    buttonPalette.setColor(QPalette::Active, QPalette::ButtonText, Look::secondary(palette()));
    buttonPalette.setColor(QPalette::Inactive, QPalette::ButtonText, Look::secondary(palette()));
    m_wireless->setPalette(buttonPalette);
    // Offered only when the sheet can be shown.
    m_wireless->setEnabled(bool(m_env.commands.wirelessSheet));
    connect(m_wireless, &QPushButton::clicked, this, [model] { model->setShowingWireless(true); });
    list->addWidget(m_wireless);
    list->addStretch();
    scroll->setWidget(content);
    column->addWidget(scroll, 1);

    // The chosen phone's card on top; it takes no space while none is chosen,
    // and is made only once one is.
    if (model->selectedDevice())
        devicePanel();

    // The footer: the maker's link and the About button, on one line.
    auto* footer = new QWidget(this);
    footer->setObjectName(QStringLiteral("sidebarFooter"));
    auto* line = new QHBoxLayout(footer);
    line->setContentsMargins(16, 10, 16, 10);
    line->setSpacing(6);
    const QFont caption = Look::caption(font());
    auto* maker = new MakerLink(m_env.makerSite, footer);
    maker->setFont(caption);
    Look::setForeground(maker, Look::secondary(palette()));
    line->addWidget(maker);
    line->addStretch();
    m_about = new QPushButton(QStringLiteral("About Vantelorquist"), footer);
    m_about->setObjectName(QStringLiteral("about"));
    m_about->setFlat(true);
    m_about->setFont(caption);
    m_about->setCursor(Qt::PointingHandCursor);
    m_about->setStyleSheet(QStringLiteral("QPushButton { border: none; padding: 0; }"));
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    QPalette aboutPalette = m_about->palette();
    aboutPalette.setColor(QPalette::Active, QPalette::ButtonText, accent);
    aboutPalette.setColor(QPalette::Inactive, QPalette::ButtonText, accent);
    m_about->setPalette(aboutPalette);
    m_about->setEnabled(bool(m_env.commands.showAboutPanel));
    connect(m_about, &QPushButton::clicked, this, [this] { m_env.commands.showAboutPanel(); });
    line->addWidget(m_about);
    column->addWidget(footer);

    connect(model, &BrowserModel::devicesChanged, this, &Sidebar::updateDevices);
    connect(model, &BrowserModel::selectedSerialChanged, this, &Sidebar::updateDevices);
    connect(model, &BrowserModel::pathChanged, this, &Sidebar::updateHighlight);
    updateDevices();
    updateHighlight();
}

bool Sidebar::showsLocations() const
{
    return !m_locationsHeader->isHidden();
}

void Sidebar::updateLocations()
{
    const bool ready = WindowRules::isReady(m_env.model->selectedDevice());
    m_locationsHeader->setHidden(!ready);
    // Named after the sections it shows.
    Accessibility::setName(m_list, {},
                           ready ? m_locationsHeader->text() + QStringLiteral(" and ") + m_devicesHeader->text()
                                 : m_devicesHeader->text());
    for (LocationRow* row : std::as_const(m_locations))
        row->setHidden(!ready);
}

void Sidebar::updateHighlight()
{
    const std::optional<QString> chosen = WindowRules::selectedLocation(m_env.model->path());
    for (LocationRow* row : std::as_const(m_locations)) {
        const bool selected = chosen && row->path() == *chosen;
        if (row->isChecked() == selected)
            continue;
        row->setChecked(selected);
        // Without a row of its own, the keyboard's ring follows the checked row.
        m_list->redrawRing();
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(row, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
}

DevicePanel* Sidebar::devicePanel()
{
    if (!m_panel) {
        m_panel = new DevicePanel(m_env, this);
        m_panel->setContentsMargins(10, 4, 10, 0);
        m_column->insertWidget(0, m_panel);
        // The keyboard starts on the list and reaches the card before the
        // footer, whenever the card was made: its focusable widgets, in their
        // order, go after the list's last.
        QList<QWidget*> card;
        for (QWidget* widget = m_panel; widget == m_panel || m_panel->isAncestorOf(widget);
             widget = widget->nextInFocusChain()) {
            if (widget->focusPolicy() != Qt::NoFocus)
                card.append(widget);
        }
        QWidget* previous = m_wireless;
        for (QWidget* widget : std::as_const(card)) {
            setTabOrder(previous, widget);
            previous = widget;
        }
    }
    return m_panel;
}

void Sidebar::updateDevices()
{
    if (m_env.model->selectedDevice())
        devicePanel();
    updateLocations();
    // The keyboard stays on the phone it was on.
    auto* current = qobject_cast<DeviceRow*>(m_list->current());
    const QString currentSerial = current ? current->device().serial : QString();
    for (DeviceRow* row : std::as_const(m_deviceRows)) {
        row->hide();
        row->deleteLater();
    }
    m_deviceRows.clear();
    const BrowserModel* model = m_env.model;
    const std::optional<QString>& chosen = model->selectedSerial();
    for (const Device& device : model->devices()) {
        auto* row = new DeviceRow(m_env, device, chosen && *chosen == device.serial, m_devicesHeader->parentWidget());
        m_deviceList->addWidget(row);
        m_deviceRows.append(row);
        if (!currentSerial.isEmpty() && device.serial == currentSerial)
            m_list->setCurrent(row);
    }
    // Read in the order shown: the Wi-Fi button after the phones.
    m_wireless->raise();
}
