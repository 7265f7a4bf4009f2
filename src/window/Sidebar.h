#pragma once

#include "Environment.h"
#include "MakerLink.h"
#include "SidebarList.h"
#include "SidebarRows.h"

#include <QList>
#include <QWidget>

class DevicePanel;
class QLabel;
class QPushButton;
class QVBoxLayout;

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
