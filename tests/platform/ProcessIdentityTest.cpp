// A process told apart from every other: what a working item's record names
// as its maker, and the proof that it no longer runs.

#include "ProcessIdentity.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

using Life = ProcessIdentity::Life;

uint64_t ticksSinceBoot()
{
    QFile uptime(QStringLiteral("/proc/uptime"));
    if (!uptime.open(QIODevice::ReadOnly))
        return 0;
    return uint64_t(uptime.readLine().split(' ').value(0).toDouble() * double(::sysconf(_SC_CLK_TCK))) + 1;
}

// `sleep` under another file name, so that its name in /proc/<pid>/stat is that.
std::unique_ptr<QProcess> sleepingAs(const QTemporaryDir& folder, const QString& name)
{
    const QString program = folder.filePath(name);
    if (!QFile::copy(QStringLiteral("/bin/sleep"), program)
        || !QFile::setPermissions(program, QFile::ReadOwner | QFile::ExeOwner))
        return nullptr;
    auto process = std::make_unique<QProcess>();
    process->start(program, {QStringLiteral("60")});
    if (!process->waitForStarted(5000))
        return nullptr;
    return process;
}

TEST(ProcessIdentity, ARunningProcessIsRunningAndProvablyGoneOnceItEndsWhateverItsName)
{
    QTemporaryDir folder;
    // Spaces and parentheses in its name must not shift the fields after it.
    for (const QString& name : {QStringLiteral("sleep"), QStringLiteral("a) (b c) 1 2")}) {
        SCOPED_TRACE(name.toStdString());
        const std::unique_ptr<QProcess> process = sleepingAs(folder, name);
        ASSERT_TRUE(process);
        const std::optional<ProcessIdentity> identity = ProcessIdentity::ofPid(process->processId());
        ASSERT_TRUE(identity);
        // Started after this process, and before now.
        EXPECT_GE(identity->start, ProcessIdentity::self().start);
        EXPECT_LE(identity->start, ticksSinceBoot());
        EXPECT_EQ(identity->life(), Life::running);
        // The same process read twice is the same identity.
        EXPECT_EQ(ProcessIdentity::ofPid(process->processId()), identity);
        process->kill();
        process->waitForFinished(5000);
        EXPECT_EQ(identity->life(), Life::gone);
    }
}

TEST(ProcessIdentity, AnotherBootOrAnotherStartUnderTheSameIdIsGoneAndNothingProvesNothing)
{
    const ProcessIdentity self = ProcessIdentity::self();
    ASSERT_FALSE(self.isEmpty());
    EXPECT_EQ(self.life(), Life::running);
    ProcessIdentity otherBoot = self;
    otherBoot.boot = QStringLiteral("00000000-0000-0000-0000-000000000000");
    EXPECT_EQ(otherBoot.life(), Life::gone);
    ProcessIdentity reused = self;
    reused.start += 1;
    EXPECT_EQ(reused.life(), Life::gone);
    EXPECT_EQ(ProcessIdentity{}.life(), Life::unknown);
}

TEST(ProcessIdentity, ItsTextGivesItBackAndNothingElseReadsAsOne)
{
    const ProcessIdentity self = ProcessIdentity::self();
    EXPECT_EQ(ProcessIdentity::fromText(self.text()), self);
    for (const char* text : {"", "boot 12", "boot 12 34 56", "boot -1 5", "boot x 5", "bo ot 1 2", "boot\n 1 2",
                             "b/oot 1 2"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(ProcessIdentity::fromText(QString::fromLatin1(text)), std::nullopt);
    }
}

} // namespace
