#include "Paths.h"

#include <QUrl>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace paths {

QString joined(const QString& folder, const QString& name)
{
    QString base = folder;
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + QLatin1Char('/') + name;
}

QString text(QByteArrayView bytes)
{
    if (bytes.isValidUtf8())
        return QString::fromUtf8(bytes);
    QString text;
    text.reserve(bytes.size());
    qsizetype i = 0;
    while (i < bytes.size()) {
        // The longest well-formed sequence here, as the UTF-8 standard bounds it.
        const uchar lead = static_cast<uchar>(bytes[i]);
        qsizetype length = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                         : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
        if (length > 1 && (i + length > bytes.size() || !bytes.sliced(i, length).isValidUtf8()))
            length = 0;
        if (length == 0) {
            text += QChar(0xDC00 + lead);
            ++i;
            continue;
        }
        text += QString::fromUtf8(bytes.sliced(i, length));
        i += length;
    }
    return text;
}

namespace {

// A lone surrogate that text() makes for one byte.
bool standsForByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

} // namespace

QByteArray bytes(const QString& text)
{
    if (text.isValidUtf16())
        return text.toUtf8();
    QByteArray out;
    out.reserve(text.size() * 3);
    qsizetype from = 0; // the start of the run of text not yet written
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            ++i;
            continue;
        }
        if (!c.isSurrogate())
            continue;
        out += QStringView(text).sliced(from, i - from).toUtf8();
        // Any other lone surrogate stands for nothing: it reads as U+FFFD.
        out += standsForByte(c.unicode()) ? QByteArray(1, char(c.unicode() - 0xDC00)) : QByteArray("\xEF\xBF\xBD");
        from = i + 1;
    }
    out += QStringView(text).sliced(from).toUtf8();
    return out;
}

bool carriesExactly(const QString& text)
{
    if (text.isValidUtf16())
        return true;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate() && !standsForByte(c.unicode()))
            return false;
    }
    return true;
}

QString localPath(const QUrl& url)
{
    QString path = url.isLocalFile() && url.host().isEmpty()
                       ? text(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()))
                       : url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QUrl localUrl(const QString& path)
{
    // A name that isn't UTF-8 has no text a URL could hold: its bytes go in.
    return QUrl::fromEncoded("file://" + bytes(path).toPercentEncoding("/"));
}

QString shown(const QString& text)
{
    if (text.isValidUtf16())
        return text;
    QString out = text;
    for (qsizetype i = 0; i < out.size(); ++i) {
        if (out.at(i).isHighSurrogate() && i + 1 < out.size() && out.at(i + 1).isLowSurrogate())
            ++i;
        else if (out.at(i).isSurrogate())
            out[i] = QChar::ReplacementCharacter;
    }
    return out;
}

namespace {

Kind kindOfMode(mode_t mode)
{
    return S_ISREG(mode) ? Kind::file : S_ISDIR(mode) ? Kind::folder : S_ISLNK(mode) ? Kind::link : Kind::other;
}

// Removes what folder `parent` holds under `name`, going down by
// descriptors: a folder swapped for a link meanwhile is not followed.
bool removeAt(int parent, const char* name, int depth)
{
    if (::unlinkat(parent, name, 0) == 0 || errno == ENOENT)
        return true;
    if (errno != EISDIR && errno != EPERM)
        return false;
    if (depth > 4096) {
        errno = ELOOP;
        return false;
    }
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    DIR* folder = ::fdopendir(fd);
    if (!folder) {
        ::close(fd);
        return false;
    }
    bool whole = true;
    int failure = 0;
    while (const dirent* item = ::readdir(folder)) {
        const QByteArrayView inner(item->d_name);
        if (inner == "." || inner == "..")
            continue;
        if (!removeAt(fd, item->d_name, depth + 1)) {
            whole = false;
            failure = errno;
        }
    }
    ::closedir(folder);
    if (!whole) {
        errno = failure;
        return false;
    }
    return ::unlinkat(parent, name, AT_REMOVEDIR) == 0 || errno == ENOENT;
}

// What a link leads to.
Kind kindOfLink(const QString& path)
{
    struct stat info {};
    return ::stat(bytes(path).constData(), &info) == 0 ? kindOfMode(info.st_mode) : Kind::nothing;
}

} // namespace

Kind kindOf(const QString& path, bool followLinks)
{
    if (followLinks)
        return kindOfLink(path);
    struct stat info {};
    if (::lstat(bytes(path).constData(), &info) != 0)
        return Kind::nothing;
    return kindOfMode(info.st_mode);
}

std::vector<LocalItem> localItems(const QString& folder)
{
    std::vector<LocalItem> items;
    const int fd = ::open(bytes(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return items;
    DIR* listing = ::fdopendir(fd);
    if (!listing) {
        ::close(fd);
        return items;
    }
    while (const dirent* item = ::readdir(listing)) {
        const QByteArrayView name(item->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat info {};
        if (::fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
            // Gone meanwhile; one that can't be looked at is no plain file
            // or folder, never left out unsaid.
            if (errno != ENOENT)
                items.push_back({text(name), Kind::other, 0});
            continue;
        }
        const Kind kind = kindOfMode(info.st_mode);
        items.push_back({text(name), kind, kind == Kind::file ? int64_t(info.st_size) : 0});
    }
    ::closedir(listing);
    return items;
}

bool removeLocalTree(const QString& path)
{
    return removeAt(AT_FDCWD, bytes(path).constData(), 0);
}

int64_t localSize(const QString& path)
{
    struct stat info {};
    // The top item itself is followed, as a chosen link is sent as what it leads to.
    if (::stat(bytes(path).constData(), &info) != 0)
        return 0;
    if (!S_ISDIR(info.st_mode))
        return info.st_size;
    int64_t total = 0;
    for (const LocalItem& item : localItems(path)) {
        if (item.kind == Kind::file)
            total += item.size;
        else if (item.kind == Kind::folder)
            total += localSize(joined(path, item.name));
        else if (item.kind == Kind::link && kindOfLink(joined(path, item.name)) == Kind::file)
            total += localSize(joined(path, item.name));
    }
    return total;
}

} // namespace paths
