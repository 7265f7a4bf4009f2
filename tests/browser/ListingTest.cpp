// Listing the current folder: answers that arrive after the user moved on
// (successes and failures alike) are dropped, a folder that is gone sends the
// browser to "/sdcard", other failures are shown, the selection keeps only
// names still listed.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "TestSupport.h"

using namespace browsertest;

namespace {

class ListingTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"))});
        phone = adb->phone(QStringLiteral("A1"));
        phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM")), folder(QStringLiteral("Music"))});
        phone->setFolder(QStringLiteral("/sdcard/DCIM"), {file(QStringLiteral("photo.jpg"))});
        phone->setFolder(QStringLiteral("/sdcard/Music"), {file(QStringLiteral("song.mp3"))});
        adb->phone(QStringLiteral("B2"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("other.txt"))});
        pass();
        ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
        ASSERT_EQ(model().entries().size(), 2);
    }

    // Starts a listing of the folder shown that waits for the returned gate.
    std::shared_ptr<Gate> heldReload(bool* done)
    {
        auto gate = phone->holdListing(model().path());
        gates.push_back(gate);
        model().reload([done] { *done = true; });
        EXPECT_TRUE(testsupport::waitUntil([&gate] { return gate->waiting(); }));
        return gate;
    }

    std::shared_ptr<MemoryPhoneFiles> phone;
};

TEST_F(ListingTest, AListingThatArrivesAfterTheUserMovedOnIsDropped)
{
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    bool done = false;
    auto gate = heldReload(&done);

    model().navigate(QStringLiteral("/sdcard/Music"), true);
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().entries().isEmpty(); }));
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("song.mp3")});
    EXPECT_FALSE(model().isLoading());
}

TEST_F(ListingTest, AListingThatArrivesAfterAnotherPhoneWasChosenIsDropped)
{
    bool done = false;
    auto gate = heldReload(&done);
    model().setSelectedSerial(QStringLiteral("B2"));
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().entries().isEmpty(); }));
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("other.txt")});
}

TEST_F(ListingTest, AnOlderListingOfTheSameFolderDoesNotOverwriteANewerOne)
{
    bool done = false;
    auto gate = heldReload(&done);
    phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM"))});
    reload(); // newer, answers first
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("DCIM")});
    EXPECT_FALSE(model().isLoading());
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("DCIM")});
}

TEST_F(ListingTest, LoadingLastsWhileTheNewestListingIsUnderWay)
{
    bool olderDone = false;
    auto older = heldReload(&olderDone);
    bool newerDone = false;
    auto newer = heldReload(&newerDone);
    older->open();
    ASSERT_TRUE(testsupport::waitUntil([&olderDone] { return olderDone; }));
    EXPECT_TRUE(model().isLoading());
    newer->open();
    ASSERT_TRUE(testsupport::waitUntil([&newerDone] { return newerDone; }));
    EXPECT_FALSE(model().isLoading());
}

TEST_F(ListingTest, AFailureThatArrivesAfterTheUserMovedOnIsDropped)
{
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    phone->removeFolder(QStringLiteral("/sdcard/DCIM")); // the late answer: "No such file"
    bool done = false;
    auto gate = heldReload(&done);

    model().navigate(QStringLiteral("/sdcard/Music"), true);
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().entries().isEmpty(); }));
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    EXPECT_TRUE(model().canGoBack());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("song.mp3")});
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(ListingTest, AnErrorThatArrivesAfterAnotherPhoneWasChosenIsNotShown)
{
    phone->failListing(QStringLiteral("/sdcard"),
                       std::make_exception_ptr(ADBError::failed(QStringLiteral("device offline"))));
    bool done = false;
    auto gate = heldReload(&done);
    model().setSelectedSerial(QStringLiteral("B2"));
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
    settle();
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("other.txt")});
}

TEST_F(ListingTest, AVanishedFolderSendsTheBrowserToStorageWithoutAMessageOrHistory)
{
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    model().navigate(QStringLiteral("/sdcard/Music"), true);
    settle();
    phone->removeFolder(QStringLiteral("/sdcard/Music"));
    reload();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_EQ(model().entries().size(), 2);
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(stored(QStringLiteral("lastPath.A1")).toString(), QStringLiteral("/sdcard"));
    model().goBack(); // the way back is as before: no entry for the fallback
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

TEST_F(ListingTest, AnMTPItemThatIsGoneCountsAsAVanishedFolder)
{
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    auto mtpFiles = mtp->phone(QStringLiteral("M1"));
    mtpFiles->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("Old"))});
    pass();
    model().setSelectedSerial(QStringLiteral("M1"));
    settle();
    mtpFiles->failListing(QStringLiteral("/sdcard/Old"), std::make_exception_ptr(FakeMtpMissing(QStringLiteral("Old"))));
    model().navigate(QStringLiteral("/sdcard/Old"), true);
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(ListingTest, AFailureInStorageItselfIsShown)
{
    phone->removeFolder(QStringLiteral("/sdcard"));
    reload();
    ASSERT_TRUE(model().errorMessage().has_value());
    EXPECT_TRUE(model().errorMessage()->contains(QStringLiteral("No such file")));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().isLoading());
}

TEST_F(ListingTest, AnyOtherFailureIsShownAndTheListingKept)
{
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    phone->failListing(QStringLiteral("/sdcard/DCIM"),
                       std::make_exception_ptr(ADBError::failed(QStringLiteral("device offline"))));
    reload();
    EXPECT_EQ(model().errorMessage(), QStringLiteral("device offline"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("photo.jpg")});
}

TEST_F(ListingTest, TheSelectionKeepsOnlyNamesStillListed)
{
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("Music")});
    phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM")), folder(QStringLiteral("Movies"))});
    reload();
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("DCIM")});
}

TEST_F(ListingTest, SelectedEntriesIncludeThoseHiddenBySearchInListingOrder)
{
    model().setSelection({QStringLiteral("Music"), QStringLiteral("DCIM")});
    model().setSearchText(QStringLiteral("mus"));
    EXPECT_EQ(names(model().visibleEntries()), QStringList{QStringLiteral("Music")});
    EXPECT_EQ(names(model().selectedEntries()), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Music")}));
}

TEST_F(ListingTest, WithoutAReadyPhoneTheListingIsEmptied)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("offline")), adbPhone(QStringLiteral("B2"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    // Losing readiness alone changes nothing; the next listing finds no phone.
    EXPECT_EQ(model().entries().size(), 2);
    reload();
    EXPECT_TRUE(model().entries().isEmpty());
    EXPECT_FALSE(model().isLoading());
    EXPECT_FALSE(model().errorMessage().has_value());
}

} // namespace
