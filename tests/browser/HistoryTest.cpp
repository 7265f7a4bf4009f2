// Moving between folders: back, forward and up, the same folder again,
// opening entries, the per-phone last folder and the path bar's crumbs.

#include "BrowserFakes.h"
#include "TestSupport.h"

using namespace browsertest;

namespace {

class HistoryTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(QStringLiteral("A1")), adbPhone(QStringLiteral("B2"))});
        phone = adb->phone(QStringLiteral("A1"));
        for (const QString& path : {QStringLiteral("/sdcard"), QStringLiteral("/sdcard/DCIM"),
                                    QStringLiteral("/sdcard/DCIM/Camera"), QStringLiteral("/sdcard/Music"),
                                    QStringLiteral("/storage"), QStringLiteral("/")})
            phone->setFolder(path, {folder(QStringLiteral("DCIM")), file(QStringLiteral("a.txt"))});
        pass();
        ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    }

    void go(const QString& path)
    {
        model().navigate(path, true);
        settle();
    }

    std::shared_ptr<MemoryPhoneFiles> phone;
};

TEST_F(HistoryTest, BackAndForwardRetraceTheWay)
{
    go(QStringLiteral("/sdcard/DCIM"));
    EXPECT_TRUE(model().canGoBack());
    model().goBack();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().canGoBack());
    EXPECT_TRUE(model().canGoForward());

    model().goForward();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_TRUE(model().canGoBack());
    EXPECT_FALSE(model().canGoForward());

    model().goBack();
    settle();
    go(QStringLiteral("/sdcard/Music"));
    // A new way forgets the old one ahead.
    EXPECT_FALSE(model().canGoForward());
    model().goBack();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
}

TEST_F(HistoryTest, TheSameFolderAgainChangesNothing)
{
    go(QStringLiteral("/sdcard/DCIM"));
    model().setSelection({QStringLiteral("a.txt")});
    model().setSearchText(QStringLiteral("a"));
    const int listings = phone->listings(QStringLiteral("/sdcard/DCIM"));

    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    settle();
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard/DCIM")), listings);
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("a.txt")});
    EXPECT_EQ(model().searchText(), QStringLiteral("a"));
    model().goBack();
    settle();
    EXPECT_FALSE(model().canGoBack()); // only one step was recorded
}

TEST_F(HistoryTest, GoingToAFolderEmptiesSelectionSearchAndListingUntilItIsListed)
{
    model().setSelection({QStringLiteral("a.txt")});
    model().setSearchText(QStringLiteral("zzz"));
    auto gate = phone->holdListing(QStringLiteral("/sdcard/DCIM"));
    gates.push_back(gate);
    model().navigate(QStringLiteral("/sdcard/DCIM"), true);
    EXPECT_TRUE(model().selection().isEmpty());
    EXPECT_TRUE(model().searchText().isEmpty());
    EXPECT_TRUE(model().entries().isEmpty());
    EXPECT_TRUE(model().isLoading());
    gate->open();
    ASSERT_TRUE(testsupport::waitUntil([this] { return !model().isLoading(); }));
    EXPECT_EQ(model().entries().size(), 2);
}

TEST_F(HistoryTest, GoingBackToTheFolderShownChangesTheStacksButDoesNotList)
{
    go(QStringLiteral("/sdcard/DCIM"));
    go(QStringLiteral("/sdcard"));
    go(QStringLiteral("/sdcard/DCIM")); // back stack: /sdcard, /sdcard/DCIM, /sdcard
    model().navigate(QStringLiteral("/sdcard"), false);
    settle();
    const int listings = phone->listings(QStringLiteral("/sdcard"));
    model().goBack(); // pops /sdcard, the folder shown
    settle();
    EXPECT_EQ(phone->listings(QStringLiteral("/sdcard")), listings);
    EXPECT_TRUE(model().canGoForward());
}

TEST_F(HistoryTest, UpGoesToTheEnclosingFolderButNotAboveStorageOrRoot)
{
    EXPECT_FALSE(model().canGoUp());
    model().goUp();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));

    go(QStringLiteral("/sdcard/DCIM/Camera"));
    EXPECT_TRUE(model().canGoUp());
    model().goUp();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    model().goBack();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM/Camera")); // up is recorded

    go(QStringLiteral("/storage"));
    EXPECT_TRUE(model().canGoUp());
    model().goUp();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/"));
    EXPECT_FALSE(model().canGoUp());
}

TEST_F(HistoryTest, OpeningAFolderJoinsItsNameWithOneSlash)
{
    model().open(folder(QStringLiteral("DCIM")));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    go(QStringLiteral("/"));
    model().open(folder(QStringLiteral("data")));
    EXPECT_EQ(model().path(), QStringLiteral("/data"));
}

TEST_F(HistoryTest, OpenSelectionEntersOneSelectedFolderOnly)
{
    model().setSelection({QStringLiteral("DCIM")});
    model().openSelection();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));

    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("a.txt")});
    model().openSelection();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

TEST_F(HistoryTest, EachPhoneComesBackToItsOwnLastFolderWithNoHistory)
{
    adb->phone(QStringLiteral("B2"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("b.txt"))});
    go(QStringLiteral("/sdcard/DCIM"));
    model().setSearchText(QStringLiteral("a"));
    EXPECT_EQ(stored(QStringLiteral("lastPath.A1")).toString(), QStringLiteral("/sdcard/DCIM"));

    model().setSelectedSerial(QStringLiteral("B2"));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().canGoBack());
    EXPECT_FALSE(model().canGoForward());
    EXPECT_EQ(model().searchText(), QStringLiteral("a")); // kept across phones
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("b.txt")});
    EXPECT_EQ(stored(QStringLiteral("lastSerial")).toString(), QStringLiteral("B2"));

    model().setSelectedSerial(QStringLiteral("A1"));
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

TEST_F(HistoryTest, ChoosingTheSamePhoneDoesNothingAndChoosingNoneWritesNoLastSerial)
{
    go(QStringLiteral("/sdcard/DCIM"));
    model().setSelectedSerial(QStringLiteral("A1"));
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_TRUE(model().canGoBack());

    model().setSelectedSerial(std::nullopt);
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().canGoBack());
    EXPECT_TRUE(model().entries().isEmpty());
    EXPECT_EQ(stored(QStringLiteral("lastSerial")).toString(), QStringLiteral("A1"));
}

TEST_F(HistoryTest, CrumbsFollowThePathInsideStorageOnly)
{
    model().navigate(QStringLiteral("/sdcard/DCIM/Camera"), true);
    const QList<PathComponent> expected{{QStringLiteral("Internal Storage"), QStringLiteral("/sdcard")},
                                        {QStringLiteral("DCIM"), QStringLiteral("/sdcard/DCIM")},
                                        {QStringLiteral("Camera"), QStringLiteral("/sdcard/DCIM/Camera")}};
    EXPECT_EQ(model().pathComponents(), expected);
    model().navigate(QStringLiteral("/sdcardX/Music"), true);
    EXPECT_EQ(model().pathComponents().size(), 1);
    model().navigate(QStringLiteral("/"), true);
    EXPECT_EQ(model().pathComponents().size(), 1);
}

} // namespace
