// The harness cleans up after itself: the private adb server, the phone and
// the environment end with it, even when the test process dies first.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

TEST(AdbPhoneConnection, StopEndsThePrivateServerAndThePhoneAndRestoresTheEnvironment)
{
    const QByteArray homeBefore = qgetenv("HOME");
    const bool portSetBefore = qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT");
    qint64 serverPid = 0;
    qint64 phonePid = 0;
    QString storage;
    {
        FakePhoneHarness phone;
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
        serverPid = phone.serverPid();
        phonePid = phone.phonePid();
        storage = phone.storage();
        ASSERT_GT(serverPid, 0);
        EXPECT_TRUE(testsupport::processAlive(serverPid));
        EXPECT_GT(qgetenv("ANDROID_ADB_SERVER_PORT").toInt(), 0);
        EXPECT_NE(qgetenv("HOME"), homeBefore);
    }
    EXPECT_FALSE(testsupport::processAlive(serverPid));
    EXPECT_FALSE(testsupport::processAlive(phonePid));
    EXPECT_FALSE(QFileInfo::exists(storage));
    EXPECT_EQ(qgetenv("HOME"), homeBefore);
    EXPECT_EQ(qEnvironmentVariableIsSet("ANDROID_ADB_SERVER_PORT"), portSetBefore);

    // A second phone after the first, as a test binary with several tests does.
    FakePhoneHarness second;
    QString error;
    ASSERT_TRUE(second.start(&error)) << error.toStdString();
    EXPECT_NE(second.serverPid(), serverPid);
    EXPECT_EQ(second.shell(QStringLiteral("echo again")).out, QByteArray("again\n"));
}

TEST(AdbPhoneConnection, APhoneWhoseTestDiedEndsTheAdbServerAndItself)
{
    // Orphans come to us rather than to init, so that they can be reaped here.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t test = ::fork();
    ASSERT_GE(test, 0);
    if (test == 0) {
        // A test process that dies without cleaning up.
        ::close(report[0]);
        auto* phone = new FakePhoneHarness;
        QByteArray line = "failed\n";
        if (phone->start())
            line = QByteArray::number(phone->serverPid()) + ' ' + QByteArray::number(phone->phonePid()) + ' ' +
                   QFile::encodeName(QFileInfo(phone->storage()).path()) + '\n';
        ssize_t ignored = ::write(report[1], line.constData(), static_cast<size_t>(line.size()));
        (void)ignored;
        ::_exit(0);
    }
    ::close(report[1]);
    QByteArray line;
    char buffer[512];
    ssize_t n;
    while ((n = ::read(report[0], buffer, sizeof buffer)) > 0)
        line.append(buffer, n);
    ::close(report[0]);
    ::waitpid(test, nullptr, 0);

    const QList<QByteArray> fields = line.trimmed().split(' ');
    ASSERT_EQ(fields.size(), 3) << line.toStdString();
    const qint64 serverPid = fields.at(0).toLongLong();
    const qint64 phonePid = fields.at(1).toLongLong();
    EXPECT_TRUE(testsupport::waitUntil([&] { return !testsupport::processAlive(phonePid); }, std::chrono::seconds(5)));
    EXPECT_TRUE(testsupport::waitUntil([&] { return !testsupport::processAlive(serverPid); }, std::chrono::seconds(5)));
    testsupport::reapZombies();
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
    QDir(QFile::decodeName(fields.at(2))).removeRecursively();
}
