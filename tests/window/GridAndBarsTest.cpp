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

QString titles(QMenu& menu)
{
    QStringList result;
    for (QAction* action : menu.actions())
        result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return result.join(QLatin1Char(','));
}

class GridAndBars : public WindowTest {
protected:
    void SetUp() override
    {
        adbPhoneIn(QStringLiteral("device"), {folder(QStringLiteral("DCIM")), file(QStringLiteral("a.jpg"), 10),
                                              file(QStringLiteral("b.txt"), 20), file(QStringLiteral(".hidden"))});
        model().setViewMode(ViewMode::grid);
        m_pane = &show<DetailView>(fullEnvironment(), QSize(700, 500));
        ASSERT_TRUE(m_pane->browser());
    }
    FileGridView& grid() { return *m_pane->browser()->grid(); }
    // The centre of the tile of `name`.
    QPoint at(const QString& name)
    {
        const QList<RemoteEntry>& shown = model().visibleEntries();
        for (int index = 0; index < shown.size(); ++index) {
            if (shown[index].name == name)
                return grid().tileRect(index).center();
        }
        ADD_FAILURE() << "no tile " << name.toStdString();
        return {};
    }
    void click(const QString& name, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::mouseClick(grid().viewport(), Qt::LeftButton, modifiers, name.isEmpty() ? QPoint(5, 480) : at(name));
    }
    // Drags and drops these URLs at `point` of `target`, as the platform
    // delivers them; whether the drop was taken.
    static bool drop(QWidget* target, QPoint point, const QList<QUrl>& urls, bool* entered = nullptr)
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
    int pushes(const QString& call) { return adb->phone(QStringLiteral("A1"))->calls(call); }

    DetailView* m_pane = nullptr;
};

TEST(GridLayout, ColumnsFollowTheWidthAlone)
{
    const struct {
        int width;
        int columns;
        double tile;
    } cases[] = {{500, 4, 111}, {260, 2, 110}, {100, 1, 68}, {2000, 17, 108.2}};
    for (const auto& c : cases) {
        const GridLayout layout = GridLayout::forWidth(c.width);
        EXPECT_EQ(layout.columns, c.columns) << c.width;
        EXPECT_NEAR(layout.tileWidth, c.tile, 0.5) << c.width;
    }
    // A lone column stops growing at 130 and is centred.
    const GridLayout wide = GridLayout::forWidth(200 + 32);
    EXPECT_EQ(wide.columns, 1);
    EXPECT_DOUBLE_EQ(wide.tileWidth, 130);
    EXPECT_DOUBLE_EQ(wide.left, 16 + (200 - 130) / 2.0);
}

TEST_F(GridAndBars, ClicksSelectToggleAndClear)
{
    EXPECT_EQ(m_pane->browser()->body(), BrowserPane::Body::grid);
    const struct {
        const char* name;
        Qt::KeyboardModifiers modifiers;
        QSet<QString> selection;
    } steps[] = {
        {"a.jpg", {}, {"a.jpg"}},
        {"b.txt", Qt::ControlModifier, {"a.jpg", "b.txt"}},
        {"a.jpg", Qt::ControlModifier, {"b.txt"}},
        {"DCIM", Qt::ShiftModifier, {"b.txt", "DCIM"}}, // no range
        {"DCIM", {}, {"DCIM"}},
        {"", {}, {}},
    };
    for (const auto& step : steps) {
        click(QString::fromUtf8(step.name), step.modifiers);
        EXPECT_EQ(model().selection(), step.selection) << step.name;
    }
    QTest::mouseDClick(grid().viewport(), Qt::LeftButton, {}, at(QStringLiteral("DCIM")));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

TEST_F(GridAndBars, MenusActOnTheSelectionTheTileAloneOrTheFolder)
{
    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.txt")});
    const std::unique_ptr<EntryMenu> selected(grid().menuAt(at(QStringLiteral("b.txt"))));
    EXPECT_EQ(selected->items().size(), 2);
    const std::unique_ptr<EntryMenu> alone(grid().menuAt(at(QStringLiteral("DCIM"))));
    ASSERT_EQ(alone->items().size(), 1);
    EXPECT_EQ(alone->items().first().name, QStringLiteral("DCIM"));
    const std::unique_ptr<EntryMenu> background(grid().menuAt(QPoint(5, 480)));
    EXPECT_EQ(titles(*background), QStringLiteral("New Folder,Copy to Phone…"));
    EXPECT_EQ(model().selection().size(), 2);

    grid().setFocus();
    QTest::keyClick(&grid(), Qt::Key_Delete);
    ASSERT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->questions.first().message, QStringLiteral("Delete 2 items from the phone?"));
}

TEST_F(GridAndBars, FolderTilesTakeDropsIntoTheirFolderOthersLeaveThemToThePane)
{
    const QList<QUrl> two{QUrl::fromLocalFile(QStringLiteral("/tmp/one.jpg")), QUrl::fromLocalFile(QStringLiteral("/tmp/two.jpg"))};
    QWidget* viewport = grid().viewport();
    EXPECT_TRUE(drop(viewport, at(QStringLiteral("DCIM")), two));
    settle();
    EXPECT_EQ(pushes(QStringLiteral("push /tmp/one.jpg /sdcard/DCIM/")), 1);
    EXPECT_EQ(pushes(QStringLiteral("push /tmp/two.jpg /sdcard/DCIM/")), 1);

    EXPECT_TRUE(drop(viewport, at(QStringLiteral("a.jpg")), two));
    settle();
    EXPECT_EQ(pushes(QStringLiteral("push /tmp/one.jpg /sdcard/")), 1);

    EXPECT_FALSE(drop(viewport, at(QStringLiteral("DCIM")), {QUrl(QStringLiteral("https://example.com/a"))}));
    settle();
    EXPECT_EQ(pushes(QStringLiteral("push /tmp/one.jpg /sdcard/DCIM/")), 1);
    EXPECT_EQ(grid().dropTarget(), -1);
}

TEST_F(GridAndBars, PathSegmentsGoUpAndAncestorsTakeDrops)
{
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/A&B"), {folder(QStringLiteral("Camera"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/A&B/Camera"), {});
    go(QStringLiteral("/sdcard/A&B/Camera"));
    PathBar* bar = m_pane->browser()->pathBar();
    QStringList shown;
    for (PathSegment* segment : bar->segments())
        shown.append(segment->component().name + QLatin1Char('=') + segment->component().path
                     + (segment->isCurrent() ? QStringLiteral("*") : QString()));
    EXPECT_EQ(shown, (QStringList{QStringLiteral("Internal Storage=/sdcard"), QStringLiteral("A&B=/sdcard/A&B"),
                                  QStringLiteral("Camera=/sdcard/A&B/Camera*")}));
    EXPECT_EQ(bar->chevronCount(), 2);
    EXPECT_EQ(bar->segments()[1]->accessibleName(), QStringLiteral("A&B"));

    PathSegment* current = bar->segments().last();
    bool entered = true;
    EXPECT_FALSE(drop(current, current->rect().center(), {QUrl::fromLocalFile(QStringLiteral("/tmp/x.jpg"))}, &entered));
    EXPECT_FALSE(entered);
    PathSegment* top = bar->segments().first();
    EXPECT_TRUE(drop(top, top->rect().center(), {QUrl::fromLocalFile(QStringLiteral("/tmp/x.jpg"))}));
    // Handled even with nothing left to copy.
    EXPECT_TRUE(drop(top, top->rect().center(), {QUrl(QStringLiteral("https://example.com/a"))}));
    settle();
    EXPECT_EQ(pushes(QStringLiteral("push /tmp/x.jpg /sdcard/")), 1);

    bar->segments()[1]->click();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/A&B"));
    EXPECT_TRUE(model().canGoBack());
}

TEST(StatusLine, CountsSelectionSizesAndFreeSpace)
{
    DeviceInfo free;
    free.storageFree = 3'200'000'000;
    const QList<RemoteEntry> two{file(QStringLiteral("a"), 4'000'000), file(QStringLiteral("b"), 100'000)};
    const struct {
        qsizetype visible;
        bool hasSelection;
        QList<RemoteEntry> selected;
        std::optional<DeviceInfo> info;
        QString text;
    } cases[] = {
        {0, false, {}, std::nullopt, QStringLiteral("0 items")},
        {1, false, {}, DeviceInfo{}, QStringLiteral("1 item")},
        {12, false, {}, free, QStringLiteral("12 items, 3.2 GB available")},
        {12, true, two, free, QStringLiteral("2 of 12 selected, 4.1 MB, 3.2 GB available")},
        {12, true, {folder(QStringLiteral("DCIM"))}, std::nullopt, QStringLiteral("1 of 12 selected")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusBar::summary(c.visible, c.hasSelection, c.selected, c.info), c.text);
}

} // namespace
