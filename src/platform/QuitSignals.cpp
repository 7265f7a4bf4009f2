#include "QuitSignals.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int quitSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
// A signal not taken by the GUI thread yet; any signal so far; the
// application quitting.
volatile std::sig_atomic_t g_pending = 0;
volatile std::sig_atomic_t g_received = 0;
volatile std::sig_atomic_t g_quitting = 0;

QPointer<QObject> g_owner;
std::function<void()> g_quit;

extern "C" void onQuitSignal(int sig)
{
    if (g_pending || (g_quitting && g_received)) {
        // Asked again while the GUI thread is stuck, or the clean-up is:
        // stop waiting for it.
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    g_received = 1;
    g_pending = 1;
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

void setHandler(void (*handler)(int))
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : quitSignals)
        ::sigaction(sig, &action, nullptr);
}

} // namespace

void QuitSignals::install(QObject* owner, std::function<void()> quit)
{
    if (g_pipe[0] < 0) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
            char buffer[16];
            while (::read(g_pipe[0], buffer, sizeof buffer) > 0) {
            }
            g_pending = 0;
            if (g_owner && g_quit)
                g_quit();
        });
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, [] { g_quitting = 1; });
    }
    g_owner = owner;
    g_quit = std::move(quit);
    QObject::connect(owner, &QObject::destroyed, [owner] {
        if (g_owner && g_owner != owner)
            return;
        g_quit = nullptr;
        setHandler(SIG_DFL);
    });
    setHandler(onQuitSignal);
}
