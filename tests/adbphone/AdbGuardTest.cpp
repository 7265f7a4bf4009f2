// The suite's guard: no test reaches adb's default port, and a server a test
// leaves is found, ended and failed for.
#include "AdbGuard.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QProcess>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool listening(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

TEST(AdbGuard, EveryTestProcessHasAPrivateServerPort)
{
    bool number = false;
    const int port = qEnvironmentVariableIntValue("ANDROID_ADB_SERVER_PORT", &number);
    EXPECT_TRUE(number);
    EXPECT_NE(port, 5037);
    EXPECT_GT(port, 0);
}

TEST(AdbGuard, AServerATestLeftIsEndedAndFailedFor)
{
    const auto port = quint16(qEnvironmentVariableIntValue("ANDROID_ADB_SERVER_PORT"));
    ASSERT_NE(port, 0);
    // An adb run that starts a server and leaves it, as a test might.
    QProcess adb;
    adb.start(QStringLiteral("adb"), {QStringLiteral("start-server")});
    ASSERT_TRUE(adb.waitForFinished(30000));
    ASSERT_TRUE(listening(port));

    EXPECT_FALSE(adbguard::end());
    EXPECT_TRUE(testsupport::waitUntil([&] { return !listening(port); }, std::chrono::seconds(10)));
    EXPECT_TRUE(adbguard::end()) << "nothing is left to end";
}
