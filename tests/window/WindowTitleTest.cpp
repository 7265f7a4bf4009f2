// The main window's title: the folder's name for a ready phone, else the
// product's name.

#include "ContentView.h"
#include "WindowFixture.h"

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

const QString product = QStringLiteral("Vantelorquist");

class WindowTitle : public WindowTest {};

} // namespace

TEST_F(WindowTitle, IsTheProductNameWithoutAPhone)
{
    ContentView& view = window(bareEnvironment());
    EXPECT_EQ(view.windowTitle(), product);
}

TEST_F(WindowTitle, IsTheProductNameForAPhoneThatIsNotReady)
{
    for (const QString& state : {QStringLiteral("unauthorized"), QStringLiteral("offline"), QStringLiteral("no permissions")}) {
        adbPhoneIn(state);
        ContentView& view = window(bareEnvironment());
        EXPECT_EQ(view.windowTitle(), product) << state.toStdString();
    }
    mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("locked"))});
    adb->setDevices({});
    pass();
    ContentView& view = window(bareEnvironment());
    ASSERT_TRUE(model().selectedDevice());
    EXPECT_EQ(model().selectedDevice()->serial, QStringLiteral("M1"));
    EXPECT_EQ(view.windowTitle(), product);
}

TEST_F(WindowTitle, FollowsTheFolderOfAReadyPhone)
{
    adbPhoneIn(QStringLiteral("device"), {folder(QStringLiteral("Download")), folder(QStringLiteral("DCIM"))});
    ContentView& view = window(bareEnvironment());
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Internal Storage"));

    go(QStringLiteral("/sdcard/Download"));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Download"));
    go(QStringLiteral("/sdcard/DCIM/Camera"));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Camera"));
    // Outside the shared storage the crumbs are the storage's alone.
    go(QStringLiteral("/storage"));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Internal Storage"));
}

TEST_F(WindowTitle, GoesBackToTheProductNameWhenThePhoneStopsBeingReady)
{
    adbPhoneIn(QStringLiteral("device"));
    ContentView& view = window(bareEnvironment());
    go(QStringLiteral("/sdcard/Music"));
    EXPECT_EQ(view.windowTitle(), QStringLiteral("Music"));

    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized"))});
    pass();
    EXPECT_EQ(view.windowTitle(), product);
}
