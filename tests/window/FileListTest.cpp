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
        adbPhoneIn(u"device"_s,
                   {file(u"b.txt"_s, 2000), folder(u"Music"_s), file(u"a.jpg"_s, 1500000), folder(u"DCIM"_s),
                    file(u".hidden"_s, 5)});
        adb->phone(u"A1"_s)->setFolder(u"/sdcard/DCIM"_s, {});
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
    // A row's centre; an empty name is the space below the rows.
    QPoint belowTheRows() { return QPoint(10, m_list->viewport()->height() - 5); }
    QPoint at(const QString& name)
    {
        if (name.isEmpty())
            return QPoint(10, m_list->viewport()->height() - 5);
        return m_list->visualRect(m_list->listModel()->index(m_list->listModel()->rowOf(name), 0)).center();
    }
    void clickHeader(int column)
    {
        QHeaderView* header = m_list->horizontalHeader();
        const QPoint centre(header->sectionViewportPosition(column) + header->sectionSize(column) / 2,
                            header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, centre);
    }
    // The menu's items, separators as "-" and disabled items marked "~";
    // triggers the item `title` if given.
    QString menu(const QPoint& point, const QString& title = {})
    {
        const std::unique_ptr<EntryMenu> menu(m_list->menuAt(point));
        QStringList items;
        for (QAction* action : menu->actions()) {
            items.append(action->isSeparator() ? u"-"_s : (action->isEnabled() ? QString() : u"~"_s) + action->text());
            if (action->text() == title)
                action->trigger();
        }
        return items.join(QLatin1Char(','));
    }

    FileListView* m_list = nullptr;
};

} // namespace

TEST_F(FileList, ShowsFourColumnsWithFoldersFirstAndResetsOncePerListing)
{
    FileListView& view = list(bareEnvironment());
    QStringList headers;
    for (int column = 0; column < view.listModel()->columnCount(); ++column)
        headers.append(view.listModel()->headerData(column, Qt::Horizontal).toString());
    EXPECT_EQ(headers.join(u','), u"Name,Date Modified,Size,Kind"_s);
    EXPECT_EQ(rowNames(), u"DCIM,Music,.hidden,a.jpg,b.txt"_s);
    EXPECT_FALSE(cell(u"DCIM"_s, FileListModel::modified).isEmpty());
    const std::tuple<const char*, int, int, QString> cells[] = {
        {"DCIM", FileListModel::size, Qt::DisplayRole, u"--"_s},
        {"DCIM", FileListModel::kind, Qt::DisplayRole, u"Folder"_s},
        {"a.jpg", FileListModel::size, Qt::DisplayRole, u"1.5 MB"_s},
        {"a.jpg", FileListModel::kind, Qt::DisplayRole, u"JPG file"_s},
        {".hidden", FileListModel::size, Qt::DisplayRole, u"5 bytes"_s},
        {".hidden", 0, FileListModel::hiddenRole, u"true"_s},
        {"a.jpg", 0, FileListModel::hiddenRole, u"false"_s},
    };
    for (const auto& [name, column, role, text] : cells)
        EXPECT_EQ(cell(QString::fromUtf8(name), column, role), text) << name << " " << column;

    QSignalSpy resets(view.listModel(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(view.listModel(), &QAbstractItemModel::rowsInserted);
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u"c.png"_s, 10)});
    reload();
    settle();
    EXPECT_EQ(rowNames(), u"c.png"_s);
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
    EXPECT_EQ(rowNames(), u"DCIM,Music,.hidden,b.txt,a.jpg"_s);
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), int(FileListModel::size));
    clickHeader(FileListModel::size);
    EXPECT_EQ(rowNames(), u"DCIM,Music,a.jpg,b.txt,.hidden"_s);
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);
}

TEST_F(FileList, SelectionFollowsTheModelAndLeftClicksWriteIt)
{
    FileListView& view = list(bareEnvironment());
    model().setSelection({u"a.jpg"_s, u"DCIM"_s});
    EXPECT_EQ(rowNames(true), u"DCIM,a.jpg"_s);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, at(u"b.txt"_s));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, at(u"Music"_s));
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, at(u"a.jpg"_s));
    QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, at(u"a.jpg"_s));
    EXPECT_EQ(model().selection(), (QSet<QString>{u"b.txt"_s, u"Music"_s}));
    // A new sort keeps the selection on the same entries.
    model().setSortOrder({SortKey{SortKey::Column::name, Qt::DescendingOrder}});
    EXPECT_EQ(rowNames(true), u"Music,b.txt"_s);
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

TEST_F(FileList, TheMenuHasItsItemsForWhatWasClickedAndHandsThemToTheModel)
{
    list(fullEnvironment());
    const QString file = u"Open on Mac,Copy to Mac…,Copy Path,-,Rename…,Delete…"_s;
    const struct {
        QSet<QString> selection;
        QString clicked, items;
    } table[] = {
        {{}, {}, u"New Folder,Copy to Phone…"_s},
        {{}, u"b.txt"_s, file},
        {{}, u"DCIM"_s, u"Open,Copy to Mac…,Copy Path,-,Rename…,Delete…"_s},
        {{u"a.jpg"_s, u"b.txt"_s}, u"a.jpg"_s, u"Open on Mac,Copy to Mac…,Copy Paths,-,Delete…"_s},
        // A folder among them leaves the open slot empty.
        {{u"DCIM"_s, u"a.jpg"_s}, u"a.jpg"_s, u"Copy to Mac…,Copy Paths,-,Delete…"_s},
        // An unselected row gets a menu of its own.
        {{u"DCIM"_s, u"a.jpg"_s}, u"b.txt"_s, file},
    };
    for (const auto& row : table) {
        model().setSelection(row.selection);
        EXPECT_EQ(menu(at(row.clicked)), row.items) << row.clicked.toStdString();
        EXPECT_EQ(model().selection(), row.selection);
    }
    menu(at({}), u"Copy to Phone…"_s);
    menu(at({}), u"New Folder"_s);
    EXPECT_TRUE(model().showingNewFolder());
    menu(at(u"b.txt"_s), u"Rename…"_s);
    EXPECT_EQ(model().renaming().value_or(RemoteEntry()).name, u"b.txt"_s);
    model().setSelection({u"a.jpg"_s, u"b.txt"_s});
    menu(at(u"a.jpg"_s), u"Delete…"_s);
    ASSERT_EQ(desktop->panels.size(), 1);
    EXPECT_EQ(desktop->panels.first().message, QStringLiteral("Choose files or folders to copy to /sdcard"));
    ASSERT_EQ(desktop->questions.size(), 1);
    EXPECT_EQ(desktop->questions.first().message, QStringLiteral("Delete 2 items from the phone?"));
    menu(at(QStringLiteral("b.txt")), QStringLiteral("Copy Paths"));
    EXPECT_EQ(desktop->clipboard, QStringLiteral("/sdcard/b.txt\n/sdcard/a.jpg"));
    menu(at(QStringLiteral("DCIM")), QStringLiteral("Open"));
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/DCIM"_s);
}

// Mended: the menu stayed open over items of a folder or phone the window
// had left, ready to hand them to the model for the folder shown now.
TEST_F(FileList, AnOpenMenuClosesWhenTheListingIsReplaced)
{
    FileListView& view = list(fullEnvironment());
    const QPoint point = at(u"b.txt"_s);
    QContextMenuEvent event(QContextMenuEvent::Mouse, point, view.viewport()->mapToGlobal(point));
    QCoreApplication::sendEvent(view.viewport(), &event);
    QPointer<EntryMenu> menu = view.findChild<EntryMenu*>();
    ASSERT_TRUE(menu && menu->isVisible());
    go(u"/sdcard/DCIM"_s);
    EXPECT_TRUE(!menu || !menu->isVisible());
}

TEST(ByteCount, ReadsInDecimalMultiplesWithZeroAndOneSpelledOut)
{
    EXPECT_EQ(Look::byteCount(0), u"Zero KB"_s);
    EXPECT_EQ(Look::byteCount(1), u"1 byte"_s);
    EXPECT_EQ(Look::byteCount(999999), u"1 MB"_s);
}
