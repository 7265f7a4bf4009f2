#include "FileListModel.h"

#include "FileIcons.h"
#include "Look.h"

FileListModel::FileListModel(QObject* parent) : QAbstractTableModel(parent) {}

void FileListModel::setEntries(const QList<RemoteEntry>& entries)
{
    beginResetModel();
    m_entries = entries;
    m_rows.clear();
    m_rowsStale = true;
    endResetModel();
}

int FileListModel::rowOf(const QString& entryName) const
{
    if (m_rowsStale) {
        m_rows.clear();
        m_rows.reserve(m_entries.size());
        for (int row = 0; row < m_entries.size(); ++row)
            m_rows.insert(m_entries.at(row).name, row);
        m_rowsStale = false;
    }
    return m_rows.value(entryName, -1);
}

SortKey::Column FileListModel::sortColumn(int columnIndex)
{
    switch (columnIndex) {
    case modified:
        return SortKey::Column::modified;
    case size:
        return SortKey::Column::size;
    case kind:
        return SortKey::Column::kind;
    default:
        return SortKey::Column::name;
    }
}

int FileListModel::column(SortKey::Column sortColumn)
{
    switch (sortColumn) {
    case SortKey::Column::modified:
        return modified;
    case SortKey::Column::size:
        return size;
    case SortKey::Column::kind:
        return kind;
    case SortKey::Column::name:
        break;
    }
    return name;
}

int FileListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int FileListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnCount_;
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_entries.size())
        return {};
    const RemoteEntry& item = m_entries.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case name:
            return item.name;
        case modified:
            return Look::modifiedText(item.modified);
        case size:
            return item.isDirectory ? QStringLiteral("--") : Look::byteCount(item.size);
        case kind:
            return item.kind();
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == name)
            return FileIcons::icon(item);
        break;
    case Qt::TextAlignmentRole:
        if (index.column() == size)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    case hiddenRole:
        return item.name.startsWith(QLatin1Char('.'));
    default:
        break;
    }
    return {};
}

Qt::ItemFlags FileListModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid())
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    return columnHeader(section, orientation, role);
}

QVariant FileListModel::columnHeader(int section, Qt::Orientation orientation, int role)
{
    if (orientation != Qt::Horizontal)
        return {};
    if (role == Qt::DisplayRole) {
        switch (section) {
        case name:
            return QStringLiteral("Name");
        case modified:
            return QStringLiteral("Date Modified");
        case size:
            return QStringLiteral("Size");
        case kind:
            return QStringLiteral("Kind");
        }
    }
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue((section == size ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    return {};
}
