#include "AppShell.h"

#include "FocusRest.h"
#include "QuitSignals.h"
#include "StoredValue.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

AppShell::AppShell(QSettings* settings, std::function<bool()> trayAvailable, QObject* parent)
    : QObject(parent), m_settings(settings), m_trayAvailable(std::move(trayAvailable)),
      m_quit([] { QCoreApplication::quit(); })
{
}

bool AppShell::staysInMenuBar(const QSettings& settings, bool trayAvailable)
{
    // Without a tray nothing could bring the process back: never stay.
    if (!trayAvailable)
        return false;
    if (storedBool(settings, QStringLiteral("showMenuBarIcon")) == false)
        return false;
    return storedBool(settings, QStringLiteral("keepRunningInMenuBar")).value_or(true);
}

bool AppShell::staysInMenuBar() const
{
    return staysInMenuBar(*m_settings, m_trayAvailable && m_trayAvailable());
}

void AppShell::addCleanUp(std::function<void()> step)
{
    m_cleanUp.push_back(std::move(step));
}

void AppShell::cleanUp()
{
    if (m_cleanedUp)
        return;
    m_cleanedUp = true;
    for (auto& step : m_cleanUp) {
        try {
            step();
        } catch (...) {
            // Quitting goes on whatever a step reports.
        }
    }
}

void AppShell::install()
{
    QApplication::setQuitOnLastWindowClosed(false);
    connect(qApp, &QGuiApplication::lastWindowClosed, this, [this] {
        if (shouldQuitAfterLastWindowClosed())
            m_quit();
    });
    QuitSignals::install(this, [this] { m_quit(); });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppShell::cleanUp);
    qApp->installEventFilter(this);
    FocusRest::install();
}

namespace {

// A window the user works in, not a menu, tooltip or splash.
bool isPlainWindow(const QWidget* widget)
{
    const Qt::WindowType type = widget->windowType();
    return widget->isWindow() && (type == Qt::Window || type == Qt::Dialog || type == Qt::Sheet);
}

void bringForward(QWidget* window)
{
    window->raise();
    window->activateWindow();
}

} // namespace

void AppShell::activateApplication()
{
    QWidget* front = QApplication::activeWindow();
    if (!front) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (!isPlainWindow(widget) || !widget->isVisible() || widget->isMinimized())
                continue;
            if (!front || widget->objectName().startsWith(QStringLiteral("main")))
                front = widget;
        }
    }
    if (front)
        bringForward(front);
    // A panel opened by the same action shows before this call's caller
    // returns to the event loop; later windows are no longer its.
    m_activateNextWindow = true;
    qApp->installEventFilter(this);
    QMetaObject::invokeMethod(this, [this] { m_activateNextWindow = false; }, Qt::QueuedConnection);
}

bool AppShell::eventFilter(QObject* watched, QEvent* event)
{
    if (m_activateNextWindow && event->type() == QEvent::Show) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && isPlainWindow(widget)) {
            m_activateNextWindow = false;
            // Once it is on screen: activating a window not yet shown is lost
            // on some platforms.
            QMetaObject::invokeMethod(widget, [widget] { bringForward(widget); }, Qt::QueuedConnection);
        }
    }
    if (event->type() == QEvent::Close) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->isWindow() && widget->objectName().startsWith(QStringLiteral("main")) &&
            staysInMenuBar())
            Q_EMIT enteredMenuBarMode();
    }
    return QObject::eventFilter(watched, event);
}
