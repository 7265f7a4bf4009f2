#include "OwnDrag.h"

#include <QDrag>
#include <QDropEvent>

namespace {

int scopes = 0;

} // namespace

namespace OwnDrag {

Scope::Scope()
{
    ++scopes;
}

Scope::~Scope()
{
    --scopes;
}

Qt::DropAction exec(QDrag* drag, Qt::DropActions actions, Qt::DropAction defaultAction)
{
    const Scope own;
    return drag->exec(actions, defaultAction);
}

bool isOwn(const QDropEvent* event)
{
    return scopes > 0 || event->source();
}

} // namespace OwnDrag
