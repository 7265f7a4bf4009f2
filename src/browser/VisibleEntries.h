#pragma once

#include "BrowserTypes.h"
#include "Models.h"

#include <QCollator>
#include <QList>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

// A folder's listing as the views show it: filtered by the search text,
// sorted by the sort order and folders first. The result is worked out on the
// first read after the listing, the search text or the sort order changed and
// kept until the next such change, so redraws cost nothing.
class VisibleEntries {
public:
    // Each entry's place in every sort column, in flat arrays. Making them
    // (collating 100,000 names takes about a tenth of a second) is meant for
    // the worker that fetched the listing; a new sort or search reuses them.
    struct Keys {
        std::vector<uint32_t> nameRank; // natural order; equal names share a rank
        std::vector<uint32_t> kindRank;
        std::vector<int64_t> size; // folders below every file
        std::vector<int64_t> modified;
        std::vector<uint8_t> isFolder;
    };
    // Safe on any thread.
    static std::shared_ptr<const Keys> makeKeys(const QList<RemoteEntry>& entries);

    // Natural, case-insensitive order of names: "file 2" before "File 10".
    static QCollator nameCollator();

    // Without keys they are made on the first read.
    void setEntries(const QList<RemoteEntry>& entries, std::shared_ptr<const Keys> keys = nullptr);
    void setSearchText(const QString& text);
    void setSortOrder(const SortOrder& order);

    const QList<RemoteEntry>& result() const;

private:
    void compute() const;

    QList<RemoteEntry> m_entries;
    QString m_search;
    SortOrder m_order{SortKey{}};

    mutable std::shared_ptr<const Keys> m_keys;
    mutable QList<RemoteEntry> m_result;
    mutable bool m_stale = true;
};
