// The persisted settings: nothing written on a first start, reading what a
// text store gives back, and writing every assignment at once.

#include "BrowserFakes.h"
#include "BrowserSettings.h"

using namespace browsertest;

namespace {

class SettingsTest : public ModelTest {
protected:
    // The flags askWhereToSave, revealAfterCopy, keepRunningInMenuBar,
    // openWhenConnected, autoReconnectWireless and showHidden as 0s and 1s.
    static std::string flags(const BrowserModel& m)
    {
        std::string result;
        for (bool flag : {m.askWhereToSave(), m.revealAfterCopy(), m.keepRunningInMenuBar(), m.openWhenConnected(),
                          m.autoReconnectWireless(), m.showHidden()})
            result += flag ? '1' : '0';
        return result;
    }
};

TEST_F(SettingsTest, TextFromAnIniFileIsReadWithTheRightTypes)
{
    // Booleans as text; a text that is no boolean counts as absent, except
    // for showHidden, which is read leniently; only the exact view mode texts.
    seedIni("[General]\nshowHidden=1\naskWhereToSave=false\nrevealAfterCopy=no\nkeepRunningInMenuBar=FALSE\n"
            "viewMode=Grid\nsaveFolder=file:///srv/phone%20copies\n");
    EXPECT_EQ(flags(model()), "011111");
    EXPECT_EQ(model().viewMode(), ViewMode::list);
    EXPECT_EQ(model().saveFolder(), u"/srv/phone copies"_s);
    seedIni("[General]\nshowHidden=0\nsaveFolder=relative/folder\n");
    EXPECT_FALSE(BrowserSettings(settings()).lenientFlag(u"showHidden"_s));
    EXPECT_EQ(BrowserSettings(settings()).folder(u"saveFolder"_s), BrowserSettings::downloadsFolder());
}

TEST_F(SettingsTest, AFirstStartWritesNothingAndEveryAssignmentIsReadBackByTheNextStart)
{
    BrowserModel& m = model();
    EXPECT_EQ(flags(m), "111110");
    EXPECT_EQ(m.saveFolder(), BrowserSettings::downloadsFolder());
    settings().sync();
    EXPECT_TRUE(QSettings(m_settingsPath, QSettings::IniFormat).allKeys().isEmpty());
    adb->setDevices({adbPhone(u"A1"_s)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {file(u".nomedia"_s), file(u"a.txt"_s)});
    pass();
    ASSERT_EQ(joined(m.entries()), u"a.txt"_s);
    m.setAskWhereToSave(false);
    m.setRevealAfterCopy(false);
    m.setKeepRunningInMenuBar(false);
    m.setOpenWhenConnected(false);
    m.setAutoReconnectWireless(false);
    m.setShowHidden(true);
    m.setViewMode(ViewMode::grid);
    m.setSaveFolder(u"/srv/copies"_s);
    const PhoneNames paired{{u"R58M"_s, u"Pixel"_s}, {u"X1"_s, QString()}};
    m.setPairedPhones(paired);
    EXPECT_EQ(stored(u"viewMode"_s).toString(), u"grid"_s);
    // Showing hidden files lists the folder again.
    settle();
    EXPECT_EQ(joined(model().entries()), u".nomedia,a.txt"_s);

    QSettings again(m_settingsPath, QSettings::IniFormat);
    const auto next = makeModel(again);
    EXPECT_EQ(flags(*next), "000001");
    EXPECT_EQ(next->viewMode(), ViewMode::grid);
    EXPECT_EQ(next->saveFolder(), u"/srv/copies"_s);
    EXPECT_EQ(next->pairedPhones(), paired);
}

} // namespace
