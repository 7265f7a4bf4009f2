#include "MirrorLook.h"

#include "Theme.h"

namespace MirrorLook {

QPalette darkPalette(const QPalette& base)
{
    QPalette palette = base;
    const QColor window(36, 36, 38), raised(58, 58, 60), text(Qt::white);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, window);
        palette.setColor(group, QPalette::Base, window);
        palette.setColor(group, QPalette::AlternateBase, raised);
        palette.setColor(group, QPalette::Button, raised);
        palette.setColor(group, QPalette::Mid, raised.lighter(130));
        palette.setColor(group, QPalette::ToolTipBase, raised);
        palette.setColor(group, QPalette::Highlight, Theme::accent(true));
        palette.setColor(group, QPalette::HighlightedText, text);
        const QColor foreground = group == QPalette::Disabled ? white(0.4) : text;
        for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText,
                                               QPalette::ToolTipText, QPalette::BrightText})
            palette.setColor(group, role, foreground);
    }
    return palette;
}

} // namespace MirrorLook
