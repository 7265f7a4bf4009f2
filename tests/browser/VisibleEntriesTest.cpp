// The listing as the views show it: natural, case-insensitive name order,
// folders first whatever the sort, the search filter and other columns.

#include "BrowserFakes.h"
#include "VisibleEntries.h"

using namespace browsertest;

namespace {

TEST(VisibleEntriesTest, SortsFoldersFirstByTheKeysInTurnAndFiltersByTheSearch)
{
    const auto at = [](int day) { return QDateTime::fromSecsSinceEpoch(1700000000 + qint64(day) * 86400, Qt::UTC); };
    const QList<RemoteEntry> entries{file(u"img10.jpg"_s, 10, at(1)), file(u"IMG2.jpg"_s, 20, at(2)), folder(u"zz"_s),
                                     file(u"img1.jpg"_s, 10, at(3)), file(u"b.txt"_s, 30), folder(u"Alpha"_s)};
    const SortKey byName{SortKey::Column::name, Qt::AscendingOrder};
    const struct {
        SortOrder order;
        QString search, shown;
    } table[] = {
        {{byName}, {}, u"Alpha,zz,b.txt,img1.jpg,IMG2.jpg,img10.jpg"_s},
        {{SortKey{SortKey::Column::name, Qt::DescendingOrder}}, {}, u"zz,Alpha,img10.jpg,IMG2.jpg,img1.jpg,b.txt"_s},
        // Ties go to the next key.
        {{SortKey{SortKey::Column::size, Qt::AscendingOrder}, SortKey{SortKey::Column::modified, Qt::DescendingOrder}},
         {},
         u"zz,Alpha,img1.jpg,img10.jpg,IMG2.jpg,b.txt"_s}, // full ties keep the listing order
        {{byName}, u"IMG1"_s, u"img1.jpg,img10.jpg"_s},
        {{byName}, u"A"_s, u"Alpha"_s},
    };
    for (const auto& row : table) {
        VisibleEntries visible;
        visible.setEntries(entries);
        visible.setSortOrder(row.order);
        visible.setSearchText(row.search);
        EXPECT_EQ(joined(visible.result()), row.shown);
    }
}

} // namespace
