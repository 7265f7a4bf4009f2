#include "AndroidKey.h"

#include <Qt>

namespace AndroidKey {

std::optional<qint32> code(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 66;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: // Shift+Tab: Shift is not passed on
        return 61;
    case Qt::Key_Backspace:
        return 67;
    case Qt::Key_Escape:
        return 4;
    case Qt::Key_Home:
        return 122;
    case Qt::Key_PageUp:
        return 92;
    case Qt::Key_Delete:
        return 112;
    case Qt::Key_End:
        return 123;
    case Qt::Key_PageDown:
        return 93;
    case Qt::Key_Left:
        return 21;
    case Qt::Key_Right:
        return 22;
    case Qt::Key_Down:
        return 20;
    case Qt::Key_Up:
        return 19;
    default:
        return std::nullopt;
    }
}

} // namespace AndroidKey
