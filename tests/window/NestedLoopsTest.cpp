// Questions and panels run their own event loop: whatever asked must not be
// touched after the loop if the window went away meanwhile (closed on quit)
// or the phone was unplugged, and nothing may be done to the phone left.

#include "ContentView.h"
#include "EntryMenu.h"
#include "FileListView.h"
#include "MainMenu.h"
#include "WindowFixture.h"

#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>

#include <gtest/gtest.h>

using namespace windowtest;

namespace {

class NestedLoops : public WindowTest {
public:
    // The main window as the application makes it, gone once closed.
    ContentView* mainWindow()
    {
        auto* view = new ContentView(fullEnvironment());
        view->setAttribute(Qt::WA_DeleteOnClose);
        m_mainMenu.install(view);
        view->resize(1040, 660);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view));
        m_window = view;
        return view;
    }
    // While the question is open, `meanwhile` runs from the loop; then it is answered.
    void whileAsking(std::function<void()> meanwhile)
    {
        desktop->whileAsking = [this, meanwhile] {
            ++asked;
            QEventLoop asking;
            QTimer::singleShot(0, &asking, meanwhile);
            QTimer::singleShot(300, &asking, &QEventLoop::quit);
            asking.exec();
            goneWhileAsking = !m_window;
        };
    }
    void unplug()
    {
        adb->setDevices({});
        model().refreshDevices([] {});
    }
    ~NestedLoops() override { delete m_window; }

    MainMenu m_mainMenu{fullEnvironment(), {}};
    int asked = 0;
    bool goneWhileAsking = false;
    QPointer<ContentView> m_window;
};

// How the delete question is opened from the list.
using Opening = std::function<void(FileListView&)>;

const std::pair<const char*, Opening> openings[] = {
    {"Delete key",
     [](FileListView& list) {
         list.setFocus();
         QTest::keyClick(&list, Qt::Key_Delete);
     }},
    {"menu item",
     [](FileListView& list) {
         const QPoint point = list.visualRect(list.model()->index(0, 0)).center();
         QContextMenuEvent event(QContextMenuEvent::Mouse, point, list.viewport()->mapToGlobal(point));
         QCoreApplication::sendEvent(list.viewport(), &event);
         EntryMenu* menu = list.findChild<EntryMenu*>();
         ASSERT_TRUE(menu && QTest::qWaitForWindowExposed(menu));
         QAction* remove = menu->findChild<QAction*>(u"Delete…"_s);
         ASSERT_NE(remove, nullptr);
         QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(remove).center());
     }},
    {"window's File menu",
     [](FileListView& list) {
         auto* file = list.window()->findChild<QMenuBar*>()->findChild<QMenu*>(u"&File"_s);
         ASSERT_NE(file, nullptr);
         file->popup(list.mapToGlobal(QPoint(0, 0)));
         ASSERT_TRUE(QTest::qWaitForWindowExposed(file));
         QAction* remove = nullptr;
         for (QAction* action : file->actions())
             remove = action->text() == u"Delete…"_s ? action : remove;
         ASSERT_NE(remove, nullptr);
         QTest::mouseClick(file, Qt::LeftButton, {}, file->actionGeometry(remove).center());
     }},
};

} // namespace

// Mended: the list menu's "Delete…" asked its question under the menu's
// click; the window going meanwhile took the menu along, and the click then
// wrote into the freed menu.
TEST_F(NestedLoops, TheDeleteQuestionOutlivesTheWindowThatAskedAndDeletesNothingOnAPhoneGone)
{
    struct Going {
        const char* how;
        std::function<void(NestedLoops&)> go;
        int removed; // on the phone the question was asked for
        bool windowGoes;
    };
    const Going goings[] = {
        {"window closed", [](NestedLoops& test) { test.m_window->close(); }, 1, true},
        {"phone unplugged", [](NestedLoops& test) { test.unplug(); }, 0, false},
        {"both", [](NestedLoops& test) {
             test.unplug();
             test.m_window->close();
         }, 0, true},
    };
    for (const auto& [how, opening] : openings) {
        for (const Going& going : goings) {
            SCOPED_TRACE(std::string(how) + ", " + going.how);
            adbPhoneIn(u"device"_s, {file(u"b.txt"_s)});
            reload();
            mainWindow();
            auto* list = m_window->findChild<FileListView*>();
            ASSERT_NE(list, nullptr);
            model().setSelection({u"b.txt"_s});
            asked = 0;
            whileAsking([this, go = going.go] { go(*this); });
            desktop->answer = 0; // "Delete"
            const int before = adb->phone(u"A1"_s)->callsStartingWith(u"remove"_s);
            opening(*list);
            settle();
            ASSERT_TRUE(testsupport::waitUntil([&] { return asked > 0; }, std::chrono::seconds(3)));
            EXPECT_EQ(asked, 1);
            EXPECT_EQ(goneWhileAsking, going.windowGoes);
            EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"remove"_s) - before, going.removed);
            delete m_window;
        }
    }
}
