// The main window: its title, the toolbar's enabled states per phone state,
// its history buttons, view picker, "More" menu and search field, and the
// prompts it presents for the model.

#include "ContentView.h"
#include "WindowFixture.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class MainWindow : public WindowTest {
protected:
    QAction* more(ContentView& view, const QString& title)
    {
        for (QAction* action : view.moreMenu()->actions()) {
            if (action->text() == title)
                return action;
        }
        ADD_FAILURE() << "no menu entry " << title.toStdString();
        return new QAction(&view);
    }
    // New Folder, Copy to Phone and Copy to Mac, the six phone tools of the
    // "More" menu, and its Wi-Fi entry, as 0s and 1s in three groups.
    std::string enabled(ContentView& view)
    {
        std::string result;
        for (QAction* action : {view.newFolderAction(), view.copyToPhoneAction(), view.copyToMacAction()})
            result += action->isEnabled() ? '1' : '0';
        for (const char* title : {" Mirror Screen", "Apps", "Logcat", "Take Screenshot of Phone", "Record Screen",
                                  "Install APK…", " Connect over Wi-Fi…"}) {
            if (*title == ' ')
                result += *title++;
            result += more(view, QString::fromUtf8(title))->isEnabled() ? '1' : '0';
        }
        return result;
    }
};

} // namespace

TEST_F(MainWindow, ToolbarFileCommandsNeedAReadyPhoneAndPhoneToolsAReadyAdbPhone)
{
    adbPhoneIn(u"unauthorized"_s);
    EXPECT_EQ(enabled(window(fullEnvironment())), "000 000000 1");
    readyMtpPhone();
    EXPECT_EQ(enabled(window(fullEnvironment())), "110 000000 1");

    mtp->setDevices({});
    adbPhoneIn(u"device"_s, {file(u"a.jpg"_s, 10)});
    ContentView& view = window(fullEnvironment());
    EXPECT_EQ(enabled(view), "110 111111 1");
    // Copy to Mac follows the selection alone.
    model().setSelection({u"a.jpg"_s});
    EXPECT_EQ(enabled(view), "111 111111 1");
    more(view, u"Apps"_s)->trigger();
    EXPECT_EQ(openedWindows, QStringList{u"apps"_s});

    // A running job disables everything that would start another.
    QTemporaryDir saved;
    desktop->folder = saved.path();
    auto gate = std::make_shared<browsertest::Gate>();
    gates.push_back(gate);
    adb->phone(u"A1"_s)->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
    view.copyToMacAction()->trigger();
    // The copy starts once the toolbar is done with the click.
    QCoreApplication::sendPostedEvents(&model(), QEvent::MetaCall);
    ASSERT_TRUE(model().job());
    EXPECT_EQ(enabled(view), "000 000000 1");
    gate->open();
    settle();
    EXPECT_EQ(enabled(view), "111 111111 1");
    // Other windows and the Wi-Fi sheet need the application.
    EXPECT_EQ(enabled(window(bareEnvironment())), "111 000111 0");
}

TEST_F(MainWindow, ToolbarHistoryViewPickerAndSearchFollowAndWriteTheModel)
{
    ContentView& view = window(bareEnvironment());
    adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
    EXPECT_TRUE(view.showsSearchField());
    view.searchField()->setText(u"jp"_s);
    EXPECT_EQ(model().searchText(), u"jp"_s);
    go(u"/sdcard/Download"_s);
    EXPECT_TRUE(view.searchField()->text().isEmpty()); // navigating clears the search, in the field too
    view.backAction()->trigger();
    settle();
    EXPECT_EQ(model().path(), u"/sdcard"_s);
    more(view, u"Show Hidden Files"_s)->trigger();
    EXPECT_TRUE(model().showHidden());
    model().setViewMode(ViewMode::grid);
    EXPECT_TRUE(view.iconsAction()->isChecked());
    view.listAction()->trigger();
    EXPECT_EQ(model().viewMode(), ViewMode::list);
    adbPhoneIn(u"unauthorized"_s);
    EXPECT_FALSE(view.showsSearchField());
}

// Mended: a copy named only the first item it didn't copy, and a note of
// what the person's own Stop left came under "Something went wrong". The
// alert names the first item, the whole list is behind Show Details, and a
// note is a note.
TEST_F(MainWindow, TheAlertListsEveryItemNotCopiedAndANoteIsNoFailure)
{
    ContentView& view = window(fullEnvironment());
    const QStringList items{u"“b.txt” wasn't copied: a folder of that name is in its place."_s,
                            u"“d.txt” wasn't copied: a folder of that name is in its place."_s};
    model().setErrorMessage(items.first() + u" 1 other item wasn't copied."_s, items, false);
    QMessageBox* alert = view.errorAlert();
    ASSERT_TRUE(alert && alert->isVisible());
    EXPECT_EQ(alert->text(), u"Something went wrong"_s);
    EXPECT_EQ(alert->icon(), QMessageBox::Warning);
    EXPECT_EQ(alert->detailedText(), items.join(u'\n'));

    const QString left = u"The phone didn’t answer in time to remove the unfinished copy of “Big”; it will be removed "
                         u"when the phone is next reachable."_s;
    model().setErrorMessage(left, {}, true);
    ASSERT_EQ(view.errorAlert(), alert);
    EXPECT_EQ(alert->text(), left);
    EXPECT_NE(alert->windowTitle(), u"Something went wrong"_s);
    EXPECT_EQ(alert->icon(), QMessageBox::Information);
    EXPECT_TRUE(alert->detailedText().isEmpty());
    EXPECT_EQ(alert->buttons().size(), 1);
    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(model().errorMessage().has_value());
}

TEST_F(MainWindow, TheErrorAlertAndTheWirelessSheetShowWhileTheModelAsks)
{
    ContentView& view = window(fullEnvironment());
    model().setErrorMessage(u"The phone went away."_s);
    QMessageBox* alert = view.errorAlert();
    ASSERT_TRUE(alert && alert->isVisible());
    // A newer message replaces the text of the alert that shows, as text.
    model().setErrorMessage(u"Names can't contain “/”."_s);
    EXPECT_EQ(view.errorAlert(), alert);
    EXPECT_EQ(alert->findChild<QLabel*>(u"qt_msgbox_informativelabel"_s)->textFormat(), Qt::PlainText);
    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(view.errorAlert(), nullptr);

    model().setShowingWireless(true);
    ASSERT_TRUE(view.wirelessSheet() && view.wirelessSheet()->isVisible());
    view.wirelessSheet()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(model().showingWireless());
    EXPECT_EQ(view.wirelessSheet(), nullptr);
}

TEST_F(MainWindow, NamePromptsStartFromTheirNameEachTimeAndHandItToTheModel)
{
    adbPhoneIn(u"device"_s, {file(u"photo.jpg"_s)});
    ContentView& view = window(fullEnvironment());
    for (bool confirm : {false, true}) {
        model().setShowingNewFolder(true);
        ASSERT_TRUE(view.newFolderPrompt());
        EXPECT_EQ(view.newFolderPrompt()->text(), u"untitled folder"_s); // not the name typed before
        view.newFolderPrompt()->field()->setText(u"Trips"_s);
        (confirm ? view.newFolderPrompt()->confirmButton() : view.newFolderPrompt()->cancelButton())->click();
        EXPECT_FALSE(model().showingNewFolder());
    }
    settle();
    model().setRenaming(file(u"photo.jpg"_s));
    ASSERT_TRUE(view.renamePrompt());
    EXPECT_EQ(view.renamePrompt()->text(), u"photo.jpg"_s);
    view.renamePrompt()->field()->setText(u"beach.jpg"_s);
    view.renamePrompt()->confirmButton()->click();
    EXPECT_FALSE(model().renaming().has_value());
    settle();
    EXPECT_EQ(adb->phone(u"A1"_s)->calls(u"mkdir /sdcard/Trips"_s), 1);
    EXPECT_EQ(adb->phone(u"A1"_s)->calls(u"move /sdcard/photo.jpg /sdcard/beach.jpg"_s), 1);
}

// What a label or tooltip shows the user: markup only where the widget takes
// its text as rich text.
static QString readAs(const QString& text, Qt::TextFormat format)
{
    if (format == Qt::PlainText || (format == Qt::AutoText && !Qt::mightBeRichText(text)))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// Mended: phone names and phone folder names were shown as markup, links live.
TEST_F(MainWindow, APhonesTextsAreShownAsTheyAre)
{
    const QString phoneName = u"<b>Pixel</b> <a href=\"https://example.com\">site</a>"_s;
    const QString folderName = u"<b>x<a href=x>link"_s;
    adb->setDevices({adbPhone(u"A1"_s, u"device"_s, phoneName)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard"_s, {folder(folderName)});
    adb->phone(u"A1"_s)->setFolder(u"/sdcard/"_s + folderName, {});
    pass();
    model().setSelectedSerial(u"A1"_s);
    go(u"/sdcard/"_s + folderName);
    ContentView& view = window(fullEnvironment());
    auto* row = view.findChild<QWidget*>(u"A1"_s);
    ASSERT_TRUE(row);
    EXPECT_EQ(readAs(row->toolTip(), Qt::AutoText), phoneName);

    model().setShowingNewFolder(true);
    ASSERT_TRUE(view.newFolderPrompt());
    ASSERT_EQ(view.newFolderPrompt()->message(), u"Creates a folder in "_s + folderName + u'.');
    for (const QLabel* label : view.newFolderPrompt()->findChildren<QLabel*>())
        EXPECT_EQ(readAs(label->text(), label->textFormat()), label->text());
    view.newFolderPrompt()->cancelButton()->click();

    model().setErrorMessage(u"“"_s + phoneName + u"” isn't there."_s);
    ASSERT_TRUE(view.errorAlert());
    const auto* informative = view.errorAlert()->findChild<QLabel*>(u"qt_msgbox_informativelabel"_s);
    ASSERT_TRUE(informative);
    EXPECT_EQ(readAs(informative->text(), informative->textFormat()), *model().errorMessage());
    EXPECT_FALSE(informative->openExternalLinks());
    view.errorAlert()->button(QMessageBox::Ok)->click();
}

// Mended: the prompt kept naming the folder it was opened in after a newly
// plugged-in phone took the window to another folder.
TEST_F(MainWindow, TheNewFolderPromptNamesTheFolderShownNow)
{
    adbPhoneIn(u"device"_s);
    go(u"/sdcard/DCIM"_s);
    ContentView& view = window(fullEnvironment());
    model().setShowingNewFolder(true);
    ASSERT_TRUE(view.newFolderPrompt());
    EXPECT_EQ(view.newFolderPrompt()->message(), u"Creates a folder in DCIM."_s);
    adb->setDevices({adbPhone(u"A1"_s), adbPhone(u"N2"_s)});
    pass();
    ASSERT_EQ(model().selectedSerial(), u"N2"_s);
    ASSERT_TRUE(view.newFolderPrompt());
    EXPECT_EQ(view.newFolderPrompt()->message(), u"Creates a folder in Internal Storage."_s);
}

// Mended: a Wi-Fi sheet that went with its window told the model so, and the
// model's answer called into the half-destroyed window. A build with the
// undefined-behaviour sanitizer (or Qt's debug checks) stops at that call.
TEST_F(MainWindow, AWindowGoingWithItsWiFiSheetOpenIsNotCalledBack)
{
    window(fullEnvironment());
    model().setShowingWireless(true);
    window(bareEnvironment()); // the first window goes, its sheet with it
    EXPECT_FALSE(model().showingWireless());
}

// Mended: Escape in the search field stopped the running copy. The field
// takes Escape to clear its text; only an empty field leaves it to Stop.
TEST_F(MainWindow, EscapeInTheSearchFieldClearsItBeforeItStopsTheJob)
{
    ContentView& view = window(bareEnvironment());
    adbPhoneIn(u"device"_s, {file(u"a.jpg"_s)});
    QTemporaryDir saved;
    model().setAskWhereToSave(false);
    model().setSaveFolder(saved.path());
    adb->phone(u"A1"_s)->onTransfer([](const QString&, const Progress&, const Cancel& cancel) {
        testsupport::waitUntil([&] { return cancel.isCancelled(); });
        cancel.check();
    });
    view.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    model().download({file(u"a.jpg"_s)});
    ASSERT_TRUE(model().job());
    view.searchField()->setFocus();
    view.searchField()->setText(u"jp"_s);
    QTest::keyClick(view.searchField(), Qt::Key_Escape);
    EXPECT_TRUE(view.searchField()->text().isEmpty());
    EXPECT_TRUE(model().searchText().isEmpty());
    EXPECT_TRUE(model().job());
    QTest::keyClick(view.searchField(), Qt::Key_Escape);
    EXPECT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
    EXPECT_FALSE(model().errorMessage());
}
