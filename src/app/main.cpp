#include "LazyIconStyle.h"
#include "Symbols.h"
#include "VantelorquistApp.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantelorquist"));
    QApplication::setOrganizationName(QStringLiteral("Vantelorquist"));
    QApplication::setApplicationVersion(QStringLiteral(VANTELORQUIST_VERSION));
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantelorquist"));
    Symbols::ensureIconTheme();
    QApplication::setStyle(new LazyIconStyle(QApplication::style()->name()));

    int status = 0;
    {
        VantelorquistApp vantelorquist;
        vantelorquist.willFinishLaunching();
        vantelorquist.didFinishLaunching();
        // Quitting runs the clean-up (work under way, USB sessions, staged
        // files) on the way out.
        status = QApplication::exec();
    }
    return status;
}
