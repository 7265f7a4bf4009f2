#pragma once

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QIcon>
#include <QPalette>
#include <QPixmap>
#include <QString>

#include <cstdint>

class QWidget;

// The small vocabulary of looks the window's views share: foreground
// levels, text styles, tinted symbols, and how dates and sizes read.
namespace Look {

// Text of lesser weight: secondary (labels, details), tertiary (hints).
QColor secondary(const QPalette& palette);
QColor tertiary(const QPalette& palette);
// The faint fill behind selected tiles and command boxes.
QColor quaternaryFill(const QPalette& palette);
QColor orange();
QColor red();

// Named text styles, relative to the application font.
QFont caption(const QFont& base);
QFont caption2(const QFont& base);
QFont callout(const QFont& base);
QFont headline(const QFont& base);
QFont title2(const QFont& base);

// A symbol drawn in one colour, `size` device-independent pixels square.
QPixmap symbol(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);

// Starts drawing what symbol() will be asked for on a worker, for the first
// window to find it drawn.
void drawSymbolAhead(const QString& name, int size, const QColor& color, qreal devicePixelRatio = 1.0);

// A symbol as an icon in one colour, for buttons and toolbar items; Qt
// derives the disabled look from it. With `shownAt`, the size it is first
// shown at is drawn ahead.
QIcon symbolIcon(const QString& name, const QColor& color, int shownAt = 0);

// Byte counts the way file sizes are read: decimal multiples ("12 KB",
// "4.1 MB", "1.23 GB"), "Zero KB" for nothing.
QString byteCount(int64_t bytes);

// A whole percentage as the user's locale writes one ("42%", "42 %", "%42").
QString percent(int whole);

// A date alone, abbreviated in the user's locale ("Mar 15, 2024").
QString abbreviatedDate(const QDateTime& date);

// A modification date: abbreviated date and short time in the user's locale.
QString modifiedText(const QDateTime& date);

// Makes a label's text the given colour.
void setForeground(QWidget* widget, const QColor& color);

} // namespace Look
