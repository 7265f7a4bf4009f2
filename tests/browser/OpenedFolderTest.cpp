// Mended: a folder opened from the listing that then could not be listed
// (a name the phone's shell cannot reach) sent the browser to "/sdcard" as if
// the folder had vanished.
#include "BrowserFakes.h"

using namespace browsertest;

namespace {

class OpenedFolderTest : public ModelTest {};

TEST_F(OpenedFolderTest, AFolderOpenedFromTheListingThatCannotBeListedShowsTheErrorAndStays)
{
    adb->setDevices({adbPhone(QStringLiteral("A1"))});
    adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard"), {folder(QStringLiteral("Odd"))});
    pass();
    ASSERT_EQ(model().selectedSerial(), QStringLiteral("A1"));
    model().open(folder(QStringLiteral("Odd"))); // listing it fails with "No such file"
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Odd"));
    ASSERT_TRUE(model().errorMessage().has_value());
    EXPECT_TRUE(model().errorMessage()->contains(QStringLiteral("No such file")));
}

} // namespace
