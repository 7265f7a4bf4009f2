// The icon grid (its columns, clicks, menus and folder drop targets), the
// path bar's segments and drops, and the status line.

#include "BrowserModel.h"
#include "BrowserPane.h"
#include "Digits.h"
#include "DetailView.h"
#include "DropOverlay.h"
#include "EntryMenu.h"
#include "FileGridView.h"
#include "OwnDrag.h"
#include "PathBar.h"
#include "StatusBar.h"
#include "WindowFixture.h"

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDrag>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QToolTip>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>

using namespace windowtest;

namespace {

// Drags and drops these URLs at `point` of `target`, as the platform
// delivers them; whether the drop was taken.
bool drop(QWidget* target, QPoint point, const QList<QUrl>& urls, bool* entered = nullptr)
{
    QMimeData data;
    data.setUrls(urls);
    const Qt::DropActions offered = Qt::MoveAction | Qt::CopyAction;
    QDragEnterEvent enter(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (entered)
        *entered = enter.isAccepted();
    QDragMoveEvent move(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &move);
    QDropEvent dropped(point, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &dropped);
    return dropped.isAccepted();
}

// One drag from another application through the window's own event path,
// as the platform hands it over: the window gets one enter, then a move at
// every step, then the drop; the window passes them on to its widgets.
class WindowDrag {
public:
    WindowDrag(QWidget* window, const QList<QUrl>& urls) : m_window(window->windowHandle()) { m_data.setUrls(urls); }
    ~WindowDrag()
    {
        if (m_entered && !m_ended) {
            QDragLeaveEvent leave;
            QCoreApplication::sendEvent(m_window, &leave);
        }
    }
    // Moves to `point` of `widget`, entering the window on the first step.
    void moveTo(QWidget* widget, QPoint point)
    {
        const QPoint at = widget->mapTo(widget->window(), point);
        if (!m_entered) {
            m_entered = true;
            QDragEnterEvent enter(at, offered, &m_data, Qt::LeftButton, Qt::NoModifier);
            QCoreApplication::sendEvent(m_window, &enter);
            m_action = enter.isAccepted() ? enter.dropAction() : Qt::IgnoreAction;
        }
        QDragMoveEvent move(at, offered, &m_data, Qt::LeftButton, Qt::NoModifier);
        // The last answer stands until a widget says otherwise.
        if (m_action != Qt::IgnoreAction) {
            move.setDropAction(m_action);
            move.accept();
        }
        QCoreApplication::sendEvent(m_window, &move);
        m_action = move.isAccepted() ? move.dropAction() : Qt::IgnoreAction;
        m_last = at;
    }
    // Whether the window would take the drop where the pointer is now.
    bool accepted() const { return m_action != Qt::IgnoreAction; }
    // Drops where the last move ended; whether it was taken as a copy.
    bool drop()
    {
        m_ended = true;
        QDropEvent dropped(m_last, offered, &m_data, Qt::LeftButton, Qt::NoModifier);
        if (m_action != Qt::IgnoreAction)
            dropped.setDropAction(m_action);
        QCoreApplication::sendEvent(m_window, &dropped);
        return dropped.isAccepted() && dropped.dropAction() == Qt::CopyAction;
    }

private:
    static constexpr Qt::DropActions offered = Qt::MoveAction | Qt::CopyAction;
    QWindow* m_window;
    QMimeData m_data;
    QPoint m_last;
    Qt::DropAction m_action = Qt::IgnoreAction;
    bool m_entered = false;
    bool m_ended = false;
};

const QUrl one = QUrl::fromLocalFile(u"/tmp/one.jpg"_s), two = QUrl::fromLocalFile(u"/tmp/two.jpg"_s),
           web = QUrl(u"https://example.com/a"_s);

class GridAndBars : public WindowTest {
protected:
    void SetUp() override
    {
        adbPhoneIn(u"device"_s, {folder(u"DCIM"_s), file(u"a.jpg"_s, 10), file(u"b.txt"_s, 20), file(u".hidden"_s)});
        // A copy into it reads what it holds first.
        adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {});
        model().setViewMode(ViewMode::grid);
        m_pane = &show<DetailView>(fullEnvironment(), QSize(700, 500));
        ASSERT_TRUE(m_pane->browser());
    }
    FileGridView& grid() { return *m_pane->browser()->grid(); }
    // The centre of the tile of `name`; an empty name is the space below the tiles.
    QPoint at(const QString& name)
    {
        const QList<RemoteEntry>& shown = model().visibleEntries();
        for (int index = 0; index < shown.size(); ++index) {
            if (shown[index].name == name)
                return grid().tileRect(index).center();
        }
        return QPoint(5, 480);
    }
    // Copies to the phone as "push SOURCE FOLDER/": the file made in that folder under its own name.
    int pushes(const char* call)
    {
        const QStringList parts = QString::fromUtf8(call).split(u' ');
        return adb->phone(u"A1"_s)->sent(parts[1], parts[2] + parts[1].section(u'/', -1));
    }

    DetailView* m_pane = nullptr;
};

TEST_F(GridAndBars, ClicksSelectToggleAndClear)
{
    const std::tuple<const char*, Qt::KeyboardModifiers, QSet<QString>> steps[] = {
        {"a.jpg", {}, {"a.jpg"}},
        {"b.txt", Qt::ControlModifier, {"a.jpg", "b.txt"}},
        {"a.jpg", Qt::ControlModifier, {"b.txt"}},
        {"DCIM", Qt::ShiftModifier, {"b.txt", "DCIM"}}, // no range
        {"DCIM", {}, {"DCIM"}},
        {"", {}, {}},
    };
    for (const auto& [name, modifiers, selection] : steps) {
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, modifiers, at(QString::fromUtf8(name)));
        EXPECT_EQ(model().selection(), selection) << name;
    }
    QTest::mouseDClick(grid().viewport(), Qt::LeftButton, {}, at(u"DCIM"_s));
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/DCIM"_s);
}

// Mended: in the grid, arrow keys chose nothing and Return opened nothing, so
// a keyboard alone could not work in the icon view.
TEST_F(GridAndBars, ArrowsChooseTilesAndReturnOpensTheChosenFolder)
{
    grid().setFocus();
    const std::pair<Qt::Key, QSet<QString>> steps[] = {
        {Qt::Key_Right, {u"DCIM"_s}}, // nothing chosen yet: the first tile
        {Qt::Key_Right, {u"a.jpg"_s}},
        {Qt::Key_Right, {u"b.txt"_s}},
        {Qt::Key_Right, {u"b.txt"_s}}, // the last tile stays
        {Qt::Key_Down, {u"b.txt"_s}},  // one row: nothing below
        {Qt::Key_Left, {u"a.jpg"_s}},
        {Qt::Key_Up, {u"a.jpg"_s}},
        {Qt::Key_Left, {u"DCIM"_s}},
        {Qt::Key_Left, {u"DCIM"_s}},
    };
    for (const auto& [key, selection] : steps) {
        QTest::keyClick(&grid(), key);
        EXPECT_EQ(model().selection(), selection) << key;
    }
    QTest::keyClick(&grid(), Qt::Key_Return);
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/DCIM"_s);
}

// Mended: the grid ignored Ctrl+A, Home, End, Page Up and Page Down, which
// the list takes.
TEST_F(GridAndBars, SelectAllHomeEndAndPagesChooseAsInTheList)
{
    QList<RemoteEntry> many{file(u".hidden"_s)};
    for (int i = 0; i < 40; ++i)
        many.append(file(u"f"_s + QString::number(100 + i)));
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, many);
    reload();
    const QList<RemoteEntry>& shown = model().visibleEntries();
    ASSERT_EQ(shown.size(), 40);
    const int columns = grid().gridLayout().columns;
    const int page = columns * std::max(1, grid().viewport()->height() / (GridLayout::tileHeight + GridLayout::rowGap));
    ASSERT_LT(page, 20);
    grid().setFocus();
    const std::pair<Qt::Key, int> steps[] = {
        {Qt::Key_End, 39}, {Qt::Key_PageUp, 39 - page}, {Qt::Key_Home, 0}, {Qt::Key_PageDown, page},
        {Qt::Key_PageUp, 0}, {Qt::Key_PageUp, 0},
    };
    for (const auto& [key, index] : steps) {
        QTest::keyClick(&grid(), key);
        EXPECT_EQ(model().selection(), QSet<QString>{shown[index].name}) << key;
    }
    // Every tile shown; a selected entry the search hides stays selected.
    model().setSearchText(u"f12"_s);
    model().setSelection({u"f100"_s});
    QTest::keyClick(&grid(), Qt::Key_A, Qt::ControlModifier);
    QSet<QString> all{u"f100"_s};
    for (int i = 120; i < 130; ++i)
        all.insert(u"f"_s + QString::number(i));
    EXPECT_EQ(model().selection(), all);
}

// Mended: Backspace asked to delete, Delete the default answer.
TEST_F(GridAndBars, BackspaceDeletesNothingOnlyDeleteAsks)
{
    model().setSelection({u"a.jpg"_s});
    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Backspace);
    settle();
    EXPECT_TRUE(desktop->questions.isEmpty());
    QTest::keyClick(&grid(), Qt::Key_Delete);
    EXPECT_EQ(desktop->questions.size(), 1);
}

// Mended: with a selected entry hidden by the search the line read "2 of 1 selected".
TEST_F(GridAndBars, TheStatusLineCountsNoMoreSelectedThanItems)
{
    StatusBar bar(&model());
    model().setSelection({u"a.jpg"_s, u"b.txt"_s});
    model().setSearchText(u"b.t"_s);
    EXPECT_TRUE(bar.text().startsWith(u"2 of 2 selected"_s)) << bar.text().toStdString();
    model().setSearchText({});
    EXPECT_TRUE(bar.text().startsWith(u"2 of 3 selected"_s)) << bar.text().toStdString();
}

TEST_F(GridAndBars, MenusActOnTheSelectionTheTileAloneOrTheFolder)
{
    model().setSelection({u"a.jpg"_s, u"b.txt"_s});
    EXPECT_EQ(std::unique_ptr<EntryMenu>(grid().menuAt(at(u"b.txt"_s)))->items().size(), 2);
    EXPECT_EQ(std::unique_ptr<EntryMenu>(grid().menuAt(at(u"DCIM"_s)))->items(), QList<RemoteEntry>{folder(u"DCIM"_s)});
    EXPECT_TRUE(std::unique_ptr<EntryMenu>(grid().menuAt(at({})))->items().isEmpty());
    EXPECT_EQ(model().selection().size(), 2);
    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Delete);
    EXPECT_EQ(desktop->questions.size(), 1);
}

// Mended: the menu key (and Shift+F10) opened the folder's menu (New
// Folder, Copy to Phone…) whatever was chosen, so a keyboard alone never
// reached an item's own commands (Copy Path). It opens the chosen tiles' menu.
TEST_F(GridAndBars, TheMenuKeyOpensTheChosenTilesMenu)
{
    const struct {
        const char* what;
        std::function<void()> choose;
        QStringList items;
        QString title;
    } cases[] = {
        {"nothing chosen: the folder's", [this] { model().setSelection({}); }, {}, u"Internal Storage"_s},
        {"one chosen by the arrows",
         [this] {
             model().setSelection({});
             QTest::keyClick(&grid(), Qt::Key_Right);
             QTest::keyClick(&grid(), Qt::Key_Right);
         },
         {u"a.jpg"_s}, u"a.jpg"_s},
        {"two chosen by clicks, the last clicked named",
         [this] {
             QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, at(u"DCIM"_s));
             QTest::mouseClick(grid().viewport(), Qt::LeftButton, Qt::ControlModifier, at(u"b.txt"_s));
         },
         {u"DCIM"_s, u"b.txt"_s}, u"b.txt"_s},
    };
    // The platform turns the menu key into a keyboard's menu event.
    const std::pair<const char*, std::function<void()>> keys[] = {
        {"Menu",
         [this] {
             QContextMenuEvent event(QContextMenuEvent::Keyboard, grid().rect().center(),
                                     grid().mapToGlobal(grid().rect().center()));
             QCoreApplication::sendEvent(&grid(), &event);
         }},
        {"Shift+F10", [this] { QTest::keyClick(&grid(), Qt::Key_F10, Qt::ShiftModifier); }},
    };
    grid().setFocus();
    for (const auto& [key, press] : keys) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(key) + ", " + c.what);
            c.choose();
            press();
            const QList<EntryMenu*> menus = grid().findChildren<EntryMenu*>();
            ASSERT_EQ(menus.size(), 1);
            QStringList items;
            for (const RemoteEntry& entry : menus.first()->items())
                items.append(entry.name);
            items.sort();
            QStringList expected = c.items;
            expected.sort();
            EXPECT_EQ(items, expected);
            EXPECT_EQ(menus.first()->accessibleName(), c.title);
            delete menus.first();
        }
    }
}

// Mended: nothing showed which tile the keyboard was on, and the arrows went
// on from the last chosen tile whichever was clicked last. The tile is
// ringed while the grid has the keyboard (with none chosen, the first, where
// the arrows start), and the arrows go on from it, as the list's go on from
// its current row.
TEST_F(GridAndBars, TheKeyboardsTileIsRingedAndTheArrowsGoOnFromIt)
{
    // Where the grid looks different with the keyboard than without.
    const auto ring = [this] {
        grid().clearFocus();
        const QImage without = grid().viewport()->grab().toImage();
        grid().setFocus();
        const QImage with = grid().viewport()->grab().toImage();
        QRect changed;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) != without.pixel(x, y))
                    changed |= QRect(x, y, 1, 1);
            }
        }
        return changed;
    };
    model().setSelection({});
    QRect ringed = ring();
    EXPECT_FALSE(ringed.isEmpty());
    EXPECT_TRUE(grid().tileRect(0).contains(ringed)) << ringed.x() << ',' << ringed.y();

    QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, at(u"b.txt"_s));
    QTest::mouseClick(grid().viewport(), Qt::LeftButton, Qt::ControlModifier, at(u"DCIM"_s));
    QTest::keyClick(&grid(), Qt::Key_Right);
    EXPECT_EQ(model().selection(), QSet<QString>{u"a.jpg"_s});
    ringed = ring();
    EXPECT_FALSE(ringed.isEmpty());
    EXPECT_TRUE(QRect(at(u"a.jpg"_s) - QPoint(60, 60), QSize(120, 120)).contains(ringed.center()));
}

// Mended: to a screen reader the grid held its folder's name and an unnamed
// viewport, and the arrows announced nothing. Each tile is an item with its
// name, chosen and keyboard states, and a press that chooses it.
TEST_F(GridAndBars, AScreenReaderFindsEachTileAndWhichIsChosen)
{
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&grid());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->role(), QAccessible::List);
    EXPECT_EQ(list->text(QAccessible::Name), u"Internal Storage"_s);
    const QList<RemoteEntry>& shown = model().visibleEntries();
    ASSERT_EQ(list->childCount(), shown.size());
    for (int index = 0; index < shown.size(); ++index) {
        QAccessibleInterface* tile = list->child(index);
        ASSERT_TRUE(tile);
        EXPECT_EQ(tile->role(), QAccessible::ListItem);
        EXPECT_EQ(tile->text(QAccessible::Name), shown[index].name);
        EXPECT_EQ(tile->parent(), list);
        EXPECT_EQ(list->indexOfChild(tile), index);
        EXPECT_EQ(list->childAt(tile->rect().center().x(), tile->rect().center().y()), tile);
        EXPECT_FALSE(tile->state().selected);
    }
    const auto tileNamed = [list](const QString& name) -> QAccessibleInterface* {
        for (int index = 0; index < list->childCount(); ++index) {
            if (list->child(index)->text(QAccessible::Name) == name)
                return list->child(index);
        }
        return nullptr;
    };

    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Right);
    QTest::keyClick(&grid(), Qt::Key_Right);
    QAccessibleInterface* chosen = tileNamed(u"a.jpg"_s);
    ASSERT_TRUE(chosen);
    EXPECT_TRUE(chosen->state().selected);
    EXPECT_TRUE(chosen->state().focused);
    EXPECT_FALSE(tileNamed(u"DCIM"_s)->state().focused);
    EXPECT_EQ(list->focusChild(), chosen);

    // The press chooses as a click does.
    QAccessibleInterface* other = tileNamed(u"b.txt"_s);
    ASSERT_TRUE(other->actionInterface());
    other->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(model().selection(), QSet<QString>{u"b.txt"_s});
    EXPECT_EQ(list->focusChild(), other);

    // Another listing makes new tiles; the old ones stand for nothing.
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u"z.png"_s)});
    reload();
    EXPECT_FALSE(other->isValid());
    ASSERT_EQ(list->childCount(), 1);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), u"z.png"_s);
}

TEST_F(GridAndBars, FolderTilesTakeDropsIntoTheirFolderOthersLeaveThemToThePane)
{
    QWidget* viewport = grid().viewport();
    EXPECT_TRUE(drop(viewport, at(u"DCIM"_s), {one, two}));
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/DCIM/") + pushes("push /tmp/two.jpg /sdcard/DCIM/"), 2);
    EXPECT_TRUE(drop(viewport, at(u"a.jpg"_s), {one, two}));
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/"), 1);
    EXPECT_FALSE(drop(viewport, at(u"DCIM"_s), {web}));
    EXPECT_EQ(grid().dropTarget(), -1);
}

// Mended: a drop handed its copy to the model after the drop had ended, and
// the model took the phone shown by then: a phone switch or folder change
// queued before it (a poll's answer) sent the files to the other phone, into
// the folder named on the first, or into another folder. Now a drop goes
// where it was dropped, or nowhere with a word.
TEST_F(GridAndBars, ADropGoesOnlyToThePhoneAndFolderItWasDroppedOn)
{
    adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"A2"_s)});
    adb->phone(u"A2"_s)->setFolder(u"/sdcard"_s, {folder(u"DCIM"_s), file(u"a.jpg"_s, 10)});
    adb->phone(u"A2"_s)->setFolder(u"/sdcard/DCIM"_s, {});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {});
    pass();
    const auto otherPhone = [&] { model().setSelectedSerial(u"A2"_s); };
    const auto otherFolder = [&] { model().navigate(u"/sdcard/DCIM"_s); };
    const QString phoneChanged = u"Nothing was copied: the phone shown changed before you answered."_s;
    const QString folderChanged = u"Nothing was copied: the phone or folder shown changed before you answered."_s;
    const auto onTile = [&](const QString& name) { return std::pair<QWidget*, QPoint>(grid().viewport(), at(name)); };
    const auto onTop = [&] {
        PathSegment* top = m_pane->browser()->pathBar()->segments().first();
        return std::pair<QWidget*, QPoint>(top, top->rect().center());
    };
    const struct { const char* what; QString shown; std::function<std::pair<QWidget*, QPoint>()> target;
                   std::function<void()> meanwhile; QString error; } cases[] = {
        {"folder tile, other phone", u"/sdcard"_s, [&] { return onTile(u"DCIM"_s); }, otherPhone, phoneChanged},
        {"file area, other phone", u"/sdcard"_s, [&] { return onTile(u"a.jpg"_s); }, otherPhone, folderChanged},
        {"file area, other folder", u"/sdcard"_s, [&] { return onTile(u"a.jpg"_s); }, otherFolder, folderChanged},
        {"path segment, other phone", u"/sdcard/DCIM"_s, onTop, otherPhone, phoneChanged},
    };
    for (const auto& c : cases) {
        model().setSelectedSerial(u"A1"_s);
        go(c.shown);
        model().setErrorMessage(std::nullopt);
        const auto [widget, point] = c.target();
        QMetaObject::invokeMethod(&model(), c.meanwhile, Qt::QueuedConnection);
        EXPECT_TRUE(drop(widget, point, {one})) << c.what;
        settle();
        EXPECT_EQ(model().errorMessage().value_or(QString()), c.error) << c.what;
        for (const QString& serial : {u"A1"_s, u"A2"_s})
            EXPECT_EQ(adb->phone(serial)->callsStartingWith(u"push "_s), 0) << c.what << " on " << serial.toStdString();
    }
}

// The grid drags the tile pressed, alone even among other selected tiles,
// as a copy whose data is the model's item for that entry.
TEST_F(GridAndBars, PressingATileAndMovingOutDragsThatTileAlone)
{
    QTest::mouseClick(grid().viewport(), Qt::LeftButton, {}, at(u"a.jpg"_s));
    const struct { QString pressed; Qt::KeyboardModifiers modifiers; QSet<QString> selected; } cases[] = {
        {u"b.txt"_s, Qt::ControlModifier, {u"a.jpg"_s, u"b.txt"_s}}, // joins the selection
        {u"DCIM"_s, {}, {u"DCIM"_s}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pressed.toStdString());
        QWidget* viewport = grid().viewport();
        const QPoint start = at(c.pressed);
        QTest::mousePress(viewport, Qt::LeftButton, c.modifiers, start);
        for (const QPoint step : {QPoint(3, 0), QPoint(30, 4), QPoint(900, 600)}) {
            QMouseEvent move(QEvent::MouseMove, start + step, viewport->mapToGlobal(start + step), Qt::NoButton,
                             Qt::LeftButton, c.modifiers);
            QApplication::sendEvent(viewport, &move);
        }
        QDrag* drag = grid().findChild<QDrag*>();
        ASSERT_TRUE(drag);
        EXPECT_EQ(drag->supportedActions(), Qt::CopyAction);
        const QList<QUrl> urls = drag->mimeData()->urls();
        ASSERT_EQ(urls.size(), 1);
        EXPECT_EQ(QFileInfo(urls.first().toLocalFile()).fileName(), c.pressed);
        EXPECT_TRUE(QFileInfo::exists(urls.first().toLocalFile()));
        EXPECT_EQ(model().selection(), c.selected);
        QTest::mouseRelease(viewport, Qt::LeftButton, c.modifiers, start);
        delete drag;
    }
    EXPECT_EQ(model().errorMessage(), std::nullopt);
}

TEST_F(GridAndBars, OneDragFromTheEdgeLightsFolderTilesAndDropsIntoTheOneUnderThePointer)
{
    QWidget* viewport = grid().viewport();
    const DropOverlay* overlay = m_pane->browser()->dropOverlay();
    const int dcim = 0;
    ASSERT_EQ(model().visibleEntries()[dcim].name, u"DCIM"_s);
    {
        WindowDrag drag(m_pane, {one, two});
        drag.moveTo(viewport, QPoint(2, 2));
        EXPECT_TRUE(drag.accepted());
        EXPECT_TRUE(overlay->isVisible()) << "over the margin a drop goes into the folder shown";
        EXPECT_EQ(overlay->text(), u"Copy to “Internal Storage”"_s);
        drag.moveTo(viewport, at(u"a.jpg"_s));
        EXPECT_TRUE(overlay->isVisible());
        EXPECT_EQ(grid().dropTarget(), -1) << "a file tile takes nothing itself";
        drag.moveTo(viewport, at(u"DCIM"_s));
        EXPECT_TRUE(drag.accepted());
        EXPECT_EQ(grid().dropTarget(), dcim);
        EXPECT_FALSE(m_pane->browser()->dropTargeted()) << "the folder tile is the target, not the folder shown";
        EXPECT_TRUE(drag.drop());
        EXPECT_EQ(grid().dropTarget(), -1);
        EXPECT_FALSE(m_pane->browser()->dropTargeted());
    }
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/DCIM/") + pushes("push /tmp/two.jpg /sdcard/DCIM/"), 2);
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/"), 0);

    // Entering on the folder tile and leaving it for empty space.
    {
        WindowDrag drag(m_pane, {one});
        drag.moveTo(viewport, at(u"DCIM"_s));
        EXPECT_EQ(grid().dropTarget(), dcim);
        drag.moveTo(viewport, QPoint(viewport->width() - 4, viewport->height() - 4)); // below the tiles
        EXPECT_TRUE(drag.accepted());
        EXPECT_EQ(grid().dropTarget(), -1);
        EXPECT_TRUE(overlay->isVisible());
        EXPECT_TRUE(drag.drop());
    }
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/"), 1);

    // Links alone are no files: the grid shows no target and takes no drop.
    {
        WindowDrag drag(m_pane, {web});
        drag.moveTo(viewport, at(u"DCIM"_s));
        EXPECT_FALSE(drag.drop());
        EXPECT_EQ(grid().dropTarget(), -1);
    }
}

// Mended: while a job ran, files dragged over the browser showed "Copy to
// “…”", the sending application was told the copy was taken, and nothing
// was copied or said.
TEST_F(GridAndBars, WhileAJobRunsADragIsRefusedAndTheStatusLineSaysWhy)
{
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {folder(u"Camera"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM/Camera"_s, {});
    const auto gate = gates.emplace_back(std::make_shared<browsertest::Gate>());
    adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
    model().upload({QUrl::fromLocalFile(u"/tmp/held.bin"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting() && model().job()->message.contains(u'“'); }));
    const QString said = u"Wait for “Copying “held.bin” to phone (1 of 1)…” to finish, or stop it."_s;
    const StatusBar* bar = m_pane->browser()->statusBar();
    const DropOverlay* overlay = m_pane->browser()->dropOverlay();

    const struct {
        const char* what;
        ViewMode mode;
        QString shown;
        std::function<std::pair<QWidget*, QPoint>()> target;
    } cases[] = {
        {"grid, the folder shown", ViewMode::grid, u"/sdcard"_s,
         [&] { return std::pair<QWidget*, QPoint>(grid().viewport(), QPoint(2, 2)); }},
        {"grid, a folder tile", ViewMode::grid, u"/sdcard"_s,
         [&] { return std::pair<QWidget*, QPoint>(grid().viewport(), at(u"DCIM"_s)); }},
        {"list", ViewMode::list, u"/sdcard/DCIM"_s,
         [&] { return std::pair<QWidget*, QPoint>(m_pane->browser()->bodyWidget(), QPoint(40, 40)); }},
        {"path segment", ViewMode::list, u"/sdcard/DCIM/Camera"_s, [&] {
             PathSegment* top = m_pane->browser()->pathBar()->segments().first();
             return std::pair<QWidget*, QPoint>(top, top->rect().center());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setViewMode(c.mode);
        // Not settled: the job holds a worker until the end.
        model().navigate(c.shown);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model().isLoading(); }));
        QCoreApplication::processEvents();
        clock->fire(); // the word before goes after a while
        ASSERT_EQ(bar->text().contains(u"Wait for"_s), false);
        const auto [widget, point] = c.target();
        WindowDrag drag(m_pane, {one});
        drag.moveTo(widget, point);
        EXPECT_FALSE(drag.accepted());
        EXPECT_FALSE(overlay->isVisible());
        EXPECT_EQ(grid().dropTarget(), -1);
        EXPECT_EQ(bar->text(), said);
        EXPECT_FALSE(drag.drop());
    }

    // A job that begins during a drag takes the drop away from there on.
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
    settle();
    model().setViewMode(ViewMode::grid);
    go(u"/sdcard"_s);
    EXPECT_FALSE(bar->text().contains(u"Wait for"_s)) << "the word goes with the job";
    {
        WindowDrag drag(m_pane, {one});
        drag.moveTo(grid().viewport(), QPoint(2, 2));
        EXPECT_TRUE(drag.accepted());
        model().upload({QUrl::fromLocalFile(u"/tmp/held.bin"_s)});
        ASSERT_TRUE(model().job());
        drag.moveTo(grid().viewport(), QPoint(4, 4));
        EXPECT_FALSE(drag.accepted());
        EXPECT_FALSE(m_pane->browser()->dropTargeted());
        EXPECT_TRUE(bar->text().startsWith(u"Wait for “Copying to phone…”"_s)) << bar->text().toStdString();
        EXPECT_FALSE(drag.drop());
    }
    ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/") + pushes("push /tmp/one.jpg /sdcard/DCIM/"), 0);
}

// Mended: a drag held over the list through a job was taken again once the
// job had ended, but without the overlay naming the folder; one held over
// an ancestor in the path bar was refused when the job began without a word.
TEST_F(GridAndBars, ADragHeldThroughAJobIsRefusedWithAWordAndTakenAgainWithItsOverlay)
{
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {file(u"x.jpg"_s)});
    go(u"/sdcard/DCIM"_s);
    const StatusBar* bar = m_pane->browser()->statusBar();
    const DropOverlay* overlay = m_pane->browser()->dropOverlay();
    PathBar* path = m_pane->browser()->pathBar();
    ASSERT_EQ(path->segments().size(), 2);
    const struct {
        const char* what;
        ViewMode mode;
        std::function<std::pair<QWidget*, QPoint>()> target;
        bool overlaid; // the drop goes into the folder shown, and the overlay says so
        const char* push;  // what the drop copies
    } cases[] = {
        {"list", ViewMode::list,
         [&] { return std::pair<QWidget*, QPoint>(m_pane->browser()->bodyWidget(), QPoint(40, 40)); }, true,
         "push /tmp/one.jpg /sdcard/DCIM/"},
        {"grid", ViewMode::grid, [&] { return std::pair<QWidget*, QPoint>(grid().viewport(), QPoint(2, 2)); }, true,
         "push /tmp/two.jpg /sdcard/DCIM/"},
        {"path segment", ViewMode::list,
         [&] {
             PathSegment* top = path->segments().first();
             return std::pair<QWidget*, QPoint>(top, top->rect().center());
         },
         false, "push /tmp/one.jpg /sdcard/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setViewMode(c.mode);
        settle();
        clock->fire(); // the word before goes after a while
        const int pushed = pushes(c.push);
        const auto [widget, point] = c.target();
        WindowDrag drag(m_pane, {QUrl::fromLocalFile(QString::fromUtf8(c.push).section(u' ', 1, 1))});
        drag.moveTo(widget, point);
        ASSERT_TRUE(drag.accepted());

        const auto gate = gates.emplace_back(std::make_shared<browsertest::Gate>());
        adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
        model().upload({QUrl::fromLocalFile(u"/tmp/held.bin"_s)});
        ASSERT_TRUE(model().job());
        drag.moveTo(widget, point + QPoint(1, 1));
        EXPECT_FALSE(drag.accepted());
        EXPECT_FALSE(m_pane->browser()->dropTargeted());
        EXPECT_TRUE(bar->text().startsWith(u"Wait for “Copying"_s)) << bar->text().toStdString();

        gate->open();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
        settle();
        drag.moveTo(widget, point);
        EXPECT_TRUE(drag.accepted());
        EXPECT_EQ(m_pane->browser()->dropTargeted(), c.overlaid);
        if (c.overlaid) {
            EXPECT_TRUE(overlay->isVisible());
            EXPECT_EQ(overlay->text(), u"Copy to “DCIM”"_s);
        }
        EXPECT_TRUE(drag.drop());
        settle();
        EXPECT_EQ(pushes(c.push) - pushed, 1);
    }
}

// Mended: a drag that came over the window while a job ran was refused at
// its enter, so Qt sent it nothing more: held until the job had ended, it
// showed no overlay and its drop was refused.
TEST_F(GridAndBars, ADragThatComesDuringAJobIsTakenOnceTheJobEnds)
{
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {file(u"x.jpg"_s)});
    go(u"/sdcard/DCIM"_s);
    const StatusBar* bar = m_pane->browser()->statusBar();
    const DropOverlay* overlay = m_pane->browser()->dropOverlay();
    PathBar* path = m_pane->browser()->pathBar();
    ASSERT_EQ(path->segments().size(), 2);
    const struct {
        const char* what;
        ViewMode mode;
        std::function<std::pair<QWidget*, QPoint>()> target;
        bool overlaid; // the drop goes into the folder shown, and the overlay says so
        const char* push;  // what the drop copies
    } cases[] = {
        {"list", ViewMode::list,
         [&] { return std::pair<QWidget*, QPoint>(m_pane->browser()->bodyWidget(), QPoint(40, 40)); }, true,
         "push /tmp/one.jpg /sdcard/DCIM/"},
        {"grid", ViewMode::grid, [&] { return std::pair<QWidget*, QPoint>(grid().viewport(), QPoint(2, 2)); }, true,
         "push /tmp/two.jpg /sdcard/DCIM/"},
        {"path segment", ViewMode::list,
         [&] {
             PathSegment* top = path->segments().first();
             return std::pair<QWidget*, QPoint>(top, top->rect().center());
         },
         false, "push /tmp/one.jpg /sdcard/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setViewMode(c.mode);
        settle();
        clock->fire(); // the word before goes after a while
        const int pushed = pushes(c.push);
        const auto gate = gates.emplace_back(std::make_shared<browsertest::Gate>());
        adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
        model().upload({QUrl::fromLocalFile(u"/tmp/held.bin"_s)});
        ASSERT_TRUE(model().job());

        const auto [widget, point] = c.target();
        WindowDrag drag(m_pane, {QUrl::fromLocalFile(QString::fromUtf8(c.push).section(u' ', 1, 1))});
        drag.moveTo(widget, point);
        EXPECT_FALSE(drag.accepted());
        EXPECT_FALSE(m_pane->browser()->dropTargeted());
        EXPECT_TRUE(bar->text().startsWith(u"Wait for “Copying"_s)) << bar->text().toStdString();
        drag.moveTo(widget, point + QPoint(1, 1));
        EXPECT_FALSE(drag.accepted());

        gate->open();
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model().job(); }));
        settle();
        drag.moveTo(widget, point);
        EXPECT_TRUE(drag.accepted());
        EXPECT_EQ(m_pane->browser()->dropTargeted(), c.overlaid);
        if (c.overlaid) {
            EXPECT_TRUE(overlay->isVisible());
            EXPECT_EQ(overlay->text(), u"Copy to “DCIM”"_s);
        }
        EXPECT_TRUE(drag.drop());
        settle();
        EXPECT_EQ(pushes(c.push) - pushed, 1);
    }
}

// Mended: a refusal showed its sentence whole and centred, so a long job's
// message cut off both its ends, and "Wait for" and "to finish, or stop it."
// with them: the very words it is there to say.
TEST_F(GridAndBars, ARefusalShortensTheJobsMessageInTheMiddleAndKeepsItsOwnWords)
{
    const QString name = u"Holiday-"_s + QString(160, u'x') + u"-end.bin"_s;
    const auto gate = gates.emplace_back(std::make_shared<browsertest::Gate>());
    adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
    model().upload({QUrl::fromLocalFile(u"/tmp/"_s + name)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting() && model().job()->message.contains(name); }));
    const StatusBar* bar = m_pane->browser()->statusBar();
    const QLabel* line = bar->findChild<QLabel*>(u"statusLine"_s);
    ASSERT_TRUE(line);
    model().refuseWhileJobRuns(false);
    for (const int width : {700, 520, 900}) {
        SCOPED_TRACE(width);
        m_pane->resize(width, 500);
        QCoreApplication::processEvents();
        const QString shown = bar->text();
        EXPECT_TRUE(shown.startsWith(u"Wait for “Copying “Holiday-x"_s)) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(u"x-end.bin” to phone (1 of 1)…” to finish, or stop it."_s)) << shown.toStdString();
        EXPECT_EQ(shown.count(QChar(0x2026)), 2) << "shortened in the middle";
        EXPECT_LE(Digits::width(shown, line->font()), line->contentsRect().width());
        EXPECT_LE(m_pane->width(), width) << "the sentence widens nothing";
    }
    // The whole sentence where it fits.
    m_pane->resize(2400, 500);
    QCoreApplication::processEvents();
    EXPECT_EQ(bar->text(), u"Wait for “Copying “"_s + name + u"” to phone (1 of 1)…” to finish, or stop it."_s);
    gate->open();
}

TEST_F(GridAndBars, TilesShowTheirFullNameOnHover)
{
    QWidget* viewport = grid().viewport();
    QHelpEvent over(QEvent::ToolTip, at(u"b.txt"_s), viewport->mapToGlobal(at(u"b.txt"_s)));
    QCoreApplication::sendEvent(viewport, &over);
    EXPECT_EQ(QToolTip::text(), u"b.txt"_s);
    QHelpEvent between(QEvent::ToolTip, at({}), viewport->mapToGlobal(at({})));
    QCoreApplication::sendEvent(viewport, &between);
    EXPECT_FALSE(between.isAccepted());
    QToolTip::hideText();
}

// Mended: a phone's file name that looks like markup showed in the tile's
// tooltip as formatted text ("<b>x</b>.txt" read as a bold "x.txt").
class GridMarkupNames : public WindowTest {};

TEST_F(GridMarkupNames, TheTooltipShowsTheNameAsItIs)
{
    const QStringList names{u"<b>x</b>.txt"_s, u"<font color=red>r</font>"_s, u"<a href=\"x\">link</a>"_s};
    QList<RemoteEntry> entries;
    for (const QString& name : names)
        entries.append(file(name));
    adbPhoneIn(u"device"_s, entries);
    model().setViewMode(ViewMode::grid);
    auto& pane = show<DetailView>(fullEnvironment(), QSize(700, 500));
    ASSERT_TRUE(pane.browser());
    FileGridView& grid = *pane.browser()->grid();
    const QList<RemoteEntry>& shown = model().visibleEntries();
    ASSERT_EQ(shown.size(), names.size());
    for (int index = 0; index < shown.size(); ++index) {
        SCOPED_TRACE(shown[index].name.toStdString());
        const QPoint centre = grid.tileRect(index).center();
        QHelpEvent over(QEvent::ToolTip, centre, grid.viewport()->mapToGlobal(centre));
        QCoreApplication::sendEvent(grid.viewport(), &over);
        // What the tooltip's label shows: it takes text that looks like markup as markup.
        const QString tip = QToolTip::text();
        QTextDocument read;
        if (Qt::mightBeRichText(tip))
            read.setHtml(tip);
        else
            read.setPlainText(tip);
        EXPECT_EQ(read.toPlainText(), shown[index].name);
        QToolTip::hideText();
    }
}

TEST(GridTileNames, LongNamesAreCutBetweenCharactersNeverInsideOne)
{
    const QFont font(u"DejaVu Sans"_s, 12);
    const QFontMetricsF metrics(font);
    const QString family = u"👨‍👩‍👧‍👦"_s; // one character of seven code points
    const QString flag = u"🇩🇪"_s;
    const QString accented = u"e\u0301"_s;
    const QString names[] = {
        family.repeated(30),
        u"Holiday "_s + flag.repeated(20) + u" photos"_s,
        accented.repeated(60),
        u"a"_s + u" \u0301"_s.repeated(40),
        u"😀"_s.repeated(40),
        u"Screenshot_2024-05-01-12-30-45-123_com.example.app.png"_s,
    };
    for (const QString& name : names) {
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, name);
        const auto boundary = [&](qsizetype at) {
            characters.setPosition(at);
            return characters.isAtBoundary();
        };
        const QStringList lines = GridTile::nameLines(name, metrics, 100);
        ASSERT_EQ(lines.size(), 2) << name.toStdString();
        // The first line is the start of the name up to a boundary.
        EXPECT_TRUE(name.startsWith(lines[0])) << name.toStdString();
        EXPECT_TRUE(boundary(lines[0].size())) << name.toStdString();
        const qsizetype firstEnd = lines[0].size();
        // The second line keeps a boundary on each side of its cut.
        const QString second = lines[1];
        const qsizetype ellipsis = second.indexOf(QChar(0x2026));
        const QString head = ellipsis < 0 ? second : second.left(ellipsis);
        const QString tail = ellipsis < 0 ? QString() : second.mid(ellipsis + 1);
        const qsizetype headAt = name.indexOf(head, firstEnd);
        ASSERT_GE(headAt, 0) << name.toStdString();
        EXPECT_TRUE(boundary(headAt + head.size())) << name.toStdString();
        EXPECT_TRUE(name.endsWith(tail)) << name.toStdString();
        EXPECT_TRUE(boundary(name.size() - tail.size())) << name.toStdString();
    }
}

TEST_F(GridAndBars, PathSegmentsGoUpAndAncestorsTakeDrops)
{
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/A&B"_s, {folder(u"Camera"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/A&B/Camera"_s, {});
    go(u"/sdcard/A&B/Camera"_s);
    PathBar* bar = m_pane->browser()->pathBar();
    ASSERT_EQ(bar->segments().size(), 3);

    PathSegment* current = bar->segments().last();
    bool entered = true;
    EXPECT_FALSE(drop(current, current->rect().center(), {one}, &entered));
    EXPECT_FALSE(entered);
    PathSegment* top = bar->segments().first();
    EXPECT_TRUE(drop(top, top->rect().center(), {one}));
    // Handled even with nothing left to copy.
    EXPECT_TRUE(drop(top, top->rect().center(), {web}));
    settle();
    EXPECT_EQ(pushes("push /tmp/one.jpg /sdcard/"), 1);
    bar->segments()[1]->click();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/A&B"_s);
}

// Mended: Tab into the path bar of a deep folder could land on a segment
// scrolled out of sight ("Internal Storage" at x -326 in a 569-px bar).
TEST_F(GridAndBars, TabIntoALongPathBarShowsTheSegmentItLandsOn)
{
    QString path = u"/sdcard"_s;
    for (int depth = 0; depth < 6; ++depth) {
        const QString name = u"A rather long folder name "_s + QString::number(depth);
        adb->phone(u"A1"_s)->setFolder(path, {folder(name)});
        path += u'/' + name;
    }
    adb->phone(u"A1"_s)->setFolder(path, {});
    go(path);
    settle();
    PathBar* bar = m_pane->browser()->pathBar();
    const QList<PathSegment*> segments = bar->segments();
    ASSERT_EQ(segments.size(), 7);
    const auto inSight = [bar](QWidget* segment) {
        const QRect at(segment->mapTo(bar->viewport(), QPoint(0, 0)), segment->size());
        return bar->viewport()->rect().contains(at);
    };
    // As the window shows it: the folder shown in sight at the end.
    bar->horizontalScrollBar()->setValue(bar->horizontalScrollBar()->maximum());
    ASSERT_FALSE(inSight(segments.first()));
    const std::pair<PathSegment*, Qt::FocusReason> landings[] = {
        {segments.first(), Qt::TabFocusReason},
        {segments.last(), Qt::BacktabFocusReason},
        {segments.first(), Qt::BacktabFocusReason},
    };
    for (const auto& [segment, reason] : landings) {
        segment->setFocus(reason);
        EXPECT_TRUE(inSight(segment)) << segment->text().toStdString() << " at "
                                      << segment->mapTo(bar->viewport(), QPoint(0, 0)).x();
    }
}

// The window's own items dragged out and back in are refused wherever they
// come: the pointer shows it from the first move on, and no overlay offers
// a copy; a drag from another application is taken.
TEST_F(GridAndBars, ItemsDraggedOutOfThisWindowAreRefusedEverywhereInIt)
{
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {folder(u"Camera"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM/Camera"_s, {});
    go(u"/sdcard/DCIM/Camera"_s);
    PathBar* bar = m_pane->browser()->pathBar();
    ASSERT_EQ(bar->segments().size(), 3);
    const DropOverlay* overlay = m_pane->browser()->dropOverlay();
    for (const ViewMode mode : {ViewMode::grid, ViewMode::list}) {
        model().setViewMode(mode);
        settle();
        QWidget* body = m_pane->browser()->bodyWidget();
        const std::pair<const char*, std::function<void(WindowDrag&)>> routes[] = {
            {"a path segment", [&](WindowDrag& drag) { drag.moveTo(bar->segments().first(), QPoint(4, 4)); }},
            {"the files", [&](WindowDrag& drag) { drag.moveTo(body, body->rect().center()); }},
            {"a segment, then the files",
             [&](WindowDrag& drag) {
                 drag.moveTo(bar->segments().at(1), QPoint(4, 4));
                 drag.moveTo(body, QPoint(3, 3));
             }},
        };
        for (const auto& [name, route] : routes) {
            SCOPED_TRACE(std::string(name) + (mode == ViewMode::grid ? " (grid)" : " (list)"));
            const OwnDrag::Scope own;
            WindowDrag drag(m_pane, {one});
            route(drag);
            // A second step where the first one ended.
            route(drag);
            EXPECT_FALSE(drag.accepted());
            EXPECT_FALSE(overlay->isVisible());
            EXPECT_FALSE(drag.drop());
        }
    }
    settle();
    EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"push "_s), 0);
    // A drag from another application is taken as before.
    WindowDrag drag(m_pane, {one});
    drag.moveTo(bar->segments().first(), QPoint(4, 4));
    drag.moveTo(bar->segments().first(), QPoint(5, 5));
    EXPECT_TRUE(drag.accepted());
}

TEST(StatusLine, CountsSelectionSizesAndFreeSpace)
{
    DeviceInfo free;
    free.storageFree = 3'200'000'000;
    const QList<RemoteEntry> two{file(u"a"_s, 4'000'000), file(u"b"_s, 100'000)};
    const std::tuple<qsizetype, bool, QList<RemoteEntry>, std::optional<DeviceInfo>, QString> cases[] = {
        {0, false, {}, std::nullopt, u"0 items"_s},
        {1, false, {}, DeviceInfo{}, u"1 item"_s},
        {12, false, {}, free, u"12 items, 3.2 GB available"_s},
        {12, true, two, free, u"2 of 12 selected, 4.1 MB, 3.2 GB available"_s},
        {12, true, {folder(u"DCIM"_s)}, std::nullopt, u"1 of 12 selected"_s},
    };
    for (const auto& [visible, hasSelection, selected, info, text] : cases)
        EXPECT_EQ(StatusBar::summary(visible, hasSelection, selected, info), text);
}

} // namespace
