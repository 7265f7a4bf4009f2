// The context menu of phone items: which items it has for what was clicked,
// what each one hands to the model, and that it never acts without its
// operation.

#include "EntryMenu.h"
#include "FileListView.h"
#include "WindowFixture.h"

#include <QTest>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

// The menu as text, separators as "-".
QStringList titles(QMenu* menu)
{
    QStringList result;
    for (QAction* action : menu->actions())
        result.append(action->isSeparator() ? QStringLiteral("-") : action->text());
    return result;
}

QAction* item(QMenu* menu, const QString& title)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

class EntryMenuTest : public WindowTest {
protected:
    FileListView& list(const Environment& env)
    {
        adbPhoneIn(QStringLiteral("device"), {file(QStringLiteral("one.txt"), 3), folder(QStringLiteral("DCIM")),
                                              file(QStringLiteral("two.jpg"), 4), folder(QStringLiteral("Music"))});
        adb->phone(QStringLiteral("A1"))->setFolder(QStringLiteral("/sdcard/DCIM"), {});
        m_list = std::make_unique<FileListView>(env);
        m_list->resize(700, 300);
        m_list->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(m_list.get()));
        return *m_list;
    }
    QPoint rowOf(const QString& name)
    {
        return m_list->visualRect(m_list->listModel()->index(m_list->listModel()->rowOf(name), 0)).center();
    }
    std::unique_ptr<QMenu> menuAt(const QPoint& at) { return std::unique_ptr<QMenu>(m_list->menuAt(at)); }

private:
    std::unique_ptr<FileListView> m_list;
};

} // namespace

TEST_F(EntryMenuTest, EmptySpaceGetsTheFoldersOwnMenu)
{
    list(fullEnvironment());
    auto menu = menuAt(QPoint(10, 280));
    EXPECT_EQ(titles(menu.get()), (QStringList{QStringLiteral("New Folder"), QStringLiteral("Copy to Phone…")}));
    item(menu.get(), QStringLiteral("Copy to Phone…"))->trigger();
    EXPECT_EQ(calls, QStringList{QStringLiteral("chooseAndUpload:(current)")});
    item(menu.get(), QStringLiteral("New Folder"))->trigger();
    EXPECT_TRUE(model().showingNewFolder());
}

TEST_F(EntryMenuTest, OneFileOrOneFolder)
{
    list(fullEnvironment());
    auto onFile = menuAt(rowOf(QStringLiteral("one.txt")));
    EXPECT_EQ(titles(onFile.get()),
              (QStringList{QStringLiteral("Open on Mac"), QStringLiteral("Copy to Mac…"), QStringLiteral("Copy Path"),
                           QStringLiteral("-"), QStringLiteral("Rename…"), QStringLiteral("Delete…")}));
    auto onFolder = menuAt(rowOf(QStringLiteral("DCIM")));
    EXPECT_EQ(titles(onFolder.get()),
              (QStringList{QStringLiteral("Open"), QStringLiteral("Copy to Mac…"), QStringLiteral("Copy Path"),
                           QStringLiteral("-"), QStringLiteral("Rename…"), QStringLiteral("Delete…")}));

    item(onFile.get(), QStringLiteral("Rename…"))->trigger();
    ASSERT_TRUE(model().renaming());
    EXPECT_EQ(model().renaming()->name, QStringLiteral("one.txt"));
    item(onFolder.get(), QStringLiteral("Open"))->trigger();
    settle();
    EXPECT_EQ(model().path(), QStringLiteral("/sdcard/DCIM"));
}

TEST_F(EntryMenuTest, SeveralItemsActOnTheWholeSelectionInListingOrder)
{
    list(fullEnvironment());
    model().setSelection({QStringLiteral("two.jpg"), QStringLiteral("one.txt")});
    auto files = menuAt(rowOf(QStringLiteral("two.jpg")));
    EXPECT_EQ(titles(files.get()),
              (QStringList{QStringLiteral("Open on Mac"), QStringLiteral("Copy to Mac…"), QStringLiteral("Copy Paths"),
                           QStringLiteral("-"), QStringLiteral("Delete…")}));
    item(files.get(), QStringLiteral("Copy Paths"))->trigger();
    item(files.get(), QStringLiteral("Delete…"))->trigger();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("copyPaths:one.txt,two.jpg"), QStringLiteral("remove:one.txt,two.jpg")}));

    // A folder among them leaves the open slot empty.
    model().setSelection({QStringLiteral("DCIM"), QStringLiteral("one.txt")});
    auto mixed = menuAt(rowOf(QStringLiteral("one.txt")));
    EXPECT_EQ(titles(mixed.get()), (QStringList{QStringLiteral("Copy to Mac…"), QStringLiteral("Copy Paths"),
                                                QStringLiteral("-"), QStringLiteral("Delete…")}));
}

TEST_F(EntryMenuTest, AnUnselectedRowGetsAMenuOfItsOwn)
{
    list(fullEnvironment());
    model().setSelection({QStringLiteral("two.jpg"), QStringLiteral("one.txt")});
    auto menu = menuAt(rowOf(QStringLiteral("Music")));
    auto* entries = static_cast<EntryMenu*>(menu.get());
    ASSERT_EQ(entries->items().size(), 1);
    EXPECT_EQ(entries->items().first().name, QStringLiteral("Music"));
    EXPECT_EQ(model().selection(), (QSet<QString>{QStringLiteral("two.jpg"), QStringLiteral("one.txt")}));
}

TEST_F(EntryMenuTest, ItemsWithoutTheirOperationAreDisabled)
{
    list(bareEnvironment());
    auto onFile = menuAt(rowOf(QStringLiteral("one.txt")));
    for (QAction* action : onFile->actions()) {
        if (!action->isSeparator()) {
            EXPECT_FALSE(action->isEnabled()) << action->text().toStdString();
        }
    }
    // Entering a folder is the model's own.
    auto onFolder = menuAt(rowOf(QStringLiteral("DCIM")));
    EXPECT_TRUE(item(onFolder.get(), QStringLiteral("Open"))->isEnabled());
    auto background = menuAt(QPoint(10, 280));
    EXPECT_FALSE(item(background.get(), QStringLiteral("New Folder"))->isEnabled());
    item(background.get(), QStringLiteral("New Folder"))->trigger();
    EXPECT_FALSE(model().showingNewFolder());
}
