#include "PushBatches.h"

#include <QDir>
#include <QFileInfo>

namespace {

struct Tally {
    int64_t bytes = 0;
    int64_t files = 0;
    bool plain = true; // the folder itself holds files and folders only
};

QFileInfoList itemsOf(const QString& folder)
{
    return QDir(folder).entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                      QDir::Name);
}

Tally tally(const QString& folder)
{
    Tally total;
    for (const QFileInfo& item : itemsOf(folder)) {
        if (item.isSymLink() || !(item.isFile() || item.isDir())) {
            total.plain = false;
            continue;
        }
        if (item.isDir()) {
            const Tally inner = tally(item.filePath());
            total.bytes += inner.bytes;
            total.files += inner.files;
        } else {
            total.bytes += item.size();
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
        for (const QFileInfo& item : itemsOf(folder)) {
            if (item.isDir()) {
                const Tally inner = tally(item.filePath());
                if (fits(inner) || !inner.plain)
                    add(relative, item.filePath(), inner);
                else
                    split(item.filePath(), relative.isEmpty() ? item.fileName() : relative + u'/' + item.fileName());
            } else {
                add(relative, item.filePath(), {item.size(), 1, true});
            }
        }
    }

    std::vector<PushBatch> batches;

private:
    void add(const QString& relative, const QString& path, const Tally& t)
    {
        const int64_t pathBytes = path.toUtf8().size() + 1;
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
