// The sidebar: the phones and their rows, the locations of a ready phone
// and how choosing one navigates.

#include "Sidebar.h"
#include "WindowFixture.h"

#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class SidebarTest : public WindowTest {
protected:
    Sidebar& sidebar(const Environment& env) { return *(m_sidebar = &show<Sidebar>(env, QSize(250, 600))); }
    DeviceRow* row(const QString& serial)
    {
        const auto rows = m_sidebar->deviceRows();
        const auto found
            = std::find_if(rows.begin(), rows.end(), [&](auto* row) { return row->device().serial == serial; });
        return found == rows.end() ? nullptr : *found;
    }
    void click(const QString& location)
    {
        for (LocationRow* row : m_sidebar->locationRows()) {
            if (row->text() == location)
                QTest::mouseClick(row, Qt::LeftButton);
        }
        settle();
    }
    QStringList checkedLocations()
    {
        QStringList names;
        for (LocationRow* row : m_sidebar->locationRows()) {
            if (row->isChecked())
                names.append(row->text());
        }
        return names;
    }

    Sidebar* m_sidebar = nullptr;
};

} // namespace

TEST_F(SidebarTest, OnlyAReadyPhoneHasLocationsAndTheyNavigateWithHistory)
{
    Sidebar& view = sidebar(fullEnvironment());
    adbPhoneIn(u"unauthorized"_s);
    EXPECT_FALSE(view.showsLocations());
    ASSERT_EQ(view.deviceRows().size(), 1);
    EXPECT_EQ(view.deviceRows().first()->stateLine(), u"Waiting for permission"_s);

    adbPhoneIn(u"device"_s);
    EXPECT_TRUE(view.showsLocations());
    EXPECT_EQ(checkedLocations(), QStringList{u"Internal Storage"_s});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/Pictures/Screenshots"_s, {});
    click(u"Screenshots"_s);
    EXPECT_EQ(model().path(), u"/sdcard/Pictures/Screenshots"_s);
    EXPECT_TRUE(model().canGoBack());
    // Only the exact folder is highlighted, not the one above it.
    EXPECT_EQ(checkedLocations(), QStringList{u"Screenshots"_s});
    go(u"/sdcard/Pictures/Screenshots/2024"_s);
    EXPECT_TRUE(checkedLocations().isEmpty());

    // Clicking the folder shown changes nothing and stays checked.
    go(u"/sdcard/Music"_s);
    click(u"Music"_s);
    EXPECT_EQ(checkedLocations(), QStringList{u"Music"_s});
    EXPECT_EQ(model().path(), u"/sdcard/Music"_s);
}

TEST_F(SidebarTest, RowsShowHowEachPhoneIsConnectedAndAClickChoosesIt)
{
    adb->setDevices({adbPhone(u"USB1"_s), adbPhone(u"192.168.1.20:5555"_s)});
    mtp->setDevices({mtpPhone(u"M1"_s)});
    Sidebar& view = sidebar(fullEnvironment());
    pass();
    const QString wifi = u"192.168.1.20:5555"_s;
    ASSERT_EQ(view.deviceRows().size(), 3);
    for (const auto& [serial, symbol] :
         {std::pair{u"USB1"_s, u"cable.connector"_s}, {wifi, u"wifi"_s}, {u"M1"_s, u"folder"_s}})
        EXPECT_EQ(row(serial)->symbolName(), symbol);

    // Only a Wi-Fi phone has a menu: Disconnect.
    EXPECT_EQ(row(u"USB1"_s)->makeContextMenu(), nullptr);
    std::unique_ptr<QMenu> menu(row(wifi)->makeContextMenu());
    ASSERT_TRUE(menu);
    menu->actions().first()->trigger();
    EXPECT_EQ(calls, QStringList{u"disconnect:192.168.1.20:5555"_s});

    QTest::mouseClick(row(u"M1"_s), Qt::LeftButton);
    settle();
    EXPECT_EQ(model().selectedSerial(), std::optional<QString>(u"M1"_s));
    for (DeviceRow* each : view.deviceRows())
        EXPECT_EQ(each->isCurrent(), each == row(u"M1"_s)) << each->device().serial.toStdString();

    view.wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());
}
