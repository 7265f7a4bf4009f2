#pragma once

#include "Environment.h"

#include <QAbstractButton>
#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

class DevicePanel;
class QLabel;
class QMenu;
class QPainter;
class QRectF;
class QPushButton;
class QVBoxLayout;

// A row of the sidebar's list: an item a click or the keyboard activates.
class SidebarItem : public QAbstractButton {
    Q_OBJECT
public:
    explicit SidebarItem(QWidget* parent = nullptr);

    // The current location, or the chosen phone.
    virtual bool isSelectedItem() const = 0;
    // What a screen reader reads after the name; empty for none.
    virtual QString detailText() const { return {}; }
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

// One location of Place::all; checked while it is the folder shown.
class LocationRow : public SidebarItem {
    Q_OBJECT
public:
    LocationRow(const QString& name, const QString& symbol, const QString& path, QWidget* parent = nullptr);

    bool isSelectedItem() const override { return isChecked(); }

    const QString& path() const { return m_path; }
    const QString& symbolName() const { return m_symbol; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    QString m_path;
};

// One phone of the list: how it is connected, its name, its state when it
// is not ready, and a check mark on the chosen one. A click chooses it.
class DeviceRow : public SidebarItem {
    Q_OBJECT
public:
    DeviceRow(const Environment& env, const Device& device, bool isCurrent, QWidget* parent = nullptr);

    bool isSelectedItem() const override { return m_isCurrent; }
    QString detailText() const override { return stateLine(); }

    const Device& device() const { return m_device; }
    bool isCurrent() const { return m_isCurrent; }
    QString symbolName() const;
    // The orange state line; empty for a ready phone.
    QString stateLine() const;
    // "Disconnect" for a Wi-Fi phone; none for others.
    QMenu* makeContextMenu() override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    Environment m_env;
    Device m_device;
    bool m_isCurrent;
};

// The maker's credit in the footer, the maker's mark and "by MIRVEK", drawn
// directly: a rich-text label would lay out a whole text document for two
// words on every start. With a site it is a link, mark and all, one Tab
// stop, opened by a click or Return.
class MakerLink : public QWidget {
    Q_OBJECT
public:
    MakerLink(const QUrl& site, QWidget* parent = nullptr);

    const QUrl& site() const { return m_site; }
    // What it reads, for screen readers.
    static QString text();
    void open();

    // Where the mark is drawn, and where the text begins after it.
    QRect markRect() const;
    static int textStart();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    static constexpr int markSide = 12;
    static constexpr int markGap = 5;

    QFont markFont() const;

    QUrl m_site;
};

// The leading column: the chosen phone's locations, the phones, and a footer
// with the maker's link and the About button.
class Sidebar : public QWidget {
    Q_OBJECT
public:
    explicit Sidebar(const Environment& env, QWidget* parent = nullptr);

    bool showsLocations() const;
    QList<LocationRow*> locationRows() const { return m_locations; }
    QList<DeviceRow*> deviceRows() const { return m_deviceRows; }
    QPushButton* wirelessButton() const { return m_wireless; }
    QPushButton* aboutButton() const { return m_about; }
    SidebarList* list() const { return m_list; }
    // The chosen phone's card, made when a phone is first chosen (or here).
    DevicePanel* devicePanel();

private:
    void updateLocations();
    void updateHighlight();
    void updateDevices();

    Environment m_env;
    QVBoxLayout* m_column;
    DevicePanel* m_panel = nullptr;
    SidebarList* m_list;
    QLabel* m_locationsHeader;
    QList<LocationRow*> m_locations;
    QLabel* m_devicesHeader;
    QVBoxLayout* m_deviceList;
    QList<DeviceRow*> m_deviceRows;
    QPushButton* m_wireless;
    QPushButton* m_about;
};
