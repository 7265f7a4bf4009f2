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
    }

    void go(const QString& path)
    {
        model().navigate(path, true);
        settle();
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

    // Lets the held listing answer after `moveOn` took the user elsewhere.
    void answerLate(const std::function<void()>& moveOn)
    {
        bool done = false;
        auto gate = heldReload(&done);
        moveOn();
        // The new listing is shown before the old answer comes.
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().isLoading() && !model().entries().isEmpty(); }));
        gate->open();
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
        settle();
    }

    std::shared_ptr<MemoryPhoneFiles> phone;
};

TEST_F(ListingTest, AListingThatArrivesAfterTheUserMovedOnIsDropped)
{
    go(QStringLiteral("/sdcard/DCIM"));
    answerLate([&] { model().navigate(QStringLiteral("/sdcard/Music"), true); });
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("song.mp3")});
    EXPECT_FALSE(model().isLoading());
}

// Mended: a stale listing ran on, holding the phone's queue or an adb process.
TEST_F(ListingTest, ANewListingCancelsTheOneItReplaces)
{
    go(QStringLiteral("/sdcard/DCIM"));
    answerLate([&] { model().navigate(QStringLiteral("/sdcard/Music"), true); });
    EXPECT_EQ(phone->calls(QStringLiteral("cancelled list /sdcard/DCIM")), 1);
    EXPECT_EQ(phone->calls(QStringLiteral("cancelled list /sdcard/Music")), 0);
}

TEST_F(ListingTest, AListingThatArrivesAfterAnotherPhoneWasChosenIsDropped)
{
    answerLate([&] { model().setSelectedSerial(QStringLiteral("B2")); });
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("other.txt")});
}

TEST_F(ListingTest, AnOlderListingOfTheSameFolderDoesNotOverwriteANewerOne)
{
    answerLate([&] {
        phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM"))});
        reload(); // newer, answers first
        EXPECT_FALSE(model().isLoading());
    });
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("DCIM")});
}

// Mended: a stale failure sent the user to "/sdcard" or showed an alert for a
// folder they had left.
TEST_F(ListingTest, AFailureThatArrivesAfterTheUserMovedOnIsDropped)
{
    go(QStringLiteral("/sdcard/DCIM"));
    phone->removeFolder(QStringLiteral("/sdcard/DCIM")); // the late answer: "No such file"
    answerLate([&] { model().navigate(QStringLiteral("/sdcard/Music"), true); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Music"));
    EXPECT_TRUE(model().canGoBack());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("song.mp3")});
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(ListingTest, AnErrorThatArrivesAfterAnotherPhoneWasChosenIsNotShown)
{
    phone->failListing(QStringLiteral("/sdcard"),
                       std::make_exception_ptr(ADBError::failed(QStringLiteral("device offline"))));
    answerLate([&] { model().setSelectedSerial(QStringLiteral("B2")); });
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("other.txt")});
}

TEST_F(ListingTest, AVanishedFolderSendsTheBrowserToStorageWithoutAMessageOrHistory)
{
    go(QStringLiteral("/sdcard/DCIM"));
    go(QStringLiteral("/sdcard/Music"));
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
    mtpFiles->failListing(QStringLiteral("/sdcard/Old"), std::make_exception_ptr(FakeMtpMissing(QStringLiteral("Old"))));
    pass();
    model().setSelectedSerial(QStringLiteral("M1"));
    go(QStringLiteral("/sdcard/Old"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(ListingTest, OtherFailuresAreShownAndTheBrowserStays)
{
    go(QStringLiteral("/sdcard/DCIM"));
    phone->failListing(QStringLiteral("/sdcard/DCIM"),
                       std::make_exception_ptr(ADBError::failed(QStringLiteral("device offline"))));
    reload();
    EXPECT_EQ(model().errorMessage(), QStringLiteral("device offline"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("photo.jpg")});

    // Storage itself gone: shown, with nowhere else to go.
    phone->removeFolder(QStringLiteral("/sdcard"));
    go(QStringLiteral("/sdcard"));
    ASSERT_TRUE(model().errorMessage().has_value());
    EXPECT_TRUE(model().errorMessage()->contains(QStringLiteral("No such file")));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().isLoading());
}

TEST_F(ListingTest, TheSelectionKeepsOnlyNamesStillListedAndIgnoresTheSearch)
{
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("Music")});
    model().setSearchText(QStringLiteral("mus"));
    EXPECT_EQ(names(model().visibleEntries()), QStringList{QStringLiteral("Music")});
    // Selected entries include those the search hides, in listing order.
    EXPECT_EQ(names(model().selectedEntries()), (QStringList{QStringLiteral("DCIM"), QStringLiteral("Music")}));

    phone->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("DCIM")), folder(QStringLiteral("Movies"))});
    reload();
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("DCIM")});
}

} // namespace
