#include "PushBatches.h"

#include "BrowserPaths.h"
#include "Paths.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Tally {
    int64_t bytes = 0;
    int64_t files = 0;
    bool plain = true; // the folder itself holds files and folders only
};

// By their exact names: a name that isn't text is sent as its bytes.
std::vector<paths::LocalItem> itemsOf(const QString& folder)
{
    std::vector<paths::LocalItem> items = paths::localItems(folder);
    std::sort(items.begin(), items.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    return items;
}

Tally tally(const QString& folder)
{
    Tally total;
    for (const paths::LocalItem& item : itemsOf(folder)) {
        if (item.kind != paths::Kind::file && item.kind != paths::Kind::folder) {
            total.plain = false;
            continue;
        }
        if (item.kind == paths::Kind::folder) {
            const Tally inner = tally(paths::joined(folder, item.name));
            total.bytes += inner.bytes;
            total.files += inner.files;
        } else {
            total.bytes += item.size;
            total.files += 1;
        }
    }
    return total;
}

class Planner {
public:
    explicit Planner(const PushBatchLimits& limits) : m_limits(limits) {}

    bool fits(const Tally& t) const { return t.bytes <= m_limits.bytes && t.files <= m_limits.files; }

    void split(const QString& folder, const QString& relative)
    {
        for (const paths::LocalItem& item : itemsOf(folder)) {
            const QString path = paths::joined(folder, item.name);
            if (item.kind == paths::Kind::folder) {
                const Tally inner = tally(path);
                if (fits(inner) || !inner.plain)
                    add(relative, path, inner);
                else
                    split(path, relative.isEmpty() ? item.name : relative + u'/' + item.name);
            } else {
                add(relative, path, {item.size, 1, true});
            }
        }
    }

    std::vector<PushBatch> batches;

private:
    void add(const QString& relative, const QString& path, const Tally& t)
    {
        const int64_t pathBytes = paths::bytes(path).size() + 1;
        const bool full = m_bytes + t.bytes > m_limits.bytes || m_files + t.files > m_limits.files
                          || m_pathBytes + pathBytes > m_limits.pathBytes;
        if (batches.empty() || batches.back().folder != relative || full) {
            batches.push_back({relative, {}, 0});
            m_bytes = m_files = m_pathBytes = 0;
        }
        PushBatch& batch = batches.back();
        batch.sources.append(path);
        batch.bytes += t.bytes;
        m_bytes += t.bytes;
        m_files += t.files;
        m_pathBytes += pathBytes;
    }

    PushBatchLimits m_limits;
    int64_t m_bytes = 0;
    int64_t m_files = 0;
    int64_t m_pathBytes = 0;
};

} // namespace

std::vector<PushBatch> pushBatches(const QString& source, const PushBatchLimits& limits)
{
    Planner planner(limits);
    const Tally whole = tally(source);
    if (planner.fits(whole) || !whole.plain)
        return {};
    planner.split(source, {});
    if (planner.batches.size() < 2)
        return {};
    return std::move(planner.batches);
}

namespace {

// The next item of `listing` but "." and "..", or none at its end; where
// the listing failed, `error` tells why.
const dirent* nextEntry(DIR* listing, int& error)
{
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(listing);
        if (!entry) {
            error = errno;
            return nullptr;
        }
        const QByteArrayView name(entry->d_name);
        if (name != "." && name != "..")
            return entry;
    }
}

using Why = LeftOutItem::Why;

// Walks a computer folder by descriptors: a folder that can't be opened, or
// whose items can't be looked at, is told apart from an empty one.
class Carrier {
public:
    Carrier(const NameRefusal& refusal, bool deep, CarryPlan& plan) : m_refusal(refusal), m_deep(deep), m_plan(plan) {}

    // The folder open at `fd` (closed here), at `path`, `relative` below the
    // item copied: its bytes carried, and whether anything in it is left out.
    std::pair<int64_t, bool> folder(int fd, const QString& path, const QString& relative)
    {
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            const int error = errno;
            ::close(fd);
            return leave(relative, Why::unreadableFolder, error);
        }
        const size_t folders = m_plan.folders.size();
        const size_t leftOut = m_plan.leftOut.size();
        const size_t alike = m_alike.size();
        m_plan.folders.push_back({relative, {}, 0});
        int64_t bytes = 0;
        bool below = false;
        int unread = 0;
        QStringList carried;
        QStringList names;
        QSet<QString> keys;
        bool alikeHere = false;
        while (const dirent* entry = nextEntry(listing, unread)) {
            const QString name = paths::text(QByteArrayView(entry->d_name));
            names.append(name);
            if (!alikeHere) {
                const qsizetype before = keys.size();
                keys.insert(browserpaths::nameKey(name));
                alikeHere = keys.size() == before;
            }
            const QString inside = relative.isEmpty() ? name : relative + u'/' + name;
            const QString full = paths::joined(path, name);
            const Look look = item(::dirfd(listing), entry->d_name, full, inside, name);
            if (look.unread) {
                unread = look.unread;
                break;
            }
            if (look.odd) {
                below = true;
                continue;
            }
            carried.append(full);
            bytes += look.bytes;
            if (look.file && relative.isEmpty())
                ++m_plan.files;
        }
        ::closedir(listing);
        // A listing cut short, or items that can't be looked at: the folder
        // isn't read, and what was found of it goes with it.
        if (unread) {
            m_plan.folders.resize(folders);
            m_plan.leftOut.resize(leftOut);
            m_alike.resize(alike);
            return leave(relative, Why::unreadableFolder, unread);
        }
        if (alikeHere)
            m_alike.push_back(alikeIn(names, relative));
        if (!below) {
            m_plan.folders.resize(folders); // carried whole by the folder above
            return {bytes, false};
        }
        m_plan.folders[folders].sources = carried;
        m_plan.folders[folders].bytes = bytes;
        return {bytes, true};
    }

    // Of the folders with alike names, the first in the order of a walk
    // that looks at a folder's names before going into its folders.
    std::optional<AlikeNames> firstAlike() const
    {
        const auto before = [](const AlikeNames& a, const AlikeNames& b) {
            const QStringList x = a.folder.split(u'/', Qt::SkipEmptyParts);
            const QStringList y = b.folder.split(u'/', Qt::SkipEmptyParts);
            return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
        };
        const auto first = std::min_element(m_alike.begin(), m_alike.end(), before);
        if (first == m_alike.end())
            return std::nullopt;
        return *first;
    }

private:
    struct Look {
        int64_t bytes = 0;
        bool odd = false; // it, or something in it, is left out
        int unread = 0;   // the folder holding it can't look at it
        bool file = false;
    };

    // The first two names of a folder, in sorted order, that are alike.
    static AlikeNames alikeIn(QStringList names, const QString& relative)
    {
        names.sort();
        QHash<QString, QString> seen;
        for (const QString& name : names) {
            const QString key = browserpaths::nameKey(name);
            if (const auto earlier = seen.constFind(key); earlier != seen.cend())
                return {relative, *earlier, name};
            seen.insert(key, name);
        }
        return {relative, {}, {}}; // not reached: the folder holds such a pair
    }

    Look item(int fd, const char* raw, const QString& full, const QString& relative, const QString& name)
    {
        if (m_refusal) {
            if (std::optional<QString> refused = m_refusal(name)) {
                m_plan.leftOut.push_back({relative, Why::name, 0, *refused});
                return {0, true};
            }
        }
        struct stat info {};
        if (::fstatat(fd, raw, &info, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? Look{0, true} : Look{0, true, errno}; // gone meanwhile: nothing to carry
        if (S_ISLNK(info.st_mode)) {
            if (::fstatat(fd, raw, &info, 0) != 0)
                return odd(relative, Why::brokenLink, errno);
            if (S_ISDIR(info.st_mode))
                return odd(relative, Why::linkToFolder, 0);
        }
        if (S_ISREG(info.st_mode)) {
            if (::faccessat(fd, raw, R_OK, AT_EACCESS) != 0)
                return odd(relative, Why::unreadableFile, errno);
            return {int64_t(info.st_size), false, 0, true};
        }
        if (!S_ISDIR(info.st_mode))
            return odd(relative, Why::notRegular, 0);
        const int inner = ::openat(fd, raw, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (inner < 0)
            return odd(relative, Why::unreadableFolder, errno);
        if (m_deep) {
            const auto [bytes, below] = folder(inner, full, relative);
            return {bytes, below};
        }
        // Only whether it can be read: listed, and an item of it looked at.
        int error = 0;
        if (DIR* listing = ::fdopendir(inner)) {
            if (const dirent* entry = nextEntry(listing, error)) {
                struct stat look {};
                if (::fstatat(::dirfd(listing), entry->d_name, &look, AT_SYMLINK_NOFOLLOW) != 0 && errno != ENOENT)
                    error = errno;
            }
            ::closedir(listing);
        } else {
            error = errno;
            ::close(inner);
        }
        if (error)
            return odd(relative, Why::unreadableFolder, error);
        return {};
    }

    std::pair<int64_t, bool> leave(const QString& relative, Why why, int error)
    {
        m_plan.leftOut.push_back({relative, why, error, {}});
        return {0, true};
    }
    Look odd(const QString& relative, Why why, int error)
    {
        leave(relative, why, error);
        return {0, true};
    }

    const NameRefusal& m_refusal;
    bool m_deep;
    CarryPlan& m_plan;
    std::vector<AlikeNames> m_alike;
};

} // namespace

CarryPlan planCarried(const QString& source, const NameRefusal& refusal, bool deep)
{
    CarryPlan plan;
    Carrier carrier(refusal, deep, plan);
    const QByteArray path = paths::bytes(source);
    struct stat info {};
    // The item itself is followed: a chosen link is sent as what it leads to.
    if (::stat(path.constData(), &info) != 0) {
        if (errno != ENOENT)
            plan.leftOut.push_back({{}, Why::unreadableFile, errno, {}});
        return plan;
    }
    if (S_ISREG(info.st_mode)) {
        if (::faccessat(AT_FDCWD, path.constData(), R_OK, AT_EACCESS) != 0)
            plan.leftOut.push_back({{}, Why::unreadableFile, errno, {}});
        else
            plan.bytes = info.st_size;
        return plan;
    }
    if (!S_ISDIR(info.st_mode)) {
        plan.leftOut.push_back({{}, Why::notRegular, 0, {}});
        return plan;
    }
    const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        plan.leftOut.push_back({{}, Why::unreadableFolder, errno, {}});
        return plan;
    }
    const auto [bytes, inParts] = carrier.folder(fd, source, {});
    plan.bytes = bytes;
    // Carried folder by folder: a folder's bytes leave out those of its
    // folders carried on their own.
    if (inParts) {
        plan.bytes = 0;
        for (const PushBatch& folder : plan.folders)
            plan.bytes += folder.bytes;
    }
    plan.alike = carrier.firstAlike();
    return plan;
}
