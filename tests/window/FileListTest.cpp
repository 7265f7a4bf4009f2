// The file list: its columns and rows, sorting by the headers, the
// selection in both directions, opening by double-click and Return.

#include "FileListView.h"
#include "Look.h"
#include "WindowFixture.h"

#include <QHeaderView>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class FileList : public WindowTest {
protected:
    FileListView& list(const Environment& env)
    {
        m_list = std::make_unique<FileListView>(env);
        m_list->resize(800, 400);
        m_list->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_list.get()));
        return *m_list;
    }
    QString cell(int row, int column)
    {
        FileListModel* rows = m_list->listModel();
        return rows->data(rows->index(row, column)).toString();
    }
    // One ready adb phone whose /sdcard holds the sample, hidden items shown.
    void samplePhone()
    {
        model().setShowHidden(true);
        adbPhoneIn(QStringLiteral("device"), sample);
    }
    int row(const QString& name) { return m_list->listModel()->rowOf(name); }
    QPoint rowCentre(int row)
    {
        return m_list->visualRect(m_list->listModel()->index(row, FileListModel::name)).center();
    }
    void clickHeader(int column)
    {
        QHeaderView* header = m_list->horizontalHeader();
        const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    }
    const QList<RemoteEntry> sample = {
        file(QStringLiteral("b.txt"), 2000),         folder(QStringLiteral("Music")),
        file(QStringLiteral("a.jpg"), 1500000),      folder(QStringLiteral("DCIM")),
        file(QStringLiteral(".hidden"), 5),
    };

private:
    std::unique_ptr<FileListView> m_list;
};

} // namespace

TEST_F(FileList, ShowsFourColumnsWithFoldersFirst)
{
    samplePhone();
    FileListView& view = list(bareEnvironment());
    FileListModel* rows = view.listModel();
    ASSERT_EQ(rows->columnCount(), 4);
    EXPECT_EQ(rows->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Name"));
    EXPECT_EQ(rows->headerData(1, Qt::Horizontal).toString(), QStringLiteral("Date Modified"));
    EXPECT_EQ(rows->headerData(2, Qt::Horizontal).toString(), QStringLiteral("Size"));
    EXPECT_EQ(rows->headerData(3, Qt::Horizontal).toString(), QStringLiteral("Kind"));

    ASSERT_EQ(rows->rowCount(), 5);
    EXPECT_EQ(rowNames(&view).mid(0, 2), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Music")}));
    EXPECT_EQ(cell(row(QStringLiteral("DCIM")), FileListModel::size), QStringLiteral("--"));
    EXPECT_EQ(cell(row(QStringLiteral("DCIM")), FileListModel::kind), QStringLiteral("Folder"));
    EXPECT_EQ(cell(row(QStringLiteral("a.jpg")), FileListModel::size), QStringLiteral("1.5 MB"));
    EXPECT_EQ(cell(row(QStringLiteral("a.jpg")), FileListModel::kind), QStringLiteral("JPG file"));
    EXPECT_EQ(cell(row(QStringLiteral("b.txt")), FileListModel::size), QStringLiteral("2 KB"));
    EXPECT_EQ(cell(row(QStringLiteral(".hidden")), FileListModel::size), QStringLiteral("5 bytes"));
    EXPECT_EQ(cell(row(QStringLiteral(".hidden")), FileListModel::kind), QStringLiteral("Document"));
    EXPECT_FALSE(cell(row(QStringLiteral("DCIM")), FileListModel::modified).isEmpty());
    EXPECT_TRUE(rows->data(rows->index(row(QStringLiteral(".hidden")), 0), FileListModel::hiddenRole).toBool());
    EXPECT_FALSE(rows->data(rows->index(row(QStringLiteral("a.jpg")), 0), FileListModel::hiddenRole).toBool());
}

TEST_F(FileList, ResetsOnceForEachNewListing)
{
    samplePhone();
    FileListView& view = list(bareEnvironment());
    QSignalSpy resets(view.listModel(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(view.listModel(), &QAbstractItemModel::rowsInserted);
    reload();
    settle();
    // The same listing again changes nothing; a new one is one reset.
    QList<RemoteEntry> more = sample;
    more.append(file(QStringLiteral("c.png"), 10));
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), more);
    const int before = int(resets.count());
    reload();
    settle();
    EXPECT_EQ(resets.count(), before + 1);
    EXPECT_EQ(inserts.count(), 0);
    EXPECT_EQ(view.listModel()->rowCount(), 6);
}

TEST_F(FileList, AHeaderClickSetsTheSortOrderAndASecondOneReversesIt)
{
    samplePhone();
    FileListView& view = list(bareEnvironment());

    clickHeader(FileListModel::size);
    ASSERT_FALSE(model().sortOrder().isEmpty());
    EXPECT_EQ(model().sortOrder().first(), (SortKey{SortKey::Column::size, Qt::AscendingOrder}));
    // The name, sorted on before, still breaks ties.
    EXPECT_EQ(model().sortOrder().size(), 2);
    EXPECT_EQ(model().sortOrder()[1].column, SortKey::Column::name);
    EXPECT_EQ(rowNames(&view).mid(2), (QStringList{QStringLiteral(".hidden"), QStringLiteral("b.txt"),
                                                  QStringLiteral("a.jpg")}));
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorSection(), int(FileListModel::size));

    clickHeader(FileListModel::size);
    EXPECT_EQ(model().sortOrder().first(), (SortKey{SortKey::Column::size, Qt::DescendingOrder}));
    EXPECT_EQ(rowNames(&view).mid(2), (QStringList{QStringLiteral("a.jpg"), QStringLiteral("b.txt"),
                                                  QStringLiteral(".hidden")}));
    EXPECT_EQ(view.horizontalHeader()->sortIndicatorOrder(), Qt::DescendingOrder);

    clickHeader(FileListModel::name);
    EXPECT_EQ(model().sortOrder().first(), (SortKey{SortKey::Column::name, Qt::AscendingOrder}));
    EXPECT_EQ(model().sortOrder()[1], (SortKey{SortKey::Column::size, Qt::DescendingOrder}));
}

TEST_F(FileList, SelectionFollowsTheModelAndClicksWriteIt)
{
    samplePhone();
    FileListView& view = list(bareEnvironment());

    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("DCIM")});
    QStringList selected;
    for (const QModelIndex& index : view.selectionModel()->selectedRows())
        selected.append(view.listModel()->entry(index.row()).name);
    selected.sort();
    EXPECT_EQ(selected, (QStringList{QStringLiteral("DCIM"), QStringLiteral("a.jpg")}));

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, rowCentre(row(QStringLiteral("b.txt"))));
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("b.txt")});
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(row(QStringLiteral("Music"))));
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("b.txt"), QStringLiteral("Music")}));

    // A new sort keeps the selection on the same entries.
    model().setSortOrder({SortKey{SortKey::Column::name, Qt::DescendingOrder}});
    QStringList kept;
    for (const QModelIndex& index : view.selectionModel()->selectedRows())
        kept.append(view.listModel()->entry(index.row()).name);
    kept.sort();
    EXPECT_EQ(kept, (QStringList{QStringLiteral("Music"), QStringLiteral("b.txt")}));
}

TEST_F(FileList, ARightClickLeavesTheSelectionAlone)
{
    samplePhone();
    FileListView& view = list(bareEnvironment());
    model().setSelection({QStringLiteral("a.jpg")});
    const QPoint other = rowCentre(row(QStringLiteral("b.txt")));
    QTest::mousePress(view.viewport(), Qt::RightButton, {}, other);
    QTest::mouseRelease(view.viewport(), Qt::RightButton, {}, other);
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("a.jpg")});
}

TEST_F(FileList, DoubleClickingAFolderEntersIt)
{
    samplePhone();
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Music"), {file(QStringLiteral("song.mp3"))});
    FileListView& view = list(fullEnvironment());
    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, rowCentre(row(QStringLiteral("Music"))));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    EXPECT_TRUE(model().canGoBack());
    EXPECT_EQ(rowNames(&view), QStringList{QStringLiteral("song.mp3")});
}

TEST_F(FileList, ReturnOpensOneFolderOrTheFilesAmongSeveral)
{
    samplePhone();
    FileListView& view = list(fullEnvironment());
    view.setFocus();

    model().setSelection({QStringLiteral("a.jpg"), QStringLiteral("b.txt"), QStringLiteral("DCIM")});
    QTest::keyClick(&view, Qt::Key_Return);
    // In listing order, the folder left out.
    EXPECT_EQ(calls, QStringList{QStringLiteral("openOnMac:b.txt,a.jpg")});

    calls.clear();
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("Music")});
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_TRUE(calls.isEmpty());
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));

    model().setSelection({QStringLiteral("a.jpg")});
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_EQ(calls, QStringList{QStringLiteral("remove:a.jpg")});
    calls.clear();
    model().setSelection({});
    QTest::keyClick(&view, Qt::Key_Delete);
    EXPECT_TRUE(calls.isEmpty());
}

TEST(ByteCount, ReadsInDecimalMultiples)
{
    EXPECT_EQ(Look::byteCount(0), QStringLiteral("Zero KB"));
    EXPECT_EQ(Look::byteCount(1), QStringLiteral("1 byte"));
    EXPECT_EQ(Look::byteCount(999), QStringLiteral("999 bytes"));
    EXPECT_EQ(Look::byteCount(1000), QStringLiteral("1 KB"));
    EXPECT_EQ(Look::byteCount(12345), QStringLiteral("12 KB"));
    EXPECT_EQ(Look::byteCount(999999), QStringLiteral("1 MB"));
    EXPECT_EQ(Look::byteCount(4100000), QStringLiteral("4.1 MB"));
    EXPECT_EQ(Look::byteCount(3000000), QStringLiteral("3 MB"));
    EXPECT_EQ(Look::byteCount(1234567890), QStringLiteral("1.23 GB"));
    EXPECT_EQ(Look::byteCount(2000000000000), QStringLiteral("2 TB"));
}
