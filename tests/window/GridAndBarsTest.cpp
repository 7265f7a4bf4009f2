// The icon grid (its columns, clicks, menus and folder drop targets), the
// path bar's segments and drops, and the status line.

#include "BrowserModel.h"
#include "BrowserPane.h"
#include "DetailView.h"
#include "EntryMenu.h"
#include "FileGridView.h"
#include "PathBar.h"
#include "StatusBar.h"
#include "WindowFixture.h"

#include <QMimeData>

#include <gtest/gtest.h>

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

const QUrl one = QUrl::fromLocalFile(u"/tmp/one.jpg"_s), two = QUrl::fromLocalFile(u"/tmp/two.jpg"_s),
           web = QUrl(u"https://example.com/a"_s);

class GridAndBars : public WindowTest {
protected:
    void SetUp() override
    {
        adbPhoneIn(u"device"_s, {folder(u"DCIM"_s), file(u"a.jpg"_s, 10), file(u"b.txt"_s, 20), file(u".hidden"_s)});
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
    int pushes(const char* call) { return adb->phone(u"A1"_s)->calls(QString::fromUtf8(call)); }

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
