#pragma once

#include "Environment.h"
#include "FileListModel.h"

#include <QTableView>

class EntryMenu;

// The list form of the browser: a sortable, multi-selection table of the
// current folder. It keeps nothing of its own: rows, selection and sort
// order are the model's, written back through it.
class FileListView : public QTableView {
    Q_OBJECT
public:
    explicit FileListView(const Environment& env, QWidget* parent = nullptr);

    FileListModel* listModel() { return &m_rows; }

    // The context menu for a click at `position` (viewport coordinates): the
    // whole selection on a selected row, the row alone on another, the
    // folder's menu on empty space. The selection is left as it is.
    EntryMenu* menuAt(const QPoint& position);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    void showEntries();
    void applySelection();
    void takeSelection();
    // Runs a base handler of a click or key; a gesture that replaced the
    // view's selection replaces the model's too, hidden entries included.
    template <class Handler> void replacingIfAsked(Handler handler);
    void sortBy(int column);
    void showSortIndicator();
    void runPrimaryAction(const QSet<QString>& names);
    void keepWidth(int column, int oldSize, int newSize);

    Environment m_env;
    FileListModel m_rows;
    // Set while the view follows the model's selection, so that it is not
    // written back.
    bool m_applyingSelection = false;
    // Set while a plain click, a click on empty space or a plain move makes
    // a new selection: the entries the search hides leave it too.
    mutable bool m_replacing = false;
};
