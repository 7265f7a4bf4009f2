#include "Accessibility.h"

#include <QAccessibleWidget>
#include <QAction>
#include <QLineEdit>
#include <QMetaObject>
#include <QToolBar>
#include <QToolButton>

namespace {

const char* const hiddenProperty = "accessibilityHidden";
const char* const combinedProperty = "accessibilityCombined";

// A decoration: there for the eye only.
class HiddenElement : public QAccessibleWidget {
public:
    explicit HiddenElement(QWidget* widget) : QAccessibleWidget(widget) {}

    QAccessible::State state() const override
    {
        QAccessible::State hidden = QAccessibleWidget::state();
        hidden.invisible = true;
        hidden.focusable = false;
        return hidden;
    }
    QString text(QAccessible::Text) const override { return {}; }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
};

// A widget read as one text: its parts (a spinner, a label) are not
// elements of their own, so the text is read once.
class CombinedElement : public QAccessibleWidget {
public:
    explicit CombinedElement(QWidget* widget) : QAccessibleWidget(widget, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? widget()->accessibleName() : QAccessibleWidget::text(t);
    }
    int childCount() const override { return 0; }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
};

// A tool button that opens its menu at once. Qt offers it no working
// action; here its press opens the menu as a click does.
class MenuButton : public QAccessibleWidget {
public:
    explicit MenuButton(QToolButton* button) : QAccessibleWidget(button, QAccessible::ButtonMenu) {}

    QToolButton* button() const { return static_cast<QToolButton*>(widget()); }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return Accessibility::name(button()->accessibleName(), button()->text(), button()->toolTip());
        case QAccessible::Description:
            return button()->accessibleDescription().isEmpty() ? button()->toolTip() : button()->accessibleDescription();
        default:
            return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.hasPopup = true;
        s.pressed = button()->isDown();
        return s;
    }
    QStringList actionNames() const override
    {
        if (!button()->isEnabled())
            return {};
        return {pressAction(), showMenuAction()};
    }
    void doAction(const QString& action) override
    {
        if (!button()->isEnabled() || !actionNames().contains(action))
            return;
        // The menu runs its own loop; the caller gets its answer first.
        QMetaObject::invokeMethod(button(), &QToolButton::showMenu, Qt::QueuedConnection);
    }
};

QAccessibleInterface* windowInterfaces(const QString& className, QObject* object)
{
    auto* widget = qobject_cast<QWidget*>(object);
    if (!widget || className != QLatin1String(object->metaObject()->className()))
        return nullptr;
    if (Accessibility::isHidden(widget))
        return new HiddenElement(widget);
    if (widget->property(combinedProperty).toBool())
        return new CombinedElement(widget);
    auto* button = qobject_cast<QToolButton*>(widget);
    if (button && button->popupMode() == QToolButton::InstantPopup)
        return new MenuButton(button);
    return nullptr;
}

void installOnce()
{
    static const bool installed = [] {
        QAccessible::installFactory(windowInterfaces);
        return true;
    }();
    Q_UNUSED(installed)
}

// Qt may have made the widget's interface already, while it was being set
// up; the next look then asks the factories again.
void forget(QWidget* widget)
{
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace

namespace Accessibility {

QString name(const QString& label, const QString& title, const QString& help)
{
    for (const QString* text : {&label, &title, &help}) {
        if (!text->isEmpty())
            return *text;
    }
    return {};
}

void setName(QWidget* widget, const QString& label, const QString& title, const QString& help)
{
    installOnce();
    const QString chosen = name(label, title, help);
    widget->setAccessibleName(chosen);
    if (!help.isEmpty() && help != chosen)
        widget->setAccessibleDescription(help);
}

void hide(QWidget* decoration)
{
    installOnce();
    decoration->setProperty(hiddenProperty, true);
    forget(decoration);
}

void combine(QWidget* whole, const QString& name)
{
    installOnce();
    whole->setAccessibleName(name);
    whole->setProperty(combinedProperty, true);
    forget(whole);
}

void setMenu(QToolButton* button, QMenu* menu)
{
    installOnce();
    button->setPopupMode(QToolButton::InstantPopup);
    button->setMenu(menu);
    forget(button);
}

void setToolbar(QToolBar* bar, const QString& title)
{
    bar->setWindowTitle(title);
    setName(bar, {}, title);
    for (QAction* action : bar->actions()) {
        QWidget* item = bar->widgetForAction(action);
        if (!item)
            continue;
        if (action->isSeparator())
            hide(item);
        else if (qobject_cast<QToolButton*>(item))
            item->setFocusPolicy(Qt::TabFocus);
    }
}

void setFieldButtons(QLineEdit* field, const QList<QAction*>& decorations)
{
    for (QToolButton* button : field->findChildren<QToolButton*>(Qt::FindDirectChildrenOnly)) {
        if (decorations.contains(button->defaultAction()))
            hide(button);
        else
            setName(button, {}, QStringLiteral("Clear"));
    }
}

bool isHidden(const QObject* object)
{
    return object && object->property(hiddenProperty).toBool();
}

QString plainTitle(QString text)
{
    return text.replace(QLatin1String("[*]"), QLatin1String("[*][*]"));
}

} // namespace Accessibility
