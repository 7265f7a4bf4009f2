#pragma once

#include "Models.h"
#include "VisibleEntries.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>

// The items of one computer folder for the items panel, by their exact
// names: a name that isn't UTF-8 is listed, shown readably, and handed on
// as the bytes it is (QFileSystemModel decodes names as text and loses
// them). Hidden items are left out, as file choosers do. Sorted folders
// first by the column chosen, then by name.
class LocalItemsModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { name, modified, size, kind, columnCount_ };

    explicit LocalItemsModel(QObject* parent = nullptr);

    // Lists `folder` afresh (one reset); nothing when it can't be read.
    void setFolder(const QString& folder);
    QString folder() const { return m_folder; }

    // The exact path of the item at `index`'s row.
    QString filePath(const QModelIndex& index) const;
    // The row of the item at `path` in the folder shown, or none.
    QModelIndex index(const QString& path) const;
    // A folder, or a link to one: it opens rather than being taken.
    bool isDir(const QModelIndex& index) const;

    using QAbstractTableModel::index;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

private:
    const RemoteEntry* entry(const QModelIndex& index) const;

    QString m_folder;
    VisibleEntries m_rows;
    SortOrder m_order{SortKey{}};
};
