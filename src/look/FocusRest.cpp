#include "FocusRest.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QWidget>

namespace {

// Watches the application's focus and the controls' enabling.
class Keeper final : public QObject {
public:
    explicit Keeper(QApplication* app) : QObject(app)
    {
        connect(app, &QApplication::focusChanged, this, &Keeper::focusChanged);
        app->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (!watched->isWidgetType())
            return false;
        auto* widget = static_cast<QWidget*>(watched);
        switch (event->type()) {
        case QEvent::EnabledChange:
            enabledChanged(widget);
            break;
        case QEvent::Hide:
            if (!event->spontaneous())
                hidden(widget);
            break;
        case QEvent::Show:
            if (!event->spontaneous())
                cameBack(widget);
            break;
        default:
            break;
        }
        return false;
    }

private:
    // A widget remembered for a window.
    struct Held {
        QPointer<QWidget> window;
        QPointer<QWidget> widget;
    };

    static QWidget* find(QList<Held>& list, const QWidget* window)
    {
        list.removeIf([](const Held& held) { return !held.window; });
        for (const Held& held : std::as_const(list)) {
            if (held.window == window)
                return held.widget;
        }
        return nullptr;
    }
    static void remember(QList<Held>& list, QWidget* window, QWidget* widget)
    {
        find(list, window);
        for (Held& held : list) {
            if (held.window == window) {
                held.widget = widget;
                return;
            }
        }
        list.append(Held{window, widget});
    }

    // The focus goes to the window, for `control` that lost it by being
    // disabled or hidden.
    void park(QWidget* window, QWidget* control)
    {
        remember(m_parked, window, control);
        remember(m_left, window, window);
        if (window->focusWidget() != window)
            window->setFocus(Qt::OtherFocusReason);
    }

    void focusChanged(QWidget* old, QWidget* now)
    {
        if (!old)
            return;
        QWidget* window = old->window();
        // A disabled or hidden widget can't take the focus: one that loses it
        // so was disabled or hidden while holding it, and Qt handed it on.
        // (A window going away hides all of it: that is no hand-on.)
        const bool handedOn = !old->isEnabled() || (!old->isVisible() && window->isVisible());
        if (handedOn && (!now || now->window() == window)) {
            if (window->isEnabled() && window->isVisible())
                park(window, old);
            return;
        }
        // The window goes to the back: what held its focus, which Qt may
        // hand on without a word while it is there.
        if (!now || now->window() != window)
            remember(m_left, window, old);
    }

    void enabledChanged(QWidget* widget)
    {
        QWidget* window = widget->window();
        if (widget == window || !window->isVisible())
            return;
        if (!widget->isEnabled()) {
            // In the front window the focus change told of it already.
            if (window->isActiveWindow())
                return;
            QWidget* left = find(m_left, window);
            if (left && left != window && (left == widget || widget->isAncestorOf(left)) &&
                window->focusWidget() != left)
                park(window, left);
            return;
        }
        cameBack(widget);
    }

    void hidden(QWidget* widget)
    {
        QWidget* window = widget->window();
        // In the front window Qt hands the focus on, and the focus change
        // tells of it. A window in the back keeps the hidden control as its
        // focus, which Qt passes over for the next one once it comes to the front.
        if (widget == window || !window->isVisible() || window->isActiveWindow())
            return;
        QWidget* holder = window->focusWidget();
        if (holder && holder != window && (holder == widget || widget->isAncestorOf(holder)))
            park(window, holder);
    }

    // The control the focus left is enabled or shown again: so comes the
    // focus back, unless it has gone elsewhere meanwhile.
    void cameBack(QWidget* widget)
    {
        QWidget* window = widget->window();
        if (widget == window || !window->isVisible())
            return;
        QWidget* parked = find(m_parked, window);
        if (!parked || !(parked == widget || widget->isAncestorOf(parked)) || !parked->isEnabled() ||
            !parked->isVisible())
            return;
        remember(m_parked, window, nullptr);
        if (window->focusWidget() == window)
            parked->setFocus(Qt::OtherFocusReason);
    }

    QList<Held> m_left;
    QList<Held> m_parked;
};

QPointer<Keeper> keeper;

} // namespace

namespace FocusRest {

void install()
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (keeper || !app)
        return;
    keeper = new Keeper(app);
}

} // namespace FocusRest
