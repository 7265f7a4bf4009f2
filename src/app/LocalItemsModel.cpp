#include "LocalItemsModel.h"

#include "FileIcons.h"
#include "FileListModel.h"
#include "Look.h"
#include "Paths.h"

#include <QHash>

#include <sys/stat.h>

LocalItemsModel::LocalItemsModel(QObject* parent) : QAbstractTableModel(parent) {}

void LocalItemsModel::setFolder(const QString& folder)
{
    QList<RemoteEntry> entries;
    for (const paths::LocalItem& item : paths::localItems(folder)) {
        if (item.name.startsWith(QLatin1Char('.')))
            continue;
        RemoteEntry entry;
        entry.name = item.name;
        entry.isDirectory = item.kind == paths::Kind::folder;
        entry.size = item.size;
        struct stat info {};
        if (::stat(paths::bytes(paths::joined(folder, item.name)).constData(), &info) == 0) {
            // A link shows as what it leads to, which is what its copy sends.
            entry.isDirectory = S_ISDIR(info.st_mode);
            entry.size = S_ISREG(info.st_mode) ? int64_t(info.st_size) : 0;
            entry.modified = QDateTime::fromMSecsSinceEpoch(
                int64_t(info.st_mtim.tv_sec) * 1000 + info.st_mtim.tv_nsec / 1000000, Qt::UTC);
        }
        entries.append(std::move(entry));
    }
    beginResetModel();
    m_folder = folder;
    m_rows.setEntries(entries);
    m_rows.setSortOrder(m_order);
    endResetModel();
}

const RemoteEntry* LocalItemsModel::entry(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this || index.row() >= m_rows.result().size())
        return nullptr;
    return &m_rows.result().at(index.row());
}

QString LocalItemsModel::filePath(const QModelIndex& index) const
{
    const RemoteEntry* item = entry(index);
    return item ? paths::joined(m_folder, item->name) : QString();
}

QModelIndex LocalItemsModel::index(const QString& path) const
{
    const QList<RemoteEntry>& rows = m_rows.result();
    for (qsizetype row = 0; row < rows.size(); ++row) {
        if (paths::joined(m_folder, rows.at(row).name) == path)
            return createIndex(int(row), name);
    }
    return {};
}

bool LocalItemsModel::isDir(const QModelIndex& index) const
{
    const RemoteEntry* item = entry(index);
    return item && item->isDirectory;
}

int LocalItemsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.result().size());
}

int LocalItemsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnCount_;
}

QVariant LocalItemsModel::data(const QModelIndex& index, int role) const
{
    const RemoteEntry* item = entry(index);
    if (!item)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case name:
            return paths::shown(item->name);
        case modified:
            return Look::modifiedText(item->modified);
        case size:
            return item->isDirectory ? QStringLiteral("--") : Look::byteCount(item->size);
        case kind:
            return paths::shown(item->kind());
        }
        break;
    case Qt::DecorationRole:
        if (index.column() == name)
            return FileIcons::icon(*item);
        break;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue((index.column() == size ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
    default:
        break;
    }
    return {};
}

QVariant LocalItemsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static_assert(int(name) == int(FileListModel::name) && int(kind) == int(FileListModel::kind)
                  && int(columnCount_) == int(FileListModel::columnCount_));
    return FileListModel::columnHeader(section, orientation, role);
}

void LocalItemsModel::sort(int column, Qt::SortOrder order)
{
    static constexpr SortKey::Column columns[] = {SortKey::Column::name, SortKey::Column::modified,
                                                  SortKey::Column::size, SortKey::Column::kind};
    if (column < 0 || column >= columnCount_)
        return;
    SortOrder sorting{SortKey{columns[column], order}};
    // Ties read in name order.
    if (column != name)
        sorting.append(SortKey{});
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    // What is chosen stays chosen: names are unique in a folder.
    const QModelIndexList before = persistentIndexList();
    QStringList names;
    for (const QModelIndex& index : before)
        names.append(entry(index) ? entry(index)->name : QString());
    m_order = sorting;
    m_rows.setSortOrder(m_order);
    QHash<QString, int> rows;
    if (!before.isEmpty()) {
        for (qsizetype row = 0; row < m_rows.result().size(); ++row)
            rows.insert(m_rows.result().at(row).name, int(row));
    }
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i) {
        const int row = names.at(i).isNull() ? -1 : rows.value(names.at(i), -1);
        after.append(row < 0 ? QModelIndex() : createIndex(row, before.at(i).column()));
    }
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}
