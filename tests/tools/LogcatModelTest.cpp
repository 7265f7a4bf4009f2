#include "LogcatModel.h"
#include "HostileNames.h"
#include "PhoneFixture.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;
using testsupport::waitUntil;

QString entry(qint64 index)
{
    return QString::fromUtf8(FakePhoneHarness::logEntry(index));
}

const QString kLogCommand = FakePhoneHarness::logcatCommand({"-v", "threadtime", "-T", "1000"});

class LogcatModelTest : public PhoneTest {
protected:
    void TearDown() override
    {
        if (m_model)
            m_model->stop();
        waitUntil([] { return phonetest::adbClientsWith(u"logcat"_s).isEmpty(); }, 5s);
        m_model.reset();
        if (hasPhone())
            phone().clearReplies();
    }

    LogcatModel& model()
    {
        m_model = std::make_unique<LogcatModel>(adb(), serial(), u"Pixel 7"_s);
        m_model->setPrompts({[this](const QString&) { return answer; },
                             [this](const QString&, const QString& text) { warnings << text; }});
        return *m_model;
    }
    // The model's adb work (lookups, clearing, saving) is over; the stream is not started.
    static void idle() { ASSERT_TRUE(waitUntil([] { return WorkerPool::shared().activeJobs() == 0; }, 30s)); }
    void feed(const QStringList& lines)
    {
        m_model->receive(lines);
        const qsizetype before = m_model->lines().isEmpty() ? -1 : m_model->lines().last().id;
        waitUntil([&] { return !m_model->lines().isEmpty() && m_model->lines().last().id != before; }, 2s);
    }
    int commands(const QString& command) const { return int(phone().receivedCommands().count(command)); }

    std::unique_ptr<LogcatModel> m_model;
    std::optional<QString> answer;
    QStringList warnings;
};

TEST_F(LogcatModelTest, StartStreamsHistoryInBatchesThenLiveLinesAndKeepsTheNewest20000)
{
    phone().setLog({.history = 25000, .intervalMs = 20, .burst = 2});
    LogcatModel& log = model();
    QSignalSpy updates(&log, &LogcatModel::linesChanged);
    log.start();
    log.start();
    ASSERT_TRUE(waitUntil([&] { return !log.lines().isEmpty() && log.lines().last().id > 25010; }));
    EXPECT_LE(updates.count(), 100) << "one update per flush, not per line or read";
    EXPECT_EQ(commands(kLogCommand), 1);
    EXPECT_EQ(log.lines().size(), 20000);
    EXPECT_EQ(log.shownCount(), 20000);
    EXPECT_EQ(log.lines().first().id, log.lines().last().id - 19999);
    for (const LogLine& line : log.lines())
        ASSERT_EQ(line.raw, entry(line.id)) << "the header line takes no id";
}

TEST_F(LogcatModelTest, PauseDropsWhatArrivesButNotWhatWasBuffered)
{
    LogcatModel& log = model();
    log.receive({entry(0)});
    log.setPaused(true);
    log.receive({entry(1)});
    log.setPaused(false);
    feed({entry(2)});
    ASSERT_EQ(log.lines().size(), 2);
    EXPECT_EQ(log.lines().at(0).raw + log.lines().at(1).raw, entry(0) + entry(2));
    EXPECT_EQ(log.lines().at(1).id, 1);
}

TEST_F(LogcatModelTest, ClearEmptiesAtOnceAndIdsContinue)
{
    phone().setLog({.history = 200, .intervalMs = 5, .burst = 20});
    LogcatModel& log = model();
    log.start();
    ASSERT_TRUE(waitUntil([&] { return log.lines().size() >= 200; }));
    const qint64 last = log.lines().last().id;
    log.clear();
    EXPECT_TRUE(log.lines().isEmpty() && log.shownCount() == 0);
    ASSERT_TRUE(waitUntil([&] { return !log.lines().isEmpty(); }, 30s));
    EXPECT_EQ(log.lines().first().id, last + 1);
    EXPECT_TRUE(waitUntil([&] { return commands(FakePhoneHarness::logcatCommand({"-c"})) == 1; }));
}

TEST_F(LogcatModelTest, FiltersByLevelTextAndApp)
{
    LogcatModel& log = model();
    phone().setReply(u"pidof 'com.example.app'"_s, {.out = "1234 812\n"});
    feed({entry(0), entry(1), entry(2), entry(3), entry(4), entry(5), entry(6), u"garbage"_s});
    ASSERT_EQ(log.lines().size(), 7);

    log.setMinimumLevel(LogLine::Level::error);
    EXPECT_EQ(log.shownCount(), 3) << "E, F and A";
    log.setMinimumLevel(LogLine::Level::verbose);
    log.setSearch(u" "_s);
    EXPECT_EQ(log.shownCount(), 7);
    log.setSearch(u".*"_s);
    EXPECT_EQ(log.shownCount(), 0) << "plain text, not a pattern";
    log.setSearch({});

    log.setPackage(u" com.example.app\t"_s);
    ASSERT_TRUE(waitUntil([&] { return log.appPids().has_value(); }));
    EXPECT_EQ(*log.appPids(), (QSet<QString> {"1234", "812"}));
    EXPECT_EQ(log.shownCount(), 4) << "entries 0, 1, 4 and 5";
    log.setPackage(u"  "_s);
    EXPECT_EQ(log.appPids(), std::nullopt);
    EXPECT_EQ(log.shownCount(), 7);

    log.setPackage(u"it's"_s);
    idle();
    EXPECT_EQ(commands(u"pidof 'it'\\''s'"_s), 1) << "the quote stays inside one word";
}

TEST_F(LogcatModelTest, ALateLookupForAnOldPackageIsDropped)
{
    LogcatModel& log = model();
    phone().setReply(u"pidof 'com.slow'"_s, {.out = "1\n", .delayMs = 1500});
    phone().setReply(u"pidof 'com.fast'"_s, {.out = "2\n"});
    log.setPackage(u"com.slow"_s);
    log.setPackage(u"com.fast"_s);
    ASSERT_TRUE(waitUntil([&] { return log.appPids().has_value(); }));
    idle();
    QTest::qWait(0);
    EXPECT_EQ(log.appPids(), (QSet<QString> {"2"}));
}

TEST_F(LogcatModelTest, PollSkipsWhileTheSameLookupRuns)
{
    phone().setReply(u"pidof 'com.hang'"_s, {.out = "1\n", .delayMs = 1500});
    LogcatModel& log = model();
    log.setTiming({.flush = 150ms, .pidPoll = 50ms});
    log.setPackage(u"com.hang"_s);
    log.start();
    waitUntil([] { return false; }, 600ms);
    log.stop();
    EXPECT_EQ(commands(u"pidof 'com.hang'"_s), 1);
}

TEST_F(LogcatModelTest, StopEndsTheStreamAndOnlyItsOwnExitReportCounts)
{
    phone().setLog({.history = 10, .intervalMs = 20});
    LogcatModel& log = model();
    log.start();
    ASSERT_TRUE(waitUntil([&] { return log.lines().size() >= 10; }));
    // The first stream's late exit report leaves the second one running.
    log.stop();
    log.start();
    ASSERT_TRUE(waitUntil([&] { return phonetest::adbClientsWith(u"logcat"_s).size() == 1; }, 30s));
    const qsizetype before = log.lines().size();
    ASSERT_TRUE(waitUntil([&] { return log.lines().size() > before + 20; }));
    EXPECT_FALSE(log.ended());

    log.stop();
    EXPECT_FALSE(log.ended());
    EXPECT_TRUE(waitUntil([&] { return log.ended(); }, 30s));
    EXPECT_TRUE(waitUntil([] { return phonetest::adbClientsWith(u"logcat"_s).isEmpty(); }, 30s));
    EXPECT_TRUE(waitUntil([&] { return !phone().logEvents().isEmpty() && phone().logEvents().last().what == "closed"; }));
}

// Mended: a log whose adb was ended from outside read as the phone gone
// ("Disconnected"), and nothing said why it stopped.
TEST_F(LogcatModelTest, ALogWhoseAdbIsEndedFromOutsideSaysSo)
{
    const struct {
        const char* what;
        std::function<void(LogcatModel&)> end;
        std::optional<QString> because;
    } cases[] = {
        {"killed",
         [](LogcatModel&) {
             const QStringList clients = phonetest::adbClientsWith(u"logcat"_s);
             ASSERT_EQ(clients.size(), 1);
             ::kill(clients.first().section(u':', 0, 0).toInt(), SIGKILL);
         },
         u"adb was stopped before it answered."_s},
        {"the phone ended it", [this](LogcatModel&) { phone().endLog(); }, std::nullopt},
        {"our stop", [](LogcatModel& log) { log.stop(); }, std::nullopt},
    };
    phone().setLog({.history = 5, .intervalMs = 50});
    LogcatModel& log = model();
    const auto opened = [this] {
        const QList<FakePhoneHarness::LogEvent> events = phone().logEvents();
        return std::count_if(events.begin(), events.end(), [](const auto& event) { return event.what == u"opened"_s; });
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = opened();
        log.start();
        ASSERT_TRUE(waitUntil([&] { return phonetest::adbClientsWith(u"logcat"_s).size() == 1; }, 30s));
        // The phone's side too: an end asked before its log opened would
        // never reach it.
        ASSERT_TRUE(waitUntil([&] { return opened() == before + 1; }, 30s));
        c.end(log);
        ASSERT_TRUE(waitUntil([&] { return log.ended(); }, 30s));
        EXPECT_EQ(log.endedBecause(), c.because);
        ASSERT_TRUE(waitUntil([] { return phonetest::adbClientsWith(u"logcat"_s).isEmpty(); }, 30s));
    }
}

TEST_F(LogcatModelTest, ThePhoneDroppingItsLogEndsTheModel)
{
    // An ordinary end is the log window's test.
    phone().setLog({.history = 5, .intervalMs = 50});
    LogcatModel& log = model();
    log.start();
    ASSERT_TRUE(waitUntil([&] { return log.lines().size() >= 5; }));
    phone().dropLog();
    EXPECT_TRUE(waitUntil([&] { return log.ended(); }));
    ASSERT_TRUE(phone().waitForState(u"device"_s));
}

TEST_F(LogcatModelTest, SaveWritesTheShownLinesOrWarns)
{
    QTemporaryDir folder;
    LogcatModel& log = model();
    feed({entry(4), entry(5), entry(6)});
    log.setMinimumLevel(LogLine::Level::error);
    auto saved = [&](const QString& name) {
        QFile file(folder.filePath(name));
        return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll()) : std::nullopt;
    };

    answer = std::nullopt; // cancelled: nothing written
    log.save();
    answer = folder.filePath(u"shown.txt"_s);
    log.save();
    ASSERT_TRUE(waitUntil([&] { return saved(u"shown.txt"_s).has_value(); }));
    EXPECT_EQ(*saved(u"shown.txt"_s), (entry(4) + '\n' + entry(5) + '\n' + entry(6)).toUtf8());

    QFile blocker(folder.filePath(u"plain"_s));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    answer = folder.filePath(u"plain/log.txt"_s);
    log.save();
    ASSERT_TRUE(waitUntil([&] { return !warnings.isEmpty(); }));
    EXPECT_TRUE(warnings.first().contains(*answer)) << warnings.first().toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files).size(), 2) << "shown.txt and plain only";
}

// Mended: a phone named "../../x" chose where the log went, one named by an
// absolute path moved the panel there, and "Work / Home" could not be saved.
TEST_F(LogcatModelTest, TheSuggestedNameIsOneNameWhateverThePhoneIsCalled)
{
    for (const auto& c : hostilenames::cases()) {
        SCOPED_TRACE(c.what);
        LogcatModel log(adb(), serial(), c.text);
        QStringList suggested;
        log.setPrompts({[&](const QString& name) -> std::optional<QString> {
                            suggested << name;
                            return std::nullopt;
                        },
                        [](const QString&, const QString&) {}});
        log.save();
        ASSERT_EQ(suggested.size(), 1);
        hostilenames::expectOneName(suggested.first(), u" logcat.txt"_s);
    }
}

// Mended: every keystroke in the package field started a lookup whose adb
// nothing ended, so a phone that did not answer gathered one per key.
TEST_F(LogcatModelTest, ANewerLookupEndsTheOlderOnesAdb)
{
    LogcatModel& log = model();
    for (const char* typed : {"c", "co", "com"})
        phone().setReply(u"pidof '"_s + QString::fromUtf8(typed) + u"'"_s, {.out = "1\n", .delayMs = 120000});
    auto running = [] { return phonetest::adbClientsWith(u"pidof"_s).size(); };
    for (const QString& typed : {u"c"_s, u"co"_s, u"com"_s}) {
        log.setPackage(typed);
        ASSERT_TRUE(waitUntil([&] { return commands(u"pidof '"_s + typed + u"'"_s) == 1; }, 30s));
    }
    EXPECT_TRUE(waitUntil([&] { return running() == 1; }, 30s)) << running();
    log.setPackage({});
    EXPECT_TRUE(waitUntil([&] { return running() == 0; }, 30s)) << running();
    EXPECT_EQ(log.appPids(), std::nullopt);
}

// Mended: the phone going while the panel was open wrote nothing; what was
// shown when the person asked is what is written, whatever comes meanwhile.
TEST_F(LogcatModelTest, SaveSuggestsTheNameAndWritesWhatWasShownWhenAsked)
{
    QTemporaryDir folder;
    const QString target = folder.filePath(u"saved.txt"_s);
    // meanwhile: what happens while the panel is open; lines: fed before asking.
    const struct { const char* what; QStringList lines; std::function<void()> meanwhile; QByteArray written; } cases[] = {
        {"nothing shown", {}, [] {}, ""},
        {"more lines arrive", {entry(1), entry(2)}, [this] { feed({entry(3)}); }, (entry(1) + '\n' + entry(2)).toUtf8()},
        {"the filter changes", {entry(1), entry(5)},
         [this] { m_model->setMinimumLevel(LogLine::Level::error); }, (entry(1) + '\n' + entry(5)).toUtf8()},
        {"the model goes", {entry(4)}, [this] { m_model.reset(); }, entry(4).toUtf8()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(target);
        LogcatModel& log = model();
        if (!c.lines.isEmpty())
            feed(c.lines);
        ASSERT_EQ(log.shownCount(), c.lines.size());
        QStringList suggested;
        log.setPrompts({[&](const QString& name) -> std::optional<QString> {
                            suggested << name;
                            c.meanwhile();
                            return target;
                        },
                        {}});
        log.save();
        EXPECT_EQ(suggested, QStringList {u"Pixel 7 logcat.txt"_s});
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(target); }));
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.readAll(), c.written);
    }
    EXPECT_TRUE(warnings.isEmpty());
}

// Mended: with no thread for adb, typing a package threw to the field, and
// the pid poll's timer let the failure escape, ending the application. Each
// piece of the log's work now ends by itself: no stream reads as ended, a
// lookup finds nothing, a save warns.
TEST_F(LogcatModelTest, WorkThatGetsNoThreadEndsQuietlyOrWarns)
{
    QTemporaryDir folder;
    LogcatModel& log = model();
    log.setTiming({.flush = 150ms, .pidPoll = 50ms});
    answer = folder.filePath(u"log.txt"_s);
    WorkerPool::shared().refuseThreadsForTesting(true);
    EXPECT_NO_THROW(log.setPackage(u"com.example"_s));
    EXPECT_NO_THROW(log.start());
    EXPECT_NO_THROW(log.clear());
    EXPECT_NO_THROW(log.save());
    waitUntil([] { return false; }, 300ms); // a few ticks of the pid poll
    WorkerPool::shared().refuseThreadsForTesting(false);
    EXPECT_TRUE(log.ended());
    EXPECT_FALSE(log.appPids().has_value());
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.first().contains(u"Couldn't start a worker thread"_s)) << warnings.first().toStdString();
    EXPECT_EQ(commands(u"pidof 'com.example'"_s), 0);
    // With threads again, the next tick asks.
    phone().setReply(u"pidof 'com.example'"_s, {.out = "7\n"});
    EXPECT_TRUE(waitUntil([&] { return log.appPids() == QSet<QString>{u"7"_s}; }, 30s));
    log.stop();
}

} // namespace
