#pragma once

#include "BrowserTypes.h"
#include "Models.h"

#include <QCollator>
#include <QList>
#include <QString>

#include <vector>

// A folder's listing as the views show it: filtered by the search text,
// sorted by the sort order and folders first. The result is worked out on the
// first read after the listing, the search text or the sort order changed and
// kept until the next such change, so redraws cost nothing; per-entry sort
// keys (the natural-order collation key above all) live as long as the
// listing, so a new sort or search reuses them.
class VisibleEntries {
public:
    VisibleEntries();

    void setEntries(const QList<RemoteEntry>& entries);
    void setSearchText(const QString& text);
    void setSortOrder(const SortOrder& order);

    const QList<RemoteEntry>& result() const;

    // Natural, case-insensitive order of names: "file 2" before "File 10".
    static QCollator nameCollator();

private:
    void compute() const;
    void prepareKeys() const;
    int compare(qsizetype a, qsizetype b) const;

    QList<RemoteEntry> m_entries;
    QString m_search;
    SortOrder m_order;

    // Per-entry sort keys, made when a sort first needs them; empty otherwise.
    mutable QCollator m_collator;
    mutable std::vector<QCollatorSortKey> m_nameKeys;
    mutable std::vector<qint64> m_times;
    mutable QStringList m_kinds;

    mutable QList<RemoteEntry> m_result;
    mutable bool m_stale = true;
};
