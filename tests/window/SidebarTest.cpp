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
        for (DeviceRow* row : m_sidebar->deviceRows()) {
            if (row->device().serial == serial)
                return row;
        }
        ADD_FAILURE() << "no row for " << serial.toStdString();
        return nullptr;
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
    EXPECT_EQ(row(u"USB1"_s)->symbolName(), u"cable.connector"_s);
    EXPECT_EQ(row(wifi)->symbolName(), u"wifi"_s);
    EXPECT_EQ(row(u"M1"_s)->symbolName(), u"folder"_s);

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

    // Without their operations the commands are disabled.
    menu.reset(); // owned by its row too
    Sidebar& bare = sidebar(bareEnvironment());
    EXPECT_FALSE(bare.wirelessButton()->isEnabled());
    EXPECT_FALSE(bare.aboutButton()->isEnabled());
    menu.reset(row(wifi)->makeContextMenu());
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions().first()->isEnabled());
}
