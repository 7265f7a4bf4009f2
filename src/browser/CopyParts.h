#pragma once

// What the copies both ways share: how they name items in sentences, and
// their byte-weighted progress.

#include "ADB.h"
#include "BrowserPaths.h"
#include "Error.h"
#include "Paths.h"

#include <QString>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <cstdint>
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
