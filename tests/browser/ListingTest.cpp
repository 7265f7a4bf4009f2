// Listing the current folder: answers that arrive after the user moved on
// (successes and failures alike) are dropped and their listings cancelled, a
// folder that is gone sends the browser to the nearest folder still there
// and says so, other failures are shown, selected entries include those the
// search hides.

#include "ADBError.h"
#include "BrowserFakes.h"

using namespace browsertest;

namespace {

class ListingTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"B2"_s)});
        stock();
        pass();
    }
    void stock()
    {
        phone->setFolder(u"/sdcard"_s, {folder(u"DCIM"_s), folder(u"Music"_s)});
        phone->setFolder(u"/sdcard/DCIM"_s, {file(u"photo.jpg"_s)});
        phone->setFolder(u"/sdcard/Music"_s, {file(u"song.mp3"_s)});
        adb->phone(u"B2"_s)->setFolder(u"/sdcard"_s, {file(u"other.txt"_s)});
    }
    void go(const QString& path)
    {
        model().navigate(path, true);
        settle();
    }

    std::shared_ptr<MemoryPhoneFiles> phone = adb->phone(u"A1"_s);
};

TEST_F(ListingTest, ALateAnswerIsDroppedAndItsListingCancelled)
{
    const auto offline = std::make_exception_ptr(ADBError::failed(u"device offline"_s));
    struct Row {
        const char* what;
        std::function<void()> prepare, moveOn;
        const char* path;
        const char* shown;
    };
    const Row table[] = {
        {"success, then another folder", {}, [this] { model().navigate(u"/sdcard/Music"_s); },
         "/sdcard/Music", "song.mp3"},
        {"success, then another phone", {}, [this] { model().setSelectedSerial(u"B2"_s); }, "/sdcard",
         "other.txt"},
        // The newer reload answers first.
        {"older listing of the same folder", {}, [this] { phone->setFolder(u"/sdcard"_s, {folder(u"DCIM"_s)}); reload(); },
         "/sdcard", "DCIM"},
        // Mended: a stale failure sent the user to "/sdcard" or showed an alert.
        {"vanished folder, then another folder", [this] { phone->removeFolder(u"/sdcard"_s); },
         [this] { model().navigate(u"/sdcard/Music"_s); }, "/sdcard/Music", "song.mp3"},
        // Last: the failure stays.
        {"error, then another phone", [&] { phone->failListing(u"/sdcard"_s, offline); },
         [this] { model().setSelectedSerial(u"B2"_s); }, "/sdcard", "other.txt"},
    };
    for (const Row& row : table) {
        SCOPED_TRACE(row.what);
        stock();
        model().setSelectedSerial(u"A1"_s);
        go(u"/sdcard"_s);
        reload();
        if (row.prepare)
            row.prepare();
        const int cancelledBefore = phone->calls(u"cancelled list /sdcard"_s);
        bool done = false;
        auto gate = phone->holdListing(u"/sdcard"_s);
        gates.push_back(gate);
        model().reload([&done] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return gate->waiting(); }));
        row.moveOn();
        // The new listing is shown before the old answer comes.
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().isLoading() && !model().entries().isEmpty(); }));
        gate->open();
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
        settle();
        EXPECT_EQ(model().path(), QString::fromUtf8(row.path));
        EXPECT_EQ(joined(model().entries()), QString::fromUtf8(row.shown));
        EXPECT_FALSE(model().errorMessage().has_value());
        EXPECT_FALSE(model().isLoading());
        // Mended: the replaced listing ran on, holding the phone's queue or an adb process.
        EXPECT_EQ(phone->calls(u"cancelled list /sdcard"_s), cancelledBefore + 1);
    }
}

TEST_F(ListingTest, AVanishedFolderSendsTheBrowserToStorageWithoutAMessageOrHistory)
{
    go(u"/sdcard/DCIM"_s);
    go(u"/sdcard/Music"_s);
    phone->removeFolder(u"/sdcard/Music"_s);
    reload();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard"_s);
    EXPECT_EQ(model().entries().size(), 2);
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(stored(u"lastPath.A1"_s).toString(), u"/sdcard"_s);
    model().goBack(); // the way back is as before: no entry for the fallback
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/DCIM"_s);

    // An MTP item that is gone counts the same.
    mtp->setDevices({mtpPhone(u"M1"_s)});
    auto mtpFiles = mtp->phone(u"M1"_s);
    mtpFiles->setFolder(u"/sdcard"_s, {folder(u"Old"_s)});
    mtpFiles->failListing(u"/sdcard/Old"_s, std::make_exception_ptr(FakeMtpMissing(u"Old"_s)));
    pass();
    model().setSelectedSerial(u"M1"_s);
    go(u"/sdcard/Old"_s);
    EXPECT_EQ(model().path(), u"/sdcard"_s);
    EXPECT_FALSE(model().errorMessage().has_value());
}

// Mended: a folder gone from the phone sent the browser to the top of the
// storage without a word, however much of the path was still there.
TEST_F(ListingTest, AGoneFolderSendsTheBrowserToTheNearestFolderStillThereAndSaysSo)
{
    phone->setFolder(u"/sdcard/DCIM"_s, {folder(u"Trips"_s)});
    phone->setFolder(u"/sdcard/DCIM/Trips"_s, {folder(u"Vacation"_s)});
    phone->setFolder(u"/sdcard/DCIM/Trips/Vacation"_s, {folder(u"Day 1"_s)});
    phone->setFolder(u"/sdcard/DCIM/Trips/Vacation/Day 1"_s, {file(u"beach.jpg"_s)});
    go(u"/sdcard/Music"_s);
    go(u"/sdcard/DCIM/Trips/Vacation/Day 1"_s);
    // "Vacation" went, and with it what it held.
    phone->removeFolder(u"/sdcard/DCIM/Trips/Vacation/Day 1"_s);
    phone->remove(u"/sdcard/DCIM/Trips/Vacation"_s, Cancel());
    reload();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/DCIM/Trips"_s);
    EXPECT_EQ(joined(model().entries()), QString());
    EXPECT_EQ(model().notice(), u"“Vacation” isn't on the phone any more."_s);
    EXPECT_FALSE(model().errorMessage());
    EXPECT_EQ(stored(u"lastPath.A1"_s).toString(), u"/sdcard/DCIM/Trips"_s);
    // No history of its own: Back goes where it went before.
    model().goBack();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/Music"_s);
    // The word goes after a while.
    clock->fire();
    EXPECT_FALSE(model().notice());
}

// Mended: a folder entered from its parent's listing stayed marked as
// opened, so once it was deleted on the phone every reload showed the alert
// and the browser never went back to "/sdcard".
TEST_F(ListingTest, AnOpenedFolderThatGoesLaterSendsTheBrowserToStorage)
{
    model().open(folder(u"Music"_s));
    settle();
    ASSERT_EQ(model().path(), u"/sdcard/Music"_s);
    ASSERT_EQ(joined(model().entries()), u"song.mp3"_s);
    phone->removeFolder(u"/sdcard/Music"_s);
    reload();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard"_s);
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(ListingTest, OtherFailuresAreShownAndTheBrowserStays)
{
    go(u"/sdcard/DCIM"_s);
    phone->failListing(u"/sdcard/DCIM"_s, std::make_exception_ptr(ADBError::failed(u"device offline"_s)));
    reload();
    EXPECT_EQ(model().errorMessage(), u"device offline"_s);
    EXPECT_EQ(model().path(), u"/sdcard/DCIM"_s);
    EXPECT_EQ(joined(model().entries()), u"photo.jpg"_s);
    // Mended: a folder opened from the listing that then could not be listed
    // (a name the phone's shell cannot reach) sent the browser to "/sdcard".
    go(u"/sdcard"_s);
    model().open(folder(u"Odd"_s));
    settle();
    EXPECT_EQ(model().path(), u"/sdcard/Odd"_s);
    EXPECT_TRUE(model().errorMessage().value_or(QString()).contains(u"No such file"_s));
    // Storage itself gone: shown, with nowhere else to go.
    phone->removeFolder(u"/sdcard"_s);
    go(u"/sdcard"_s);
    EXPECT_TRUE(model().errorMessage().value_or(QString()).contains(u"No such file"_s));
    EXPECT_EQ(model().path(), u"/sdcard"_s);
    EXPECT_FALSE(model().isLoading());
}

TEST_F(ListingTest, SelectedEntriesIncludeThoseTheSearchHidesInListingOrder)
{
    model().setSelection({u"Music"_s, u"DCIM"_s});
    model().setSearchText(u"mus"_s);
    EXPECT_EQ(joined(model().visibleEntries()), u"Music"_s);
    EXPECT_EQ(joined(model().selectedEntries()), u"DCIM,Music"_s);
}

} // namespace
