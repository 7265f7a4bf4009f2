#include "Sidebar.h"
#include "PlainText.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "DevicePanel.h"
#include "Look.h"
#include "Mirvek.h"
#include "Theme.h"
#include "WindowRules.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QStyleOptionFocusRect>
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

// The list of places and phones for screen readers: its rows are its items
// and the one under the keyboard has the focus.
class ListInterface : public QAccessibleWidget {
public:
    explicit ListInterface(SidebarList* list) : QAccessibleWidget(list, QAccessible::List) {}

    SidebarList* list() const { return static_cast<SidebarList*>(widget()); }

    QAccessibleInterface* focusChild() const override
    {
        if (list()->hasFocus() && list()->current())
            return QAccessible::queryAccessibleInterface(list()->current());
        return QAccessibleWidget::focusChild();
    }
};

// A place or a phone: an item that is selected while it is the current
// folder or the chosen phone, and whose press does what a click does.
class ItemInterface : public QAccessibleWidget {
public:
    explicit ItemInterface(SidebarItem* item) : QAccessibleWidget(item, QAccessible::ListItem) {}

    SidebarItem* item() const { return static_cast<SidebarItem*>(widget()); }
    SidebarList* list() const { return qobject_cast<SidebarList*>(item()->parentWidget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return Accessibility::name(item()->accessibleName(), item()->text());
        case QAccessible::Description:
            return item()->detailText();
        default:
            return {};
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = item()->isSelectedItem();
        SidebarList* owner = list();
        s.focusable = owner != nullptr;
        s.focused = owner && owner->hasFocus() && owner->current() == item();
        return s;
    }
    QStringList actionNames() const override
    {
        if (!item()->isEnabled())
            return {};
        QStringList names{pressAction()};
        if (auto* row = qobject_cast<DeviceRow*>(item()); row && row->device().isWireless())
            names.append(showMenuAction());
        return names;
    }
    void doAction(const QString& action) override
    {
        if (!actionNames().contains(action))
            return;
        if (action == pressAction()) {
            item()->click();
        } else if (QMenu* menu = item()->makeContextMenu()) {
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(item()->mapToGlobal(item()->rect().bottomLeft()));
        }
    }
};

// The maker's credit: a link while it has a site to open.
class MakerLinkInterface : public QAccessibleWidget {
public:
    explicit MakerLinkInterface(MakerLink* link)
        : QAccessibleWidget(link, link->site().isValid() ? QAccessible::Link : QAccessible::StaticText)
    {
    }

    MakerLink* link() const { return static_cast<MakerLink*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return Accessibility::name(link()->accessibleName(), MakerLink::text());
        case QAccessible::Value:
            return link()->site().isValid() ? link()->site().toString() : QString();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.linked = link()->site().isValid();
        return s;
    }
    QStringList actionNames() const override
    {
        return link()->site().isValid() ? QStringList{pressAction()} : QStringList{};
    }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            link()->open();
    }
};

QAccessibleInterface* sidebarInterfaces(const QString& className, QObject* object)
{
    if (className == QLatin1String("MakerLink"))
        return new MakerLinkInterface(static_cast<MakerLink*>(object));
    if (className == QLatin1String("SidebarList"))
        return new ListInterface(static_cast<SidebarList*>(object));
    if (className == QLatin1String("LocationRow") || className == QLatin1String("DeviceRow"))
        return new ItemInterface(static_cast<SidebarItem*>(object));
    return nullptr;
}

} // namespace

// ---- SidebarItem -------------------------------------------------------------------

SidebarItem::SidebarItem(QWidget* parent) : QAbstractButton(parent)
{
    // The keyboard goes on from the row last clicked.
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (auto* list = qobject_cast<SidebarList*>(parentWidget()))
            list->setCurrent(this);
    });
}

void SidebarItem::paintFocus(QPainter& painter, const QRectF& area) const
{
    auto* list = qobject_cast<SidebarList*>(parentWidget());
    if (!list || !list->hasFocus() || list->current() != this)
        return;
    painter.save();
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Theme::accent(Theme::isDark(palette())), 2));
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), 6, 6);
    painter.restore();
}

// ---- SidebarList -------------------------------------------------------------------

SidebarList::SidebarList(QWidget* parent) : QWidget(parent)
{
    static const bool installed = [] {
        QAccessible::installFactory(sidebarInterfaces);
        return true;
    }();
    Q_UNUSED(installed)
    setFocusPolicy(Qt::StrongFocus);
}

QList<SidebarItem*> SidebarList::visibleItems() const
{
    // Rows are made in the order they are shown: places, then phones.
    QList<SidebarItem*> shown;
    for (QObject* child : children()) {
        auto* item = qobject_cast<SidebarItem*>(child);
        if (item && !item->isHidden())
            shown.append(item);
    }
    return shown;
}

SidebarItem* SidebarList::current() const
{
    const QList<SidebarItem*> shown = visibleItems();
    if (m_current && shown.contains(m_current.data()))
        return m_current;
    // Else the current place or phone, else the first row.
    for (SidebarItem* item : shown) {
        if (item->isSelectedItem())
            return item;
    }
    return shown.isEmpty() ? nullptr : shown.first();
}

void SidebarList::redrawRing()
{
    // Which row had the ring is not known any more once a checkable row has
    // checked itself: every row is drawn again.
    for (SidebarItem* shown : visibleItems())
        shown->update();
}

void SidebarList::setCurrent(SidebarItem* item)
{
    m_current = item;
    redrawRing();
    if (item) {
        for (QWidget* up = parentWidget(); up; up = up->parentWidget()) {
            if (auto* scroll = qobject_cast<QScrollArea*>(up)) {
                scroll->ensureWidgetVisible(item, 0, 0);
                break;
            }
        }
    }
    announceFocus();
}

void SidebarList::announceFocus()
{
    SidebarItem* item = current();
    if (!hasFocus() || !item || !QAccessible::isActive())
        return;
    QAccessibleEvent event(item, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

void SidebarList::keyPressEvent(QKeyEvent* event)
{
    const QList<SidebarItem*> shown = visibleItems();
    SidebarItem* item = current();
    const qsizetype at = shown.indexOf(item);
    switch (event->key()) {
    case Qt::Key_Up:
        if (at > 0)
            setCurrent(shown.at(at - 1));
        break;
    case Qt::Key_Down:
        if (at >= 0 && at + 1 < shown.size())
            setCurrent(shown.at(at + 1));
        break;
    case Qt::Key_Home:
        if (!shown.isEmpty())
            setCurrent(shown.first());
        break;
    case Qt::Key_End:
        if (!shown.isEmpty())
            setCurrent(shown.last());
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (item && item->isEnabled())
            item->click();
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void SidebarList::contextMenuEvent(QContextMenuEvent* event)
{
    // The menu key opens the menu of the row under the keyboard.
    SidebarItem* item = current();
    if (event->reason() != QContextMenuEvent::Keyboard || !item) {
        QWidget::contextMenuEvent(event);
        return;
    }
    if (QMenu* menu = item->makeContextMenu()) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(item->mapToGlobal(item->rect().bottomLeft()));
    }
    event->accept();
}

void SidebarList::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    if (SidebarItem* item = current())
        item->update();
    announceFocus();
}

void SidebarList::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    if (SidebarItem* item = current())
        item->update();
}

// ---- LocationRow ------------------------------------------------------------------

LocationRow::LocationRow(const QString& name, const QString& symbol, const QString& path, QWidget* parent)
    : SidebarItem(parent), m_symbol(symbol), m_path(path)
{
    setText(name);
    setCheckable(true);
    setObjectName(name);
    // Redrawn on hover for its highlight.
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
}

QSize LocationRow::sizeHint() const
{
    return QSize(200, qMax(26, fontMetrics().height() + 10));
}

void LocationRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    const QRectF area = QRectF(rect()).adjusted(6, 1, -6, -1);
    if (isChecked()) {
        QColor fill = accent;
        fill.setAlphaF(0.22f);
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, fill);
    } else if (underMouse()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, Look::quaternaryFill(palette()));
    }
    const int iconSize = 16;
    const QPixmap icon = Look::symbol(m_symbol, iconSize, accent, devicePixelRatioF());
    painter.drawPixmap(QPointF(area.left() + 8, area.center().y() - iconSize / 2.0), icon);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF textArea = area.adjusted(8 + iconSize + 8, 0, -8, 0);
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideRight, int(textArea.width())));
    paintFocus(painter, area);
}

// ---- DeviceRow ---------------------------------------------------------------------

DeviceRow::DeviceRow(const Environment& env, const Device& device, bool isCurrent, QWidget* parent)
    : SidebarItem(parent), m_env(env), m_device(device), m_isCurrent(isCurrent)
{
    setObjectName(device.serial);
    setText(device.model);
    // The phone's name is plain text: an "&" in it is no shortcut.
    setShortcut(QKeySequence());
    setToolTip(PlainText::toolTip(device.model));
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::NoFocus);
    BrowserModel* model = m_env.model;
    const QString serial = device.serial;
    // Choosing the chosen phone again is no change for the model.
    connect(this, &QAbstractButton::clicked, this, [model, serial] { model->setSelectedSerial(serial); });
}

QString DeviceRow::symbolName() const
{
    return WindowRules::transportSymbol(m_device);
}

QString DeviceRow::stateLine() const
{
    return m_device.isReady() ? QString() : m_device.stateDescription();
}

QSize DeviceRow::sizeHint() const
{
    const int nameHeight = fontMetrics().height();
    const int stateHeight = stateLine().isEmpty() ? 0 : QFontMetrics(Look::caption2(font())).height() + 1;
    return QSize(200, qMax(28, nameHeight + stateHeight + 10));
}

void DeviceRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(6, 1, -6, -1);
    if (underMouse()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, Look::quaternaryFill(palette()));
    }
    const QColor accent = Theme::accent(Theme::isDark(palette()));
    const int iconSize = 16;
    const QPixmap icon =
        Look::symbol(symbolName(), iconSize, m_isCurrent ? accent : Look::secondary(palette()), devicePixelRatioF());
    // An 18 wide frame for the symbol.
    painter.drawPixmap(QPointF(area.left() + 8 + 1, area.center().y() - iconSize / 2.0), icon);

    qreal right = area.right() - 8;
    if (m_isCurrent) {
        const QPixmap check = Look::symbol(QStringLiteral("checkmark"), 12, Look::secondary(palette()), devicePixelRatioF());
        painter.drawPixmap(QPointF(right - 12, area.center().y() - 6), check);
        right -= 12 + 6;
    }
    const qreal left = area.left() + 8 + 18 + 8;
    const QString state = stateLine();
    const QFontMetrics nameMetrics = fontMetrics();
    const QFont stateFont = Look::caption2(font());
    const QFontMetrics stateMetrics(stateFont);
    const qreal textHeight = nameMetrics.height() + (state.isEmpty() ? 0 : 1 + stateMetrics.height());
    qreal top = area.center().y() - textHeight / 2;
    const int width = int(right - left);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRectF(left, top, width, nameMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                     nameMetrics.elidedText(m_device.model, Qt::ElideRight, width));
    if (!state.isEmpty()) {
        top += nameMetrics.height() + 1;
        painter.setFont(stateFont);
        painter.setPen(Look::orange());
        painter.drawText(QRectF(left, top, width, stateMetrics.height()), Qt::AlignLeft | Qt::AlignVCenter,
                         stateMetrics.elidedText(state, Qt::ElideRight, width));
    }
    paintFocus(painter, area);
}

QMenu* DeviceRow::makeContextMenu()
{
    if (!m_device.isWireless())
        return nullptr;
    auto* menu = new QMenu(this);
    Accessibility::setName(menu, {}, m_device.model);
    QAction* disconnect = menu->addAction(QStringLiteral("Disconnect"));
    connect(disconnect, &QAction::triggered, menu,
            [model = m_env.model, device = m_device] { model->disconnect(device); });
    return menu;
}

void DeviceRow::contextMenuEvent(QContextMenuEvent* event)
{
    if (QMenu* menu = makeContextMenu()) {
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(event->globalPos());
    }
    event->accept();
}

// ---- MakerLink -----------------------------------------------------------------------

MakerLink::MakerLink(const QUrl& site, QWidget* parent) : QWidget(parent), m_site(site)
{
    setObjectName(QStringLiteral("makerLink"));
    if (m_site.isValid()) {
        setFocusPolicy(Qt::StrongFocus);
        setCursor(Qt::PointingHandCursor);
        setToolTip(PlainText::toolTip(m_site.host()));
    }
}

QString MakerLink::text()
{
    return QStringLiteral("by MIRVEK");
}

void MakerLink::open()
{
    if (m_site.isValid())
        QDesktopServices::openUrl(m_site);
}

QFont MakerLink::markFont() const
{
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    bold.setLetterSpacing(QFont::AbsoluteSpacing, 1.2);
    return bold;
}

QRect MakerLink::markRect() const
{
    return QRect(0, (height() - markSide) / 2, markSide, markSide);
}

int MakerLink::textStart()
{
    return markSide + markGap;
}

QSize MakerLink::sizeHint() const
{
    const QFontMetrics plain = fontMetrics();
    const QFontMetrics mark(markFont());
    return QSize(textStart() + plain.horizontalAdvance(QStringLiteral("by ")) +
                     mark.horizontalAdvance(QStringLiteral("MIRVEK")),
                 qMax(markSide, qMax(plain.height(), mark.height())));
}

void MakerLink::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor colour = palette().color(QPalette::WindowText);
    Mirvek::paint(painter, QRectF(markRect()), colour);
    const QFontMetrics plain = fontMetrics();
    const QFont bold = markFont();
    const QFontMetrics mark(bold);
    const int ascent = qMax(plain.ascent(), mark.ascent());
    const int height = qMax(plain.height(), mark.height());
    const qreal baseline = (this->height() - height) / 2.0 + ascent;
    painter.setPen(colour);
    painter.drawText(QPointF(textStart(), baseline), QStringLiteral("by "));
    painter.setFont(bold);
    painter.drawText(QPointF(textStart() + plain.horizontalAdvance(QStringLiteral("by ")), baseline),
                     QStringLiteral("MIRVEK"));
    if (hasFocus()) {
        QStyleOptionFocusRect ring;
        ring.initFrom(this);
        ring.backgroundColor = palette().color(QPalette::Window);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &ring, &painter, this);
    }
}

void MakerLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        open();
        event->accept();
        return;
    }
    QWidget::mouseReleaseEvent(event);
}

void MakerLink::keyPressEvent(QKeyEvent* event)
{
    if (m_site.isValid() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        open();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MakerLink::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

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

    m_wireless = new QPushButton(Look::symbolIcon(QStringLiteral("wifi"), Look::secondary(palette())),
                                 QStringLiteral("Connect over Wi-Fi…"), content);
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
