#pragma once

#include "Environment.h"
#include "FileDrag.h"

#include <QAbstractScrollArea>
#include <QRect>
#include <QStringList>

class QFontMetricsF;

class EntryMenu;

// How the icon grid places its tiles; a function of the grid's width alone.
struct GridLayout {
    static constexpr int margin = 16;
    static constexpr int columnGap = 8;
    static constexpr int rowGap = 10;
    static constexpr int tileHeight = 132;

    int columns = 1;
    double tileWidth = 0;
    double left = margin; // of the first column, centring the row

    static GridLayout forWidth(int width);
    QRectF tile(int index) const;
    // The tile under `point` (content coordinates), -1 between and around them.
    int tileAt(QPointF point, int count) const;
    int rows(int count) const { return (count + columns - 1) / columns; }
    int height(int count) const;
};

// One tile's look: icon, name and size, the selection and drop highlight.
struct GridTile {
    static void paint(QPainter& painter, const QRectF& rect, const RemoteEntry& entry, bool isSelected,
                      bool dropTargeted, const QPalette& palette, const QFont& font);
    // The name in at most two lines of `width`, the second cut in its middle
    // when longer; every cut falls between two characters as the reader sees
    // them (grapheme clusters).
    static QStringList nameLines(const QString& name, const QFontMetricsF& metrics, double width);
};

// The icon form of the browser: the folder as a scrolling grid of painted
// tiles. Only tiles in sight are painted. The grid takes a drag of files for
// its whole way and decides at each move: over a folder tile the drop goes
// into that folder, anywhere else into the folder shown.
class FileGridView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit FileGridView(const Environment& env, QWidget* parent = nullptr);

    GridLayout gridLayout() const { return GridLayout::forWidth(viewport()->width()); }
    // The tile's rectangle in viewport coordinates.
    QRect tileRect(int index) const;
    // The tile at `position` (viewport coordinates); -1 between and around them.
    int tileAt(const QPoint& position) const;
    // Whether the tile is one of the chosen.
    bool isChosen(int index) const;
    // The context menu for a click at `position` (viewport coordinates).
    EntryMenu* menuAt(const QPoint& position);
    // The tile a drag of files is over; -1 when none.
    int dropTarget() const { return m_dropTarget; }
    // The tiles in their order.
    const QList<RemoteEntry>& tiles() const { return m_entries; }
    // Grows each time the tiles are replaced: a tile's index holds within one.
    quint64 generation() const { return m_generation; }
    // The chosen tile the keyboard is on: the one last chosen while it stays
    // chosen, else the first chosen; -1 when none is.
    int currentTile() const;
    // What a click on the tile does: it alone is chosen.
    void chooseTile(int index);
    // Opens the menu of the tile (the chosen tiles' when it is one of them),
    // or of the folder for -1, beside it.
    void popupMenuOf(int index);

Q_SIGNALS:
    // A drag of files is over the grid but not over a folder tile (true):
    // a drop would go into the folder shown. False over a folder tile, when
    // the drag leaves and after the drop.
    void currentFolderTargeted(bool targeted);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void showEntries();
    void updateScrollRange();
    // The folder tile under a drag, or -1.
    int folderAt(const QPoint& position) const;
    // Where a drag is now: a folder tile, the folder shown, or nowhere.
    void setDropTarget(int index, bool overGrid);
    // Chooses the tile beside the chosen one in the arrow's direction, a
    // page of rows away, or the first or last tile.
    void moveChoice(int key);
    void showTile(int index);
    // The tile ringed while the grid has the keyboard; -1 without it.
    int keyboardTile() const;
    // Tells a screen reader which tile the keyboard is on now.
    void announceCurrent();

    Environment m_env;
    QList<RemoteEntry> m_entries;
    quint64 m_generation = 0;
    QString m_current; // the tile last chosen by a click or a key
    int m_pressed = -1;
    QPoint m_pressPoint;
    int m_dropTarget = -1;
    bool m_overCurrentFolder = false;
    FileDrag m_drag;
};
