// The prompts the main window presents for the model: the error alert, the
// new-folder and rename prompts and the Wi-Fi sheet.

#include "ContentView.h"
#include "WindowFixture.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {
class Prompts : public WindowTest {};
} // namespace

TEST_F(Prompts, AnErrorShowsUntilOKClearsIt)
{
    ContentView& view = window(bareEnvironment());
    EXPECT_EQ(view.errorAlert(), nullptr);
    model().setErrorMessage(QStringLiteral("The phone went away."));
    QMessageBox* alert = view.errorAlert();
    ASSERT_TRUE(alert);
    EXPECT_TRUE(alert->isVisible());
    EXPECT_EQ(alert->text(), QStringLiteral("Something went wrong"));
    EXPECT_EQ(alert->informativeText(), QStringLiteral("The phone went away."));

    // A newer message replaces the text of the alert that shows.
    model().setErrorMessage(QStringLiteral("Names can't contain “/”."));
    EXPECT_EQ(view.errorAlert(), alert);
    EXPECT_EQ(alert->informativeText(), QStringLiteral("Names can't contain “/”."));

    alert->button(QMessageBox::Ok)->click();
    EXPECT_FALSE(model().errorMessage().has_value());
    EXPECT_EQ(view.errorAlert(), nullptr);
}

TEST_F(Prompts, ANewFolderPromptStartsFromUntitledFolderEachTime)
{
    adbPhoneIn(QStringLiteral("device"));
    go(QStringLiteral("/sdcard/Download"));
    ContentView& view = window(fullEnvironment());
    model().setShowingNewFolder(true);
    NamePrompt* prompt = view.newFolderPrompt();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->windowTitle(), QStringLiteral("New Folder"));
    EXPECT_EQ(prompt->message(), QStringLiteral("Creates a folder in Download."));
    EXPECT_EQ(prompt->field()->placeholderText(), QStringLiteral("Folder name"));
    EXPECT_EQ(prompt->text(), QStringLiteral("untitled folder"));
    prompt->field()->setText(QStringLiteral("Trips"));
    prompt->cancelButton()->click();
    EXPECT_FALSE(model().showingNewFolder());
    EXPECT_TRUE(calls.isEmpty());

    model().setShowingNewFolder(true);
    prompt = view.newFolderPrompt();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->text(), QStringLiteral("untitled folder"));
    prompt->field()->setText(QStringLiteral("Trips"));
    prompt->confirmButton()->click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("newFolder:Trips")});
    EXPECT_FALSE(model().showingNewFolder());
}

TEST_F(Prompts, RenameOpensWithTheCurrentNameAndCancelStartsNothing)
{
    adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("photo.jpg"))});
    ContentView& view = window(fullEnvironment());
    model().setRenaming(file(QStringLiteral("photo.jpg")));
    NamePrompt* prompt = view.renamePrompt();
    ASSERT_TRUE(prompt);
    EXPECT_EQ(prompt->windowTitle(), QStringLiteral("Rename"));
    EXPECT_EQ(prompt->text(), QStringLiteral("photo.jpg"));
    prompt->cancelButton()->click();
    EXPECT_FALSE(model().renaming().has_value());
    EXPECT_TRUE(calls.isEmpty());

    model().setRenaming(file(QStringLiteral("photo.jpg")));
    prompt = view.renamePrompt();
    ASSERT_TRUE(prompt);
    prompt->field()->setText(QStringLiteral("beach.jpg"));
    prompt->confirmButton()->click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("rename:photo.jpg>beach.jpg")});
    EXPECT_FALSE(model().renaming().has_value());
}

TEST_F(Prompts, WithoutTheOperationThePromptCannotConfirm)
{
    adbPhoneIn(QStringLiteral("device"));
    ContentView& view = window(bareEnvironment());
    model().setShowingNewFolder(true);
    ASSERT_TRUE(view.newFolderPrompt());
    EXPECT_FALSE(view.newFolderPrompt()->confirmButton()->isEnabled());
}

TEST_F(Prompts, TheWirelessSheetShowsWhileAskedForAndClosingItEndsTheRequest)
{
    ContentView& view = window(fullEnvironment());
    model().setShowingWireless(true);
    ASSERT_TRUE(view.wirelessSheet());
    EXPECT_EQ(calls, QStringList{QStringLiteral("wirelessSheet")});
    EXPECT_TRUE(view.wirelessSheet()->isVisible());
    view.wirelessSheet()->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(model().showingWireless());
    EXPECT_EQ(view.wirelessSheet(), nullptr);
}
