#pragma once

#include <Qt>

class QDrag;
class QDropEvent;

// A drag that started in this application carries the phone's own items:
// dropped back in, they would be pulled to the computer and pushed straight
// back. The window's drop targets refuse it, from its first move on.
namespace OwnDrag {

// Runs `drag`, counted as this application's own while it lasts.
Qt::DropAction exec(QDrag* drag, Qt::DropActions actions, Qt::DropAction defaultAction);

// Whether a drag event belongs to a drag this application started.
bool isOwn(const QDropEvent* event);

// While one lives, every drag counts as this application's own, as during
// exec(); for the platforms whose drags tell no source.
class Scope {
public:
    Scope();
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

} // namespace OwnDrag
