#pragma once

#include <QAbstractButton>
#include <QList>
#include <QPointer>
#include <QWidget>

class QMenu;
class QPainter;
class QRectF;

// A row of the sidebar's list: an item a click or the keyboard activates.
class SidebarItem : public QAbstractButton {
    Q_OBJECT
public:
    explicit SidebarItem(QWidget* parent = nullptr);

    // The current location, or the chosen phone.
    virtual bool isSelectedItem() const = 0;
    // What a screen reader reads after the name; empty for none.
    virtual QString detailText() const { return {}; }
    // Whether makeContextMenu() gives one.
    virtual bool offersMenu() const { return false; }
    // The row's menu, or none.
    virtual QMenu* makeContextMenu() { return nullptr; }

protected:
    // The keyboard's ring while the list has focus on this row.
    void paintFocus(QPainter& painter, const QRectF& area) const;
};

// The places and phones as one list: one stop for Tab, arrows between the
// rows, Return or Space does what a click does.
class SidebarList : public QWidget {
    Q_OBJECT
public:
    explicit SidebarList(QWidget* parent = nullptr);

    // The rows shown, in their order.

    QList<SidebarItem*> visibleItems() const;
    SidebarItem* current() const;
    void setCurrent(SidebarItem* item);
    // Draws every row again, so that the keyboard's ring shows on one only.
    void redrawRing();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void announceFocus();

    QPointer<SidebarItem> m_current;
};
