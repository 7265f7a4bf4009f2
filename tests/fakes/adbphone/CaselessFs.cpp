// caselessfs: shows a folder, in place, as storage that ignores letter case
// and keeps it, as a phone's shared storage does: "IMG_1.jpg" and "img_1.JPG"
// name one file, a new item keeps the spelling it was made with, and an item
// written under a case-alike name keeps the name it had.
//
//   caselessfs [--exact-case] [--renames=all|noreplace|plain] [--no-links]
//              [--per-spelling] [--rename-delay=MS] [--hold-at=N] FOLDER
//
// Mounts over FOLDER itself (the items already there stay visible through it)
// and prints "mounted" once it is. SIGTERM, SIGINT or the end of the process
// that started it unmounts it. Names that are not UTF-8 compare byte for byte.
// Like every FUSE file system of libfuse 3.14 it gives no birth times.
// The switches make it another kind of disk: --exact-case compares names
// byte for byte (a disk without birth times, as ext4 with 128-byte inodes);
// --renames=noreplace refuses to exchange two names, as vfat and exfat do,
// and --renames=plain any rename with flags, as many FUSE and network mounts
// do (EINVAL); --no-links refuses hard links (EPERM), as vfat and exfat do.
// --per-spelling numbers nodes per spelling looked up, as exfat-fuse does
// ("img_1.jpg" and "IMG_1.JPG" are one file with two inode numbers);
// --rename-delay answers each rename that much later, as a slow share.
// --hold-at=N holds the Nth change of a name (create, mkdir, rename, link,
// unlink, rmdir, symlink) before making it: it prints "held" and waits for
// SIGUSR1 (a minute at most), then fails it with EINTR, undone, as if the
// process that asked had been killed before it reached the disk.
// A person's USB stick, as a copy to it meets one: --vfat-names refuses
// (EINVAL) a name vfat can't hold (one of "*/:<>?\| or a control
// character, or bytes that aren't UTF-8); --honour-modes keeps anyone, root
// too, from adding to or taking from a folder without its owner's write
// right (EACCES), as the person finds; --full-when=PATH fails every write
// with ENOSPC while PATH exists, a disk that fills when a test says so.

#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <chrono>
#include <dirent.h>
#include <pthread.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace {

int g_root = -1; // the folder beneath the mount
bool g_exactCase = false;
enum class Renames { all, noReplace, plain } g_renames = Renames::all;
bool g_noLinks = false;
bool g_perSpelling = false;
int g_renameDelayMs = 0;
int g_holdAt = 0;
int g_changes = 0;
volatile std::sig_atomic_t g_released = 0;

void release(int)
{
    g_released = 1;
}

// Whether this change of a name is the one held: then it is not made.
bool held()
{
    if (g_holdAt <= 0 || ++g_changes != g_holdAt)
        return false;
    std::puts("held");
    std::fflush(stdout);
    for (int waited = 0; !g_released && waited < 60000; waited += 5)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return true;
}

bool g_vfatNames = false;
bool g_honourModes = false;
std::string g_fullWhen;

// The checks of a person's stick: 0 when a new name in `relative`'s folder may be made.
int refusedName(const std::string& relative)
{
    const size_t slash = relative.rfind('/');
    const std::string name = slash == std::string::npos ? relative : relative.substr(slash + 1);
    if (g_vfatNames) {
        const QByteArray bytes(name.data(), qsizetype(name.size()));
        if (QString::fromUtf8(bytes).toUtf8() != bytes)
            return -EINVAL;
        for (const unsigned char c : name) {
            if (c < 0x20 || std::strchr("\"*:<>?\\|", c))
                return -EINVAL;
        }
    }
    return 0;
}

int refusedChange(const std::string& relative)
{
    if (!g_honourModes)
        return 0;
    const size_t slash = relative.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".") : relative.substr(0, slash);
    struct stat info {};
    if (::fstatat(g_root, folder.c_str(), &info, 0) == 0 && !(info.st_mode & S_IWUSR))
        return -EACCES;
    return 0;
}

// Both checks of a name made.
int refusedNew(const std::string& relative)
{
    if (const int refused = refusedChange(relative))
        return refused;
    return refusedName(relative);
}

bool full()
{
    struct stat info {};
    return !g_fullWhen.empty() && ::stat(g_fullWhen.c_str(), &info) == 0;
}

QString folded(const std::string& name, bool* valid)
{
    const QByteArray bytes(name.data(), qsizetype(name.size()));
    const QString text = QString::fromUtf8(bytes);
    *valid = text.toUtf8() == bytes;
    return text.toCaseFolded();
}

bool exists(const std::string& relative)
{
    struct stat info;
    return ::fstatat(g_root, relative.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

// The item in `folder` (relative, "." for the top) whose name matches `name`
// ignoring case; empty when there is none.
std::string caseAlike(const std::string& folder, const std::string& name)
{
    bool valid = false;
    const QString wanted = folded(name, &valid);
    if (!valid || g_exactCase)
        return {};
    const int fd = ::openat(g_root, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return {};
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return {};
    }
    std::string found;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string candidate = entry->d_name;
        if (candidate == "." || candidate == "..")
            continue;
        bool candidateValid = false;
        if (folded(candidate, &candidateValid) == wanted && candidateValid) {
            found = candidate;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

std::string join(const std::string& folder, const std::string& name)
{
    return folder == "." ? name : folder + '/' + name;
}

// The path beneath the mount that `path` (as the kernel gives it, "/a/b")
// names: each part as it is spelled there when one matches ignoring case,
// otherwise as given (a new item, or one that isn't there). `parent`, when
// asked for, gets the folder of the last part.
std::string resolve(const char* path, std::string* parent = nullptr, std::string* last = nullptr)
{
    std::string folder = ".";
    std::string rest = path;
    std::string name;
    size_t start = 0;
    while (start < rest.size()) {
        while (start < rest.size() && rest[start] == '/')
            ++start;
        if (start >= rest.size())
            break;
        size_t end = rest.find('/', start);
        if (end == std::string::npos)
            end = rest.size();
        const std::string part = rest.substr(start, end - start);
        start = end;
        if (!name.empty())
            folder = join(folder, name);
        name = part;
        if (!exists(join(folder, name))) {
            const std::string alike = caseAlike(folder, name);
            if (!alike.empty())
                name = alike;
        }
    }
    if (parent)
        *parent = folder;
    if (last)
        *last = name;
    return name.empty() ? std::string(".") : join(folder, name);
}

int result(int status)
{
    return status < 0 ? -errno : status;
}

void* init(fuse_conn_info*, fuse_config* config)
{
    // Every name is looked up afresh: the kernel must not keep one spelling
    // of an item apart from another.
    config->use_ino = g_perSpelling ? 0 : 1;
    config->entry_timeout = 0;
    config->attr_timeout = 0;
    config->negative_timeout = 0;
    config->hard_remove = 1; // no ".fuse_hidden" items in the storage
    return nullptr;
}

int getattr(const char* path, struct stat* info, fuse_file_info* file)
{
    if (file)
        return result(::fstat(int(file->fh), info));
    return result(::fstatat(g_root, resolve(path).c_str(), info, AT_SYMLINK_NOFOLLOW));
}

int access(const char* path, int mode)
{
    return result(::faccessat(g_root, resolve(path).c_str(), mode, AT_SYMLINK_NOFOLLOW));
}

int readlink(const char* path, char* buffer, size_t size)
{
    const ssize_t n = ::readlinkat(g_root, resolve(path).c_str(), buffer, size - 1);
    if (n < 0)
        return -errno;
    buffer[n] = '\0';
    return 0;
}

int readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    const int fd = ::openat(g_root, resolve(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    while (const dirent* entry = ::readdir(dir)) {
        struct stat info {};
        info.st_ino = entry->d_ino;
        info.st_mode = mode_t(entry->d_type) << 12;
        if (fill(buffer, entry->d_name, &info, 0, fuse_fill_dir_flags(0)))
            break;
    }
    ::closedir(dir);
    return 0;
}

int mkdir(const char* path, mode_t mode)
{
    if (held())
        return -EINTR;
    const std::string made = resolve(path);
    if (const int refused = refusedNew(made))
        return refused;
    return result(::mkdirat(g_root, made.c_str(), mode));
}

int unlink(const char* path)
{
    if (held())
        return -EINTR;
    const std::string gone = resolve(path);
    if (const int refused = refusedChange(gone))
        return refused;
    return result(::unlinkat(g_root, gone.c_str(), 0));
}

int rmdir(const char* path)
{
    if (held())
        return -EINTR;
    const std::string gone = resolve(path);
    if (const int refused = refusedChange(gone))
        return refused;
    return result(::unlinkat(g_root, gone.c_str(), AT_REMOVEDIR));
}

int symlink(const char* target, const char* path)
{
    if (held())
        return -EINTR;
    const std::string made = resolve(path);
    if (const int refused = refusedNew(made))
        return refused;
    return result(::symlinkat(target, g_root, made.c_str()));
}

int rename(const char* from, const char* to, unsigned int flags)
{
    if (g_renameDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(g_renameDelayMs));
    if (((flags & RENAME_EXCHANGE) && g_renames != Renames::all) || (flags && g_renames == Renames::plain))
        return -EINVAL;
    if (held())
        return -EINTR;
    std::string fromFolder, fromName, toFolder, toName;
    const std::string source = resolve(from, &fromFolder, &fromName);
    std::string target = resolve(to, &toFolder, &toName);
    if (source == target) {
        // A new spelling of the item's own name.
        const char* spelled = std::strrchr(to, '/');
        target = join(toFolder, spelled ? spelled + 1 : to);
    }
    if (const int refused = refusedChange(source))
        return refused;
    if (const int refused = refusedNew(target))
        return refused;
    return result(::renameat2(g_root, source.c_str(), g_root, target.c_str(), flags));
}

int link(const char* from, const char* to)
{
    if (held())
        return -EINTR;
    if (g_noLinks)
        return -EPERM;
    const std::string made = resolve(to);
    if (const int refused = refusedNew(made))
        return refused;
    return result(::linkat(g_root, resolve(from).c_str(), g_root, made.c_str(), 0));
}

int chmod(const char* path, mode_t mode, fuse_file_info* file)
{
    if (file)
        return result(::fchmod(int(file->fh), mode));
    return result(::fchmodat(g_root, resolve(path).c_str(), mode, 0));
}

int chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* file)
{
    if (file)
        return result(::fchown(int(file->fh), uid, gid));
    return result(::fchownat(g_root, resolve(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int truncate(const char* path, off_t size, fuse_file_info* file)
{
    if (file)
        return result(::ftruncate(int(file->fh), size));
    const int fd = ::openat(g_root, resolve(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int status = result(::ftruncate(fd, size));
    ::close(fd);
    return status;
}

int utimens(const char* path, const timespec times[2], fuse_file_info* file)
{
    if (file)
        return result(::futimens(int(file->fh), times));
    return result(::utimensat(g_root, resolve(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int create(const char* path, mode_t mode, fuse_file_info* file)
{
    if (held())
        return -EINTR;
    const std::string made = resolve(path);
    if (const int refused = refusedNew(made); refused && !exists(made))
        return refused;
    const int fd = ::openat(g_root, made.c_str(), file->flags | O_CLOEXEC, mode);
    if (fd < 0)
        return -errno;
    file->fh = uint64_t(fd);
    return 0;
}

int open(const char* path, fuse_file_info* file)
{
    const int fd = ::openat(g_root, resolve(path).c_str(), file->flags | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    file->fh = uint64_t(fd);
    return 0;
}

int read(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    const ssize_t n = ::pread(int(file->fh), buffer, size, offset);
    return n < 0 ? -errno : int(n);
}

int write(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* file)
{
    if (full())
        return -ENOSPC;
    const ssize_t n = ::pwrite(int(file->fh), buffer, size, offset);
    return n < 0 ? -errno : int(n);
}

int statfs(const char*, struct statvfs* info)
{
    return result(::fstatvfs(g_root, info));
}

int release(const char*, fuse_file_info* file)
{
    ::close(int(file->fh));
    return 0;
}

int fsync(const char*, int dataOnly, fuse_file_info* file)
{
    return result(dataOnly ? ::fdatasync(int(file->fh)) : ::fsync(int(file->fh)));
}

fuse_operations operations()
{
    fuse_operations ops {};
    ops.init = init;
    ops.getattr = getattr;
    ops.access = access;
    ops.readlink = readlink;
    ops.readdir = readdir;
    ops.mkdir = mkdir;
    ops.unlink = unlink;
    ops.rmdir = rmdir;
    ops.symlink = symlink;
    ops.rename = rename;
    ops.link = link;
    ops.chmod = chmod;
    ops.chown = chown;
    ops.truncate = truncate;
    ops.utimens = utimens;
    ops.create = create;
    ops.open = open;
    ops.read = read;
    ops.write = write;
    ops.statfs = statfs;
    ops.release = release;
    ops.fsync = fsync;
    return ops;
}

} // namespace

int main(int argc, char** argv)
{
    const char* usage = "usage: caselessfs [--exact-case] [--renames=all|noreplace|plain] [--no-links] "
                        "[--per-spelling] [--rename-delay=MS] [--hold-at=N] [--vfat-names] [--honour-modes] "
                        "[--full-when=PATH] FOLDER\n";
    int at = 1;
    for (; at < argc - 1; ++at) {
        const std::string option = argv[at];
        if (option == "--exact-case")
            g_exactCase = true;
        else if (option == "--no-links")
            g_noLinks = true;
        else if (option == "--renames=all")
            g_renames = Renames::all;
        else if (option == "--renames=noreplace")
            g_renames = Renames::noReplace;
        else if (option == "--renames=plain")
            g_renames = Renames::plain;
        else if (option == "--per-spelling")
            g_perSpelling = true;
        else if (option.rfind("--rename-delay=", 0) == 0)
            g_renameDelayMs = std::atoi(option.c_str() + 15);
        else if (option.rfind("--hold-at=", 0) == 0)
            g_holdAt = std::atoi(option.c_str() + 10);
        else if (option == "--vfat-names")
            g_vfatNames = true;
        else if (option == "--honour-modes")
            g_honourModes = true;
        else if (option.rfind("--full-when=", 0) == 0)
            g_fullWhen = option.substr(std::strlen("--full-when="));
        else
            break;
    }
    if (at != argc - 1) {
        std::fputs(usage, stderr);
        return 2;
    }
    char* folder = ::realpath(argv[at], nullptr);
    if (!folder) {
        std::fprintf(stderr, "caselessfs: %s: %s\n", argv[at], std::strerror(errno));
        return 2;
    }
    ::umask(0); // the modes asked for are already masked
    g_root = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_root < 0) {
        std::fprintf(stderr, "caselessfs: %s: %s\n", folder, std::strerror(errno));
        return 2;
    }

    // Root may let the phone's shell, in a namespace of its own, in.
    char program[] = "caselessfs";
    char option[] = "-o";
    char options[] = "allow_other,fsname=caselessfs,subtype=caselessfs";
    char plain[] = "-ofsname=caselessfs,subtype=caselessfs";
    char* words[] = {program, ::geteuid() == 0 ? option : plain, ::geteuid() == 0 ? options : nullptr, nullptr};
    fuse_args args = FUSE_ARGS_INIT(::geteuid() == 0 ? 3 : 2, words);
    const fuse_operations ops = operations();
    fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
    if (!fs)
        return 3;
    if (fuse_mount(fs, folder) != 0) {
        fuse_destroy(fs);
        return 3;
    }
    if (fuse_set_signal_handlers(fuse_get_session(fs)) != 0) {
        fuse_unmount(fs);
        fuse_destroy(fs);
        return 3;
    }
    std::signal(SIGUSR1, release);
    std::puts("mounted");
    std::fflush(stdout);

    // A test that dies must not leave the mount behind.
    // The signal goes to the thread that reads the kernel's requests, so
    // that its wait ends.
    const pid_t parent = ::getppid();
    const pthread_t reader = ::pthread_self();
    std::thread([parent, reader] {
        while (::getppid() == parent)
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ::pthread_kill(reader, SIGTERM);
    }).detach();

    const int status = fuse_loop(fs);
    fuse_remove_signal_handlers(fuse_get_session(fs));
    fuse_unmount(fs);
    fuse_destroy(fs);
    ::free(folder);
    return status == 0 ? 0 : 1;
}
