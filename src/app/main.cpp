#include "Symbols.h"
#include "VantelorquistApp.h"
#include "WorkerPool.h"

#include <QApplication>

#include <chrono>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantelorquist"));
    QApplication::setOrganizationName(QStringLiteral("Vantelorquist"));
    Symbols::ensureIconTheme();

    int status = 0;
    {
        VantelorquistApp vantelorquist;
        vantelorquist.willFinishLaunching();
        vantelorquist.didFinishLaunching();
        // Quitting runs the clean-up (USB sessions, staged files) on the way out.
        status = QApplication::exec();
    }
    // Work still under way was cancelled with the model; let it end.
    WorkerPool::shared().shutdown(std::chrono::seconds(3));
    return status;
}
