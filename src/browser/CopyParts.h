#pragma once

// What the copies both ways share: how they name items in sentences, and
// their byte-weighted progress.

#include "ADB.h"
#include "ADBError.h"
#include "BrowserPaths.h"
#include "Error.h"
#include "Paths.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <exception>
#include <optional>

namespace copyparts {

// The sentence refusing the first computer item whose name cannot be joined to a folder.
inline std::optional<QString> localRefusal(const QStringList& names)
{
    for (const QString& name : names) {
        if (std::optional<QString> text = browserpaths::refusal(name, QStringLiteral("copied")))
            return text;
    }
    return std::nullopt;
}

// A name that isn't all text shows its other bytes as U+FFFD.
inline QString quoted(const QString& name)
{
    return QStringLiteral("“") + paths::shown(name) + QStringLiteral("”");
}

inline QString place(int index, int count)
{
    return QStringLiteral(" (") + QString::number(index + 1) + QStringLiteral(" of ") + QString::number(count)
           + QStringLiteral(")…");
}

using paths::localPath;
using browserpaths::lastName;
using browserpaths::parentOf;

// One item left out, in either direction, where something else is at its
// name: the copy leaves out that item alone and goes on with the rest; its
// account names it at the end.
class LeftOutError : public SystemError {
public:
    using SystemError::SystemError;
};

// Replace merges folders and overwrites files; it never puts one kind in
// the other's place, which would take all of a folder.
inline LeftOutError inTheWay(const QString& name, bool folderThere)
{
    return LeftOutError(quoted(name) + (folderThere ? QStringLiteral(" wasn't copied: a folder of that name is in its place.")
                                                    : QStringLiteral(" wasn't copied: a file of that name is in its place.")));
}

// Whose failure an error is. The item's own (its name, its kind, its
// rights, its size on the disk that takes it): the copy leaves out that item,
// and what it holds, names it, and goes on. The copy's (a full disk, a phone
// gone, a Stop): the copy ends and counts every item it never reached.
// Both directions and both transports ask here, never in their own catches.
enum class Reach { item, copy };

// An error number that concerns only the item it came from.
inline bool itemsOwn(int errorNumber)
{
    switch (errorNumber) {
    case ENAMETOOLONG: // longer than the disk's names
    case EILSEQ: // a name the disk can't spell
    case EINVAL: // vfat and exFAT refuse some characters so
    case EACCES:
    case EPERM:
    case ELOOP:
    case EISDIR:
    case ENOTDIR:
    case EEXIST:
    case ENOTEMPTY:
    case EFBIG: // a file larger than the disk's files (FAT's 4 GiB)
    case ETXTBSY:
        return true;
    default:
        return false;
    }
}

// The system's reason a failure carries, whichever layer saw it: the
// computer's own, or adb's for a file it couldn't copy; 0 when none.
inline int errorNumberOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const SystemError& failure) {
        return failure.errorNumber();
    } catch (const ADBError& failure) {
        return failure.errorNumber();
    } catch (...) {
        return 0;
    }
}

inline Reach reachOf(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const LeftOutError&) {
        return Reach::item;
    } catch (const Cancelled&) {
        return Reach::copy;
    } catch (const NoThreadError&) {
        return Reach::copy; // the machine's, whatever its number
    } catch (...) {
        return itemsOwn(errorNumberOf(error)) ? Reach::item : Reach::copy;
    }
}

// Byte-weighted progress over the files of one item.
class Meter {
public:
    Meter(Progress out, int64_t total) : m_out(std::move(out)), m_total(std::max<int64_t>(total, 1)) {}

    // The progress of the next `size` bytes.
    Progress part(int64_t size) const
    {
        return [out = m_out, before = m_done, size, total = m_total](double fraction) {
            if (out)
                out(std::min(1.0, (double(before) + fraction * double(size)) / double(total)));
        };
    }
    void done(int64_t size) { m_done += size; }

private:
    Progress m_out;
    int64_t m_total;
    int64_t m_done = 0;
};

} // namespace copyparts
