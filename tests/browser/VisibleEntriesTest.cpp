// The listing as the views show it: natural, case-insensitive name order,
// folders first whatever the sort, the search filter, other columns, and the
// result kept between reads.

#include "BrowserFakes.h"
#include "VisibleEntries.h"

using namespace browsertest;

namespace {

QStringList shown(const VisibleEntries& visible)
{
    return names(visible.result());
}

TEST(VisibleEntriesTest, NamesSortNaturallyWithoutRegardToCaseAndFoldersFirst)
{
    VisibleEntries visible;
    visible.setEntries({file(QStringLiteral("img10.jpg")), file(QStringLiteral("IMG2.jpg")), folder(QStringLiteral("zz")),
                        file(QStringLiteral("img1.jpg")), file(QStringLiteral("b.txt")), folder(QStringLiteral("Alpha"))});
    EXPECT_EQ(shown(visible), (QStringList{QStringLiteral("Alpha"), QStringLiteral("zz"), QStringLiteral("b.txt"),
                                           QStringLiteral("img1.jpg"), QStringLiteral("IMG2.jpg"), QStringLiteral("img10.jpg")}));
    visible.setSortOrder({SortKey{SortKey::Column::name, Qt::DescendingOrder}});
    EXPECT_EQ(shown(visible), (QStringList{QStringLiteral("zz"), QStringLiteral("Alpha"), QStringLiteral("img10.jpg"),
                                           QStringLiteral("IMG2.jpg"), QStringLiteral("img1.jpg"), QStringLiteral("b.txt")}));
}

TEST(VisibleEntriesTest, TiesGoToTheNextKey)
{
    const auto at = [](int day) { return QDateTime::fromSecsSinceEpoch(1700000000 + qint64(day) * 86400, Qt::UTC); };
    VisibleEntries visible;
    visible.setEntries({file(QStringLiteral("c"), 10, at(1)), file(QStringLiteral("a"), 20, at(2)),
                        file(QStringLiteral("b"), 10, at(3))});
    visible.setSortOrder({SortKey{SortKey::Column::size, Qt::AscendingOrder},
                          SortKey{SortKey::Column::modified, Qt::DescendingOrder}});
    EXPECT_EQ(shown(visible), (QStringList{QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("a")}));
}

TEST(VisibleEntriesTest, SearchKeepsNamesContainingTheTextInAnyCase)
{
    VisibleEntries visible;
    visible.setEntries({file(QStringLiteral("holiday.jpg")), folder(QStringLiteral("Holidays")),
                        file(QStringLiteral("work.doc"))});
    visible.setSearchText(QStringLiteral("HOLI"));
    EXPECT_EQ(shown(visible), (QStringList{QStringLiteral("Holidays"), QStringLiteral("holiday.jpg")}));
}

class ModelVisibleEntriesTest : public ModelTest {};

TEST_F(ModelVisibleEntriesTest, TheResultIsKeptUntilListingSearchOrSortChange)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"),
                                                 {file(QStringLiteral("b 10")), file(QStringLiteral("b 2")),
                                                  folder(QStringLiteral("z"))});
    pass();
    BrowserModel& m = model();
    QSignalSpy changes(&m, &BrowserModel::visibleEntriesChanged);
    const RemoteEntry* first = m.visibleEntries().constData();
    EXPECT_EQ(names(m.visibleEntries()), (QStringList{QStringLiteral("z"), QStringLiteral("b 2"), QStringLiteral("b 10")}));
    m.setSelection({QStringLiteral("z")});
    EXPECT_EQ(m.visibleEntries().constData(), first);
    EXPECT_EQ(changes.count(), 0);

    m.setSortOrder({SortKey{SortKey::Column::name, Qt::DescendingOrder}});
    EXPECT_EQ(changes.count(), 1);
    m.setSearchText(QStringLiteral("B"));
    EXPECT_EQ(changes.count(), 2);
    EXPECT_EQ(names(m.visibleEntries()), (QStringList{QStringLiteral("b 10"), QStringLiteral("b 2")}));
}

} // namespace
