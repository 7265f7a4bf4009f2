// The file list: its columns and rows, sorting by the headers, the
// selection in both directions, opening by double-click and Return, and
// the context menu of phone items.

#include "EntryMenu.h"
#include "FileListView.h"
#include "Look.h"
#include "WindowFixture.h"

#include <QFileInfo>

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class FileList : public WindowTest {
protected:
    // The list over one ready adb phone whose /sdcard holds the sample,
    // hidden items shown.
    FileListView& list(const Environment& env)
    {
        model().setShowHidden(true);
        adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("b.txt"), 2000), folder(QStringLiteral("Music")),
                                              file(QStringLiteral("a.jpg"), 1500000), folder(QStringLiteral("DCIM")),
                                              file(QStringLiteral(".hidden"), 5)});
        adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/DCIM"), {});
        return *(m_list = &show<FileListView>(env, QSize(800, 400)));
    }
    // The rows' names top to bottom, or only the selected ones sorted.
    QString rowNames(bool selected = false)
    {
        QStringList names;
        for (int row = 0; row < m_list->listModel()->rowCount(); ++row) {
            if (!selected || m_list->selectionModel()->isRowSelected(row))
                names.append(m_list->listModel()->entry(row).name);
        }
        if (selected)
            names.sort();
        return names.join(QLatin1Char(','));
    }
    QString cell(const QString& name, int column, int role = Qt::DisplayRole)
    {
        FileListModel* rows = m_list->listModel();
        return rows->data(rows->index(rows->rowOf(name), column), role).toString();
    }
    QPoint at(const QString& name)
    {
        return m_list->visualRect(m_list->listModel()->index(m_list->listModel()->rowOf(name), 0)).center();
    }
    QPoint belowTheRows() { return QPoint(10, m_list->viewport()->height() - 5); }
    void clickHeader(int column)
    {
        QHeaderView* header = m_list->horizontalHeader();
        const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    }
    // The menu's items, separators as "-" and disabled items marked "~";
    // triggers the item `title` if given.
    QString menu(const QPoint& point, const QString& title = {})
    {
        const std::unique_ptr<EntryMenu> menu(m_list->menuAt(point));
        QStringList items;
        for (QAction* action : menu->actions()) {
            items.append(action->isSeparator() ? QStringLiteral("-")
                                               : (action->isEnabled() ? QString() : QStringLiteral("~")) + action->text());
            if (action->text() == title)
                action->trigger();
        }
        return items.join(QLatin1Char(','));
    }

    FileListView* m_list = nullptr;
};

} // namespace

TEST_F(FileList, ShowsFourColumnsWithFoldersFirst)
{
    FileListView& view = list(bareEnvironment());
    QStringList headers;
    for (int column = 0; column < view.listModel()->columnCount(); ++column)
        headers.append(view.listModel()->headerData(column, Qt::Horizontal).toString());
    EXPECT_EQ(headers.join(QLatin1Char(',')), QStringLiteral("Name,Date Modified,Size,Kind"));
    EXPECT_EQ(rowNames(), QStringLiteral("DCIM,Music,.hidden,a.jpg,b.txt"));
    EXPECT_FALSE(cell(QStringLiteral("DCIM"), FileListModel::modified).isEmpty());
    EXPECT_EQ(cell(QStringLiteral("DCIM"), FileListModel::size), QStringLiteral("--"));
    EXPECT_EQ(cell(QStringLiteral("DCIM"), FileListModel::kind), QStringLiteral("Folder"));
    EXPECT_EQ(cell(QStringLiteral("a.jpg"), FileListModel::size), QStringLiteral("1.5 MB"));
    EXPECT_EQ(cell(QStringLiteral("a.jpg"), FileListModel::kind), QStringLiteral("JPG file"));
    EXPECT_EQ(cell(QStringLiteral(".hidden"), FileListModel::size), QStringLiteral("5 bytes"));
    EXPECT_EQ(cell(QStringLiteral(".hidden"), 0, FileListModel::hiddenRole), QStringLiteral("true"));
    EXPECT_EQ(cell(QStringLiteral("a.jpg"), 0, FileListModel::hiddenRole), QStringLiteral("false"));
}

TEST_F(FileList, ResetsOnceForEachNewListing)
{
    FileListView& view = list(bareEnvironment());
    QSignalSpy resets(view.listModel(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(view.listModel(), &QAbstractItemModel::rowsInserted);
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("c.png"), 10)});
    reload();
    settle();
    EXPECT_EQ(rowNames(), QStringLiteral("c.png"));
    EXPECT_EQ(resets.count(), 1);
    EXPECT_EQ(inserts.count(), 0);
}

TEST_F(FileList, AHeaderClickSetsTheSortOrderAndASecondOneReversesIt)
{
    FileListView& view = list(bareEnvironment());
    clickHeader(FileListModel::size);
    // The name, sorted on before, still breaks ties.
    EXPECT_EQ(model().sortOrder(), (QList<SortKey>{SortKey{SortKey::Column::size, Qt::AscendingOrder},
                                                   SortKey{SortKey::Column::name, Qt::AscendingOrder}}));
    EXPECT_EQ(rowNames(), QStringLiteral("DCIM,Music,.hidden,b.txt,a.jpg"));
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), int(FileListModel::size));

    clickHeader(FileListModel::size);
    EXPECT_EQ(model().sortOrder().first(), (SortKey{SortKey::Column::size, Qt::DescendingOrder}));
    EXPECT_EQ(rowNames(), QStringLiteral("DCIM,Music,a.jpg,b.txt,.hidden"));
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(FileList, SelectionFollowsTheModelAndLeftClicksWriteIt)
{
    FileListView& view = list(bareEnvironment());
    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("DCIM")});
    EXPECT_EQ(rowNames(true), QStringLiteral("DCIM,a.jpg"));

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at(QStringLiteral("b.txt")));
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("b.txt")});
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, at(QStringLiteral("Music")));
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("b.txt"), QStringLiteral("Music")}));
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, at(QStringLiteral("a.jpg")));
    QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, at(QStringLiteral("a.jpg")));
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("b.txt"), QStringLiteral("Music")}));

    // A new sort keeps the selection on the same entries.
    model().setSortOrder({SortKey{SortKey::Column::name, Qt::DescendingOrder}});
    EXPECT_EQ(rowNames(true), QStringLiteral("Music,b.txt"));
}

TEST_F(FileList, DoubleClickingAFolderEntersIt)
{
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Music"), {file(QStringLiteral("song.mp3"))});
    FileListView& view = list(fullEnvironment());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, at(QStringLiteral("Music")));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    EXPECT_EQ(rowNames(), QStringLiteral("song.mp3"));
}

TEST_F(FileList, ReturnOpensTheFilesAmongSeveralAndDeleteRemovesTheSelection)
{
    FileListView& view = list(fullEnvironment());
    view.setFocus();
    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.txt"), QStringLiteral("DCIM")});
    QTest::keyClick(&view, Qt::Key_Return);
    settle();
    // In listing order, the folder left out, both staged in one folder.
    ASSERT_EQ(desktop->opened.size(), 2);
    EXPECT_EQ(QFileInfo(desktop->opened[0]).fileName(), QStringLiteral("b.txt"));
    EXPECT_EQ(QFileInfo(desktop->opened[1]).fileName(), QStringLiteral("a.jpg"));
    EXPECT_EQ(QFileInfo(desktop->opened[0]).path(), QFileInfo(desktop->opened[1]).path());
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("Music")});
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));

    model().setSelection({QStringLiteral("a.jpg")});
    QTest::keyClick(&view, Qt::Key_Delete);
    ASSERT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->questions.first().message, QStringLiteral("Delete “a.jpg” from the phone?"));
}

TEST_F(FileList, TheMenuHasItsItemsForWhatWasClicked)
{
    list(fullEnvironment());
    EXPECT_EQ(menu(belowTheRows()), QStringLiteral("New Folder,Copy to Phone…"));
    EXPECT_EQ(menu(at(QStringLiteral("b.txt"))), QStringLiteral("Open on Mac,Copy to Mac…,Copy Path,-,Rename…,Delete…"));
    EXPECT_EQ(menu(at(QStringLiteral("DCIM"))), QStringLiteral("Open,Copy to Mac…,Copy Path,-,Rename…,Delete…"));
    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.txt")});
    EXPECT_EQ(menu(at(QStringLiteral("a.jpg"))), QStringLiteral("Open on Mac,Copy to Mac…,Copy Paths,-,Delete…"));
    // A folder among them leaves the open slot empty.
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("a.jpg")});
    EXPECT_EQ(menu(at(QStringLiteral("a.jpg"))), QStringLiteral("Copy to Mac…,Copy Paths,-,Delete…"));

    // An unselected row gets a menu of its own and keeps the selection.
    const std::unique_ptr<EntryMenu> own(m_list->menuAt(at(QStringLiteral("Music"))));
    ASSERT_EQ(own->items().size(), 1);
    EXPECT_EQ(own->items().first().name, QStringLiteral("Music"));
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("DCIM"), QStringLiteral("a.jpg")}));
}

TEST_F(FileList, TheMenuHandsItsItemsToTheModel)
{
    list(fullEnvironment());
    menu(belowTheRows(), QStringLiteral("Copy to Phone…"));
    menu(belowTheRows(), QStringLiteral("New Folder"));
    EXPECT_TRUE(model().showingNewFolder());
    menu(at(QStringLiteral("b.txt")), QStringLiteral("Rename…"));
    ASSERT_TRUE(model().renaming());
    EXPECT_EQ(model().renaming()->name, QStringLiteral("b.txt"));
    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.txt")});
    menu(at(QStringLiteral("a.jpg")), QStringLiteral("Delete…"));
    ASSERT_EQ(desktop->panels.size(), 1);
    EXPECT_EQ(desktop->panels.first().message, QStringLiteral("Choose files or folders to copy to /sdcard"));
    ASSERT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->questions.first().message, QStringLiteral("Delete 2 items from the phone?"));
    menu(at(QStringLiteral("b.txt")), QStringLiteral("Copy Paths"));
    EXPECT_EQ(desktop->clipboard, QStringLiteral("/sdcard/b.txt\n/sdcard/a.jpg"));
    menu(at(QStringLiteral("DCIM")), QStringLiteral("Open"));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

// Mended: the menu stayed open over items of a folder or phone the window
// had left, ready to hand them to the model for the folder shown now.
TEST_F(FileList, AnOpenMenuClosesWhenTheListingIsReplaced)
{
    FileListView& view = list(fullEnvironment());
    const QPoint point = at(QStringLiteral("b.txt"));
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view.viewport()->mapToGlobal(point));
    QCoreApplication::sendEvent(view.viewport(), &event);
    QPointer<EntryMenu> menu = view.findChild<EntryMenu*>();
    ASSERT_TRUE(menu && menu->isVisible());
    go(QStringLiteral("/sdcard/DCIM"));
    EXPECT_TRUE(!menu || !menu->isVisible());
}

TEST(ByteCount, ReadsInDecimalMultiplesWithZeroAndOneSpelledOut)
{
    EXPECT_EQ(Look::byteCount(0), QStringLiteral("Zero KB"));
    EXPECT_EQ(Look::byteCount(1), QStringLiteral("1 byte"));
    EXPECT_EQ(Look::byteCount(999999), QStringLiteral("1 MB"));
}
