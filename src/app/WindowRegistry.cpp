#include "WindowRegistry.h"

#include "SurfaceAhead.h"

WindowRegistry::WindowRegistry(QObject* parent) : QObject(parent) {}

void WindowRegistry::define(const QString& identifier, const QString& title, QSize defaultSize, Factory factory)
{
    Scene& scene = m_scenes[identifier];
    scene.title = title;
    scene.size = defaultSize;
    scene.factory = std::move(factory);
}

bool WindowRegistry::isDefined(const QString& identifier) const
{
    return m_scenes.contains(identifier);
}

bool WindowRegistry::canOpen(const QString& identifier) const
{
    auto it = m_scenes.constFind(identifier);
    return it != m_scenes.constEnd() && (it->window || it->factory);
}

QWidget* WindowRegistry::window(const QString& identifier) const
{
    auto it = m_scenes.constFind(identifier);
    return it == m_scenes.constEnd() ? nullptr : it->window.data();
}

QWidget* WindowRegistry::open(const QString& identifier)
{
    auto it = m_scenes.find(identifier);
    if (it == m_scenes.end())
        return nullptr;
    Scene& scene = *it;
    if (!scene.window) {
        if (!scene.factory)
            return nullptr;
        QWidget* window = scene.factory();
        if (!window)
            return nullptr;
        // The identifier travels with the window (the closing rule reads it).
        window->setObjectName(identifier);
        window->setAttribute(Qt::WA_DeleteOnClose);
        if (window->windowTitle().isEmpty())
            window->setWindowTitle(scene.title);
        window->resize(scene.size);
        scene.window = window;
        Q_EMIT windowOpened(identifier, window);
        // The kernel hands out the pages of its backing store on a worker
        // while it is shown, instead of one fault at a time in its first paint.
        if (scene.window)
            SurfaceAhead::prepare(scene.window);
    }
    scene.window->show();
    scene.window->raise();
    scene.window->activateWindow();
    return scene.window;
}
