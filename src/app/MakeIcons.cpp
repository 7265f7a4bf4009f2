// Draws the application icon into an icon theme folder:
// <folder>/<N>x<N>/apps/vantelorquist.png for each installed size.

#include "Mirvek.h"
#include "Theme.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: vantelorquist_icons FOLDER\n");
        return 2;
    }
    const QString root = QString::fromLocal8Bit(argv[1]);
    for (int side : Mirvek::iconSizes()) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(side);
        if (!QDir().mkpath(folder) ||
            !Mirvek::markImage(side, 1.0, Theme::accent(false)).save(folder + QStringLiteral("/vantelorquist.png"))) {
            std::fprintf(stderr, "cannot write the icon into %s\n", qPrintable(folder));
            return 1;
        }
    }
    return 0;
}
