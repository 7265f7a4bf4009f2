#include "PushBatches.h"

#include "Paths.h"

#include <algorithm>

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
