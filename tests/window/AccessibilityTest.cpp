// The main window through a screen reader's eyes (QAccessible) and by
// keyboard alone.

#include "BrowserModel.h"
#include "ContentView.h"
#include "DetailView.h"
#include "FileListView.h"
#include "PathBar.h"
#include "Sidebar.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>

#include <gtest/gtest.h>

#include <algorithm>

using namespace windowtest;

namespace {

QAccessibleInterface* access(QObject* object)
{
    return QAccessible::queryAccessibleInterface(object);
}

QString nameOf(QObject* object)
{
    return access(object)->text(QAccessible::Name);
}

// Controls a screen reader would announce without a name: focusable ones,
// pictures and separators, and the phone drawings. Table cells are items.
void listUnnamed(QAccessibleInterface* node, QStringList& found)
{
    if (!node || node->state().invisible)
        return;
    const QAccessible::Role role = node->role();
    const bool drawing = node->object() && node->object()->inherits("PhoneFrame");
    if (qobject_cast<QWidget*>(node->object()) && node->text(QAccessible::Name).isEmpty() &&
        (node->state().focusable || role == QAccessible::Graphic || role == QAccessible::Separator || drawing))
        found.append(QString::fromLatin1(node->object()->metaObject()->className()) + QLatin1Char(' ') +
                     node->object()->objectName());
    if (role == QAccessible::Table)
        return;
    for (int i = 0; i < node->childCount(); ++i)
        listUnnamed(node->child(i), found);
}

// The visible children of `object`'s element, and their names.
QList<QAccessibleInterface*> shown(QObject* object)
{
    QList<QAccessibleInterface*> children;
    QAccessibleInterface* parent = access(object);
    for (int i = 0; i < parent->childCount(); ++i) {
        if (!parent->child(i)->state().invisible)
            children.append(parent->child(i));
    }
    return children;
}

QStringList names(const QList<QAccessibleInterface*>& nodes, bool selectedOnly = false)
{
    QStringList found;
    for (QAccessibleInterface* node : nodes) {
        if (!selectedOnly || node->state().selected)
            found.append(node->text(QAccessible::Name));
    }
    return found;
}

class Accessibility : public WindowTest {
protected:
    // "Pixel 7" (A1, chosen) and "Moto" (B2), ready; /sdcard/Music on A1 holds Albums and Podcasts.
    void readyPhones()
    {
        adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"), QStringLiteral("device"),
                                                                    QStringLiteral("Moto"))});
        for (const QString& serial : {QStringLiteral("A1"), QStringLiteral("B2")})
            adb->phone(serial)->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("Music"))});
        adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Music"),
                                                    {folder(QStringLiteral("Albums")), folder(QStringLiteral("Podcasts"))});
        adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Music/Podcasts"), {});
        pass();
        model().setSelectedSerial(QStringLiteral("A1"));
        settle();
    }
    void press(ContentView& view, const QString& name)
    {
        for (QAccessibleInterface* item : shown(view.sidebar()->list())) {
            if (item->text(QAccessible::Name) == name) {
                // What a click does is the default action.
                ASSERT_EQ(item->actionInterface()->actionNames().value(0), QAccessibleActionInterface::pressAction());
                item->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
                settle();
                return;
            }
        }
        ADD_FAILURE() << "no item " << name.toStdString();
    }
};

} // namespace

TEST_F(Accessibility, SidebarPlacesAndPhonesAreListItemsThatOpenAndChooseByTheirPress)
{
    ContentView& view = window(fullEnvironment());
    readyPhones();
    EXPECT_EQ(access(view.sidebar()->list())->role(), QAccessible::List);
    // Read in the order shown, the places and phones as items.
    const QList<QAccessibleInterface*> read = shown(view.sidebar()->list());
    EXPECT_EQ(names(read), (QStringList{"Locations", "Internal Storage", "Camera", "Screenshots", "Pictures", "Downloads",
                                        "Documents", "Music", "Movies", "Devices", "Pixel 7", "Moto",
                                        "Connect over Wi-Fi…"}));
    EXPECT_EQ(std::count_if(read.begin(), read.end(), [](auto* item) { return item->role() == QAccessible::ListItem; }),
              10);
    EXPECT_EQ(names(shown(view.sidebar()->list()), true), (QStringList{"Internal Storage", "Pixel 7"}));

    press(view, QStringLiteral("Music"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    EXPECT_EQ(names(shown(view.sidebar()->list()), true), (QStringList{"Music", "Pixel 7"}));

    press(view, QStringLiteral("Moto"));
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("B2"));
    EXPECT_EQ(names(shown(view.sidebar()->list()), true), (QStringList{"Internal Storage", "Moto"}));
}

TEST_F(Accessibility, ControlsAreNamedByTheirLabelElseTitleElseHelp)
{
    ContentView& view = window(fullEnvironment());
    readyPhones();
    auto* bar = view.findChild<QToolBar*>(QStringLiteral("toolbar"));
    FileListView* list = view.findChild<FileListView*>();
    const QList<std::pair<QObject*, QString>> cases = {
        {view.searchField(), QStringLiteral("Search this folder")},
        {list, QStringLiteral("Internal Storage")},
        {bar->widgetForAction(view.backAction()), QStringLiteral("Back")},
        {bar->widgetForAction(view.iconsAction()), QStringLiteral("Icons")},
        {bar->widgetForAction(view.copyToPhoneAction()), QStringLiteral("Copy to Phone")},
        {bar->findChild<QToolButton*>(QStringLiteral("More")), QStringLiteral("More")},
        {view.moreMenu(), QStringLiteral("More")},
    };
    for (const auto& [object, name] : cases)
        EXPECT_EQ(nameOf(object), name);
    EXPECT_EQ(access(bar->findChild<QToolButton*>(QStringLiteral("More")))->text(QAccessible::Description),
              QStringLiteral("More actions"));

    go(QStringLiteral("/sdcard/Music"));
    EXPECT_EQ(nameOf(list), QStringLiteral("Music"));
    // The magnifier only decorates; the button that appears with a text clears it.
    EXPECT_EQ(names(shown(view.searchField())), QStringList());
    view.searchField()->setText(QStringLiteral("a"));
    EXPECT_EQ(names(shown(view.searchField())), QStringList{QStringLiteral("Clear")});
}

TEST_F(Accessibility, MoreOpensItsMenuByItsPressAndShowHiddenFilesIsACheckMarkItem)
{
    ContentView& view = window(fullEnvironment());
    QAccessibleInterface* more = access(view.findChild<QToolButton*>(QStringLiteral("More")));
    EXPECT_EQ(more->role(), QAccessible::ButtonMenu);
    QMenu* shown = view.moreMenu();
    for (const QString& action :
         {QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::showMenuAction()}) {
        EXPECT_TRUE(more->actionInterface()->actionNames().contains(action)) << action.toStdString();
        bool opened = false;
        // The menu runs its own loop; it is closed from inside once shown.
        const QMetaObject::Connection watch = QObject::connect(shown, &QMenu::aboutToShow, shown, [&] {
            opened = true;
            QTimer::singleShot(0, shown, &QWidget::close);
        });
        more->actionInterface()->doAction(action);
        for (int i = 0; i < 50 && !opened; ++i)
            QTest::qWait(10);
        QObject::disconnect(watch);
        EXPECT_TRUE(opened) << action.toStdString();
    }

    QAccessibleInterface* menu = access(view.moreMenu());
    QAccessibleInterface* hidden = menu->child(menu->childCount() - 1);
    ASSERT_EQ(hidden->text(QAccessible::Name), QStringLiteral("Show Hidden Files"));
    EXPECT_EQ(hidden->role(), QAccessible::MenuItem);
    EXPECT_TRUE(hidden->state().checkable);
    EXPECT_FALSE(hidden->state().checked);
    model().setShowHidden(true);
    EXPECT_TRUE(hidden->state().checked);
}

TEST_F(Accessibility, NoFocusableControlPictureOrSeparatorGoesUnnamed)
{
    ContentView& view = window(fullEnvironment());
    const QList<std::pair<const char*, std::function<void()>>> states = {
        {"no phone", [] {}},
        {"a folder", [this] { readyPhones(); }},
        {"an empty folder", [this] { go(QStringLiteral("/sdcard/Movies")); }},
        {"a phone asking", [this] { adbPhoneIn(QStringLiteral("unauthorized")); }},
    };
    for (const auto& [name, reach] : states) {
        reach();
        QStringList unnamed;
        listUnnamed(access(&view), unnamed);
        EXPECT_EQ(unnamed, QStringList()) << name;
    }
}

TEST_F(Accessibility, NamesFromThePhoneReadAsTheyShow)
{
    const QString odd = QStringLiteral("<b>R&D [*]");
    ContentView& view = window(fullEnvironment());
    adbPhoneIn(QStringLiteral("unauthorized"));
    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized"), odd)});
    pass();
    EXPECT_EQ(names(shown(view.sidebar()->list())), (QStringList{"Devices", odd, "Connect over Wi-Fi…"}));
    EXPECT_TRUE(nameOf(view.detail()->findChild<QWidget*>(QStringLiteral("detail")))
                    .startsWith(QStringLiteral("Unlock ") + odd + QStringLiteral(" and")));

    adbPhoneIn(QStringLiteral("device"));
    go(QStringLiteral("/sdcard/") + odd);
    EXPECT_EQ(nameOf(&view), odd);
    EXPECT_EQ(nameOf(view.findChild<FileListView*>()), odd);
}

TEST_F(Accessibility, TabGoesSidebarToolbarSearchListAndArrowsWithReturnOpenAPlaceThenAFolder)
{
    // Made with the browser already there: its list is older than the toolbar.
    readyPhones();
    ContentView& view = window(fullEnvironment());
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    auto* bar = view.findChild<QToolBar*>(QStringLiteral("toolbar"));
    FileListView* list = view.findChild<FileListView*>();
    const auto region = [&](QWidget* widget) -> QString {
        if (view.sidebar()->isAncestorOf(widget))
            return QStringLiteral("sidebar");
        if (widget == view.searchField())
            return QStringLiteral("search");
        if (bar->isAncestorOf(widget))
            return QStringLiteral("toolbar");
        if (qobject_cast<PathSegment*>(widget))
            return QStringLiteral("path");
        return widget == list ? QStringLiteral("list") : QStringLiteral("other");
    };
    const auto key = [](int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key(code), modifiers);
    };

    ASSERT_EQ(QApplication::focusWidget(), view.sidebar()->list());
    QStringList regions{QStringLiteral("sidebar")};
    for (int i = 0; i < 30 && QApplication::focusWidget() != list; ++i) {
        key(Qt::Key_Tab);
        if (regions.last() != region(QApplication::focusWidget()))
            regions.append(region(QApplication::focusWidget()));
    }
    EXPECT_EQ(regions, (QStringList{"sidebar", "toolbar", "search", "path", "list"}));
    key(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), view.sidebar()->list());
    key(Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(QApplication::focusWidget(), list);

    view.sidebar()->list()->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 6; ++i)
        key(Qt::Key_Down);
    key(Qt::Key_Return);
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    list->setFocus(Qt::TabFocusReason);
    key(Qt::Key_Down);
    key(Qt::Key_Return);
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music/Podcasts"));
}
