#pragma once

#include "Environment.h"

#include <QAbstractButton>
#include <QList>
#include <QWidget>

class QLabel;
class QMenu;
class QPushButton;
class QVBoxLayout;

// One location of Place::all; checked while it is the folder shown.
class LocationRow : public QAbstractButton {
    Q_OBJECT
public:
    LocationRow(const QString& name, const QString& symbol, const QString& path, QWidget* parent = nullptr);

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
class DeviceRow : public QAbstractButton {
    Q_OBJECT
public:
    DeviceRow(const Environment& env, const Device& device, bool isCurrent, QWidget* parent = nullptr);

    const Device& device() const { return m_device; }
    bool isCurrent() const { return m_isCurrent; }
    QString symbolName() const;
    // The orange state line; empty for a ready phone.
    QString stateLine() const;
    // "Disconnect" for a Wi-Fi phone; none for others.
    QMenu* makeContextMenu();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    Environment m_env;
    Device m_device;
    bool m_isCurrent;
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

private:
    void updateLocations();
    void updateHighlight();
    void updateDevices();

    Environment m_env;
    QLabel* m_locationsHeader;
    QList<LocationRow*> m_locations;
    QLabel* m_devicesHeader;
    QVBoxLayout* m_deviceList;
    QList<DeviceRow*> m_deviceRows;
    QPushButton* m_wireless;
    QPushButton* m_about;
};
