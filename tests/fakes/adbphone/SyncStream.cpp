#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace adbphone {

namespace {

constexpr uint32_t kStat = adbwire::tag("STAT");
constexpr uint32_t kList = adbwire::tag("LIST");
constexpr uint32_t kRecv = adbwire::tag("RECV");
constexpr uint32_t kSend = adbwire::tag("SEND");
constexpr uint32_t kData = adbwire::tag("DATA");
constexpr uint32_t kDone = adbwire::tag("DONE");
constexpr uint32_t kQuit = adbwire::tag("QUIT");

constexpr qsizetype kLargestPath = 4096;
constexpr qsizetype kChunk = 64 * 1024;
// Input we take before holding back the host.
constexpr qsizetype kInputLimit = 1024 * 1024;

// Where the phone's storage appears in its file system.
const char* const kStorageRoots[] = {"/sdcard", "/storage/emulated/0", "/storage/self/primary"};

QByteArray header(uint32_t id, uint32_t value)
{
    QByteArray out;
    adbwire::putLe32(out, id);
    adbwire::putLe32(out, value);
    return out;
}

// The path inside the storage folder, or nothing for a path elsewhere on the phone.
std::optional<QByteArray> storagePath(const QByteArray& phonePath)
{
    if (phonePath.contains('\0'))
        return std::nullopt;
    for (const char* root : kStorageRoots) {
        const QByteArray prefix(root);
        if (phonePath == prefix || phonePath.startsWith(prefix + '/')) {
            QByteArray rest = phonePath.mid(prefix.size());
            while (rest.startsWith('/'))
                rest.remove(0, 1);
            while (rest.endsWith('/'))
                rest.chop(1);
            return rest.isEmpty() ? QByteArray(".") : rest;
        }
    }
    return std::nullopt;
}

// Opens a path below the storage folder as if the folder were the root:
// neither ".." nor a symbolic link can lead outside it.
int openInStorage(int storageFd, const QByteArray& relative, int flags, mode_t mode = 0)
{
    open_how how {};
    how.flags = static_cast<uint64_t>(flags | O_CLOEXEC);
    how.mode = (flags & O_CREAT) ? mode : 0;
    how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
    return static_cast<int>(::syscall(SYS_openat2, storageFd, relative.constData(), &how, sizeof how));
}

// Splits "a/b/c" into "a/b" and "c"; a single name has the folder ".".
void splitPath(const QByteArray& relative, QByteArray& parent, QByteArray& name)
{
    const qsizetype slash = relative.lastIndexOf('/');
    parent = slash < 0 ? QByteArray(".") : relative.left(slash);
    name = relative.mid(slash + 1);
}

bool isDotName(const QByteArray& name)
{
    return name.isEmpty() || name == "." || name == "..";
}

// lstat below the storage folder; errno on failure.
bool statInStorage(int storageFd, const QByteArray& relative, struct stat& info)
{
    QByteArray parent, name;
    splitPath(relative, parent, name);
    if (isDotName(name)) {
        const int fd = openInStorage(storageFd, relative, O_PATH);
        if (fd < 0)
            return false;
        const bool ok = ::fstat(fd, &info) == 0;
        ::close(fd);
        return ok;
    }
    const int parentFd = openInStorage(storageFd, parent, O_PATH | O_DIRECTORY);
    if (parentFd < 0)
        return false;
    const bool ok = ::fstatat(parentFd, name.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0;
    const int err = errno;
    ::close(parentFd);
    errno = err;
    return ok;
}

// mkdir -p below the storage folder; returns the folder opened as O_PATH or -1.
int makeFolders(int storageFd, const QByteArray& relative)
{
    const int existing = openInStorage(storageFd, relative, O_PATH | O_DIRECTORY);
    if (existing >= 0 || errno != ENOENT)
        return existing;
    QByteArray parent, name;
    splitPath(relative, parent, name);
    if (isDotName(name)) {
        errno = ENOENT;
        return -1;
    }
    const int parentFd = makeFolders(storageFd, parent);
    if (parentFd < 0)
        return -1;
    if (::mkdirat(parentFd, name.constData(), 0775) != 0 && errno != EEXIST) {
        const int err = errno;
        ::close(parentFd);
        errno = err;
        return -1;
    }
    ::close(parentFd);
    return openInStorage(storageFd, relative, O_PATH | O_DIRECTORY);
}

QByteArray errorText(int err)
{
    return QByteArray(::strerror(err));
}

} // namespace

SyncStream::SyncStream(Connection& connection, uint32_t localId, uint32_t remoteId)
    : Stream(connection, localId, remoteId)
{
}

SyncStream::~SyncStream()
{
    abandonSend();
    closeFile();
}

void SyncStream::closeFile()
{
    if (m_fileFd >= 0)
        ::close(m_fileFd);
    m_fileFd = -1;
}

// A file that was not completely received is removed, as a phone does.
void SyncStream::abandonSend()
{
    if (m_state != State::Sending)
        return;
    if (m_parentFd >= 0) {
        if (m_fileFd >= 0)
            ::unlinkat(m_parentFd, m_name.constData(), 0);
        ::close(m_parentFd);
    }
    m_parentFd = -1;
    closeFile();
    m_state = State::Idle;
}

void SyncStream::fail(const QByteArray& message)
{
    abandonSend();
    closeFile();
    phone().log("sync failure: " + message);
    m_pending += header(adbwire::tag("FAIL"), static_cast<uint32_t>(message.size())) + message;
    // A phone ends the sync session after a failure.
    m_state = State::Closing;
    m_in.clear();
}

void SyncStream::hostWrite(const QByteArray& data)
{
    m_in += data;
    process();
    if (m_okayOwed)
        return; // paced: service() sends it when due
    if (m_in.size() > kInputLimit) {
        m_okayOwed = true;
        m_okayAt = Clock::now();
        return;
    }
    acknowledge();
}

void SyncStream::process()
{
    for (;;) {
        if (m_connection.dead() || finished())
            return;
        bool progressed = false;
        if (m_state == State::Idle)
            progressed = takeRequest();
        else if (m_state == State::Sending)
            progressed = takeSendPacket();
        if (!progressed)
            return;
    }
}

bool SyncStream::takeRequest()
{
    if (m_in.size() < 8)
        return false;
    const uint32_t id = adbwire::le32(m_in.constData());
    const uint32_t length = adbwire::le32(m_in.constData() + 4);
    if (id == kQuit) {
        m_in.clear();
        m_state = State::Closing;
        return false;
    }
    if (id != kStat && id != kList && id != kRecv && id != kSend) {
        fail("unknown sync request");
        return false;
    }
    if (length > kLargestPath) {
        fail("path too long");
        return false;
    }
    if (m_in.size() < 8 + static_cast<qsizetype>(length))
        return false;
    const QByteArray path = m_in.mid(8, length);
    m_in.remove(0, 8 + length);
    const char name[5] = {static_cast<char>(id & 0xff), static_cast<char>((id >> 8) & 0xff),
                          static_cast<char>((id >> 16) & 0xff), static_cast<char>((id >> 24) & 0xff), 0};
    QByteArray recorded = path;
    if (id == kSend && recorded.contains(','))
        recorded.truncate(recorded.lastIndexOf(','));
    phone().record(QByteArray("sync:") + name + ' ' + recorded);

    if (id == kStat)
        stat(path);
    else if (id == kList)
        list(path);
    else if (id == kRecv)
        startReceive(path);
    else
        startSend(path);
    return m_state == State::Idle || m_state == State::Sending;
}

void SyncStream::stat(const QByteArray& path)
{
    struct stat info {};
    const auto relative = storagePath(path);
    bool found = relative && statInStorage(phone().storageFd(), *relative, info);
    // As lstat on a phone: a trailing "/" follows a link and needs a folder.
    if (found && path.endsWith('/') && !S_ISDIR(info.st_mode)) {
        const int fd = openInStorage(phone().storageFd(), *relative, O_PATH | O_DIRECTORY);
        found = fd >= 0 && ::fstat(fd, &info) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    const Knobs& knobs = phone().knobs();
    if (const auto served = knobs.servedFiles.constFind(path); served != knobs.servedFiles.cend())
        found = ::stat(served->constData(), &info) == 0;
    else if (knobs.failingPulls.contains(path)) {
        // A file the phone has but will not hand over.
        info = {};
        info.st_mode = S_IFREG | 0644;
        found = true;
    }
    if (!found && (path == "/" || path == "/storage" || path == "/storage/emulated")) {
        // Folders above the storage exist on a phone, and adb looks at them.
        info = {};
        info.st_mode = S_IFDIR | 0755;
        found = true;
    }
    QByteArray reply = header(kStat, found ? info.st_mode : 0);
    adbwire::putLe32(reply, found ? static_cast<uint32_t>(info.st_size) : 0);
    adbwire::putLe32(reply, found ? static_cast<uint32_t>(info.st_mtim.tv_sec) : 0);
    m_pending += reply;
}

void SyncStream::list(const QByteArray& path)
{
    const auto relative = storagePath(path);
    const int fd = relative ? openInStorage(phone().storageFd(), *relative, O_RDONLY | O_DIRECTORY) : -1;
    DIR* dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (fd >= 0 && !dir)
        ::close(fd);
    if (dir) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            struct stat info {};
            // ".." of the storage root would describe a host folder; show the folder itself.
            const char* target = name == ".." ? "." : entry->d_name;
            if (::fstatat(::dirfd(dir), target, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            QByteArray dent = header(adbwire::tag("DENT"), info.st_mode);
            adbwire::putLe32(dent, static_cast<uint32_t>(info.st_size));
            adbwire::putLe32(dent, static_cast<uint32_t>(info.st_mtim.tv_sec));
            adbwire::putLe32(dent, static_cast<uint32_t>(name.size()));
            m_pending += dent + name;
        }
        ::closedir(dir);
    }
    // The end of a listing is a whole directory entry with the id DONE.
    QByteArray done = header(kDone, 0);
    done += QByteArray(12, '\0');
    m_pending += done;
}

void SyncStream::startReceive(const QByteArray& path)
{
    const Knobs& knobs = phone().knobs();
    if (knobs.failingPulls.contains(path)) {
        fail(errorText(EACCES));
        return;
    }
    const auto relative = storagePath(path);
    const auto served = knobs.servedFiles.constFind(path);
    int fd = -1;
    if (served != knobs.servedFiles.cend())
        fd = ::open(served->constData(), O_RDONLY | O_CLOEXEC);
    else if (relative)
        fd = openInStorage(phone().storageFd(), *relative, O_RDONLY);
    else
        errno = ENOENT;
    if (fd < 0) {
        fail(errorText(errno));
        return;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        fail(errorText(EISDIR));
        return;
    }
    m_fileFd = fd;
    m_state = State::Receiving;
    m_nextChunk = Clock::now();
}

void SyncStream::sendChunk(Clock::time_point now)
{
    // Unpaced, the file's chunks and its DONE go together up to a whole
    // message, as a phone's adbd packs what its socket holds: a small file
    // is one message, not a message and a lone DONE after the host's OKAY.
    const int delay = phone().knobs().chunkDelayMs;
    do {
        const qint64 allowance = phone().syncAllowance();
        if (allowance == 0) {
            if (!m_pending.isEmpty())
                sendFrom(m_pending);
            m_connection.drop();
            return;
        }
        QByteArray chunk(static_cast<qsizetype>(std::min<qint64>(kChunk, allowance)), Qt::Uninitialized);
        ssize_t n;
        do {
            n = ::read(m_fileFd, chunk.data(), static_cast<size_t>(chunk.size()));
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            fail(errorText(errno));
            return;
        }
        if (n == 0) {
            closeFile();
            m_pending += header(kDone, 0);
            m_state = State::Idle;
            process();
            return;
        }
        chunk.truncate(n);
        m_pending += header(kData, static_cast<uint32_t>(n)) + chunk;
        if (phone().countSyncBytes(n)) {
            sendFrom(m_pending);
            m_connection.drop();
            return;
        }
    } while (delay == 0 && m_pending.size() + 8 + kChunk <= m_connection.maxPayload());
    m_nextChunk = now + std::chrono::milliseconds(delay);
}

void SyncStream::startSend(const QByteArray& pathAndMode)
{
    const qsizetype comma = pathAndMode.lastIndexOf(',');
    if (comma < 0) {
        fail("missing file mode");
        return;
    }
    const QByteArray path = pathAndMode.left(comma);
    bool modeOk = false;
    const uint mode = pathAndMode.mid(comma + 1).toUInt(&modeOk);
    auto relative = storagePath(path);
    int rootFd = phone().storageFd();
    // The one place outside the storage that apps (and adb) may write to.
    const QByteArray tmp = "/data/local/tmp/";
    if (!relative && path.startsWith(tmp) && phone().tmpFd() >= 0) {
        relative = path.mid(tmp.size());
        rootFd = phone().tmpFd();
    }
    if (!relative) {
        fail("couldn't create " + path + ": " + errorText(EACCES));
        return;
    }
    QByteArray parent, name;
    splitPath(*relative, parent, name);
    if (isDotName(name)) {
        fail("couldn't create " + path + ": " + errorText(EISDIR));
        return;
    }
    const int parentFd = makeFolders(rootFd, parent);
    if (parentFd < 0) {
        fail("couldn't create the folder for " + path + ": " + errorText(errno));
        return;
    }
    struct stat existing {};
    if (::fstatat(parentFd, name.constData(), &existing, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            ::close(parentFd);
            fail("couldn't create " + path + ": " + errorText(EISDIR));
            return;
        }
        ::unlinkat(parentFd, name.constData(), 0);
    }
    m_symlink = modeOk && S_ISLNK(mode);
    m_linkTarget.clear();
    m_parentFd = parentFd;
    m_name = name;
    m_state = State::Sending;
    if (!m_symlink) {
        const mode_t permissions = modeOk ? ((mode & 0777) | 0600) : 0644;
        m_fileFd = ::openat(parentFd, name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                            permissions);
        if (m_fileFd < 0)
            fail("couldn't create " + path + ": " + errorText(errno));
    }
}

bool SyncStream::takeSendPacket()
{
    if (m_in.size() < 8)
        return false;
    const uint32_t id = adbwire::le32(m_in.constData());
    const uint32_t value = adbwire::le32(m_in.constData() + 4);
    if (id == kDone) {
        m_in.remove(0, 8);
        finishSend(value);
        return true;
    }
    if (id != kData) {
        fail("expected file data");
        return false;
    }
    if (value > kChunk) {
        fail("file data chunk too large");
        return false;
    }
    if (m_in.size() < 8 + static_cast<qsizetype>(value))
        return false;
    const char* data = m_in.constData() + 8;
    if (phone().knobs().storageFull && !m_symlink) {
        fail("write failed: " + errorText(ENOSPC));
        return false;
    }
    if (m_symlink) {
        m_linkTarget.append(data, value);
    } else {
        for (uint32_t written = 0; written < value;) {
            const ssize_t n = ::write(m_fileFd, data + written, value - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                fail("write failed: " + errorText(errno));
                return false;
            }
            written += static_cast<uint32_t>(n);
        }
    }
    m_in.remove(0, 8 + value);
    if (phone().countSyncBytes(value)) {
        m_connection.drop();
        return false;
    }
    if (phone().frozen())
        return false; // what else arrived waits, unread
    if (const int delay = phone().knobs().chunkDelayMs; delay > 0) {
        // Holding back our OKAY holds back the host: that is how a slow phone paces a push.
        const Clock::time_point base = m_okayOwed ? m_okayAt : Clock::now();
        m_okayOwed = true;
        m_okayAt = base + std::chrono::milliseconds(delay);
    }
    return true;
}

void SyncStream::finishSend(uint32_t mtime)
{
    bool ok = true;
    QByteArray error;
    if (m_symlink) {
        if (::symlinkat(m_linkTarget.constData(), m_parentFd, m_name.constData()) != 0) {
            ok = false;
            error = "couldn't create the link: " + errorText(errno);
        }
    } else {
        const timespec times[2] = {{static_cast<time_t>(mtime), 0}, {static_cast<time_t>(mtime), 0}};
        ::futimens(m_fileFd, times);
        if (::close(m_fileFd) != 0) {
            ok = false;
            error = "write failed: " + errorText(errno);
        }
        m_fileFd = -1;
    }
    if (!ok) {
        ::unlinkat(m_parentFd, m_name.constData(), 0);
        m_state = State::Idle;
        ::close(m_parentFd);
        m_parentFd = -1;
        fail(error);
        return;
    }
    ::close(m_parentFd);
    m_parentFd = -1;
    m_state = State::Idle;
    m_pending += header(adbwire::tag("OKAY"), 0);
}

void SyncStream::service(Clock::time_point now)
{
    if (m_okayOwed && now >= m_okayAt && m_in.size() <= kInputLimit) {
        m_okayOwed = false;
        acknowledge();
        process();
    }
    if (!canSend())
        return;
    if (!m_pending.isEmpty()) {
        sendFrom(m_pending);
        return;
    }
    if (m_state == State::Receiving) {
        if (now >= m_nextChunk)
            sendChunk(now);
        if (canSend() && !m_pending.isEmpty())
            sendFrom(m_pending);
        return;
    }
    if (m_state == State::Closing && !m_okayOwed)
        finish();
}

std::optional<Clock::time_point> SyncStream::wakeAt() const
{
    if (m_okayOwed && m_in.size() <= kInputLimit)
        return m_okayAt;
    if (m_state == State::Receiving && canSend() && m_pending.isEmpty())
        return m_nextChunk;
    return std::nullopt;
}

} // namespace adbphone
