#include "QuitSignals.h"

#include "TestSupport.h"

#include <QObject>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace {

bool handled(int sig)
{
    struct sigaction current {};
    ::sigaction(sig, nullptr, &current);
    return current.sa_handler != SIG_DFL;
}

} // namespace

// Each quit signal is a request to quit, the next one too: the application
// may still be waiting for its work (a recording's copy) and asks again.
// Once the application that takes them is gone, they end the process again.
TEST(QuitSignals, EachSignalAsksTheApplicationToQuitWhileItLasts)
{
    auto owner = std::make_unique<QObject>();
    int asked = 0;
    QuitSignals::install(owner.get(), [&asked] { ++asked; });
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGTERM}) {
        // Not handled, it would end the tests here.
        ASSERT_TRUE(handled(sig)) << sig;
        const int before = asked;
        ::raise(sig);
        ASSERT_TRUE(testsupport::waitUntil([&] { return asked == before + 1; }, std::chrono::seconds(10))) << sig;
    }
    owner.reset();
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        EXPECT_FALSE(handled(sig)) << sig;
}
