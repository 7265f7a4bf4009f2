// The browser model's hand-off to the mirroring window. It lives here, with
// the session it makes, because the browser library sits below this one.

#include "BrowserModel.h"
#include "MirrorSession.h"

std::unique_ptr<MirrorSession> BrowserModel::makeMirror() const
{
    const std::optional<MirrorTarget> target = mirrorTarget();
    if (!target)
        return nullptr;
    return std::make_unique<MirrorSession>(target->adb, target->serial, target->name, target->settings);
}
