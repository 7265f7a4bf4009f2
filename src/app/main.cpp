#include "ActivationToken.h"
#include "Error.h"
#include "LazyIconStyle.h"
#include "OneInstance.h"
#include "ServiceBrowser.h"
#include "UnansweredStart.h"
#include "VantelorquistApp.h"
#include "WorkerPool.h"

#include <QApplication>
#include <QDBusConnection>
#include <QEvent>
#include <QFontDatabase>
#include <QPointer>
#include <QSettings>
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
    // Read before Qt's X11 connection takes the startup id for itself.
    const ActivationToken launch = ActivationToken::ofThisStart();
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
    ActivationToken::clearEnvironment();
    QApplication::setApplicationName(QStringLiteral("Vantelorquist"));
    QApplication::setOrganizationName(QStringLiteral("Vantelorquist"));
    QApplication::setApplicationVersion(QStringLiteral(VANTELORQUIST_VERSION));
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("vantelorquist"));
    const bool reportShown = qEnvironmentVariableIsSet("VANTELORQUIST_REPORT_SHOWN");

    // A second start (the launcher clicked while the window is closed to the
    // tray) would poll the same phones, run jobs on them and contend for
    // their USB interfaces: it brings the running one's window back instead.
    // Settings of one's own (another config folder) make another person.
    OneInstance instance(QSettings().fileName());
    const OneInstance::Start started = instance.claim(launch);
    switch (started) {
    case OneInstance::Start::first:
        break;
    case OneInstance::Start::handedOver:
    case OneInstance::Start::unanswered:
        // The font and discovery steps under way end before the application
        // object they may reach for; the font list was never asked for.
        WorkerPool::shared().shutdown(std::chrono::seconds(3));
        if (started == OneInstance::Start::handedOver)
            return 0;
        // Someone who started it from the desktop sees no terminal.
        UnansweredStart::tell(stderr, UnansweredStart::shownOn(QGuiApplication::platformName()));
        return 1;
    }
    if (fontSteps.fetch_add(1) == 1)
        warmUp(listFonts);
    // The first window's controls ask the session bus whether a screen
    // reader or a global menu bar is there; connecting to it (~1 ms) goes
    // beside the building of the window instead of inside it.
    warmUp([] { QDBusConnection::sessionBus(); });
    QApplication::setStyle(new LazyIconStyle(QApplication::style()->name()));

    int status = 0;
    {
        VantelorquistApp vantelorquist;
        QObject::connect(&instance, &OneInstance::reopenRequested, &vantelorquist,
                         [&vantelorquist, reportShown](const ActivationToken& token) {
                             token.bringForward(vantelorquist.bringUp(QStringLiteral("main")));
                             if (reportShown) {
                                 QByteArray line = "main window brought back";
                                 if (!token.wayland.isEmpty())
                                     line += ", activation token " + token.wayland;
                                 if (!token.x11.isEmpty())
                                     line += ", startup id " + token.x11;
                                 std::fputs((line + '\n').constData(), stdout);
                                 std::fflush(stdout);
                             }
                         });
        vantelorquist.willFinishLaunching();
        if (reportShown) {
            QObject::connect(&vantelorquist.windows(), &WindowRegistry::windowOpened, &vantelorquist,
                             [](const QString& identifier, QWidget* window) {
                                 if (identifier != QLatin1String("main"))
                                     return;
                                 window->winId(); // the native window, to watch before it shows
                                 new ShownReporter(window->windowHandle());
                             });
        }
        // X11's startup id Qt spends on the first window itself.
        vantelorquist.didFinishLaunching(ActivationToken {launch.wayland, {}},
                                         [&instance] { instance.noteWhereListening(); });
        // Quitting runs the clean-up (work under way, USB sessions, staged
        // files) on the way out.
        status = QApplication::exec();
    }
    return status;
}
