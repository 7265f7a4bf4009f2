// From start to a visible window: the application against a bare Qt window
// of the same size on the same X display. Each run starts the program afresh
// with a private home and XDG folders, a session bus and no phone. The clock
// runs from just before the exec to the first picture drawn into the window,
// seen from outside through the X DAMAGE extension, so neither program needs
// a hook; the time to the window's mapping is printed too. Once the picture
// is there, the shared libraries the process has loaded are counted from
// /proc/<pid>/maps.
//
//   start_bench [runs] [--app PATH] [--also PATH] [--list] [--verbose]
//
// The display is a private Xvfb started here when Xvfb is installed, else
// $DISPLAY. The session bus is a private dbus-daemon; adb, if the application
// starts its server, uses a private port, and that server is ended at the end.
// A third program, the bare window with one line of text, shows what any
// window with text pays for loading the fonts (the bare window has none); a
// fourth shows the texts of the application's first screen in its seven type
// styles and nothing else, what that typography alone costs.
// --app measures another build of the application (an installed one, say);
// --also measures a second build in the same turns, for a comparison that the
// machine's drift from one run of the benchmark to the next does not blur;
// --list prints the libraries the application loads that the bare window does not.

#include "BenchSupport.h"

#include <xcb/damage.h>
#include <xcb/xcb.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

double now()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

[[noreturn]] void fail(const std::string& what)
{
    std::fprintf(stderr, "start_bench: %s\n", what.c_str());
    std::exit(1);
}

struct Child {
    pid_t pid = -1;
};

// Starts `argv` with `env` (the parent's when empty) in a process group of its
// own. `handOver`, when set, becomes the child's fd 3; output goes to
// /dev/null unless `verbose`.
Child spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, int handOver, bool verbose)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    if (!verbose) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    if (handOver >= 0)
        posix_spawn_file_actions_adddup2(&actions, handOver, 3); // dup2 clears close-on-exec
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> vars;
    for (const std::string& v : env)
        vars.push_back(const_cast<char*>(v.c_str()));
    vars.push_back(nullptr);

    Child child;
    const int error = posix_spawnp(&child.pid, args[0], &actions, &attributes, args.data(),
                                   env.empty() ? environ : vars.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (error != 0)
        child.pid = -1;
    return child;
}

// Ends the child's process group: SIGTERM, then SIGKILL after two seconds.
void end(Child& child)
{
    if (child.pid <= 0)
        return;
    kill(-child.pid, SIGTERM);
    const double deadline = now() + 2;
    int status = 0;
    while (waitpid(child.pid, &status, WNOHANG) == 0) {
        if (now() > deadline) {
            kill(-child.pid, SIGKILL);
            waitpid(child.pid, &status, 0);
            break;
        }
        usleep(2000);
    }
    child.pid = -1;
}

// What the child writes on fd 3 until its first newline, within ten seconds.
std::string readLine(int fd)
{
    std::string text;
    const double deadline = now() + 10;
    while (text.find('\n') == std::string::npos) {
        pollfd p {fd, POLLIN, 0};
        const int left = int((deadline - now()) * 1000);
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    return text.substr(0, text.find('\n'));
}

// A child that reports on fd 3 (Xvfb's -displayfd, dbus-daemon's --print-address).
std::pair<Child, std::string> spawnReporting(std::vector<std::string> argv, bool verbose)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        fail("no pipe");
    Child child = spawn(argv, {}, fds[1], verbose);
    close(fds[1]);
    std::string line = child.pid > 0 ? readLine(fds[0]) : std::string();
    close(fds[0]);
    return {child, line};
}

uint16_t freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        fail("no free port");
    close(s);
    return ntohs(address.sin_port);
}

// The distinct shared-library files mapped into `pid`.
std::set<std::string> sharedLibraries(pid_t pid)
{
    std::set<std::string> files;
    std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(maps, line)) {
        const size_t slash = line.find('/');
        if (slash == std::string::npos)
            continue;
        const std::string path = line.substr(slash);
        const std::string name = path.substr(path.rfind('/') + 1);
        const size_t so = name.find(".so");
        if (so != std::string::npos && (so + 3 == name.size() || name[so + 3] == '.'))
            files.insert(path);
    }
    return files;
}

// CPU seconds the process has used so far, all its threads together.
double cpuSeconds(pid_t pid)
{
    double total = 0;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream stat(task.path() / "schedstat");
        double nanoseconds = 0;
        if (stat >> nanoseconds)
            total += nanoseconds / 1e9;
    }
    return total;
}

struct Run {
    double mapped = 0;  // seconds from exec to the window's mapping
    double painted = 0; // to its first picture; 0 when none was seen
    double cpu = 0;     // CPU seconds used by then
    std::set<std::string> libraries;
};

class Display {
public:
    explicit Display(const std::string& name)
    {
        m_connection = xcb_connect(name.c_str(), nullptr);
        if (xcb_connection_has_error(m_connection))
            fail("cannot open display " + name);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const xcb_query_extension_reply_t* damage = xcb_get_extension_data(m_connection, &xcb_damage_id);
        if (!damage || !damage->present)
            fail("the display has no DAMAGE extension");
        m_damageEvent = damage->first_event + XCB_DAMAGE_NOTIFY;
        xcb_damage_query_version_reply_t* version = xcb_damage_query_version_reply(
            m_connection, xcb_damage_query_version(m_connection, XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION),
            nullptr);
        std::free(version);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
    }
    ~Display() { xcb_disconnect(m_connection); }

    // Drops what is queued from earlier runs.
    void drain()
    {
        xcb_aux_sync();
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            std::free(event);
        m_watched.clear();
    }

    // Follows the top-level windows made from now on until one is mapped and
    // drawn into, or until `deadline`. Fills in the times relative to `start`.
    void waitForWindow(double start, double deadline, Run& run)
    {
        const int fd = xcb_get_file_descriptor(m_connection);
        std::optional<xcb_window_t> shown;
        while (true) {
            xcb_generic_event_t* event = xcb_poll_for_event(m_connection);
            if (!event) {
                if (xcb_connection_has_error(m_connection))
                    fail("lost the display");
                pollfd p {fd, POLLIN, 0};
                const int left = int((deadline - now()) * 1000);
                if (left <= 0 || poll(&p, 1, left) <= 0)
                    return;
                continue;
            }
            const double at = now();
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_CREATE_NOTIFY) {
                const auto* created = reinterpret_cast<xcb_create_notify_event_t*>(event);
                if (created->parent == m_root && !created->override_redirect) {
                    const xcb_damage_damage_t damage = xcb_generate_id(m_connection);
                    xcb_damage_create(m_connection, damage, created->window, XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
                    xcb_flush(m_connection);
                    m_watched[created->window] = false;
                }
            } else if (type == XCB_MAP_NOTIFY) {
                const auto* mapped = reinterpret_cast<xcb_map_notify_event_t*>(event);
                const auto found = m_watched.find(mapped->window);
                if (found != m_watched.end() && !mapped->override_redirect) {
                    found->second = true;
                    if (!shown) {
                        shown = mapped->window;
                        run.mapped = at - start;
                    }
                }
            } else if (type == m_damageEvent) {
                const auto* damaged = reinterpret_cast<xcb_damage_notify_event_t*>(event);
                const auto found = m_watched.find(damaged->drawable);
                if (found != m_watched.end() && found->second) {
                    run.painted = at - start;
                    std::free(event);
                    return;
                }
            }
            std::free(event);
        }
    }

private:
    void xcb_aux_sync() { std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr)); }

    xcb_connection_t* m_connection;
    xcb_window_t m_root;
    uint8_t m_damageEvent;
    std::map<xcb_window_t, bool> m_watched; // window -> mapped
};

std::vector<std::string> environmentFor(const fs::path& root, const std::string& display, const std::string& bus,
                                        uint16_t adbPort)
{
    for (const char* sub : {"home", "config", "cache", "data", "state", "runtime"})
        fs::create_directories(root / sub);
    chmod((root / "runtime").c_str(), 0700);
    const char* path = std::getenv("PATH");
    return {
        "HOME=" + (root / "home").string(),
        "XDG_CONFIG_HOME=" + (root / "config").string(),
        "XDG_CACHE_HOME=" + (root / "cache").string(),
        "XDG_DATA_HOME=" + (root / "data").string(),
        "XDG_STATE_HOME=" + (root / "state").string(),
        "XDG_RUNTIME_DIR=" + (root / "runtime").string(),
        "DISPLAY=" + display,
        "DBUS_SESSION_BUS_ADDRESS=" + bus,
        "QT_QPA_PLATFORM=xcb",
        "LANG=C.UTF-8",
        "PATH=" + std::string(path ? path : "/usr/bin:/bin"),
        "ANDROID_ADB_SERVER_PORT=" + std::to_string(adbPort),
    };
}

} // namespace

int main(int argc, char* argv[])
{
    int runs = 15;
    std::string app = APP_BINARY;
    bool list = false;
    bool verbose = false;
    std::string also;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--app" && i + 1 < argc)
            app = argv[++i];
        else if (arg == "--also" && i + 1 < argc)
            also = argv[++i];
        else if (arg == "--list")
            list = true;
        else if (arg == "--verbose")
            verbose = true;
        else if (std::atoi(arg.c_str()) > 0)
            runs = std::atoi(arg.c_str());
        else
            fail("usage: start_bench [runs] [--app PATH] [--also PATH] [--list] [--verbose]");
    }
    signal(SIGPIPE, SIG_IGN);

    Child xvfb;
    std::string display;
    auto [server, number] = spawnReporting({"Xvfb", "-displayfd", "3", "-screen", "0", "1920x1080x24", "-nolisten",
                                            "tcp", "-noreset"},
                                           verbose);
    if (server.pid > 0 && !number.empty()) {
        xvfb = server;
        display = ":" + number;
        std::printf("display: private Xvfb %s (1920x1080x24), QT_QPA_PLATFORM=xcb\n", display.c_str());
    } else {
        end(server);
        const char* given = std::getenv("DISPLAY");
        if (!given)
            fail("no Xvfb and no DISPLAY");
        display = given;
        std::printf("display: $DISPLAY %s (no Xvfb), QT_QPA_PLATFORM=xcb\n", display.c_str());
    }

    auto [bus, address] = spawnReporting({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address=3"},
                                         verbose);
    if (bus.pid <= 0 || address.empty())
        fail("cannot start a session bus");
    const uint16_t adbPort = freePort();

    std::string scratchName = (fs::temp_directory_path() / "start_bench.XXXXXX").string();
    if (!mkdtemp(scratchName.data()))
        fail("no temporary folder");
    const fs::path scratch(scratchName.data());

    std::printf("application: %s\nbare window: %s\n", app.c_str(), BARE_BINARY);
    std::printf("runs: %d each, taking turns, after one unmeasured run each\n", runs);
    std::fflush(stdout);

    {
        Display x(display);
        const std::vector<std::string> programs[5] = {
            {BARE_BINARY}, {app}, {BARE_BINARY, "--text"}, {BARE_BINARY, "--type"}, {also}};
        std::vector<Run> results[5];
        int counter = 0;
        for (int round = 0; round <= runs; ++round) {
            for (int which = 0; which < (also.empty() ? 4 : 5); ++which) {
                const std::string& name = programs[which][0];
                const fs::path root = scratch / std::to_string(counter++);
                const std::vector<std::string> env = environmentFor(root, display, address, adbPort);
                x.drain();
                Run run;
                const double start = now();
                Child child = spawn(programs[which], env, -1, verbose);
                if (child.pid <= 0)
                    fail("cannot start " + name);
                x.waitForWindow(start, start + 15, run);
                if (run.mapped > 0) {
                    run.cpu = cpuSeconds(child.pid);
                    run.libraries = sharedLibraries(child.pid);
                }
                end(child);
                fs::remove_all(root);
                if (run.mapped == 0)
                    fail("no window from " + name);
                if (run.painted == 0)
                    std::fprintf(stderr, "start_bench: no picture seen from %s; counting the mapping\n", name.c_str());
                if (round > 0)
                    results[which].push_back(run);
            }
        }

        auto summary = [](const std::vector<Run>& measured) {
            std::vector<double> mapped, painted, cpu, libraries;
            for (const Run& r : measured) {
                mapped.push_back(r.mapped * 1000);
                painted.push_back((r.painted > 0 ? r.painted : r.mapped) * 1000);
                cpu.push_back(r.cpu * 1000);
                libraries.push_back(double(r.libraries.size()));
            }
            return std::array<double, 5> {bench::median(mapped), bench::median(painted),
                                          *std::min_element(painted.begin(), painted.end()), bench::median(cpu),
                                          bench::median(libraries)};
        };
        const auto bare = summary(results[0]);
        const auto application = summary(results[1]);
        const auto text = summary(results[2]);
        const auto type = summary(results[3]);
        std::printf("\n%-14s %12s %14s %14s %10s %10s\n", "", "mapped (ms)", "visible (ms)", "fastest (ms)",
                    "CPU (ms)", "libraries");
        for (const auto& [name, f] : {std::pair {"bare window", bare}, std::pair {"application", application},
                                      std::pair {"bare + text", text}, std::pair {"bare + type", type}})
            std::printf("%-14s %12.1f %14.1f %14.1f %10.1f %10.0f\n", name, f[0], f[1], f[2], f[3], f[4]);
        if (!also.empty()) {
            const auto other = summary(results[4]);
            std::printf("%-14s %12.1f %14.1f %14.1f %10.1f %10.0f\n", "also", other[0], other[1], other[2], other[3],
                        other[4]);
        }
        std::printf("(medians but the fastest; CPU: all threads, up to the first picture)\n");
        std::printf("ratio (median exec to first picture): %.2fx (goal: at most 1.4x); fastest: %.2fx; CPU: %.2fx\n",
                    application[1] / bare[1], application[2] / bare[2], application[3] / bare[3]);
        std::printf("against the bare window with text: %.2fx\n", application[1] / text[1]);
        if (!also.empty())
            std::printf("also (%s): %.2fx the bare window, %.2fx the application\n", also.c_str(),
                        summary(results[4])[1] / bare[1], summary(results[4])[1] / application[1]);
        std::printf("the first screen's typography alone: %.2fx the bare window; the application %.2fx that\n",
                    type[1] / bare[1], application[1] / type[1]);

        if (list) {
            const std::set<std::string>& base = results[0].back().libraries;
            std::printf("\nloaded by the application and not by the bare window:\n");
            for (const std::string& library : results[1].back().libraries) {
                if (!base.count(library))
                    std::printf("  %s\n", library.c_str());
            }
        }
    }

    // The adb server the application may have started on the private port.
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (std::strncmp(*e, "ANDROID_ADB_SERVER_PORT=", 24) != 0)
            env.emplace_back(*e);
    }
    env.push_back("ANDROID_ADB_SERVER_PORT=" + std::to_string(adbPort));
    Child killer = spawn({"adb", "kill-server"}, env, -1, false);
    if (killer.pid > 0) {
        const double deadline = now() + 5;
        int status = 0;
        pid_t done = 0;
        while ((done = waitpid(killer.pid, &status, WNOHANG)) == 0 && now() < deadline)
            usleep(10000);
        if (done == 0)
            end(killer);
    }
    end(bus);
    end(xvfb);
    fs::remove_all(scratch);
    return 0;
}
