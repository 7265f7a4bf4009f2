#pragma once

#include <QList>
#include <QString>

class QAction;
class QLineEdit;
class QMenu;
class QObject;
class QToolBar;
class QToolButton;
class QWidget;

// How every window speaks to screen readers and the keyboard.
//
// The one naming rule: a control's accessible name is its accessibility
// label where one is given, else its visible title, else its help text. A
// help text that is not the name is read as the description. Texts from the
// phone (folder and phone names) are plain text: no markup, no mnemonics.
// Pictures and separators that only decorate are hidden. Menu buttons open
// their menu by their press action, as a click does.
namespace Accessibility {

// The name the rule gives.
QString name(const QString& label, const QString& title, const QString& help = {});

// Names `widget` by the rule.
void setName(QWidget* widget, const QString& label, const QString& title, const QString& help = {});

// Keeps a decoration out of what a screen reader reads.
void hide(QWidget* decoration);
bool isHidden(const QObject* object);

// Makes `whole` one element read as `name`; its children are not read on
// their own.
void combine(QWidget* whole, const QString& name);

// Gives `button` the menu it opens at once, by a click or by its press action.
void setMenu(QToolButton* button, QMenu* menu);

// Names a toolbar by its title and lets Tab reach its buttons; its
// separators only arrange them.
void setToolbar(QToolBar* bar, const QString& title);

// A text field's own buttons: those of `decorations` (a magnifier) are
// hidden, the one that appears with a text is "Clear".
void setFieldButtons(QLineEdit* field, const QList<QAction*>& decorations = {});

// A window title that shows `text` as it is ("[*]" is Qt's placeholder).
QString plainTitle(QString text);

} // namespace Accessibility
