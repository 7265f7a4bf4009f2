#include "SidebarList.h"

#include "Accessibility.h"
#include "Theme.h"

#include <QAccessibleWidget>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollArea>

namespace {

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
        if (item()->offersMenu())
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

QAccessibleInterface* sidebarInterfaces(const QString& className, QObject* object)
{
    if (className == QLatin1String("SidebarList"))
        return new ListInterface(static_cast<SidebarList*>(object));
    // Asked for each class a row is made of, most derived first: every kind
    // of row is met here as a SidebarItem.
    if (className == QLatin1String("SidebarItem"))
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
