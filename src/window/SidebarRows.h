#pragma once

#include "Environment.h"
#include "SidebarList.h"

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
    bool offersMenu() const override { return m_device.isWireless(); }
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
