// How adb sees the fake phone: listed with its identity, unauthorized when
// asked to be, unharmed by garbage, and cleaned up after.
#include "FakePhoneHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString devicesLine(const FakePhoneHarness& phone)
{
    const auto devices = phone.runAdb({QStringLiteral("devices"), QStringLiteral("-l")});
    for (const QByteArray& line : devices.out.split('\n')) {
        if (line.startsWith(phone.serial().toUtf8() + ' ') || line.startsWith(phone.serial().toUtf8() + '\t'))
            return QString::fromUtf8(line.simplified());
    }
    return {};
}

void putLe32(QByteArray& out, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        out.append(static_cast<char>((value >> (8 * i)) & 0xff));
}

// A message header as adb writes it, announcing `length` bytes of data.
QByteArray header(const char* command, quint32 length)
{
    quint32 tag = 0;
    for (int i = 0; i < 4; ++i)
        tag |= static_cast<quint32>(static_cast<quint8>(command[i])) << (8 * i);
    QByteArray out;
    putLe32(out, tag);
    putLe32(out, 1);
    putLe32(out, 0);
    putLe32(out, length);
    putLe32(out, 0);
    putLe32(out, tag ^ 0xffffffffU);
    return out;
}

// Sends raw bytes to the phone's port and waits until the phone hangs up.
bool phoneHangsUpOn(quint16 port, const QByteArray& bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    timeval limit {5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::send(fd, bytes.constData(), static_cast<size_t>(bytes.size()), MSG_NOSIGNAL);
    char buffer[256];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
    }
    ::close(fd);
    return n == 0; // an orderly close, not the time limit
}

} // namespace

TEST(AdbPhoneConnection, AdbListsTheReadyPhoneWithItsIdentity)
{
    FakePhoneHarness::Options options;
    options.product = QStringLiteral("acme_x1");
    options.model = QStringLiteral("Acme_X1");
    options.device = QStringLiteral("rocket");
    FakePhoneHarness phone(options);
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();

    const QString line = devicesLine(phone);
    EXPECT_TRUE(line.startsWith(phone.serial() + QStringLiteral(" device product:acme_x1 model:Acme_X1 device:rocket")))
        << line.toStdString();
    EXPECT_TRUE(line.contains(QStringLiteral("transport_id:"))) << line.toStdString();
}

TEST(AdbPhoneConnection, AnUnauthorizedPhoneStaysUnauthorized)
{
    FakePhoneHarness::Options options;
    options.authorized = false;
    FakePhoneHarness phone(options);
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();

    EXPECT_TRUE(devicesLine(phone).startsWith(phone.serial() + QStringLiteral(" unauthorized")));
    const auto result = phone.shell(QStringLiteral("echo hi"));
    EXPECT_NE(result.status, 0);
    EXPECT_TRUE(result.err.contains("unauthorized")) << result.err.toStdString();
    EXPECT_TRUE(phone.receivedCommands().isEmpty());
}

TEST(AdbPhoneConnection, GarbageOnTheLinkIsHungUpOnAndThePhoneCarriesOn)
{
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    const quint16 port = static_cast<quint16>(phone.serial().section(QLatin1Char(':'), 1).toUInt());

    EXPECT_TRUE(phoneHangsUpOn(port, QByteArray("GET / HTTP/1.0\r\n\r\nand some more text to fill a header")));
    // A well-formed header with a length no phone accepts.
    EXPECT_TRUE(phoneHangsUpOn(port, header("CNXN", 0x7fffffff)));
    // A header whose magic does not match its command.
    QByteArray badMagic = header("OPEN", 0);
    badMagic[20] = 'x';
    EXPECT_TRUE(phoneHangsUpOn(port, badMagic));

    EXPECT_TRUE(testsupport::processAlive(phone.phonePid()));
    const auto result = phone.shell(QStringLiteral("echo still here"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, QByteArray("still here\n"));
}

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
