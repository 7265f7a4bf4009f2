#include "AppShell.h"

#include "StoredValue.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

AppShell::AppShell(QSettings* settings, std::function<bool()> trayAvailable, QObject* parent)
    : QObject(parent), m_settings(settings), m_trayAvailable(std::move(trayAvailable))
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
            QCoreApplication::quit();
    });
    connect(qApp, &QCoreApplication::aboutToQuit, this, &AppShell::cleanUp);
    qApp->installEventFilter(this);
}

bool AppShell::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Close) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && widget->isWindow() && widget->objectName().startsWith(QStringLiteral("main")) &&
            staysInMenuBar())
            Q_EMIT enteredMenuBarMode();
    }
    return QObject::eventFilter(watched, event);
}
