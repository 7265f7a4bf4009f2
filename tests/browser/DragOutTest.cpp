// Dragging phone entries out: when the copy is made, how long a receiver's
// request may hold the window, what a drag that ends under a request leaves
// behind, and what the user is told when a receiver could not be answered.

#include "BrowserFakes.h"
#include "TempFolder.h"
#include "WorkerPool.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <atomic>
#include <thread>

using namespace browsertest;

namespace {

class DragOutTest : public JobTest {
protected:
    void SetUp() override
    {
        // Staged copies go to a folder of this test's own.
        m_savedCache = qEnvironmentVariableIsSet("XDG_CACHE_HOME") ? std::optional(qgetenv("XDG_CACHE_HOME")) : std::nullopt;
        qputenv("XDG_CACHE_HOME", QFile::encodeName(m_cache.path()));
        JobTest::SetUp();
    }
    void TearDown() override
    {
        m_release = true;
        settle();
        TempFolder::removeAll();
        if (m_savedCache)
            qputenv("XDG_CACHE_HOME", *m_savedCache);
        else
            qunsetenv("XDG_CACHE_HOME");
    }

    // Every copy from the phone runs until the test releases it or it is
    // cancelled (at most ten seconds).
    void holdCopiesUntilReleased()
    {
        phone->onTransfer([this](const QString&, const Progress&, const Cancel& cancel) {
            for (int i = 0; i < 1000 && !m_release && !cancel.isCancelled(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (cancel.isCancelled())
                m_cancelled = true;
            cancel.check();
        });
    }
    // The folders of copies made for drags, one per copy.
    QStringList stagedFolders() { return QDir(TempFolder::path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }
    QString error() { return model().errorMessage().value_or(QString()); }

    QTemporaryDir m_cache;
    std::optional<QByteArray> m_savedCache;
    std::atomic<bool> m_release{false};
    std::atomic<bool> m_cancelled{false};
};

const QString tooLate = u"“photo.jpg” couldn't be dropped: the app it was dropped on stopped waiting before it was "
                        u"copied from the phone. Use “Copy to Computer…” for large items."_s;

// Mended: a request ran the window's events until the copy arrived, so the
// drag could end and delete its data under the wait, and the application
// crashed. Now nothing else runs inside a request.
TEST_F(DragOutTest, ARequestWaitsForTheCopyWithoutRunningTheWindowsEvents)
{
    phone->onTransfer([](const QString&, const Progress&, const Cancel&) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    });
    std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
    settle();
    EXPECT_EQ(phone->callsStartingWith(u"pull "_s), 0); // nothing before a receiver asks

    bool ranInside = false;
    QMetaObject::invokeMethod(&model(), [&] { ranInside = true; }, Qt::QueuedConnection);
    const QList<QUrl> urls = drag->urls();
    EXPECT_FALSE(ranInside);
    ASSERT_EQ(urls.size(), 1);
    EXPECT_EQ(QFileInfo(urls.first().toLocalFile()).fileName(), u"photo.jpg"_s);
    EXPECT_TRUE(QFileInfo(urls.first().toLocalFile()).isFile());

    // The drag ends; the copy stays for the receiver to take.
    drag.reset();
    settle();
    EXPECT_TRUE(ranInside);
    EXPECT_TRUE(QFileInfo(urls.first().toLocalFile()).isFile());
    EXPECT_EQ(error(), QString());
}

// Mended: a copy that got no thread handed the receiver nothing and the
// user no word.
TEST_F(DragOutTest, ACopyThatGetsNoThreadSaysWhy)
{
    std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
    WorkerPool::shared().refuseThreadsForTesting(true);
    const QList<QUrl> urls = drag->urls();
    WorkerPool::shared().refuseThreadsForTesting(false);
    EXPECT_TRUE(urls.isEmpty());
    drag.reset();
    settle();
    EXPECT_TRUE(error().startsWith(u"Couldn't start a worker thread"_s)) << error().toStdString();
    EXPECT_EQ(phone->callsStartingWith(u"pull "_s), 0);
}

// Mended: a receiver that gave up left the user with no word. A request
// gets no answer after the wait; the copy goes on for the next request of
// the same drag; a drag that ends unanswered says so, and its copy stops
// and is removed.
TEST_F(DragOutTest, ACopyThatOutlastsTheReceiversPatienceIsToldAndCleanedUp)
{
    model().setDragOutWait(std::chrono::milliseconds(100));
    holdCopiesUntilReleased();

    for (const bool releasedLater : {true, false}) {
        SCOPED_TRACE(releasedLater ? "taken by a later request" : "drag ends unanswered");
        m_release = false;
        m_cancelled = false;
        model().setErrorMessage(std::nullopt);
        std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
        const int pullsBefore = phone->callsStartingWith(u"pull "_s);

        QElapsedTimer waited;
        waited.start();
        EXPECT_TRUE(drag->urls().isEmpty());
        EXPECT_LT(waited.elapsed(), 2000);
        EXPECT_TRUE(drag->urls().isEmpty()); // still running: the same copy
        EXPECT_EQ(phone->callsStartingWith(u"pull "_s), pullsBefore + 1);
        EXPECT_EQ(stagedFolders().size(), 1);

        if (releasedLater) {
            m_release = true;
            ASSERT_TRUE(testsupport::waitUntil([&] { return WorkerPool::shared().activeJobs() == 0; }));
            const QList<QUrl> urls = drag->urls();
            ASSERT_EQ(urls.size(), 1);
            EXPECT_EQ(phone->callsStartingWith(u"pull "_s), pullsBefore + 1);
            drag.reset();
            settle();
            EXPECT_EQ(error(), QString());
            EXPECT_TRUE(QFileInfo(urls.first().toLocalFile()).isFile());
            TempFolder::removeAll();
        } else {
            drag.reset();
            settle();
            EXPECT_TRUE(m_cancelled);
            EXPECT_EQ(error(), tooLate);
            EXPECT_TRUE(stagedFolders().isEmpty());
        }
    }
}

// A finished copy that no request took (its receiver gave up) goes when the
// drag ends; a failed copy leaves nothing, and says nothing.
TEST_F(DragOutTest, NothingStaysOfCopiesNobodyTook)
{
    model().setDragOutWait(std::chrono::milliseconds(50));
    holdCopiesUntilReleased();
    std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
    EXPECT_TRUE(drag->urls().isEmpty());
    m_release = true;
    settle();
    EXPECT_EQ(stagedFolders().size(), 1);
    drag.reset();
    settle();
    EXPECT_TRUE(stagedFolders().isEmpty());
    EXPECT_EQ(error(), tooLate);

    model().setErrorMessage(std::nullopt);
    model().setDragOutWait(BrowserModel::defaultDragOutWait);
    phone->onTransfer([](const QString&, const Progress&, const Cancel&) {
        throw Error(u"The phone stopped answering."_s);
    });
    drag.reset(model().itemProvider(file(u"photo.jpg"_s)));
    EXPECT_TRUE(drag->urls().isEmpty());
    drag.reset();
    settle();
    EXPECT_TRUE(stagedFolders().isEmpty());
    // The receiver says nothing of a failed copy here, so the window does.
    EXPECT_EQ(error(), u"The phone stopped answering."_s);
}

// Mended: a receiver that asks at every move of the pointer got a new
// whole copy from the phone each time, each kept until quit; a failed copy
// was tried, and told, again at every request. One drag makes its copies
// once and hands the same ones to every request.
TEST_F(DragOutTest, EveryRequestOfADragGetsWhatItsFirstCopyGave)
{
    const struct { const char* what; bool fails; } cases[] = {{"copied", false}, {"failed", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setErrorMessage(std::nullopt);
        phone->onTransfer([fails = c.fails](const QString&, const Progress&, const Cancel&) {
            if (fails)
                throw Error(u"The phone stopped answering."_s);
        });
        const int pullsBefore = phone->callsStartingWith(u"pull "_s);
        std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
        const QList<QUrl> first = drag->urls();
        for (int request = 0; request < 3; ++request)
            EXPECT_EQ(drag->urls(), first);
        EXPECT_EQ(first.size(), c.fails ? 0 : 1);
        EXPECT_EQ(phone->callsStartingWith(u"pull "_s), pullsBefore + 1);
        EXPECT_EQ(stagedFolders().size(), c.fails ? 0 : 1);
        drag.reset();
        settle();
        EXPECT_EQ(error(), c.fails ? u"The phone stopped answering."_s : QString());
        if (!c.fails) {
            EXPECT_TRUE(QFileInfo(first.first().toLocalFile()).isFile()); // the receiver's now
            TempFolder::removeAll();
        }
    }
}

// Mended: a request that gave up, then a later one whose copy failed, left
// the user with "stopped waiting" instead of why the copy failed.
TEST_F(DragOutTest, AFailureAfterARequestThatGaveUpIsToldAsItIs)
{
    model().setDragOutWait(std::chrono::milliseconds(50));
    phone->onTransfer([this](const QString&, const Progress&, const Cancel& cancel) {
        for (int i = 0; i < 1000 && !m_release && !cancel.isCancelled(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        throw Error(u"The phone stopped answering."_s);
    });
    std::unique_ptr<QMimeData> drag(model().itemProvider(file(u"photo.jpg"_s)));
    EXPECT_TRUE(drag->urls().isEmpty()); // gave up
    m_release = true;
    ASSERT_TRUE(testsupport::waitUntil([&] { return WorkerPool::shared().activeJobs() == 0; }));
    EXPECT_TRUE(drag->urls().isEmpty()); // failed
    drag.reset();
    settle();
    EXPECT_EQ(error(), u"The phone stopped answering."_s);
    EXPECT_TRUE(stagedFolders().isEmpty());
}

// Several entries dragged at once: each copied only when a receiver asks,
// into a folder of its own, and handed over together; the wait holds for
// the request as a whole, and nothing of a drag is handed over or left
// behind when one of its copies fails.
TEST_F(DragOutTest, SeveralEntriesAreCopiedTogetherEachIntoAFolderOfItsOwn)
{
    const QList<RemoteEntry> both{file(u"photo.jpg"_s), folder(u"Photos"_s)};
    std::unique_ptr<QMimeData> drag(model().itemProvider(both));
    settle();
    EXPECT_EQ(phone->callsStartingWith(u"pull "_s), 0);
    const QList<QUrl> urls = drag->urls();
    ASSERT_EQ(urls.size(), 2);
    EXPECT_EQ(drag->urls(), urls);
    EXPECT_EQ(phone->callsStartingWith(u"pull "_s), 2);
    const QFileInfo photo(urls[0].toLocalFile()), photos(urls[1].toLocalFile());
    EXPECT_EQ(photo.fileName(), u"photo.jpg"_s);
    EXPECT_TRUE(photo.isFile());
    EXPECT_EQ(photos.fileName(), u"Photos"_s);
    EXPECT_TRUE(photos.isDir());
    EXPECT_NE(photo.path(), photos.path());
    QFile contents(photo.filePath());
    ASSERT_TRUE(contents.open(QIODevice::ReadOnly));
    EXPECT_EQ(contents.readAll(), "/sdcard/photo.jpg");
    drag.reset();
    settle();
    EXPECT_EQ(error(), QString());
    TempFolder::removeAll();

    // The request waits once for the whole drag, not once per entry.
    model().setDragOutWait(std::chrono::milliseconds(100));
    holdCopiesUntilReleased();
    drag.reset(model().itemProvider(both));
    QElapsedTimer waited;
    waited.start();
    EXPECT_TRUE(drag->urls().isEmpty());
    EXPECT_LT(waited.elapsed(), 2000);
    drag.reset();
    settle();
    EXPECT_TRUE(m_cancelled);
    EXPECT_EQ(error(), u"2 items couldn't be dropped: the app they were dropped on stopped waiting before they were "
                       u"copied from the phone. Use “Copy to Computer…” for large items."_s);
    EXPECT_TRUE(stagedFolders().isEmpty());

    // The second fails: the first's copy goes too.
    model().setErrorMessage(std::nullopt);
    model().setDragOutWait(BrowserModel::defaultDragOutWait);
    phone->onTransfer([](const QString& call, const Progress&, const Cancel&) {
        if (call.startsWith(u"pull /sdcard/Photos "_s))
            throw Error(u"The phone stopped answering."_s);
    });
    drag.reset(model().itemProvider(both));
    EXPECT_TRUE(drag->urls().isEmpty());
    drag.reset();
    settle();
    EXPECT_EQ(error(), u"The phone stopped answering."_s);
    EXPECT_TRUE(stagedFolders().isEmpty());
}

} // namespace
