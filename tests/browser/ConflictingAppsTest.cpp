// The programs that hold a busy phone: found in /proc by the descriptor they
// hold on the phone's device node, named, and asked to quit; a pass follows.

#include "BrowserFakes.h"
#include "ConflictingApps.h"

#include <QFile>
#include <QProcess>

#include <csignal>

#include <unistd.h>

using namespace browsertest;

namespace {

class ConflictingAppsTest : public ModelTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QFile(node).open(QIODevice::WriteOnly));
        mtp->setDevices({mtpPhone(u"M1"_s, u"busy"_s)});
        mtp->setDeviceNode(u"M1"_s, node);
    }
    bool listed(int pid) const
    {
        for (const auto& holder : ConflictingApps::holders({node}))
            if (holder.pid == pid)
                return holder.program == u"sleep"_s;
        return false;
    }
    // Waits until the holder has the node open.
    bool holding(const NodeHolder& holder) const
    {
        return testsupport::waitUntil([&] { return listed(int(holder.processId())); }, std::chrono::seconds(5));
    }
    QString node = m_folder.filePath(u"usb-node"_s);
};

} // namespace

TEST(ConflictingAppNames, TransferAgentsShareOneNameAndTheRestAreSortedWithoutDuplicates)
{
    EXPECT_EQ(ConflictingApps::names({{1, 0, u"zeta"_s}, {2, 0, u"Android File Transfer Agent"_s},
                                      {3, 0, u"Android File Transfer"_s}, {4, 0, u"Beta"_s}, {5, 0, u"zeta"_s}}),
              (QStringList{u"Android File Transfer"_s, u"Beta"_s, u"zeta"_s}));
}

TEST_F(ConflictingAppsTest, OnlyABusyPhonesHolderIsNamedAndTheQuitEndsItAndPollsASecondLater)
{
    const auto process = nodeHolder(node);
    ASSERT_TRUE(holding(*process));
    mtp->setDevices({mtpPhone(u"M1"_s)});
    pass();
    EXPECT_TRUE(model().conflictingApps().isEmpty()) << "a phone that is not busy is not looked into";
    mtp->setDevices({mtpPhone(u"M1"_s, u"busy"_s)});
    pass();
    EXPECT_EQ(model().conflictingApps(), QStringList{u"sleep"_s});

    const int passes = adb->calls(u"devices"_s);
    const int waiting = clock->waiting();
    model().quitConflictingApps();
    EXPECT_TRUE(process->waitForFinished(5000));
    ASSERT_EQ(clock->waiting(), waiting + 1);
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(1000));
    clock->fire();
    settle();
    EXPECT_GT(adb->calls(u"devices"_s), passes);
    EXPECT_TRUE(model().conflictingApps().isEmpty());
}

// Mended: the list was the last pass's, and Quit ended what that pass had
// seen rather than what held the phone at the click.
TEST_F(ConflictingAppsTest, TheListAndTheQuitAreWorkedOutWhenAsked)
{
    pass();
    EXPECT_TRUE(model().conflictingApps().isEmpty());
    const auto first = nodeHolder(node);
    ASSERT_TRUE(holding(*first));
    EXPECT_EQ(model().conflictingApps(), QStringList{u"sleep"_s}) << "read again without a pass";

    pass();
    ::kill(first->processId(), SIGKILL);
    ASSERT_TRUE(first->waitForFinished(5000));
    const auto later = nodeHolder(node);
    ASSERT_TRUE(holding(*later));
    model().quitConflictingApps();
    EXPECT_TRUE(later->waitForFinished(5000)) << "the holder at the click is asked to quit";
    settle();
}

// Mended: the adb server (and anything of ours) could be listed and ended.
TEST_F(ConflictingAppsTest, NeitherOurOwnProcessesNorTheAdbServerAreListedOrEnded)
{
    const QString adbServer = m_folder.filePath(u"adb"_s);
    ASSERT_TRUE(QFile::copy(u"/bin/sleep"_s, adbServer));
    const auto server = nodeHolder(node, {adbServer});
    const auto other = nodeHolder(node);
    // Our own child, holding the node as descriptor 3.
    QProcess child;
    child.start(u"/bin/sh"_s, {u"-c"_s, u"exec 3<\"$0\"; exec sleep 30"_s, node});
    ASSERT_TRUE(child.waitForStarted(5000));
    ASSERT_TRUE(holding(*other));
    ASSERT_TRUE(testsupport::waitUntil([&] {
        QFile comm(u"/proc/%1/comm"_s.arg(int(child.processId())));
        return comm.open(QIODevice::ReadOnly) && comm.readAll().trimmed() == "sleep";
    }));

    std::vector<int> listed;
    for (const auto& holder : ConflictingApps::holders({node}))
        listed.push_back(holder.pid);
    EXPECT_EQ(listed, std::vector<int>{other->processId()});
    pass();
    EXPECT_EQ(model().conflictingApps(), QStringList{u"sleep"_s});

    model().quitConflictingApps();
    EXPECT_TRUE(other->waitForFinished(5000));
    // What a stale list names is still spared.
    const auto startTime = [](qint64 pid) {
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        const QByteArray text = stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
        return text.mid(text.lastIndexOf(')') + 2).split(' ').value(19).toULongLong();
    };
    EXPECT_EQ(ConflictingApps::quit({{node},
                                     {{server->processId(), startTime(server->processId()), u"adb"_s},
                                      {int(child.processId()), startTime(child.processId()), u"sleep"_s}}}),
              0);
    settle();
    EXPECT_TRUE(server->running());
    EXPECT_EQ(child.state(), QProcess::Running);
    child.kill();
    child.waitForFinished(5000);
}

TEST_F(ConflictingAppsTest, AProcessThatChangedIsSkippedWithoutAnError)
{
    const auto process = nodeHolder(node);
    ASSERT_TRUE(holding(*process));
    ConflictingApps::Scan scan{{node}, ConflictingApps::holders({node})};
    ASSERT_EQ(scan.holders.size(), 1u);
    // Another start time: the pid now stands for another process.
    ConflictingApps::Scan changed = scan;
    changed.holders[0].startTime += 1;
    EXPECT_EQ(ConflictingApps::quit(changed), 0);
    // A pid that no longer exists.
    EXPECT_EQ(ConflictingApps::quit({{node}, {{0x3ffffff, 1, u"sleep"_s}}}), 0);
    EXPECT_EQ(ConflictingApps::quit(scan), 1);
    EXPECT_TRUE(process->waitForFinished(5000));
}

TEST_F(ConflictingAppsTest, AnotherUsersProcessIsNeitherListedNorSignalled)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    QFile::setPermissions(node, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const auto other = nodeHolder(node, u"setpriv --reuid=65534 --regid=65534 --clear-groups sleep"_s.split(u' '));
    // The child holds the node once it runs sleep as the other user.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            QFile exe(u"/proc/%1/comm"_s.arg(int(other->processId())));
            return exe.open(QIODevice::ReadOnly) && exe.readAll().trimmed() == "sleep";
        },
        std::chrono::seconds(5)));
    EXPECT_FALSE(listed(int(other->processId())));
    pass();
    EXPECT_TRUE(model().conflictingApps().isEmpty());
    EXPECT_EQ(ConflictingApps::quit({{node}, {{int(other->processId()), 0, u"sleep"_s}}}), 0);
    EXPECT_TRUE(other->running());
}
