#include "Theme.h"

#include <QGuiApplication>

namespace Theme {

bool isDark(const QPalette& palette)
{
    return palette.color(QPalette::Window).lightnessF() < 0.5;
}

QColor accent(bool dark)
{
    return dark ? QColor::fromRgbF(0.36f, 0.80f, 0.56f) : QColor::fromRgbF(0.13f, 0.58f, 0.37f);
}

QColor phoneBody(bool dark)
{
    return dark ? QColor::fromRgbF(0.16f, 0.17f, 0.18f) : QColor::fromRgbF(0.12f, 0.13f, 0.14f);
}

QColor accent()
{
    return accent(isDark(QGuiApplication::palette()));
}

QColor phoneBody()
{
    return phoneBody(isDark(QGuiApplication::palette()));
}

} // namespace Theme
