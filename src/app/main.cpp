#include "Error.h"
#include "LazyIconStyle.h"
#include "ServiceBrowser.h"
#include "Symbols.h"
#include "VantelorquistApp.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QEvent>
#include <QFontDatabase>
#include <QPointer>
#include <QWindow>

#include <atomic>
#include <cstdio>
#include <functional>

#include <fontconfig/fontconfig.h>

namespace {

// With VANTELORQUIST_REPORT_SHOWN set, prints one line when the main window is
// first on screen: launch tests and the start benchmark wait for it.
class ShownReporter : public QObject {
public:
    explicit ShownReporter(QWindow* window) : QObject(window), m_window(window) { window->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && watched == m_window && m_window->isExposed()) {
            std::fputs("main window shown\n", stdout);
            std::fflush(stdout);
            m_window->removeEventFilter(this);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWindow> m_window;
};

// Work done ahead of need on a worker. Each is done anyway when first needed,
// so with no thread to spare it is left out.
void warmUp(std::function<void()> work)
{
    try {
        WorkerPool::shared().start([work = std::move(work)](std::stop_token) { work(); });
    } catch (const NoThreadError&) {
    }
}

} // namespace

int main(int argc, char* argv[])
{
    // Reading the font configuration takes several milliseconds; done beside
    // the connection to the display, the first window measures its text sooner.
    // Qt's list of the installed fonts (~2 ms) follows it on the worker once
    // the application exists, while the main window is being built; the font
    // database's own lock makes the window's first font wait for it if need be.
    static std::atomic<int> fontSteps {0};
    const auto listFonts = [] { QFontDatabase::families(); };
    warmUp([listFonts] {
        FcInit();
        if (fontSteps.fetch_add(1) == 1)
            listFonts();
    });
    // The phone discovery that the main window starts opens avahi's library.
    warmUp([] { ServiceBrowser::prepareSystem(); });
    QApplication app(argc, argv);
    if (fontSteps.fetch_add(1) == 1)
        warmUp(listFonts);
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
        if (qEnvironmentVariableIsSet("VANTELORQUIST_REPORT_SHOWN")) {
            QObject::connect(&vantelorquist.windows(), &WindowRegistry::windowOpened, &vantelorquist,
                             [](const QString& identifier, QWidget* window) {
                                 if (identifier != QLatin1String("main"))
                                     return;
                                 window->winId(); // the native window, to watch before it shows
                                 new ShownReporter(window->windowHandle());
                             });
        }
        vantelorquist.didFinishLaunching();
        // Quitting runs the clean-up (work under way, USB sessions, staged
        // files) on the way out.
        status = QApplication::exec();
    }
    return status;
}
