// The persisted settings: defaults on a first start, reading what a text
// store gives back, and writing every assignment at once.

#include "BrowserFakes.h"
#include "BrowserSettings.h"

using namespace browsertest;

namespace {

class SettingsTest : public ModelTest {};

TEST_F(SettingsTest, FirstStartGivesTheDefaultsAndWritesNothing)
{
    BrowserModel& m = model();
    EXPECT_FALSE(m.showHidden());
    EXPECT_TRUE(m.askWhereToSave());
    EXPECT_TRUE(m.revealAfterCopy());
    EXPECT_TRUE(m.keepRunningInMenuBar());
    EXPECT_TRUE(m.openWhenConnected());
    EXPECT_TRUE(m.autoReconnectWireless());
    EXPECT_TRUE(m.pairedPhones().isEmpty());
    EXPECT_EQ(m.viewMode(), ViewMode::list);
    EXPECT_EQ(m.saveFolder(), BrowserSettings::downloadsFolder());
    EXPECT_EQ(m.sortOrder(), (SortOrder{SortKey{SortKey::Column::name, Qt::AscendingOrder}}));

    settings().sync();
    EXPECT_TRUE(QSettings(m_settingsPath, QSettings::IniFormat).allKeys().isEmpty());
}

TEST_F(SettingsTest, TextFromAnIniFileIsReadWithTheRightTypes)
{
    // Booleans as text; a text that is no boolean counts as absent, except
    // for showHidden, which is read leniently; only the exact view mode texts.
    seedIni("[General]\nshowHidden=1\naskWhereToSave=false\nrevealAfterCopy=no\nkeepRunningInMenuBar=FALSE\n"
            "viewMode=Grid\nsaveFolder=file:///srv/phone%20copies\n");
    BrowserModel& m = model();
    EXPECT_TRUE(m.showHidden());
    EXPECT_FALSE(m.askWhereToSave());
    EXPECT_TRUE(m.revealAfterCopy());
    EXPECT_TRUE(m.keepRunningInMenuBar());
    EXPECT_EQ(m.viewMode(), ViewMode::list);
    EXPECT_EQ(m.saveFolder(), QStringLiteral("/srv/phone copies"));

    seedIni("[General]\nshowHidden=0\nsaveFolder=relative/folder\n");
    EXPECT_FALSE(BrowserSettings(settings()).lenientFlag(QStringLiteral("showHidden")));
    EXPECT_EQ(BrowserSettings(settings()).folder(QStringLiteral("saveFolder")), BrowserSettings::downloadsFolder());
}

TEST_F(SettingsTest, EveryAssignmentIsWrittenAndReadBackByTheNextStart)
{
    BrowserModel& m = model();
    m.setAskWhereToSave(false);
    m.setRevealAfterCopy(false);
    m.setKeepRunningInMenuBar(false);
    m.setOpenWhenConnected(false);
    m.setAutoReconnectWireless(false);
    m.setViewMode(ViewMode::grid);
    m.setSaveFolder(QStringLiteral("/srv/copies"));
    const PhoneNames paired{{QStringLiteral("R58M"), QStringLiteral("Pixel")}, {QStringLiteral("X1"), QString()}};
    m.setPairedPhones(paired);
    EXPECT_EQ(stored(QStringLiteral("viewMode")).toString(), QStringLiteral("grid"));

    QSettings again(m_settingsPath, QSettings::IniFormat);
    const auto next = makeModel(again);
    EXPECT_FALSE(next->askWhereToSave());
    EXPECT_FALSE(next->revealAfterCopy());
    EXPECT_FALSE(next->keepRunningInMenuBar());
    EXPECT_FALSE(next->openWhenConnected());
    EXPECT_FALSE(next->autoReconnectWireless());
    EXPECT_EQ(next->viewMode(), ViewMode::grid);
    EXPECT_EQ(next->saveFolder(), QStringLiteral("/srv/copies"));
    EXPECT_EQ(next->pairedPhones(), paired);
}

TEST_F(SettingsTest, AssigningShowHiddenWritesItAndListsTheFolderAgain)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"),
                                                 {file(QStringLiteral(".nomedia")), file(QStringLiteral("a.txt"))});
    pass();
    ASSERT_EQ(names(model().entries()), QStringList{QStringLiteral("a.txt")});
    model().setShowHidden(true);
    settle();
    EXPECT_EQ(stored(QStringLiteral("showHidden")).toString(), QStringLiteral("true"));
    EXPECT_EQ(names(model().entries()).size(), 2);
}

} // namespace
