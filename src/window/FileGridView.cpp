#include "FileGridView.h"

#include "Accessibility.h"
#include "BrowserModel.h"
#include "BrowserPaths.h"
#include "OwnDrag.h"
#include "Paths.h"
#include "EntryMenu.h"
#include "FileIcons.h"
#include "Look.h"
#include "PlainText.h"
#include "Theme.h"
#include "WindowRules.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QToolTip>

#include <algorithm>
#include <cmath>

// ---- layout ----------------------------------------------------------------------------

GridLayout GridLayout::forWidth(int width)
{
    GridLayout layout;
    const double inside = std::max(0, width - 2 * margin);
    layout.columns = std::max(1, int(std::floor((inside + columnGap) / (104 + columnGap))));
    layout.tileWidth =
        std::max(0.0, std::min(130.0, (inside - columnGap * (layout.columns - 1)) / layout.columns));
    const double row = layout.columns * layout.tileWidth + columnGap * (layout.columns - 1);
    layout.left = margin + std::max(0.0, (inside - row) / 2);
    return layout;
}

QRectF GridLayout::tile(int index) const
{
    const int row = index / columns;
    const int column = index % columns;
    return QRectF(left + column * (tileWidth + columnGap), margin + row * (tileHeight + rowGap), tileWidth,
                  tileHeight);
}

int GridLayout::tileAt(QPointF point, int count) const
{
    if (point.x() < left || point.y() < margin)
        return -1;
    const int column = int((point.x() - left) / (tileWidth + columnGap));
    const int row = int((point.y() - margin) / (tileHeight + rowGap));
    if (column >= columns)
        return -1;
    const int index = row * columns + column;
    if (index >= count || !tile(index).contains(point))
        return -1;
    return index;
}

int GridLayout::height(int count) const
{
    const int rowCount = rows(count);
    return 2 * margin + rowCount * tileHeight + std::max(0, rowCount - 1) * rowGap;
}

// ---- a tile ----------------------------------------------------------------------------

QStringList GridTile::nameLines(const QString& name, const QFontMetricsF& metrics, double width)
{
    if (metrics.horizontalAdvance(name) <= width)
        return {name};
    // Break where the first line fills, at a character boundary; the rest is
    // cut in its middle (the font's eliding keeps characters whole too).
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, name);
    qsizetype fits = 0;
    qsizetype first = -1; // the end of the first character
    for (qsizetype end = characters.toNextBoundary(); end != -1; end = characters.toNextBoundary()) {
        if (first < 0)
            first = end;
        if (metrics.horizontalAdvance(name.left(end)) > width)
            break;
        fits = end;
    }
    // Prefer the last space that fits; a space followed by a combining mark
    // is one character and no place to break.
    qsizetype cut = 0;
    for (qsizetype space = name.lastIndexOf(QLatin1Char(' '), fits); space > 0;
         space = name.lastIndexOf(QLatin1Char(' '), space - 1)) {
        characters.setPosition(space + 1);
        if (characters.isAtBoundary()) {
            cut = space + 1;
            break;
        }
    }
    if (cut == 0)
        cut = fits > 0 ? fits : std::max<qsizetype>(first, 1);
    const QString rest = name.mid(cut);
    return {name.left(cut).trimmed(), metrics.elidedText(rest, Qt::ElideMiddle, width)};
}

void GridTile::paint(QPainter& painter, const QRectF& rect, const RemoteEntry& entry, bool isSelected,
                     bool dropTargeted, const QPalette& palette, const QFont& font)
{
    const QColor accent = Theme::accent(Theme::isDark(palette));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF iconBox(rect.center().x() - 36, rect.top(), 72, 72);
    if (isSelected || dropTargeted) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Look::quaternaryFill(palette));
        painter.drawRoundedRect(iconBox, 8, 8);
    }
    FileIcons::icon(entry).paint(&painter, iconBox.adjusted(6, 6, -6, -6).toRect());
    if (dropTargeted && entry.isDirectory) {
        painter.setPen(QPen(accent, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(iconBox.adjusted(1, 1, -1, -1), 7, 7);
    }

    const QFont nameFont = Look::callout(font);
    const QFontMetricsF metrics(nameFont);
    const double textWidth = rect.width() - 10;
    const QStringList lines = GridTile::nameLines(entry.name, metrics, textWidth);
    double widest = 0;
    for (const QString& line : lines)
        widest = std::max(widest, metrics.horizontalAdvance(line));
    const double lineHeight = metrics.height();
    const QRectF label(rect.center().x() - widest / 2 - 5, iconBox.bottom() + 6, widest + 10,
                       lines.size() * lineHeight + 2);
    // Hidden items read fainter, selected or not.
    painter.setOpacity(entry.name.startsWith(QLatin1Char('.')) ? 0.55 : 1.0);
    if (isSelected) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawRoundedRect(label, 4, 4);
    }
    painter.setFont(nameFont);
    painter.setPen(isSelected ? QColor(Qt::white) : palette.color(QPalette::Text));
    for (qsizetype index = 0; index < lines.size(); ++index)
        painter.drawText(QRectF(label.left(), label.top() + 1 + index * lineHeight, label.width(), lineHeight),
                         Qt::AlignCenter | Qt::TextSingleLine, lines[index]);
    painter.setOpacity(1.0);
    if (!entry.isDirectory) {
        painter.setFont(Look::caption2(font));
        painter.setPen(Look::secondary(palette));
        painter.drawText(QRectF(rect.left(), label.bottom() + 6, rect.width(), QFontMetricsF(Look::caption2(font)).height()),
                         Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, Look::byteCount(entry.size));
    }
    painter.restore();
}

// ---- for screen readers ------------------------------------------------------------------

namespace {

// One tile: an item of the grid's list, selected while chosen and focused
// while the keyboard is on it; its press does what a click does. It stands
// for its place among one set of tiles and is invalid once they are replaced.
class TileInterface : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    TileInterface(FileGridView* grid, int index) : m_grid(grid), m_index(index), m_generation(grid->generation()) {}

    int index() const { return m_index; }
    const FileGridView* grid() const { return m_grid; }

    bool isValid() const override
    {
        return m_grid && m_grid->generation() == m_generation && m_index < m_grid->tiles().size();
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_grid ? m_grid->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return m_grid ? QAccessible::queryAccessibleInterface(m_grid.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return {};
        const RemoteEntry& entry = m_grid->tiles()[m_index];
        if (t == QAccessible::Name)
            return entry.name;
        // What the tile shows under the name.
        if (t == QAccessible::Description && !entry.isDirectory)
            return Look::byteCount(entry.size);
        return {};
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        if (!isValid())
            return {};
        const QRect tile = m_grid->tileRect(m_index);
        return QRect(m_grid->viewport()->mapToGlobal(tile.topLeft()), tile.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.focusable = true;
        s.selected = m_grid->isChosen(m_index);
        s.focused = m_grid->hasFocus() && m_grid->currentTile() == m_index;
        s.invisible = !m_grid->isVisible();
        s.offscreen = !m_grid->viewport()->rect().intersects(m_grid->tileRect(m_index));
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        return isValid() ? QStringList{pressAction(), showMenuAction()} : QStringList();
    }
    void doAction(const QString& action) override
    {
        if (!isValid())
            return;
        if (action == pressAction())
            m_grid->chooseTile(m_index);
        else if (action == showMenuAction())
            m_grid->popupMenuOf(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<FileGridView> m_grid;
    int m_index;
    quint64 m_generation;
};

// The grid as a list of its tiles. A tile's element is made when first
// asked for and lasts while the tiles do.
class GridInterface : public QAccessibleWidget {
public:
    explicit GridInterface(FileGridView* grid) : QAccessibleWidget(grid, QAccessible::List) {}
    ~GridInterface() override { forget(); }

    FileGridView* grid() const { return static_cast<FileGridView*>(widget()); }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.multiSelectable = true;
        return s;
    }
    int childCount() const override { return int(grid()->tiles().size()); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (m_generation != grid()->generation()) {
            forget();
            m_generation = grid()->generation();
        }
        if (const auto made = m_tiles.constFind(index); made != m_tiles.cend())
            return QAccessible::accessibleInterface(*made);
        auto* tile = new TileInterface(grid(), index);
        m_tiles.insert(index, QAccessible::registerAccessibleInterface(tile));
        return tile;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        const auto* tile = dynamic_cast<const TileInterface*>(child);
        return tile && tile->grid() == grid() && tile->isValid() ? tile->index() : -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int index = grid()->tileAt(grid()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index >= 0 ? child(index) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        const int current = grid()->currentTile();
        if (grid()->hasFocus() && current >= 0)
            return child(current);
        return QAccessibleWidget::focusChild();
    }

private:
    void forget() const
    {
        for (const QAccessible::Id id : std::as_const(m_tiles))
            QAccessible::deleteAccessibleInterface(id);
        m_tiles.clear();
    }

    mutable QHash<int, QAccessible::Id> m_tiles;
    mutable quint64 m_generation = 0;
};

QAccessibleInterface* gridInterface(const QString& className, QObject* object)
{
    if (className == QLatin1String("FileGridView"))
        return new GridInterface(static_cast<FileGridView*>(object));
    return nullptr;
}

} // namespace

// ---- the grid --------------------------------------------------------------------------

FileGridView::FileGridView(const Environment& env, QWidget* parent) : QAbstractScrollArea(parent), m_env(env)
{
    static const bool installed = [] {
        QAccessible::installFactory(gridInterface);
        return true;
    }();
    Q_UNUSED(installed)
    setObjectName(QStringLiteral("fileGrid"));
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    viewport()->setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(24);

    BrowserModel* model = m_env.model;
    connect(model, &BrowserModel::visibleEntriesChanged, this, &FileGridView::showEntries);
    connect(model, &BrowserModel::selectionChanged, this, [this] {
        viewport()->update();
        announceCurrent();
    });
    const auto name = [this] {
        Accessibility::setName(this, {}, WindowRules::currentFolderName(m_env.model->pathComponents()));
    };
    connect(model, &BrowserModel::pathChanged, this, name);
    name();
    showEntries();
}

void FileGridView::showEntries()
{
    m_entries = m_env.model->visibleEntries();
    ++m_generation;
    m_pressed = -1;
    m_dropTarget = -1;
    updateScrollRange();
    viewport()->update();
}

void FileGridView::updateScrollRange()
{
    const GridLayout layout = gridLayout();
    const int height = layout.height(int(m_entries.size()));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, height - viewport()->height()));
}

void FileGridView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

QRect FileGridView::tileRect(int index) const
{
    return gridLayout().tile(index).translated(0, -verticalScrollBar()->value()).toAlignedRect();
}

int FileGridView::tileAt(const QPoint& position) const
{
    return gridLayout().tileAt(QPointF(position) + QPointF(0, verticalScrollBar()->value()), int(m_entries.size()));
}

bool FileGridView::isChosen(int index) const
{
    return index >= 0 && index < m_entries.size() && m_env.model->selection().contains(m_entries[index].name);
}

int FileGridView::currentTile() const
{
    const QSet<QString>& chosen = m_env.model->selection();
    if (chosen.isEmpty())
        return -1;
    int first = -1;
    for (int index = 0; index < m_entries.size(); ++index) {
        const QString& name = m_entries[index].name;
        if (!chosen.contains(name))
            continue;
        if (name == m_current)
            return index;
        if (first < 0)
            first = index;
    }
    return first;
}

void FileGridView::chooseTile(int index)
{
    if (index < 0 || index >= m_entries.size())
        return;
    m_current = m_entries[index].name;
    m_env.model->setSelection({m_current});
    showTile(index);
}

void FileGridView::popupMenuOf(int index)
{
    QPoint at(-1, -1);
    QPoint shownAt = viewport()->mapToGlobal(QPoint(0, 0));
    if (index >= 0 && index < m_entries.size()) {
        showTile(index);
        at = tileRect(index).center();
        shownAt = viewport()->mapToGlobal(at);
    }
    EntryMenu* menu = menuAt(at);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    // Its items belong to the listing it was opened on.
    connect(m_env.model, &BrowserModel::entriesChanged, menu, &QWidget::close);
    menu->popup(shownAt);
}

void FileGridView::announceCurrent()
{
    if (!QAccessible::isActive() || !hasFocus())
        return;
    const int index = currentTile();
    if (index < 0)
        return;
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(index);
    QAccessible::updateAccessibility(&focus);
    QAccessibleEvent chosen(this, QAccessible::Selection);
    chosen.setChild(index);
    QAccessible::updateAccessibility(&chosen);
}

void FileGridView::focusInEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
    announceCurrent();
}

void FileGridView::focusOutEvent(QFocusEvent* event)
{
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

int FileGridView::keyboardTile() const
{
    if (!hasFocus() || m_entries.isEmpty())
        return -1;
    // With none chosen, the first: the arrows start there.
    return std::max(0, currentTile());
}

void FileGridView::paintEvent(QPaintEvent* event)
{
    QPainter painter(viewport());
    const GridLayout layout = gridLayout();
    const int offset = verticalScrollBar()->value();
    const QRect exposed = event->rect().translated(0, offset);
    const int rowPitch = GridLayout::tileHeight + GridLayout::rowGap;
    // Only the rows in sight.
    const int firstRow = std::max(0, (exposed.top() - GridLayout::margin) / rowPitch);
    const int lastRow = std::max(0, (exposed.bottom() - GridLayout::margin) / rowPitch);
    const int count = int(m_entries.size());
    const QSet<QString>& selection = m_env.model->selection();
    painter.translate(0, -offset);
    for (int index = firstRow * layout.columns; index < std::min(count, (lastRow + 1) * layout.columns); ++index) {
        const RemoteEntry& entry = m_entries[index];
        GridTile::paint(painter, layout.tile(index), entry, selection.contains(entry.name), index == m_dropTarget,
                        palette(), font());
    }
    // Where the keyboard is, as the list shows its current row.
    if (const int ring = keyboardTile(); ring >= 0) {
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(layout.tile(ring).adjusted(1, 1, -1, -1), 8, 8);
    }
}

void FileGridView::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const int index = tileAt(event->position().toPoint());
    m_pressed = event->button() == Qt::LeftButton ? index : -1;
    m_pressPoint = event->position().toPoint();
    if (event->button() != Qt::LeftButton) {
        event->accept();
        return;
    }
    BrowserModel* model = m_env.model;
    if (index < 0) {
        model->setSelection({});
    } else {
        const QString& name = m_current = m_entries[index].name;
        // Ctrl or Shift toggles the one tile; Shift makes no range here.
        if (event->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier)) {
            QSet<QString> names = model->selection();
            if (!names.remove(name))
                names.insert(name);
            model->setSelection(names);
        } else {
            model->setSelection({name});
        }
    }
    event->accept();
}

void FileGridView::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed < 0 || !(event->buttons() & Qt::LeftButton)
        || (event->position().toPoint() - m_pressPoint).manhattanLength() < QApplication::startDragDistance())
        return;
    const RemoteEntry entry = m_entries[m_pressed];
    m_pressed = -1;
    auto* drag = new QDrag(this);
    drag->setMimeData(m_env.model->itemProvider(entry));
    drag->setPixmap(FileIcons::icon(entry).pixmap(48, 48));
    // A copy only: the phone keeps its item.
    OwnDrag::exec(drag, Qt::CopyAction, Qt::CopyAction);
}

void FileGridView::mouseDoubleClickEvent(QMouseEvent* event)
{
    const int index = tileAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index >= 0)
        m_env.model->open(m_entries[index]);
    event->accept();
}

EntryMenu* FileGridView::menuAt(const QPoint& position)
{
    const int index = tileAt(position);
    QList<RemoteEntry> items;
    QString title = accessibleName();
    if (index >= 0) {
        const RemoteEntry& entry = m_entries[index];
        title = entry.name;
        items = m_env.model->selection().contains(entry.name) ? m_env.model->selectedEntries()
                                                              : QList<RemoteEntry>{entry};
    }
    auto* menu = new EntryMenu(m_env, items, this);
    Accessibility::setName(menu, {}, title);
    return menu;
}

void FileGridView::contextMenuEvent(QContextMenuEvent* event)
{
    event->accept();
    // The menu key opens the chosen tiles' menu beside the tile the keyboard
    // is on, as the list opens its row's; with none chosen, the folder's.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        popupMenuOf(currentTile());
        return;
    }
    EntryMenu* menu = menuAt(event->pos());
    menu->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_env.model, &BrowserModel::entriesChanged, menu, &QWidget::close);
    menu->popup(event->globalPos());
}

void FileGridView::keyPressEvent(QKeyEvent* event)
{
    BrowserModel* model = m_env.model;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    switch (event->key()) {
    // Backspace is no delete key on this desktop: only Delete asks.
    case Qt::Key_Delete:
        model->remove(model->selectedEntries());
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter: {
        // As a double-click, or as Return in the list: a folder opens, files open on the computer.
        const WindowRules::PrimaryAction action = WindowRules::primaryAction(model->entries(), model->selection());
        if (action.open)
            model->open(*action.open);
        else if (!action.openOnMac.isEmpty())
            model->openOnMac(action.openOnMac);
        event->accept();
        return;
    }
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
        if (plain) {
            moveChoice(event->key());
            event->accept();
            return;
        }
        break;
    case Qt::Key_F10:
        // The other key for a menu, which the platform leaves to the widget.
        if ((event->modifiers() & ~Qt::KeypadModifier) == Qt::ShiftModifier) {
            popupMenuOf(currentTile());
            event->accept();
            return;
        }
        break;
    default:
        // As in the list: every tile shown, and what the search hides stays.
        if (event->matches(QKeySequence::SelectAll)) {
            QSet<QString> names = model->selection();
            for (const RemoteEntry& entry : std::as_const(m_entries))
                names.insert(entry.name);
            model->setSelection(names);
            event->accept();
            return;
        }
        break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

void FileGridView::moveChoice(int key)
{
    const int count = int(m_entries.size());
    if (count == 0)
        return;
    const QSet<QString>& chosen = m_env.model->selection();
    const bool forward = key == Qt::Key_Right || key == Qt::Key_Down;
    // From the tile last chosen while it stays chosen; else from the last
    // chosen tile going on, from the first going back.
    int from = chosen.contains(m_current) ? currentTile() : -1;
    if (from < 0) {
        for (int index = 0; index < count; ++index) {
            if (chosen.contains(m_entries[index].name)) {
                from = index;
                if (!forward)
                    break;
            }
        }
    }
    int to = 0;
    const int columns = gridLayout().columns;
    // A page is the rows that fit in sight, at least one.
    const int page = columns * std::max(1, viewport()->height() / (GridLayout::tileHeight + GridLayout::rowGap));
    if (key == Qt::Key_Home) {
        to = 0;
    } else if (key == Qt::Key_End) {
        to = count - 1;
    } else if (from >= 0 && (key == Qt::Key_PageUp || key == Qt::Key_PageDown)) {
        to = std::clamp(from + (key == Qt::Key_PageDown ? page : -page), 0, count - 1);
    } else if (from >= 0) {
        const int step = key == Qt::Key_Right ? 1 : key == Qt::Key_Left ? -1 : key == Qt::Key_Down ? columns : -columns;
        to = from + step;
        if (to < 0 || to >= count) {
            // Down into a shorter last row lands on its last tile; otherwise the choice stays.
            to = key == Qt::Key_Down && from / columns < (count - 1) / columns ? count - 1 : from;
        }
    }
    chooseTile(to);
}

void FileGridView::showTile(int index)
{
    const QRectF tile = gridLayout().tile(index);
    QScrollBar* bar = verticalScrollBar();
    const int height = viewport()->height();
    if (tile.top() < bar->value())
        bar->setValue(int(std::floor(tile.top())) - GridLayout::margin);
    else if (tile.bottom() > bar->value() + height)
        bar->setValue(int(std::ceil(tile.bottom())) - height + GridLayout::margin);
}

int FileGridView::folderAt(const QPoint& position) const
{
    const int index = tileAt(position);
    return index >= 0 && m_entries[index].isDirectory ? index : -1;
}

void FileGridView::setDropTarget(int index, bool overGrid)
{
    const bool overCurrent = overGrid && index < 0;
    if (index != m_dropTarget) {
        m_dropTarget = index;
        viewport()->update();
    }
    if (overCurrent != m_overCurrentFolder) {
        m_overCurrentFolder = overCurrent;
        Q_EMIT currentFolderTargeted(overCurrent);
    }
}

// Qt sends every later move and the drop to the widget that took the enter,
// so the grid takes the whole drag wherever it enters and chooses the
// destination at each move.
void FileGridView::dragEnterEvent(QDragEnterEvent* event)
{
    const bool taken = m_drag.enter(event, m_env.model);
    setDropTarget(taken ? folderAt(event->position().toPoint()) : -1, taken);
}

void FileGridView::dragMoveEvent(QDragMoveEvent* event)
{
    const bool taken = m_drag.move(event, m_env.model);
    setDropTarget(taken ? folderAt(event->position().toPoint()) : -1, taken);
}

void FileGridView::dragLeaveEvent(QDragLeaveEvent* event)
{
    m_drag.leave();
    setDropTarget(-1, false);
    event->accept();
}

void FileGridView::dropEvent(QDropEvent* event)
{
    const int folder = folderAt(event->position().toPoint());
    setDropTarget(-1, false);
    const std::optional<QList<QUrl>> files = m_drag.drop(event, m_env.model);
    // Web links alone are refused.
    if (!files || files->isEmpty()) {
        event->ignore();
        return;
    }
    const std::optional<QString> target =
        folder >= 0 ? std::optional<QString>(paths::joined(m_env.model->path(), m_entries[folder].name))
                    : std::nullopt;
    const std::optional<BrowserModel::Shown> asked = m_env.model->shown();
    if (!asked)
        return;
    // After the drop has ended: the copy may ask a question first, and the
    // sending application waits for the drop's answer. It goes where it was
    // dropped, whatever is shown by then.
    QMetaObject::invokeMethod(
        m_env.model, [model = m_env.model, asked = *asked, files = *files, target] { model->handleDrop(asked, files, target); },
        Qt::QueuedConnection);
}

bool FileGridView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        // The tile's full name, which the tile itself may cut.
        auto* help = static_cast<QHelpEvent*>(event);
        const int index = tileAt(help->pos());
        if (index < 0) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(help->globalPos(), PlainText::toolTip(m_entries[index].name), viewport(), tileRect(index));
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}
