#include "VisibleEntries.h"

#include <QLocale>

#include <algorithm>
#include <limits>
#include <numeric>

namespace {

// Ranks of the values in the order `less` gives them; equal values share a
// rank.
template <class Less, class Equal>
std::vector<uint32_t> ranks(size_t count, Less less, Equal equal)
{
    std::vector<uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), less);
    std::vector<uint32_t> rank(count);
    uint32_t current = 0;
    for (size_t i = 0; i < count; ++i) {
        if (i > 0 && !equal(order[i - 1], order[i]))
            current = uint32_t(i);
        rank[order[i]] = current;
    }
    return rank;
}

template <class T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (a > b ? 1 : 0);
}

} // namespace

QCollator VisibleEntries::nameCollator()
{
    // The C locale would collate by code point and ignore the numeric mode.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

std::shared_ptr<const VisibleEntries::Keys> VisibleEntries::makeKeys(const QList<RemoteEntry>& entries)
{
    const auto count = size_t(entries.size());
    auto keys = std::make_shared<Keys>();
    keys->size.reserve(count);
    keys->modified.reserve(count);
    keys->isFolder.reserve(count);
    for (const RemoteEntry& entry : entries) {
        keys->size.push_back(entry.sizeForSorting());
        keys->modified.push_back(entry.modified.isValid() ? entry.modified.toMSecsSinceEpoch()
                                                          : std::numeric_limits<int64_t>::min());
        keys->isFolder.push_back(entry.isDirectory ? 1 : 0);
    }

    // The collator is made here, not shared: it is not safe across threads.
    const QCollator collator = nameCollator();
    std::vector<QCollatorSortKey> names;
    names.reserve(count);
    for (const RemoteEntry& entry : entries)
        names.push_back(collator.sortKey(entry.name));
    keys->nameRank = ranks(
        count, [&names](uint32_t a, uint32_t b) { return names[a].compare(names[b]) < 0; },
        [&names](uint32_t a, uint32_t b) { return names[a].compare(names[b]) == 0; });

    QStringList kinds;
    kinds.reserve(entries.size());
    for (const RemoteEntry& entry : entries)
        kinds.append(entry.kind());
    keys->kindRank = ranks(
        count, [&kinds](uint32_t a, uint32_t b) { return kinds[a] < kinds[b]; },
        [&kinds](uint32_t a, uint32_t b) { return kinds[a] == kinds[b]; });
    return keys;
}

void VisibleEntries::setEntries(const QList<RemoteEntry>& entries, std::shared_ptr<const Keys> keys)
{
    m_entries = entries;
    m_keys = keys && keys->isFolder.size() == size_t(entries.size()) ? std::move(keys) : nullptr;
    m_stale = true;
}

void VisibleEntries::setSearchText(const QString& text)
{
    if (text == m_search)
        return;
    m_search = text;
    m_stale = true;
}

void VisibleEntries::setSortOrder(const SortOrder& order)
{
    if (order == m_order)
        return;
    m_order = order;
    m_stale = true;
}

const QList<RemoteEntry>& VisibleEntries::result() const
{
    if (m_stale) {
        compute();
        m_stale = false;
    }
    return m_result;
}

void VisibleEntries::compute() const
{
    if (!m_keys)
        m_keys = makeKeys(m_entries);
    const Keys& keys = *m_keys;

    std::vector<uint32_t> rows;
    rows.reserve(size_t(m_entries.size()));
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_search.isEmpty() || m_entries[i].name.contains(m_search, Qt::CaseInsensitive))
            rows.push_back(uint32_t(i));
    }

    auto compareBy = [&keys](SortKey::Column column, uint32_t a, uint32_t b) {
        switch (column) {
        case SortKey::Column::name:
            return threeWay(keys.nameRank[a], keys.nameRank[b]);
        case SortKey::Column::modified:
            return threeWay(keys.modified[a], keys.modified[b]);
        case SortKey::Column::size:
            return threeWay(keys.size[a], keys.size[b]);
        case SortKey::Column::kind:
            return threeWay(keys.kindRank[a], keys.kindRank[b]);
        }
        return 0;
    };
    const std::vector<SortKey> order(m_order.begin(), m_order.end());
    // Folders first whatever the order; entries equal under every key keep
    // the listing's order.
    std::sort(rows.begin(), rows.end(), [&](uint32_t a, uint32_t b) {
        if (keys.isFolder[a] != keys.isFolder[b])
            return keys.isFolder[a] > keys.isFolder[b];
        for (const SortKey& key : order) {
            const int c = compareBy(key.column, a, b);
            if (c != 0)
                return key.order == Qt::AscendingOrder ? c < 0 : c > 0;
        }
        return a < b;
    });

    QList<RemoteEntry> result;
    result.reserve(qsizetype(rows.size()));
    for (uint32_t row : rows)
        result.append(m_entries[row]);
    m_result = std::move(result);
}
