#include "FileDrag.h"

#include "BrowserModel.h"
#include "OwnDrag.h"
#include "WindowRules.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>

bool FileDrag::carriesFiles(const QDropEvent* event)
{
    return event->mimeData()->hasUrls() && !OwnDrag::isOwn(event);
}

bool FileDrag::enter(QDragEnterEvent* event, BrowserModel* model)
{
    m_refused = false;
    if (!carriesFiles(event)) {
        event->ignore();
        return false;
    }
    const bool taken = move(event, model);
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return taken;
}

bool FileDrag::move(QDragMoveEvent* event, BrowserModel* model)
{
    if (!carriesFiles(event)) {
        event->ignore();
        return false;
    }
    if (model->job()) {
        if (!m_refused)
            model->refuseWhileJobRuns(false);
        m_refused = true;
        event->ignore();
        return false;
    }
    m_refused = false;
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

std::optional<QList<QUrl>> FileDrag::drop(QDropEvent* event, BrowserModel* model)
{
    m_refused = false;
    if (!carriesFiles(event) || model->refuseWhileJobRuns(false)) {
        event->ignore();
        return std::nullopt;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return WindowRules::fileUrls(event->mimeData()->urls());
}
