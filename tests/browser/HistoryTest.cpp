// Moving between folders: back, forward and up, the same folder again, the
// per-phone last folder and the path bar's crumbs.

#include "BrowserFakes.h"

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

    // Runs a step of navigation and waits for its listing.
    template <class Step>
    void step(Step action)
    {
        action();
        settle();
    }
    void go(const QString& path)
    {
        step([&] { model().navigate(path, true); });
    }

    std::shared_ptr<MemoryPhoneFiles> phone;
};

TEST_F(HistoryTest, BackAndForwardRetraceTheWay)
{
    go(QStringLiteral("/sdcard/DCIM"));
    step([&] { model().goBack(); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().canGoBack());
    step([&] { model().goForward(); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    EXPECT_FALSE(model().canGoForward());

    step([&] { model().goBack(); });
    go(QStringLiteral("/sdcard/Music"));
    // A new way forgets the old one ahead.
    EXPECT_FALSE(model().canGoForward());
    step([&] { model().goBack(); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
}

TEST_F(HistoryTest, TheSameFolderAgainChangesNothing)
{
    go(QStringLiteral("/sdcard/DCIM"));
    model().setSelection({QStringLiteral("a.txt")});
    model().setSearchText(QStringLiteral("a"));
    const int listings = phone->calls(QStringLiteral("list /sdcard/DCIM"));
    go(QStringLiteral("/sdcard/DCIM"));
    EXPECT_EQ(phone->calls(QStringLiteral("list /sdcard/DCIM")), listings);
    EXPECT_EQ(model().selection(), QSet<QString>{QStringLiteral("a.txt")});
    EXPECT_EQ(model().searchText(), QStringLiteral("a"));
    step([&] { model().goBack(); });
    EXPECT_FALSE(model().canGoBack()); // only one step was recorded

    // Another folder starts without selection or search.
    go(QStringLiteral("/sdcard/Music"));
    EXPECT_TRUE(model().selection().isEmpty());
    EXPECT_TRUE(model().searchText().isEmpty());
}

TEST_F(HistoryTest, UpGoesToTheEnclosingFolderButNotAboveStorageOrRoot)
{
    EXPECT_FALSE(model().canGoUp());
    go(QStringLiteral("/sdcard/DCIM/Camera"));
    step([&] { model().goUp(); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
    step([&] { model().goBack(); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM/Camera")); // up is recorded

    go(QStringLiteral("/storage"));
    step([&] { model().goUp(); });
    EXPECT_EQ(model().path(), QStringLiteral("/"));
    EXPECT_FALSE(model().canGoUp());
}

TEST_F(HistoryTest, EachPhoneComesBackToItsOwnLastFolderWithNoHistory)
{
    adb->phone(QStringLiteral("B2"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("b.txt"))});
    go(QStringLiteral("/sdcard/DCIM"));
    EXPECT_EQ(stored(QStringLiteral("lastPath.A1")).toString(), QStringLiteral("/sdcard/DCIM"));

    step([&] { model().setSelectedSerial(QStringLiteral("B2")); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(model().canGoBack());
    EXPECT_EQ(names(model().entries()), QStringList{QStringLiteral("b.txt")});
    EXPECT_EQ(stored(QStringLiteral("lastSerial")).toString(), QStringLiteral("B2"));

    step([&] { model().setSelectedSerial(QStringLiteral("A1")); });
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

// Mended: the rename prompt kept an entry of the folder or phone left, while
// a rename goes by the folder shown.
TEST_F(HistoryTest, LeavingTheFolderOrPhoneEndsARename)
{
    adb->phone(QStringLiteral("B2"))->setFolder(QStringLiteral("/sdcard"), {file(QStringLiteral("a.txt"))});
    model().setRenaming(file(QStringLiteral("a.txt")));
    go(QStringLiteral("/sdcard/DCIM"));
    EXPECT_FALSE(model().renaming().has_value());

    model().setRenaming(file(QStringLiteral("a.txt")));
    step([&] { model().setSelectedSerial(QStringLiteral("B2")); });
    EXPECT_FALSE(model().renaming().has_value());
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
}

} // namespace
