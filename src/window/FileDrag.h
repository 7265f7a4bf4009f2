#pragma once

#include <QList>
#include <QUrl>

#include <optional>

class BrowserModel;
class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;

// One drag of files from another application over one of the window's drop
// targets, and the rule they share while a job runs. The enter is taken
// whatever runs: Qt sends a drag whose enter was refused nothing more, so
// one held through a job could never be dropped once it ends. Each move
// decides instead: while a job runs a drop could not be copied, so it is
// refused and the status line says what it waits for, once each time the
// drag starts being refused.
class FileDrag {
public:
    // Files from another application; the window's own items going out are
    // not dropped back in.
    static bool carriesFiles(const QDropEvent* event);

    // Whether a drop would be taken where the drag now is. The event is
    // accepted as a copy when it would be (a move would let the sender
    // delete the originals), else ignored; an enter of files is accepted
    // either way, so the moves that follow still come here.
    bool enter(QDragEnterEvent* event, BrowserModel* model);
    bool move(QDragMoveEvent* event, BrowserModel* model);
    void leave() { m_refused = false; }
    // The dropped file URLs, the event accepted as a copy; none, the event
    // ignored, for a drop of no files or one made while a job runs (which a
    // sender may make after its last move was refused).
    std::optional<QList<QUrl>> drop(QDropEvent* event, BrowserModel* model);

private:
    bool m_refused = false;
};
