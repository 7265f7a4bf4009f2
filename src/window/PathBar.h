#pragma once

#include "BrowserTypes.h"
#include "FileDrag.h"

#include <QAbstractButton>
#include <QScrollArea>

class BrowserModel;
class QHBoxLayout;

// One folder of the path bar: a click goes there; an ancestor of the folder
// shown takes files dropped on it into its folder.
class PathSegment : public QAbstractButton {
    Q_OBJECT
public:
    PathSegment(BrowserModel* model, const PathComponent& component, bool first, bool current,
                QWidget* parent = nullptr);

    const PathComponent& component() const { return m_component; }
    bool isCurrent() const { return m_current; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    BrowserModel* m_model;
    PathComponent m_component;
    bool m_first;
    bool m_current;
    FileDrag m_drag;
};

// Where the browser is: the folders from "Internal Storage" down to the one
// shown, in one row that scrolls sideways when it is too long.
class PathBar : public QScrollArea {
    Q_OBJECT
public:
    explicit PathBar(BrowserModel* model, QWidget* parent = nullptr);

    QList<PathSegment*> segments() const;
    // Separators shown between the segments.
    int chevronCount() const;

private:
    void rebuild();

    BrowserModel* m_model;
    QWidget* m_row;
    QHBoxLayout* m_layout;
};
