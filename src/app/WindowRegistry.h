#pragma once

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

// Opens the application's windows by identifier, one window per identifier:
// opening one that is open brings it forward.
class WindowRegistry : public QObject {
    Q_OBJECT
public:
    using Factory = std::function<QWidget*()>;

    explicit WindowRegistry(QObject* parent = nullptr);

    // Registers how to make the window; a window without a factory cannot be
    // opened yet.
    void define(const QString& identifier, const QString& title, QSize defaultSize, Factory factory);
    bool isDefined(const QString& identifier) const;
    bool canOpen(const QString& identifier) const;

    // Returns the window, or nullptr when it cannot be made.
    QWidget* open(const QString& identifier);
    // The window when it is open.
    QWidget* window(const QString& identifier) const;

Q_SIGNALS:
    void windowOpened(const QString& identifier, QWidget* window);

private:
    struct Scene {
        QString title;
        QSize size;
        Factory factory;
        QPointer<QWidget> window;
    };
    QHash<QString, Scene> m_scenes;
};
