#pragma once

#include <QIcon>
#include <QString>

// Named symbol images ("folder", "wifi", "lock.fill", ...) as icons: a
// bundled SVG when we ship one, else the desktop icon theme's nearest icon.
namespace Symbols {

QIcon icon(const QString& name);

// The bundled SVG of a symbol; empty when we ship none.
QString bundledFile(const QString& name);

// The icon theme's name for a symbol; empty when the table has none.
QString themeName(const QString& symbol);

// Picks a usable icon theme when the desktop set none (bare X sessions).
void ensureIconTheme();

} // namespace Symbols
