#pragma once

#include "BrowserTypes.h"
#include "Models.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>

// The rows of the file list: the model's visible entries, replaced whole
// (one reset) per listing, search or sort.
class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, modified, size, kind, columnCount_ };
    // True for items whose name begins with "." (drawn faded).
    static constexpr int hiddenRole = Qt::UserRole + 1;

    explicit FileListModel(QObject* parent = nullptr);

    void setEntries(const QList<RemoteEntry>& entries);
    const QList<RemoteEntry>& entries() const { return m_entries; }
    const RemoteEntry& entry(int row) const { return m_entries.at(row); }
    // The row of the entry with this name, or -1.
    int rowOf(const QString& name) const;

    static SortKey::Column sortColumn(int column);
    static int column(SortKey::Column sortColumn);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The columns' titles and alignment, for every list of files shown alike.
    static QVariant columnHeader(int section, Qt::Orientation orientation, int role);
    // Rows drag out, as copies: the view starts the drag of the row pressed.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    Qt::DropActions supportedDragActions() const override { return Qt::CopyAction; }

private:
    QList<RemoteEntry> m_entries;
    // Name to row, made when first asked for after a reset.
    mutable QHash<QString, int> m_rows;
    mutable bool m_rowsStale = true;
};
