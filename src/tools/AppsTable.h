#pragma once

#include "ADBTools.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QSortFilterProxyModel>
#include <QStyledItemDelegate>

#include <optional>
#include <vector>

// The apps as table rows: "App", "Version", "Installed". Reset once per
// list, so a phone with thousands of apps lands in one step.
class AppsTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Role {
        PackageRole = Qt::UserRole + 1, // every column
        SymbolRole,                     // "App": the icon's symbol name
        BusyRole,                       // "App": an action runs for this app
        SystemRole,
    };

    using QAbstractTableModel::QAbstractTableModel;

    void setApps(const std::vector<InstalledApp>& apps);
    void setBusyPackage(const std::optional<QString>& package);
    const InstalledApp& app(int row) const { return m_apps.at(size_t(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<InstalledApp> m_apps;
    std::optional<QString> m_busy;
};

// The rows shown: system apps only when asked for, the search within the
// package name, and the package names in natural order.
class AppsFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit AppsFilter(QObject* parent = nullptr);

    void setShowSystem(bool show);
    void setSearch(const QString& search);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    bool m_showSystem = false;
    QString m_search;
    QCollator m_collator;
};

// The "App" cell: the icon, the package name elided in the middle and, on
// the busy row, a small turning spinner.
class AppCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Moves the busy row's spinner on by one step.
    void turn() { ++m_step; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    int m_step = 0;
};
