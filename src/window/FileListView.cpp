#include "FileListView.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "Digits.h"
#include "EntryMenu.h"
#include "FileIcons.h"
#include "Look.h"
#include "OwnDrag.h"
#include "WindowRules.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QStyledItemDelegate>

namespace {

// Faded names of hidden items, secondary text outside the name column,
// sizes with digits of one width.
class FileListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        if (index.column() != FileListModel::size) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        QStyleOptionViewItem cell = option;
        initStyleOption(&cell, index);
        Digits::drawItem(painter, cell);
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != FileListModel::name) {
            option->palette.setColor(QPalette::Text, Look::secondary(option->palette));
        } else if (index.data(FileListModel::hiddenRole).toBool()) {
            // The name fades; its icon stays as it is.
            for (const QPalette::ColorRole role : {QPalette::Text, QPalette::HighlightedText}) {
                for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
                    QColor faded = option->palette.color(group, role);
                    faded.setAlphaF(faded.alphaF() * 0.55f);
                    option->palette.setColor(group, role, faded);
                }
            }
        }
    }
};

struct Width {
    int minimum;
    int ideal;
    int maximum;
};

Width widthOf(int column)
{
    switch (column) {
    case FileListModel::modified:
        return {150, 190, 240};
    case FileListModel::size:
        return {70, 90, 120};
    case FileListModel::kind:
        return {70, 100, 160};
    default:
        return {0, 0, 0};
    }
}

} // namespace

FileListView::FileListView(const Environment& env, QWidget* parent) : QTableView(parent), m_env(env)
{
    setObjectName(QStringLiteral("fileList"));
    setModel(&m_rows);
    setItemDelegate(new FileListDelegate(this));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setTextElideMode(Qt::ElideMiddle);
    setIconSize(QSize(18, 18));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setCornerButtonEnabled(false);
    // Rows drag out to other applications; nothing drops onto the rows.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    // Tab leaves the list; arrows move within it.
    setTabKeyNavigation(false);

    // Fixed row heights: a large folder costs nothing to lay out.
    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(qMax(24, fontMetrics().height() + 8));

    QHeaderView* columns = horizontalHeader();
    columns->setHighlightSections(false);
    columns->setSectionsClickable(true);
    columns->setSortIndicatorShown(true);
    columns->setStretchLastSection(false);
    columns->setMinimumSectionSize(70);
    columns->setSectionResizeMode(FileListModel::name, QHeaderView::Stretch);
    for (int column = FileListModel::modified; column < FileListModel::columnCount_; ++column) {
        columns->setSectionResizeMode(column, QHeaderView::Interactive);
        columns->resizeSection(column, widthOf(column).ideal);
    }
    connect(columns, &QHeaderView::sectionResized, this, &FileListView::keepWidth);
    connect(columns, &QHeaderView::sectionClicked, this, &FileListView::sortBy);

    BrowserModel* model = m_env.model;
    connect(model, &BrowserModel::visibleEntriesChanged, this, &FileListView::showEntries);
    connect(model, &BrowserModel::selectionChanged, this, &FileListView::applySelection);
    connect(model, &BrowserModel::sortOrderChanged, this, &FileListView::showSortIndicator);
    // Named after the folder it shows.
    const auto name = [this] {
        Accessibility::setName(this, {}, WindowRules::currentFolderName(m_env.model->pathComponents()));
    };
    connect(model, &BrowserModel::pathChanged, this, name);
    name();
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &FileListView::takeSelection);

    showEntries();
    showSortIndicator();
}

void FileListView::showEntries()
{
    m_applyingSelection = true;
    m_rows.setEntries(m_env.model->visibleEntries());
    m_applyingSelection = false;
    applySelection();
}

void FileListView::applySelection()
{
    const QSet<QString>& names = m_env.model->selection();
    QItemSelection wanted;
    if (!names.isEmpty()) {
        QList<int> rows;
        rows.reserve(names.size());
        for (const QString& name : names) {
            const int row = m_rows.rowOf(name);
            if (row >= 0)
                rows.append(row);
        }
        std::sort(rows.begin(), rows.end());
        const int lastColumn = FileListModel::columnCount_ - 1;
        // Neighbouring rows become one range.
        for (qsizetype i = 0; i < rows.size();) {
            qsizetype j = i;
            while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
                ++j;
            wanted.select(m_rows.index(rows[i], 0), m_rows.index(rows[j], lastColumn));
            i = j + 1;
        }
    }
    m_applyingSelection = true;
    selectionModel()->select(wanted, QItemSelectionModel::ClearAndSelect);
    m_applyingSelection = false;
}

void FileListView::takeSelection()
{
    if (m_applyingSelection)
        return;
    QSet<QString> names;
    const QModelIndexList rows = selectionModel()->selectedRows();
    names.reserve(rows.size());
    for (const QModelIndex& index : rows)
        names.insert(m_rows.entry(index.row()).name);
    // Ctrl and Shift add to or take from what is selected, also what the
    // search hides; anything else starts afresh.
    if (!m_replacing) {
        for (const QString& name : m_env.model->selection()) {
            if (m_rows.rowOf(name) < 0)
                names.insert(name);
        }
    }
    m_env.model->setSelection(names);
}

QItemSelectionModel::SelectionFlags FileListView::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    const QItemSelectionModel::SelectionFlags command = QTableView::selectionCommand(index, event);
    // Typing a name to find its row asks without an event; it chooses anew too.
    if (command & QItemSelectionModel::Clear)
        m_replacing = true;
    return command;
}

QModelIndex FileListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers)
{
    // Rows are the items, not cells: Home and End go to the first and last
    // row, as in the grid, not to the row's first and last column.
    if (action == MoveHome || action == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(action, modifiers);
}

template <class Handler> void FileListView::replacingIfAsked(Handler handler)
{
    m_replacing = false;
    handler();
    // A click on the one row already selected changes nothing in the view,
    // but still drops what the search hides.
    if (m_replacing)
        takeSelection();
    m_replacing = false;
}

void FileListView::sortBy(int column)
{
    // The clicked column decides first; clicking it again reverses it. The
    // other columns keep breaking ties in their order.
    const SortKey::Column clicked = FileListModel::sortColumn(column);
    const SortOrder& current = m_env.model->sortOrder();
    Qt::SortOrder direction = Qt::AscendingOrder;
    if (!current.isEmpty() && current.first().column == clicked)
        direction = current.first().order == Qt::AscendingOrder ? Qt::DescendingOrder : Qt::AscendingOrder;
    SortOrder next{SortKey{clicked, direction}};
    for (const SortKey& key : current) {
        if (key.column != clicked)
            next.append(key);
    }
    m_env.model->setSortOrder(next);
    showSortIndicator();
}

void FileListView::showSortIndicator()
{
    const SortOrder& order = m_env.model->sortOrder();
    QHeaderView* columns = horizontalHeader();
    const QSignalBlocker blocker(columns);
    if (order.isEmpty())
        columns->setSortIndicator(-1, Qt::AscendingOrder);
    else
        columns->setSortIndicator(FileListModel::column(order.first().column), order.first().order);
}

void FileListView::keepWidth(int column, int, int newSize)
{
    const Width width = widthOf(column);
    if (width.maximum == 0)
        return;
    const int bounded = std::clamp(newSize, width.minimum, width.maximum);
    if (bounded != newSize)
        horizontalHeader()->resizeSection(column, bounded);
}

void FileListView::runPrimaryAction(const QSet<QString>& names)
{
    const WindowRules::PrimaryAction action = WindowRules::primaryAction(m_env.model->entries(), names);
    if (action.open) {
        m_env.model->open(*action.open);
        return;
    }
    if (!action.openOnMac.isEmpty())
        m_env.model->openOnMac(action.openOnMac);
}

void FileListView::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // Without a selection, the row under the keyboard's ring.
        QSet<QString> names = m_env.model->selection();
        if (names.isEmpty() && currentIndex().isValid())
            names.insert(m_rows.entry(currentIndex().row()).name);
        runPrimaryAction(names);
        event->accept();
        return;
    }
    // Backspace is no delete key on this desktop: only Delete asks.
    case Qt::Key_Delete:
        m_env.model->remove(m_env.model->selectedEntries());
        event->accept();
        return;
    default:
        replacingIfAsked([&] { QTableView::keyPressEvent(event); });
    }
}

void FileListView::mousePressEvent(QMouseEvent* event)
{
    // A right-click shows the menu for what it hits and changes no selection.
    if (event->button() == Qt::RightButton) {
        event->accept();
        return;
    }
    replacingIfAsked([&] { QTableView::mousePressEvent(event); });
}

void FileListView::mouseMoveEvent(QMouseEvent* event)
{
    replacingIfAsked([&] { QTableView::mouseMoveEvent(event); });
}

void FileListView::mouseReleaseEvent(QMouseEvent* event)
{
    replacingIfAsked([&] { QTableView::mouseReleaseEvent(event); });
}

void FileListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() != Qt::LeftButton || !index.isValid()) {
        QTableView::mouseDoubleClickEvent(event);
        return;
    }
    const QString name = m_rows.entry(index.row()).name;
    const QSet<QString>& selection = m_env.model->selection();
    runPrimaryAction(selection.contains(name) ? selection : QSet<QString>{name});
    event->accept();
}

EntryMenu* FileListView::menuAt(const QPoint& position)
{
    const QModelIndex index = indexAt(position);
    QSet<QString> names;
    // Named after the row it was opened on, else the list's folder.
    QString title = accessibleName();
    if (index.isValid()) {
        const QString name = title = m_rows.entry(index.row()).name;
        const QSet<QString>& selection = m_env.model->selection();
        names = selection.contains(name) ? selection : QSet<QString>{name};
    }
    auto* menu = new EntryMenu(m_env, WindowRules::entriesNamed(m_env.model->entries(), names), this);
    Accessibility::setName(menu, {}, title);
    return menu;
}

void FileListView::contextMenuEvent(QContextMenuEvent* event)
{
    // Item views get their viewport's events with viewport positions. The
    // menu key opens the menu of the row under the keyboard's ring.
    QPoint at = event->pos();
    QPoint shownAt = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard) {
        at = currentIndex().isValid() ? visualRect(currentIndex()).center() : QPoint(-1, -1);
        shownAt = viewport()->mapToGlobal(currentIndex().isValid() ? at : QPoint(0, 0));
    }
    EntryMenu* menu = menuAt(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Its items belong to the listing it was opened on.
    connect(m_env.model, &BrowserModel::entriesChanged, menu, &QWidget::close);
    menu->popup(shownAt);
    event->accept();
}

void FileListView::startDrag(Qt::DropActions)
{
    // The row pressed: with the rest of the selection when it is selected,
    // alone otherwise.
    const QModelIndex index = currentIndex();
    if (!index.isValid())
        return;
    const RemoteEntry entry = m_rows.entry(index.row());
    const QSet<QString>& selection = m_env.model->selection();
    QList<RemoteEntry> entries;
    if (selection.contains(entry.name)) {
        // In the order of the rows.
        for (int row = 0; row < m_rows.rowCount(); ++row) {
            if (selection.contains(m_rows.entry(row).name))
                entries.append(m_rows.entry(row));
        }
    } else {
        entries.append(entry);
    }
    auto* drag = new QDrag(this);
    drag->setMimeData(m_env.model->itemProvider(entries));
    drag->setPixmap(FileIcons::icon(entry).pixmap(32, 32));
    // A copy only: the phone keeps its item.
    OwnDrag::exec(drag, Qt::CopyAction, Qt::CopyAction);
}
