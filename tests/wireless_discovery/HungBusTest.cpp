// Mended: avahi's D-Bus round trips ran on the GUI thread, so a system bus or
// daemon that never answers froze the window for as long as libdbus waited.

#include "TestSupport.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

// A system bus that takes connections and never says a word.
struct SilentBus {
    QTemporaryDir folder;
    int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    std::vector<int> accepted;

    bool listen()
    {
        const QByteArray path = QFile::encodeName(folder.filePath(QStringLiteral("bus")));
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        // Read once per process by libdbus: this test binary holds no other.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path);
        return ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(listener, 8) == 0;
    }
    // Whether a client is connected and waiting for an answer.
    bool waitedOn()
    {
        for (int fd; (fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC)) >= 0;)
            accepted.push_back(fd);
        return std::any_of(accepted.begin(), accepted.end(), [](int fd) {
            char byte;
            const ssize_t n = ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            return n > 0 || (n < 0 && errno == EAGAIN);
        });
    }
    ~SilentBus()
    {
        // Our client sees the bus go, so avahi's thread ends soon after.
        for (int fd : accepted)
            ::close(fd);
        ::close(listener);
    }
};

TEST(HungBus, TheGuiThreadRunsOnWhileDiscoveryWaitsForTheBus)
{
    SilentBus bus;
    ASSERT_TRUE(bus.listen());
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
    timer.start(5);
    WirelessDiscovery discovery;
    discovery.start();
    // While our connection waits on the bus, the GUI thread's timer keeps firing.
    int ticksWhenWaited = -1;
    EXPECT_TRUE(testsupport::waitUntil([&] {
        const bool waited = bus.waitedOn();
        if (waited && ticksWhenWaited < 0)
            ticksWhenWaited = ticks;
        return waited && ticks >= ticksWhenWaited + 5;
    }));
    EXPECT_TRUE(discovery.services().isEmpty());
}

} // namespace
