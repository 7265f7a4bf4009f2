// The tool windows' numbers keep digits of one width: the Apps window's
// versions and the log's line count, with a font whose digits differ.

#include "AppsList.h"
#include "AppsTable.h"
#include "LogcatView.h"
#include "UnevenDigits.h"

#include <QLabel>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <gtest/gtest.h>

#include <optional>

using namespace Qt::Literals::StringLiterals;

namespace {

using testsupport::firstInkCentre;

} // namespace

TEST(ToolsDigits, VersionsLineUpDigitForDigit)
{
    const QFont uneven = testsupport::unevenDigitsFont(20);
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    AppsList list([] { return QString(); }, nullptr);
    list.resize(700, 300);
    auto* filter = qobject_cast<QSortFilterProxyModel*>(list.table()->model());
    ASSERT_TRUE(filter);
    auto* rows = qobject_cast<AppsTableModel*>(filter->sourceModel());
    ASSERT_TRUE(rows);
    InstalledApp one, eight;
    one.package = u"com.example.a"_s;
    one.version = u"1 0"_s;
    eight.package = u"com.example.b"_s;
    eight.version = u"8 0"_s;
    rows->setApps({one, eight});
    list.table()->setFont(uneven);
    list.show();
    const QImage image = list.table()->viewport()->grab().toImage();
    std::optional<double> centres[2];
    for (int row = 0; row < 2; ++row) {
        const QRect cell = list.table()->visualRect(filter->index(row, 1));
        centres[row] = firstInkCentre(image, cell.adjusted(0, 2, 0, -2));
        ASSERT_TRUE(centres[row]) << row;
    }
    EXPECT_NEAR(*centres[0], *centres[1], 0.6);
}

TEST(ToolsDigits, TheLogsLineCountKeepsItsWidth)
{
    const QFont uneven = testsupport::unevenDigitsFont();
    ASSERT_TRUE(testsupport::isUnevenDigitsFont(uneven));
    LogcatView view;
    auto* count = view.findChild<QLabel*>(u"count"_s);
    ASSERT_TRUE(count);
    count->setFont(uneven);
    count->setText(u"111 lines"_s);
    const int ones = count->sizeHint().width();
    count->setText(u"888 lines"_s);
    EXPECT_EQ(count->sizeHint().width(), ones);
}
