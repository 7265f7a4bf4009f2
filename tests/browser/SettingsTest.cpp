// The persisted settings: defaults on a first start, reading what a text
// store gives back, and writing every assignment at once.

#include "BrowserFakes.h"
#include "BrowserSettings.h"
#include "TestSupport.h"

#include <QFile>

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
    EXPECT_EQ(m.path(), QStringLiteral("/sdcard"));
    EXPECT_EQ(m.sortOrder(), SortOrder{SortKey{}});
    EXPECT_EQ(m.sortOrder().first().column, SortKey::Column::name);
    EXPECT_EQ(m.sortOrder().first().order, Qt::AscendingOrder);
    EXPECT_EQ(m.windowRequest(), 0);
    EXPECT_FALSE(m.job().has_value());

    settings().sync();
    EXPECT_TRUE(QSettings(m_settingsPath, QSettings::IniFormat).allKeys().isEmpty());
}

TEST_F(SettingsTest, BooleansWrittenAsTextAreReadAsBooleans)
{
    seedIni("[General]\nshowHidden=true\naskWhereToSave=false\nrevealAfterCopy=false\n"
            "keepRunningInMenuBar=false\nopenWhenConnected=false\nautoReconnectWireless=false\n");
    BrowserModel& m = model();
    EXPECT_TRUE(m.showHidden());
    EXPECT_FALSE(m.askWhereToSave());
    EXPECT_FALSE(m.revealAfterCopy());
    EXPECT_FALSE(m.keepRunningInMenuBar());
    EXPECT_FALSE(m.openWhenConnected());
    EXPECT_FALSE(m.autoReconnectWireless());
}

TEST_F(SettingsTest, AStoredValueThatIsNoBooleanCountsAsAbsent)
{
    seedIni("[General]\naskWhereToSave=no\nrevealAfterCopy=0\nkeepRunningInMenuBar=FALSE\nopenWhenConnected=\n");
    BrowserModel& m = model();
    EXPECT_TRUE(m.askWhereToSave());
    EXPECT_TRUE(m.revealAfterCopy());
    EXPECT_TRUE(m.keepRunningInMenuBar());
    EXPECT_TRUE(m.openWhenConnected());
}

TEST_F(SettingsTest, ShowHiddenIsReadLeniently)
{
    const std::pair<QByteArray, bool> cases[] = {
        {"YES", true}, {"1", true}, {"t", true}, {" 007", true}, {"no", false}, {"0", false}, {"", false},
    };
    for (const auto& [text, expected] : cases) {
        seedIni("[General]\nshowHidden=" + text + "\n");
        BrowserSettings reader(settings());
        EXPECT_EQ(reader.lenientFlag(QStringLiteral("showHidden")), expected) << text.constData();
    }
}

TEST_F(SettingsTest, OnlyTheExactViewModeTextsCount)
{
    seedIni("[General]\nviewMode=Grid\n");
    EXPECT_EQ(BrowserSettings(settings()).viewMode(QStringLiteral("viewMode")), ViewMode::list);
    seedIni("[General]\nviewMode=grid\n");
    EXPECT_EQ(model().viewMode(), ViewMode::grid);
}

TEST_F(SettingsTest, PairedPhonesAreTakenOnlyWhenEveryValueIsText)
{
    settings().setValue(QStringLiteral("pairedPhones"),
                        QVariantMap{{QStringLiteral("R58M"), QStringLiteral("Pixel")}, {QStringLiteral("X1"), 3}});
    EXPECT_TRUE(BrowserSettings(settings()).phoneNames(QStringLiteral("pairedPhones")).isEmpty());

    settings().setValue(QStringLiteral("pairedPhones"),
                        QVariantMap{{QStringLiteral("R58M"), QStringLiteral("Pixel")}, {QStringLiteral("X1"), QString()}});
    settings().sync();
    const PhoneNames expected{{QStringLiteral("R58M"), QStringLiteral("Pixel")}, {QStringLiteral("X1"), QString()}};
    EXPECT_EQ(model().pairedPhones(), expected);
}

TEST_F(SettingsTest, SaveFolderAcceptsAPathOrAFileURL)
{
    seedIni("[General]\nsaveFolder=file:///srv/phone%20copies\n");
    EXPECT_EQ(BrowserSettings(settings()).folder(QStringLiteral("saveFolder")), QStringLiteral("/srv/phone copies"));
    seedIni("[General]\nsaveFolder=relative/folder\n");
    EXPECT_EQ(BrowserSettings(settings()).folder(QStringLiteral("saveFolder")), BrowserSettings::downloadsFolder());
    seedIni("[General]\nsaveFolder=/srv/copies\n");
    EXPECT_EQ(model().saveFolder(), QStringLiteral("/srv/copies"));
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
    m.setPairedPhones({{QStringLiteral("R58M"), QStringLiteral("Pixel")}});
    EXPECT_EQ(stored(QStringLiteral("viewMode")).toString(), QStringLiteral("grid"));

    settings().sync();
    QSettings again(m_settingsPath, QSettings::IniFormat);
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = mtp;
    collaborators.settings = &again;
    collaborators.clock = std::make_shared<ManualClock>();
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
    BrowserModel next(std::move(collaborators));
    EXPECT_FALSE(next.askWhereToSave());
    EXPECT_FALSE(next.revealAfterCopy());
    EXPECT_FALSE(next.keepRunningInMenuBar());
    EXPECT_FALSE(next.openWhenConnected());
    EXPECT_FALSE(next.autoReconnectWireless());
    EXPECT_EQ(next.viewMode(), ViewMode::grid);
    EXPECT_EQ(next.saveFolder(), QStringLiteral("/srv/copies"));
    EXPECT_EQ(next.pairedPhones().value(QStringLiteral("R58M")), QStringLiteral("Pixel"));
}

TEST_F(SettingsTest, AssigningTheSameValueWritesTheKeyAgain)
{
    BrowserModel& m = model();
    ASSERT_TRUE(m.askWhereToSave());
    m.setAskWhereToSave(true);
    EXPECT_EQ(stored(QStringLiteral("askWhereToSave")).toString(), QStringLiteral("true"));
    m.setViewMode(ViewMode::list);
    EXPECT_EQ(stored(QStringLiteral("viewMode")).toString(), QStringLiteral("list"));
}

TEST_F(SettingsTest, AssigningShowHiddenWritesItAndListsTheFolderAgainEachTime)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    auto phone = adb->phone(QStringLiteral("A1"));
    phone->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral(".nomedia")), file(QStringLiteral("a.txt"))});
    pass();
    ASSERT_EQ(names(model().entries()), QStringList{QStringLiteral("a.txt")});
    const int before = phone->listings(QStringLiteral("/sdcard"));

    model().setShowHidden(false); // the same value
    settle();
    EXPECT_EQ(stored(QStringLiteral("showHidden")).toString(), QStringLiteral("false"));
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard")), before + 1);

    model().setShowHidden(true);
    settle();
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard")), before + 2);
    EXPECT_EQ(phone->hiddenFlags().last(), true);
    EXPECT_EQ(names(model().entries()).size(), 2);
}

} // namespace
