// Questions and panels run their own event loop: whatever asked must not be
// touched after the loop if the window went away meanwhile (closed on quit)
// or the phone was unplugged, and nothing may be done to the phone left; the
// click that closes a question begins no double-click in the window behind.

#include "BrowserPane.h"
#include "ContentView.h"
#include "DetailView.h"
#include "EntryMenu.h"
#include "FileGridView.h"
#include "FileListView.h"
#include "MainMenu.h"
#include "WidgetDesktop.h"
#include "WindowFixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>

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
            ASSERT_TRUE(testsupport::waitUntil([&] { return asked > 0; }, std::chrono::seconds(30)));
            EXPECT_EQ(asked, 1);
            EXPECT_EQ(goneWhileAsking, going.windowGoes);
            EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"remove"_s) - before, going.removed);
            delete m_window;
        }
    }
}

namespace {

// The application's own questions on the screen; files it opens are only noted.
class QuestionsOnScreen : public WidgetDesktop {
public:
    bool open(const QString& path, std::function<void()>) override
    {
        opened.append(path);
        return true;
    }
    QStringList opened;
};

// One press and release at the global point `at` of `window`, as the
// platform hands them over, at the given time.
void click(QWindow* window, QPoint at, int time)
{
    const QPointF local = window->mapFromGlobal(at);
    qt_handleMouseEvent(window, local, at, Qt::LeftButton, Qt::LeftButton, QEvent::MouseButtonPress, {}, time);
    qt_handleMouseEvent(window, local, at, Qt::NoButton, Qt::LeftButton, QEvent::MouseButtonRelease, {}, time + 40);
    QCoreApplication::processEvents();
}

using QuestionClicks = WindowTest;

} // namespace

// Mended: double-clicking the question's Delete button deleted, and the
// second click, landing on the row under the closed question, began a
// double-click there: that file was copied and opened.
TEST_F(QuestionClicks, AClickThatClosesAQuestionBeginsNoDoubleClickInTheWindowBehind)
{
    const int interval = QGuiApplication::styleHints()->mouseDoubleClickInterval();
    for (const ViewMode mode : {ViewMode::list, ViewMode::grid}) {
        SCOPED_TRACE(mode == ViewMode::list ? "list" : "grid");
        adbPhoneIn(u"device"_s, {file(u"a.txt"_s), file(u"b.txt"_s), file(u"c.txt"_s)});
        const auto desk = std::make_shared<QuestionsOnScreen>();
        const std::unique_ptr<BrowserModel> own = browsertest::newModel(adb, mtp, settings(), clock, desk);
        bool passed = false;
        own->refreshDevices([&] { passed = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return passed && own->readyDevice() && !own->isLoading(); }));
        own->setViewMode(mode);
        Environment env;
        env.model = own.get();
        // Gone before its model.
        const auto shown = std::make_unique<DetailView>(env);
        DetailView& pane = *shown;
        pane.resize(700, 500);
        pane.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
        ASSERT_TRUE(pane.browser());
        auto* list = pane.findChild<FileListView*>();
        FileGridView* grid = pane.browser()->grid();
        QWidget* view = mode == ViewMode::list ? static_cast<QWidget*>(list) : grid;
        QWidget* surface = mode == ViewMode::list ? list->viewport() : grid->viewport();
        // Where the second row or tile is: "b.txt" now, "c.txt" once "a.txt" is deleted.
        const QRect second = mode == ViewMode::list ? list->visualRect(list->model()->index(1, 0)) : grid->tileRect(1);
        const QPoint spot = surface->mapToGlobal(second.center());
        int time = QTest::lastMouseTimestamp + 10 * interval;
        const int pulls = adb->phone(u"A1"_s)->callsStartingWith(u"pull "_s);

        // The question comes up with its Delete button over that row; both
        // clicks fall on the same place of the screen in quick succession.
        bool clicked = false;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            QAbstractButton* remove = nullptr;
            for (QAbstractButton* button : box->buttons())
                remove = button->text() == u"Delete"_s ? button : remove;
            ASSERT_NE(remove, nullptr);
            box->move(box->pos() + spot - remove->mapToGlobal(remove->rect().center()));
            QCoreApplication::processEvents();
            ASSERT_EQ(remove->mapToGlobal(remove->rect().center()), spot);
            click(box->windowHandle(), spot, time);
            clicked = true;
        });
        own->setSelection({u"a.txt"_s});
        view->setFocus();
        QTest::keyClick(view, Qt::Key_Delete);
        ASSERT_TRUE(clicked);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !own->job() && !own->isLoading(); }));
        settle();
        ASSERT_EQ(browsertest::joined(own->visibleEntries()), u"b.txt,c.txt"_s);

        click(pane.windowHandle(), spot, time + interval / 4);
        settle();
        EXPECT_FALSE(own->job());
        EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"pull "_s), pulls);
        EXPECT_TRUE(desk->opened.isEmpty());
        // A single click: the row under it is chosen.
        EXPECT_EQ(own->selection(), QSet<QString>{u"c.txt"_s});

        // Both clicks on the row: a double-click, which opens it.
        time += 4 * interval;
        click(pane.windowHandle(), spot, time);
        click(pane.windowHandle(), spot, time + interval / 4);
        ASSERT_TRUE(testsupport::waitUntil([&] { return !own->job() && desk->opened.size() == 1; }));
        EXPECT_EQ(adb->phone(u"A1"_s)->callsStartingWith(u"pull /sdcard/c.txt "_s), pulls + 1);
        QTest::lastMouseTimestamp = time + 10 * interval;
    }
}
