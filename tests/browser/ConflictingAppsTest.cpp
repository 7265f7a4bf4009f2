// The programs that hold a busy phone: found in /proc by the descriptor they
// hold on the phone's device node, named, and asked to quit; a pass follows.

#include "BrowserFakes.h"
#include "ConflictingApps.h"
#include "TestSupport.h"

#include <QFile>
#include <QProcess>

#include <unistd.h>

using namespace browsertest;

namespace {

// A child that holds `node` open as descriptor 3, then runs `sleep`;
// `prefix` runs before the sleep (such as a change of user).
class Holder {
public:
    Holder(const QString& node, const QStringList& prefix = {})
    {
        const QString run = (prefix + QStringList{QStringLiteral("sleep"), QStringLiteral("30")}).join(QLatin1Char(' '));
        m_process.start(QStringLiteral("/bin/sh"),
                        {QStringLiteral("-c"), QStringLiteral("exec 3<\"$0\"; exec ") + run, node});
        m_process.waitForStarted(5000);
    }
    ~Holder()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
    int pid() const { return int(m_process.processId()); }
    bool exited() { return m_process.waitForFinished(5000); }
    bool running() const { return m_process.state() == QProcess::Running; }

private:
    QProcess m_process;
};

bool listed(const QString& node, int pid)
{
    for (const auto& holder : ConflictingApps::holders({node})) {
        if (holder.pid == pid)
            return holder.program == QStringLiteral("sleep");
    }
    return false;
}

class ConflictingAppsTest : public ModelTest {
protected:
    void SetUp() override
    {
        node = m_folder.filePath(QStringLiteral("usb-node"));
        QFile file(node);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.close();
        QFile::setPermissions(node, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
        mtp->setDevices({mtpPhone(QStringLiteral("M1"), QStringLiteral("busy"))});
        mtp->setDeviceNode(QStringLiteral("M1"), node);
    }
    QString node;
};

} // namespace

TEST(ConflictingAppNames, TransferAgentsShareOneNameAndTheRestAreSortedWithoutDuplicates)
{
    const std::vector<ConflictingApps::Holder> holders{
        {1, 0, QStringLiteral("zeta")},
        {2, 0, QStringLiteral("Android File Transfer Agent")},
        {3, 0, QStringLiteral("Android File Transfer")},
        {4, 0, QStringLiteral("Beta")},
        {5, 0, QStringLiteral("zeta")},
    };
    EXPECT_EQ(ConflictingApps::names(holders),
              (QStringList{QStringLiteral("Android File Transfer"), QStringLiteral("Beta"), QStringLiteral("zeta")}));
    EXPECT_TRUE(ConflictingApps::names({}).isEmpty());
}

TEST_F(ConflictingAppsTest, AHolderIsNamedAfterAPassAndTheQuitEndsItAndPollsASecondLater)
{
    Holder holder(node);
    ASSERT_TRUE(testsupport::waitUntil([&] { return listed(node, holder.pid()); }, std::chrono::seconds(5)));
    pass();
    EXPECT_EQ(model().conflictingApps(), QStringList{QStringLiteral("sleep")});

    const int passes = adb->calls(QStringLiteral("devices"));
    const int waiting = clock->waiting();
    model().quitConflictingApps();
    EXPECT_TRUE(holder.exited());
    ASSERT_EQ(clock->waiting(), waiting + 1);
    EXPECT_EQ(clock->lastDelay(), std::chrono::milliseconds(1000));
    clock->fire();
    settle();
    EXPECT_GT(adb->calls(QStringLiteral("devices")), passes);
    // The holder is gone, so the next pass names nobody.
    EXPECT_TRUE(model().conflictingApps().isEmpty());
}

TEST_F(ConflictingAppsTest, APhoneThatIsNotBusyIsNotLookedInto)
{
    Holder holder(node);
    ASSERT_TRUE(testsupport::waitUntil([&] { return listed(node, holder.pid()); }, std::chrono::seconds(5)));
    mtp->setDevices({mtpPhone(QStringLiteral("M1"))});
    pass();
    EXPECT_TRUE(model().conflictingApps().isEmpty());
}

TEST_F(ConflictingAppsTest, AProcessThatChangedIsSkippedWithoutAnError)
{
    Holder holder(node);
    ASSERT_TRUE(testsupport::waitUntil([&] { return listed(node, holder.pid()); }, std::chrono::seconds(5)));
    ConflictingApps::Scan scan{{node}, ConflictingApps::holders({node})};
    ASSERT_EQ(scan.holders.size(), 1u);
    // Another start time: the pid now stands for another process.
    ConflictingApps::Scan changed = scan;
    changed.holders[0].startTime += 1;
    EXPECT_EQ(ConflictingApps::quit(changed), 0);
    // A pid that no longer exists.
    ConflictingApps::Scan gone{{node}, {{0x3ffffff, 1, QStringLiteral("sleep")}}};
    EXPECT_EQ(ConflictingApps::quit(gone), 0);
    EXPECT_EQ(ConflictingApps::quit(scan), 1);
    EXPECT_TRUE(holder.exited());
}

TEST_F(ConflictingAppsTest, AnotherUsersProcessIsNeitherListedNorSignalled)
{
    if (getuid() != 0)
        GTEST_SKIP() << "needs root to start a process of another user";
    Holder other(node, {QStringLiteral("setpriv"), QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                        QStringLiteral("--clear-groups")});
    // The child holds the node once it runs sleep as the other user.
    ASSERT_TRUE(testsupport::waitUntil(
        [&] {
            QFile exe(QStringLiteral("/proc/%1/comm").arg(other.pid()));
            return exe.open(QIODevice::ReadOnly) && exe.readAll().trimmed() == "sleep";
        },
        std::chrono::seconds(5)));
    EXPECT_FALSE(listed(node, other.pid()));
    pass();
    EXPECT_TRUE(model().conflictingApps().isEmpty());
    EXPECT_EQ(ConflictingApps::quit({{node}, {{other.pid(), 0, QStringLiteral("sleep")}}}), 0);
    EXPECT_TRUE(other.running());
}
