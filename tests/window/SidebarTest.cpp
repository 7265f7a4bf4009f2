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
    adbPhoneIn(QStringLiteral("unauthorized"));
    EXPECT_FALSE(view.showsLocations());
    ASSERT_EQ(view.deviceRows().size(), 1);
    EXPECT_EQ(view.deviceRows().first()->stateLine(), QStringLiteral("Waiting for permission"));

    adbPhoneIn(QStringLiteral("device"));
    EXPECT_TRUE(view.showsLocations());
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Internal Storage")});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Pictures/Screenshots"), {});
    click(QStringLiteral("Screenshots"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Pictures/Screenshots"));
    EXPECT_TRUE(model().canGoBack());
    // Only the exact folder is highlighted, not the one above it.
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Screenshots")});
    go(QStringLiteral("/sdcard/Pictures/Screenshots/2024"));
    EXPECT_TRUE(checkedLocations().isEmpty());

    // Clicking the folder shown changes nothing and stays checked.
    go(QStringLiteral("/sdcard/Music"));
    click(QStringLiteral("Music"));
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Music")});
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
}

TEST_F(SidebarTest, RowsShowHowEachPhoneIsConnectedAndAClickChoosesIt)
{
    adb->setDevices({adbPhone(QStringLiteral("USB1")), adbPhone(QStringLiteral("192.168.1.20:5555"))});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    Sidebar& view = sidebar(fullEnvironment());
    pass();
    const QString wifi = QStringLiteral("192.168.1.20:5555");
    ASSERT_EQ(view.deviceRows().size(), 3);
    EXPECT_EQ(row(QStringLiteral("USB1"))->symbolName(), QStringLiteral("cable.connector"));
    EXPECT_EQ(row(wifi)->symbolName(), QStringLiteral("wifi"));
    EXPECT_EQ(row(QStringLiteral("M1"))->symbolName(), QStringLiteral("folder"));

    // Only a Wi-Fi phone has a menu: Disconnect.
    EXPECT_EQ(row(QStringLiteral("USB1"))->makeContextMenu(), nullptr);
    std::unique_ptr<QMenu> menu(row(wifi)->makeContextMenu());
    ASSERT_TRUE(menu);
    menu->actions().first()->trigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("disconnect:192.168.1.20:5555")});

    QTest::mouseClick(row(QStringLiteral("M1")), Qt::LeftButton);
    settle();
    EXPECT_EQ(model().selectedSerial(), std::optional<QString>(QStringLiteral("M1")));
    for (DeviceRow* each : view.deviceRows())
        EXPECT_EQ(each->isCurrent(), each == row(QStringLiteral("M1"))) << each->device().serial.toStdString();

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
