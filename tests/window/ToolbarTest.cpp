// The toolbar's enabled states per phone state, its history buttons, the
// view picker, the "More" menu and the search field.

#include "ContentView.h"
#include "WindowFixture.h"
#include "WindowRules.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class Toolbar : public WindowTest {
protected:
    QAction* more(ContentView& view, const QString& title)
    {
        for (QAction* action : view.moreMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        ADD_FAILURE() << "no menu entry " << title.toStdString();
        static QAction none;
        return &none;
    }

    // New Folder, Copy to Phone, Copy to Mac.
    std::vector<bool> fileCommands(ContentView& view)
    {
        return {view.newFolderAction()->isEnabled(), view.copyToPhoneAction()->isEnabled(),
                view.copyToMacAction()->isEnabled()};
    }

    // The six phone tools of the "More" menu.
    std::vector<bool> phoneTools(ContentView& view)
    {
        std::vector<bool> enabled;
        for (const QString& title : {QStringLiteral("Mirror Screen"), QStringLiteral("Apps"), QStringLiteral("Logcat"),
                                     QStringLiteral("Take Screenshot of Phone"), QStringLiteral("Record Screen"),
                                     QStringLiteral("Install APK…")})
            enabled.push_back(more(view, title)->isEnabled());
        return enabled;
    }

    const std::vector<bool> allOff = std::vector<bool>(6, false);
    const std::vector<bool> allOn = std::vector<bool>(6, true);
};

} // namespace

TEST_F(Toolbar, WithoutAPhoneOnlyTheSelectionAndTheAlwaysItemsCount)
{
    ContentView& view = window(fullEnvironment());
    EXPECT_FALSE(view.backAction()->isEnabled());
    EXPECT_FALSE(view.forwardAction()->isEnabled());
    EXPECT_EQ(fileCommands(view), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(phoneTools(view), allOff);
    EXPECT_TRUE(more(view, QStringLiteral("Connect over Wi-Fi…"))->isEnabled());
    EXPECT_TRUE(more(view, QStringLiteral("Show Hidden Files"))->isEnabled());
    EXPECT_TRUE(view.listAction()->isEnabled());
}

TEST_F(Toolbar, APhoneThatIsNotReadyCountsAsNoPhone)
{
    for (const QString& state : {QStringLiteral("unauthorized"), QStringLiteral("offline")}) {
        adbPhoneIn(state);
        ContentView& view = window(fullEnvironment());
        EXPECT_EQ(fileCommands(view), (std::vector<bool>{false, false, false})) << state.toStdString();
        EXPECT_EQ(phoneTools(view), allOff) << state.toStdString();
    }
}

TEST_F(Toolbar, AReadyAdbPhoneEnablesTheFileCommandsAndThePhoneTools)
{
    adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"), 10)});
    ContentView& view = window(fullEnvironment());
    EXPECT_EQ(fileCommands(view), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(phoneTools(view), allOn);

    // Copy to Mac follows the selection alone.
    model().setSelection({QStringLiteral("a.jpg")});
    EXPECT_TRUE(view.copyToMacAction()->isEnabled());
    view.copyToMacAction()->trigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("download:a.jpg")});

    more(view, QStringLiteral("Apps"))->trigger();
    EXPECT_EQ(openedWindows, QStringList{QStringLiteral("apps")});
}

TEST_F(Toolbar, AReadyMtpPhoneGetsFileCommandsButNoPhoneTools)
{
    readyMtpPhone();
    ContentView& view = window(fullEnvironment());
    EXPECT_EQ(fileCommands(view), (std::vector<bool>{true, true, false}));
    EXPECT_EQ(phoneTools(view), allOff);
    EXPECT_TRUE(more(view, QStringLiteral("Connect over Wi-Fi…"))->isEnabled());
}

TEST_F(Toolbar, CommandsWithoutTheirOperationStayDisabled)
{
    adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"), 10)});
    model().setSelection({QStringLiteral("a.jpg")});
    ContentView& view = window(bareEnvironment());
    EXPECT_EQ(fileCommands(view), (std::vector<bool>{false, false, false}));
    EXPECT_EQ(phoneTools(view), allOff);
    EXPECT_FALSE(more(view, QStringLiteral("Connect over Wi-Fi…"))->isEnabled());
    // The grid is not there to switch to.
    EXPECT_FALSE(view.iconsAction()->isEnabled());
}

TEST_F(Toolbar, BackAndForwardFollowTheHistory)
{
    adbPhoneIn(QStringLiteral("device"));
    ContentView& view = window(bareEnvironment());
    go(QStringLiteral("/sdcard/Download"));
    EXPECT_TRUE(view.backAction()->isEnabled());
    EXPECT_FALSE(view.forwardAction()->isEnabled());

    view.backAction()->trigger();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard"));
    EXPECT_FALSE(view.backAction()->isEnabled());
    EXPECT_TRUE(view.forwardAction()->isEnabled());

    view.forwardAction()->trigger();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/Download"));
    EXPECT_TRUE(view.backAction()->isEnabled());
    EXPECT_FALSE(view.forwardAction()->isEnabled());
}

TEST_F(Toolbar, ShowHiddenFilesAndTheViewPickerWriteTheModel)
{
    adbPhoneIn(QStringLiteral("device"));
    ContentView& view = window(bareEnvironment());
    QAction* hidden = more(view, QStringLiteral("Show Hidden Files"));
    EXPECT_FALSE(hidden->isChecked());
    hidden->trigger();
    EXPECT_TRUE(model().showHidden());
    EXPECT_TRUE(hidden->isChecked());
    model().setShowHidden(false);
    EXPECT_FALSE(hidden->isChecked());

    model().setViewMode(ViewMode::grid);
    EXPECT_TRUE(view.iconsAction()->isChecked());
    view.listAction()->trigger();
    EXPECT_EQ(model().viewMode(), ViewMode::list);
    EXPECT_TRUE(view.listAction()->isChecked());
}

TEST_F(Toolbar, TheSearchFieldBelongsToTheBrowser)
{
    ContentView& view = window(bareEnvironment());
    EXPECT_FALSE(view.showsSearchField());

    adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("a.jpg"))});
    EXPECT_TRUE(view.showsSearchField());
    EXPECT_EQ(view.searchField()->placeholderText(), QStringLiteral("Search this folder"));
    view.searchField()->setText(QStringLiteral("jp"));
    EXPECT_EQ(model().searchText(), QStringLiteral("jp"));
    // Navigating clears the search, in the field too.
    go(QStringLiteral("/sdcard/Music"));
    EXPECT_TRUE(view.searchField()->text().isEmpty());

    adb->setDevices({adbPhone(QStringLiteral("A1"), QStringLiteral("unauthorized"))});
    pass();
    EXPECT_FALSE(view.showsSearchField());
}

TEST(ToolbarRules, AJobDisablesWhatWouldStartAnotherOne)
{
    WindowRules::ToolbarInput input;
    input.selected = adbPhone(QStringLiteral("A1"));
    input.hasSelection = true;
    input.canGoBack = true;
    input.hasJob = true;
    const WindowRules::ToolbarState busy = WindowRules::toolbar(input);
    EXPECT_FALSE(busy.newFolder);
    EXPECT_FALSE(busy.copyToPhone);
    EXPECT_FALSE(busy.copyToMac);
    EXPECT_FALSE(busy.phoneTools);
    EXPECT_TRUE(busy.back);

    input.hasJob = false;
    const WindowRules::ToolbarState idle = WindowRules::toolbar(input);
    EXPECT_TRUE(idle.newFolder);
    EXPECT_TRUE(idle.copyToMac);
    EXPECT_TRUE(idle.phoneTools);
}

TEST(ToolbarRules, ARecordingTurnsTheEntryIntoStop)
{
    WindowRules::ToolbarInput input;
    input.selected = adbPhone(QStringLiteral("A1"));
    EXPECT_EQ(WindowRules::toolbar(input).recordTitle, QStringLiteral("Record Screen"));
    input.recording = true;
    EXPECT_EQ(WindowRules::toolbar(input).recordTitle, QStringLiteral("Stop Recording"));
    EXPECT_TRUE(WindowRules::toolbar(input).phoneTools);
    input.hasJob = true;
    EXPECT_FALSE(WindowRules::toolbar(input).phoneTools);
    input.hasJob = false;
    input.selected = mtpPhone(QStringLiteral("M1"));
    EXPECT_FALSE(WindowRules::toolbar(input).phoneTools);
}
