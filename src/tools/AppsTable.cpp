#include "AppsTable.h"

#include "Look.h"
#include "Theme.h"
#include "VisibleEntries.h"

#include <QApplication>
#include <QPainter>

namespace {

const QString kNone = QStringLiteral("—");

QString symbolFor(const InstalledApp& app)
{
    return app.isSystem ? QStringLiteral("gearshape") : QStringLiteral("app");
}

} // namespace

void AppsTableModel::setApps(const std::vector<InstalledApp>& apps)
{
    beginResetModel();
    m_apps = apps;
    endResetModel();
}

void AppsTableModel::setBusyPackage(const std::optional<QString>& package)
{
    if (package == m_busy)
        return;
    m_busy = package;
    if (!m_apps.empty())
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, 0), {BusyRole});
}

int AppsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_apps.size());
}

int AppsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant AppsTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const InstalledApp& app = m_apps[size_t(index.row())];
    switch (role) {
    case PackageRole:
        return app.package;
    case SystemRole:
        return app.isSystem;
    case SymbolRole:
        return symbolFor(app);
    case BusyRole:
        return m_busy == app.package;
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        if (index.column() == 0)
            return app.package;
        if (index.column() == 1)
            return app.version.value_or(kNone);
        return app.installed ? Look::abbreviatedDate(*app.installed) : kNone;
    case Qt::ForegroundRole:
        if (index.column() > 0)
            return Look::secondary(QApplication::palette());
        return {};
    default:
        return {};
    }
}

QVariant AppsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const QString titles[] = {QStringLiteral("App"), QStringLiteral("Version"), QStringLiteral("Installed")};
    return section >= 0 && section < 3 ? QVariant(titles[section]) : QVariant();
}

AppsFilter::AppsFilter(QObject* parent) : QSortFilterProxyModel(parent), m_collator(VisibleEntries::nameCollator()) {}

void AppsFilter::setShowSystem(bool show)
{
    if (show == m_showSystem)
        return;
    m_showSystem = show;
    invalidateRowsFilter();
}

void AppsFilter::setSearch(const QString& search)
{
    if (search == m_search)
        return;
    m_search = search;
    invalidateRowsFilter();
}

bool AppsFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    if (!m_showSystem && index.data(AppsTableModel::SystemRole).toBool())
        return false;
    return m_search.isEmpty() ||
           index.data(AppsTableModel::PackageRole).toString().contains(m_search, Qt::CaseInsensitive);
}

bool AppsFilter::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    return m_collator.compare(left.data(AppsTableModel::PackageRole).toString(),
                              right.data(AppsTableModel::PackageRole).toString()) < 0;
}

void AppCell::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem item = option;
    initStyleOption(&item, index);
    const QString name = item.text;
    item.text.clear();
    item.icon = QIcon();
    // The row's background and selection as the style draws them.
    QStyle* style = option.widget ? option.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &item, painter, option.widget);

    const bool system = index.data(AppsTableModel::SystemRole).toBool();
    const QColor tint = system ? Look::secondary(option.palette) : Theme::accent(Theme::isDark(option.palette));
    const int iconSize = 16;
    QRect rect = option.rect.adjusted(4, 0, -4, 0);
    const QPixmap icon = Look::symbol(index.data(AppsTableModel::SymbolRole).toString(), iconSize, tint,
                                      painter->device() ? painter->device()->devicePixelRatioF() : 1.0);
    painter->drawPixmap(rect.left(), rect.center().y() - iconSize / 2 + 1, icon);
    rect.setLeft(rect.left() + iconSize + 8);

    const bool busy = index.data(AppsTableModel::BusyRole).toBool();
    const int spinner = 12;
    if (busy)
        rect.setRight(rect.right() - spinner - 8);
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    painter->setFont(option.font);
    painter->drawText(rect, Qt::AlignVCenter | Qt::AlignLeft,
                      option.fontMetrics.elidedText(name, Qt::ElideMiddle, rect.width()));
    if (busy) {
        const QRectF arc(rect.right() + 8, rect.center().y() - spinner / 2.0 + 0.5, spinner, spinner);
        QPen pen(Look::secondary(option.palette), 1.6);
        pen.setCapStyle(Qt::RoundCap);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(pen);
        painter->drawArc(arc.adjusted(1, 1, -1, -1), -(m_step % 12) * 30 * 16, 270 * 16);
    }
    painter->restore();
}
