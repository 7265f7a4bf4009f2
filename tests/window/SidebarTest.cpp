// The sidebar: the phones and their rows, the locations of a ready phone
// and how choosing one navigates.

#include "Sidebar.h"
#include "WindowFixture.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class SidebarTest : public WindowTest {
protected:
    Sidebar& sidebar(const Environment& env)
    {
        m_sidebar = std::make_unique<Sidebar>(env);
        m_sidebar->resize(250, 600);
        m_sidebar->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_sidebar.get()));
        return *m_sidebar;
    }
    LocationRow* location(const QString& name)
    {
        for (LocationRow* row : m_sidebar->locationRows()) {
            if (row->text() == name)
                return row;
        }
        return nullptr;
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

private:
    std::unique_ptr<Sidebar> m_sidebar;
};

} // namespace

TEST_F(SidebarTest, WithoutPhonesOnlyTheWirelessButtonIsListed)
{
    Sidebar& view = sidebar(fullEnvironment());
    EXPECT_FALSE(view.showsLocations());
    EXPECT_TRUE(view.deviceRows().isEmpty());
    EXPECT_FALSE(view.devicesHeader()->isHidden());
    EXPECT_EQ(view.wirelessButton()->text(), QStringLiteral("Connect over Wi-Fi…"));
    view.wirelessButton()->click();
    EXPECT_TRUE(model().showingWireless());
}

TEST_F(SidebarTest, APhoneThatIsNotReadyShowsItsStateAndNoLocations)
{
    Sidebar& view = sidebar(bareEnvironment());
    adbPhoneIn(QStringLiteral("unauthorized"));
    EXPECT_FALSE(view.showsLocations());
    ASSERT_EQ(view.deviceRows().size(), 1);
    DeviceRow* row = view.deviceRows().first();
    EXPECT_TRUE(row->isCurrent());
    EXPECT_EQ(row->stateLine(), QStringLiteral("Waiting for permission"));
    EXPECT_EQ(row->symbolName(), QStringLiteral("cable.connector"));
}

TEST_F(SidebarTest, AReadyPhonesLocationsNavigateWithHistory)
{
    Sidebar& view = sidebar(bareEnvironment());
    adbPhoneIn(QStringLiteral("device"));
    EXPECT_TRUE(view.showsLocations());
    ASSERT_EQ(view.locationRows().size(), 8);
    EXPECT_EQ(view.locationRows().first()->text(), QStringLiteral("Internal Storage"));
    EXPECT_EQ(view.locationRows().last()->text(), QStringLiteral("Movies"));
    EXPECT_EQ(view.deviceRows().first()->stateLine(), QString());
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Internal Storage")});

    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/Pictures/Screenshots"), {});
    QTest::mouseClick(location(QStringLiteral("Screenshots")), Qt::LeftButton);
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Pictures/Screenshots"));
    EXPECT_TRUE(model().canGoBack());
    // Only the exact folder is highlighted, not the one above it.
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Screenshots")});

    go(QStringLiteral("/sdcard/Pictures/Screenshots/2024"));
    EXPECT_TRUE(checkedLocations().isEmpty());

    // Clicking the folder shown changes nothing and stays checked.
    go(QStringLiteral("/sdcard/Music"));
    QTest::mouseClick(location(QStringLiteral("Music")), Qt::LeftButton);
    EXPECT_EQ(checkedLocations(), QStringList{QStringLiteral("Music")});
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
}

TEST_F(SidebarTest, RowsShowHowEachPhoneIsConnectedAndAClickChoosesIt)
{
    adb->setDevices({adbPhone(QStringLiteral("USB1")), adbPhone(QStringLiteral("192.168.1.20:5555"))});
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    Sidebar& view = sidebar(fullEnvironment());
    pass();
    ASSERT_EQ(view.deviceRows().size(), 3);
    QHash<QString, DeviceRow*> rows;
    for (DeviceRow* row : view.deviceRows())
        rows.insert(row->device().serial, row);
    EXPECT_EQ(rows[QStringLiteral("USB1")]->symbolName(), QStringLiteral("cable.connector"));
    EXPECT_EQ(rows[QStringLiteral("192.168.1.20:5555")]->symbolName(), QStringLiteral("wifi"));
    EXPECT_EQ(rows[QStringLiteral("M1")]->symbolName(), QStringLiteral("folder"));
    EXPECT_TRUE(rows[QStringLiteral("USB1")]->isCurrent());

    // Only a Wi-Fi phone has a menu: Disconnect.
    EXPECT_EQ(rows[QStringLiteral("USB1")]->makeContextMenu(), nullptr);
    std::unique_ptr<QMenu> menu(rows[QStringLiteral("192.168.1.20:5555")]->makeContextMenu());
    ASSERT_TRUE(menu);
    ASSERT_EQ(menu->actions().size(), 1);
    EXPECT_EQ(menu->actions().first()->text(), QStringLiteral("Disconnect"));
    menu->actions().first()->trigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("disconnect:192.168.1.20:5555")});

    QTest::mouseClick(rows[QStringLiteral("M1")], Qt::LeftButton);
    EXPECT_EQ(model().selectedSerial(), std::optional<QString>(QStringLiteral("M1")));
    settle();
    int current = 0;
    for (DeviceRow* row : view.deviceRows()) {
        if (row->isCurrent()) {
            ++current;
            EXPECT_EQ(row->device().serial, QStringLiteral("M1"));
        }
    }
    EXPECT_EQ(current, 1);
}

TEST_F(SidebarTest, CommandsWithoutTheirOperationAreDisabled)
{
    adb->setDevices({adbPhone(QStringLiteral("192.168.1.20:5555"))});
    Sidebar& view = sidebar(bareEnvironment());
    pass();
    EXPECT_FALSE(view.wirelessButton()->isEnabled());
    EXPECT_FALSE(view.aboutButton()->isEnabled());
    std::unique_ptr<QMenu> menu(view.deviceRows().first()->makeContextMenu());
    ASSERT_TRUE(menu);
    EXPECT_FALSE(menu->actions().first()->isEnabled());
}
