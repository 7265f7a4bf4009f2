#include "Sandbox.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <linux/capability.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

namespace adbphone {

namespace {

// The host's top-level folders that programs need; the rest of the host stays out of sight.
const char* const kTopFolders[] = {"usr", "bin", "sbin", "lib", "lib32", "lib64", "libx32", "etc"};
const char* const kDevices[] = {"null", "zero", "full", "random", "urandom"};
// The file tools a toolbox stands in for (the shell's own built-ins aside).
const char* const kToolboxTools[] = {"stat", "find", "ls", "rm", "mkdir", "mv", "cp", "cat", "test", "[", "touch"};

// An Android phone's main thread has an 8 MiB stack, which caps a command's
// arguments at a quarter of it; a folder with many long names overflows that.
constexpr rlim_t kPhoneStack = 8 * 1024 * 1024;

// Everything the child needs, built before fork so that the child only makes system calls.
struct Plan {
    QByteArray root;
    QByteArray storage;
    QByteArray sdcard;
    QByteArray dev;
    QByteArray proc;
    QByteArray tmp;
    std::vector<QByteArray> binds;      // host path, then target, pairwise
    std::vector<QByteArray> links;      // link path, then target, pairwise
    std::vector<QByteArray> folders;    // to create inside the root (in order)
    std::vector<QByteArray> devices;    // host node, then target file, pairwise
    QByteArray uidMap;
    QByteArray gidMap;
    bool userNamespace = false;
    std::vector<QByteArray> argStorage;
    std::vector<QByteArray> envStorage;
    std::vector<char*> argv;
    std::vector<char*> envp;
};

[[noreturn]] void fail(const char* step)
{
    const int err = errno;
    char message[512];
    const int length = std::snprintf(message, sizeof message, "fakeadbphone: couldn't %s: %s\n", step, ::strerror(err));
    if (length > 0) {
        ssize_t ignored = ::write(2, message, static_cast<size_t>(length));
        (void)ignored;
    }
    ::_exit(Sandbox::kSetupFailed);
}

void writeProcFile(const char* path, const QByteArray& text, const char* step)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0 || ::write(fd, text.constData(), static_cast<size_t>(text.size())) != text.size())
        fail(step);
    ::close(fd);
}

// Flags a user namespace may not drop when it remounts a bind; keeping them is required.
unsigned long lockedFlags(const char* path)
{
    struct statvfs info {};
    if (::statvfs(path, &info) != 0)
        return 0;
    unsigned long flags = 0;
    if (info.f_flag & ST_NOSUID)
        flags |= MS_NOSUID;
    if (info.f_flag & ST_NODEV)
        flags |= MS_NODEV;
    if (info.f_flag & ST_NOEXEC)
        flags |= MS_NOEXEC;
    if (info.f_flag & ST_NOATIME)
        flags |= MS_NOATIME;
    if (info.f_flag & ST_NODIRATIME)
        flags |= MS_NODIRATIME;
    if (info.f_flag & ST_RELATIME)
        flags |= MS_RELATIME;
    return flags;
}

void bindReadOnly(const char* host, const char* target)
{
    if (::mount(host, target, nullptr, MS_BIND | MS_REC, nullptr) != 0)
        fail("bind a host folder into the phone's root");
    if (::mount(nullptr, target, nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY | lockedFlags(target), nullptr) != 0)
        fail("make a host folder read-only in the phone's root");
}

[[noreturn]] void runChild(const Plan& plan, int stdinFd, int stdoutFd, int stderrFd)
{
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &dfl, nullptr);
    }
    ::setsid();
    if (::dup2(stdinFd, 0) < 0 || ::dup2(stdoutFd, 1) < 0 || ::dup2(stderrFd, 2) < 0)
        ::_exit(Sandbox::kSetupFailed);
    ::syscall(SYS_close_range, 3U, ~0U, 0U);

    if (plan.userNamespace) {
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            fail("open a user and mount namespace for the phone's shell");
        writeProcFile("/proc/self/setgroups", "deny", "deny setgroups in the user namespace");
        writeProcFile("/proc/self/uid_map", plan.uidMap, "map the user id");
        writeProcFile("/proc/self/gid_map", plan.gidMap, "map the group id");
    } else if (::unshare(CLONE_NEWNS) != 0) {
        fail("open a mount namespace for the phone's shell");
    }
    // From here on no mount reaches the host.
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        fail("make the mounts private");
    if (::mount("fakephone", plan.root.constData(), "tmpfs", MS_NOSUID, "mode=0755,size=16m") != 0)
        fail("mount the phone's root");

    for (const QByteArray& folder : plan.folders) {
        if (::mkdir(folder.constData(), 0755) != 0 && errno != EEXIST)
            fail("create a folder in the phone's root");
    }
    ::chmod(plan.tmp.constData(), 01777);
    for (size_t i = 0; i + 1 < plan.links.size(); i += 2) {
        if (::symlink(plan.links[i + 1].constData(), plan.links[i].constData()) != 0)
            fail("create a link in the phone's root");
    }
    for (size_t i = 0; i + 1 < plan.binds.size(); i += 2)
        bindReadOnly(plan.binds[i].constData(), plan.binds[i + 1].constData());
    for (size_t i = 0; i + 1 < plan.devices.size(); i += 2) {
        const int fd = ::open(plan.devices[i + 1].constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0)
            fail("create a device entry in the phone's root");
        ::close(fd);
        if (::mount(plan.devices[i].constData(), plan.devices[i + 1].constData(), nullptr, MS_BIND, nullptr) != 0)
            fail("bind a device into the phone's root");
    }
    bindReadOnly("/proc", plan.proc.constData());
    if (::mount(plan.storage.constData(), plan.sdcard.constData(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
        fail("bind the phone's storage at /sdcard");

    if (::chroot(plan.root.constData()) != 0)
        fail("enter the phone's root");
    if (::chdir("/") != 0)
        fail("enter the phone's root folder");

    struct rlimit stack {};
    if (::getrlimit(RLIMIT_STACK, &stack) == 0) {
        stack.rlim_cur = stack.rlim_max == RLIM_INFINITY ? kPhoneStack : std::min(kPhoneStack, stack.rlim_max);
        ::setrlimit(RLIMIT_STACK, &stack);
    }

    // A phone's shell user may not pass over file modes; root keeps its
    // other powers (ours is only the owner of the storage).
    if (!plan.userNamespace) {
        for (int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            ::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0);
    }

    ::execve("/bin/mksh", plan.argv.data(), plan.envp.data());
    fail("run /bin/mksh");
}

} // namespace

Sandbox::Sandbox(QByteArray storage, QByteArray mountPoint, QByteArray toolbox)
    : m_storage(std::move(storage)), m_mountPoint(std::move(mountPoint)), m_toolbox(std::move(toolbox))
{
    for (const char* name : kTopFolders) {
        const QByteArray host = QByteArray("/") + name;
        struct stat st {};
        if (::lstat(host.constData(), &st) != 0)
            continue;
        TopEntry entry;
        entry.name = name;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t length = ::readlink(host.constData(), target, sizeof target - 1);
            if (length <= 0)
                continue;
            entry.linkTarget = QByteArray(target, length);
        } else if (!S_ISDIR(st.st_mode)) {
            continue;
        }
        m_entries.push_back(entry);
    }
}

pid_t Sandbox::spawn(const QByteArray& command, const QByteArray& term, int stdinFd, int stdoutFd, int stderrFd) const
{
    Plan plan;
    plan.root = m_mountPoint;
    plan.storage = m_storage;
    plan.sdcard = m_mountPoint + "/sdcard";
    plan.dev = m_mountPoint + "/dev";
    plan.proc = m_mountPoint + "/proc";
    plan.tmp = m_mountPoint + "/tmp";
    plan.folders = {plan.sdcard, plan.dev, plan.proc, plan.tmp};
    for (const TopEntry& entry : m_entries) {
        const QByteArray target = m_mountPoint + '/' + entry.name;
        if (!entry.linkTarget.isEmpty()) {
            plan.links.push_back(target);
            plan.links.push_back(entry.linkTarget);
        } else {
            plan.folders.push_back(target);
            plan.binds.push_back('/' + entry.name);
            plan.binds.push_back(target);
        }
    }
    for (const char* name : kDevices) {
        const QByteArray host = QByteArray("/dev/") + name;
        if (::access(host.constData(), F_OK) == 0) {
            plan.devices.push_back(host);
            plan.devices.push_back(plan.dev + '/' + name);
        }
    }
    QByteArray path = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
    if (!m_toolbox.isEmpty()) {
        const QByteArray tools = m_mountPoint + "/toolbox";
        plan.folders.push_back(tools);
        for (const char* tool : kToolboxTools) {
            plan.links.push_back(tools + '/' + tool);
            plan.links.push_back(m_toolbox);
        }
        path = "PATH=/toolbox:" + path.mid(5);
    }
    plan.links.push_back(plan.dev + "/fd");
    plan.links.push_back("/proc/self/fd");
    plan.links.push_back(plan.dev + "/stdin");
    plan.links.push_back("/proc/self/fd/0");
    plan.links.push_back(plan.dev + "/stdout");
    plan.links.push_back("/proc/self/fd/1");
    plan.links.push_back(plan.dev + "/stderr");
    plan.links.push_back("/proc/self/fd/2");

    plan.userNamespace = ::geteuid() != 0;
    plan.uidMap = QByteArray::number(::geteuid()) + ' ' + QByteArray::number(::geteuid()) + " 1";
    plan.gidMap = QByteArray::number(::getegid()) + ' ' + QByteArray::number(::getegid()) + " 1";

    plan.argStorage.push_back("mksh");
    if (!command.isEmpty()) {
        plan.argStorage.push_back("-c");
        plan.argStorage.push_back(command);
    }
    plan.envStorage = {path, "HOME=/", "TMPDIR=/tmp", "SHELL=/bin/mksh", "LANG=C", "LC_ALL=C", "USER=shell"};
    if (!term.isEmpty())
        plan.envStorage.push_back("TERM=" + term);
    for (QByteArray& arg : plan.argStorage)
        plan.argv.push_back(arg.data());
    plan.argv.push_back(nullptr);
    for (QByteArray& env : plan.envStorage)
        plan.envp.push_back(env.data());
    plan.envp.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid == 0)
        runChild(plan, stdinFd, stdoutFd, stderrFd);
    return pid;
}

QString Sandbox::probe() const
{
    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        return QStringLiteral("couldn't create a pipe: ") + QString::fromLocal8Bit(::strerror(errno));
    const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = spawn("test -d /sdcard && test -x /bin/mksh", {}, nullFd, output[1], output[1]);
    ::close(output[1]);
    if (nullFd >= 0)
        ::close(nullFd);
    if (pid < 0) {
        ::close(output[0]);
        return QStringLiteral("couldn't fork: ") + QString::fromLocal8Bit(::strerror(errno));
    }
    QByteArray text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, n);
        else if (n == 0 || errno != EINTR)
            break;
    }
    ::close(output[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return {};
    text = text.trimmed();
    if (text.isEmpty())
        text = "the shell check failed with status " + QByteArray::number(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    return QString::fromLocal8Bit(text);
}

} // namespace adbphone
