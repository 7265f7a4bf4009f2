// Moving between folders: back, forward and up, the same folder again, the
// per-phone last folder.

#include "BrowserFakes.h"

using namespace browsertest;

namespace {

class HistoryTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"B2"_s)});
        for (const QString& path :
             {u"/sdcard"_s, u"/sdcard/DCIM"_s, u"/sdcard/DCIM/Camera"_s, u"/sdcard/Music"_s, u"/storage"_s, u"/"_s})
            phone->setFolder(path, {folder(u"DCIM"_s), file(u"a.txt"_s)});
        adb->phone(u"B2"_s)->setFolder(u"/sdcard"_s, {file(u"b.txt"_s)});
        pass();
    }
    // Runs a step of navigation, waits for its listing and tells where it
    // ended as "path back forward up", each of the three as 0 or 1.
    std::string after(const std::function<void()>& step)
    {
        step();
        settle();
        BrowserModel& m = model();
        return (m.path() + u' ' + QChar(u'0' + m.canGoBack()) + QChar(u'0' + m.canGoForward()) + QChar(u'0' + m.canGoUp()))
            .toStdString();
    }
    std::string go(const QString& path)
    {
        return after([&] { model().navigate(path, true); });
    }

    std::shared_ptr<MemoryPhoneFiles> phone = adb->phone(u"A1"_s);
};

TEST_F(HistoryTest, BackForwardAndUpRetraceTheWay)
{
    BrowserModel& m = model();
    const std::pair<std::function<std::string()>, const char*> steps[] = {
        {[&] { return go(u"/sdcard/DCIM/Camera"_s); }, "/sdcard/DCIM/Camera 101"},
        {[&] { return after([&] { m.goUp(); }); }, "/sdcard/DCIM 101"}, // up is recorded
        {[&] { return after([&] { m.goBack(); }); }, "/sdcard/DCIM/Camera 111"},
        {[&] { return after([&] { m.goBack(); }); }, "/sdcard 010"},
        {[&] { return after([&] { m.goForward(); }); }, "/sdcard/DCIM/Camera 111"},
        {[&] { return go(u"/sdcard/Music"_s); }, "/sdcard/Music 101"}, // a new way forgets the old one ahead
        {[&] { return go(u"/storage"_s); }, "/storage 101"},
        {[&] { return after([&] { m.goUp(); }); }, "/ 100"}, // not above the root
    };
    for (const auto& [step, expected] : steps)
        EXPECT_EQ(step(), expected);
}

// Mended: the rename prompt kept an entry of the folder or phone left, while
// a rename goes by the folder shown.
TEST_F(HistoryTest, TheSameFolderAgainChangesNothingAnotherStartsAfresh)
{
    go(u"/sdcard/DCIM"_s);
    model().setSelection({u"a.txt"_s});
    model().setSearchText(u"a"_s);
    model().setRenaming(file(u"a.txt"_s));
    const int listings = phone->calls(u"list /sdcard/DCIM"_s);
    EXPECT_EQ(go(u"/sdcard/DCIM"_s), "/sdcard/DCIM 101"); // one step recorded only
    EXPECT_EQ(phone->calls(u"list /sdcard/DCIM"_s), listings);
    EXPECT_EQ(model().selection(), QSet<QString>{u"a.txt"_s});
    EXPECT_EQ(model().searchText(), u"a"_s);
    EXPECT_TRUE(model().renaming().has_value());
    go(u"/sdcard/Music"_s);
    EXPECT_TRUE(model().selection().isEmpty());
    EXPECT_TRUE(model().searchText().isEmpty());
    EXPECT_FALSE(model().renaming().has_value());
}

TEST_F(HistoryTest, EachPhoneComesBackToItsOwnLastFolderWithNoHistory)
{
    go(u"/sdcard/DCIM"_s);
    EXPECT_EQ(stored(u"lastPath.A1"_s).toString(), u"/sdcard/DCIM"_s);
    model().setRenaming(file(u"a.txt"_s));
    EXPECT_EQ(after([&] { model().setSelectedSerial(u"B2"_s); }), "/sdcard 000");
    EXPECT_FALSE(model().renaming().has_value());
    EXPECT_EQ(joined(model().entries()), u"b.txt"_s);
    EXPECT_EQ(stored(u"lastSerial"_s).toString(), u"B2"_s);
    EXPECT_EQ(after([&] { model().setSelectedSerial(u"A1"_s); }), "/sdcard/DCIM 001");
}

} // namespace
