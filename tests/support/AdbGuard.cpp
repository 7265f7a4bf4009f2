#include "AdbGuard.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace adbguard {
namespace {

constexpr const char* kMark = "VANTELORQUIST_TEST_PROCESS";
std::string g_mark; // "NAME=VALUE" as it appears in a process's environment

// Empty when the process went meanwhile (reading then fails with ESRCH).
std::string readWhole(const std::string& path)
{
    std::string text;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[4096];
    for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0) {
            if (errno == EINTR)
                continue;
            text.clear();
            break;
        }
        text.append(buffer, size_t(got));
    }
    ::close(fd);
    return text;
}

std::vector<std::string> splitAtNul(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\0', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

struct Marked {
    pid_t pid;
    bool server;
    std::string port; // a server's, from its command line
};

// The adb processes whose environment carries this process's mark.
std::vector<Marked> markedAdb()
{
    std::vector<Marked> found;
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return found;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == ::getpid())
            continue;
        const std::string base = std::string("/proc/") + entry->d_name;
        const std::vector<std::string> command = splitAtNul(readWhole(base + "/cmdline"));
        if (command.empty())
            continue; // gone, or a zombie
        const std::string program = command[0].substr(command[0].rfind('/') + 1);
        if (program != "adb")
            continue;
        bool ours = false;
        for (const std::string& variable : splitAtNul(readWhole(base + "/environ")))
            ours = ours || variable == g_mark;
        if (!ours)
            continue;
        Marked marked{pid_t(pid), false, {}};
        for (size_t index = 0; index < command.size(); ++index) {
            if (command[index] == "fork-server" || command[index] == "server")
                marked.server = true;
            if (command[index] == "-L" && index + 1 < command.size())
                marked.port = command[index + 1].substr(command[index + 1].rfind(':') + 1);
        }
        found.push_back(marked);
    }
    ::closedir(proc);
    return found;
}

bool alive(pid_t pid)
{
    const std::string status = readWhole("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = status.rfind(')');
    return !status.empty() && (close == std::string::npos || close + 2 >= status.size() || status[close + 2] != 'Z');
}

// A loopback port nobody listens on now, outside the range the kernel
// gives outgoing connections.
int privatePort()
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const int port = 20000 + int(::getpid() * 7 + attempt * 131) % 12000;
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return 0;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(uint16_t(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool free = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (free)
            return port;
    }
    return 0;
}

} // namespace

void begin(const char* testName)
{
    // The build folder lets the suite's last check find what any of its tests left.
    g_mark = std::string(kMark) + "=" + VT_TEST_BUILD_DIR + "|" + std::to_string(::getpid()) + " "
             + (testName ? testName : "");
    ::setenv(kMark, g_mark.c_str() + std::string(kMark).size() + 1, 1);
    // Nothing but a test's own choice may lead adb to the default port.
    const char* chosen = std::getenv("ANDROID_ADB_SERVER_PORT");
    if (!chosen || !*chosen) {
        if (const int port = privatePort())
            ::setenv("ANDROID_ADB_SERVER_PORT", std::to_string(port).c_str(), 1);
    }
}

bool end()
{
    using Clock = std::chrono::steady_clock;
    // Clients still running may yet start a server: give them a moment to end.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    std::vector<Marked> left = markedAdb();
    while (Clock::now() < deadline) {
        bool clients = false;
        for (const Marked& marked : left)
            clients = clients || !marked.server;
        if (!clients)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        left = markedAdb();
    }
    // A server just told to end may still be on its way out.
    const auto settle = Clock::now() + std::chrono::seconds(3);
    while (!left.empty() && Clock::now() < settle) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        left = markedAdb();
    }
    bool servers = false;
    for (const Marked& marked : left) {
        if (marked.server) {
            servers = true;
            std::fprintf(stderr, "adb guard: a test left an adb server running (pid %d, port %s)%s; ended now.\n",
                         int(marked.pid), marked.port.empty() ? "?" : marked.port.c_str(),
                         marked.port == "5037" ? ", on adb's default port" : "");
        } else {
            std::fprintf(stderr, "adb guard: an adb client was still running (pid %d); ended now.\n", int(marked.pid));
        }
        ::kill(marked.pid, SIGKILL);
    }
    for (const Marked& marked : left) {
        const auto gone = Clock::now() + std::chrono::seconds(2);
        while (alive(marked.pid) && Clock::now() < gone)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return !servers;
}

} // namespace adbguard
