#include "VisibleEntries.h"

#include <QLocale>

#include <algorithm>
#include <limits>

VisibleEntries::VisibleEntries() : m_order{SortKey{}}, m_collator(nameCollator()) {}

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

void VisibleEntries::setEntries(const QList<RemoteEntry>& entries)
{
    m_entries = entries;
    m_nameKeys.clear();
    m_times.clear();
    m_kinds.clear();
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

void VisibleEntries::prepareKeys() const
{
    const auto count = size_t(m_entries.size());
    for (const SortKey& key : m_order) {
        switch (key.column) {
        case SortKey::Column::name:
            if (m_nameKeys.size() != count) {
                m_nameKeys.clear();
                m_nameKeys.reserve(count);
                for (const RemoteEntry& entry : m_entries)
                    m_nameKeys.push_back(m_collator.sortKey(entry.name));
            }
            break;
        case SortKey::Column::modified:
            if (m_times.size() != count) {
                m_times.clear();
                m_times.reserve(count);
                for (const RemoteEntry& entry : m_entries)
                    m_times.push_back(entry.modified.isValid() ? entry.modified.toMSecsSinceEpoch()
                                                               : std::numeric_limits<qint64>::min());
            }
            break;
        case SortKey::Column::kind:
            if (size_t(m_kinds.size()) != count) {
                m_kinds.clear();
                m_kinds.reserve(m_entries.size());
                for (const RemoteEntry& entry : m_entries)
                    m_kinds.append(entry.kind());
            }
            break;
        case SortKey::Column::size:
            break;
        }
    }
}

int VisibleEntries::compare(qsizetype a, qsizetype b) const
{
    for (const SortKey& key : m_order) {
        int c = 0;
        switch (key.column) {
        case SortKey::Column::name:
            c = m_nameKeys[size_t(a)].compare(m_nameKeys[size_t(b)]);
            break;
        case SortKey::Column::modified: {
            const qint64 x = m_times[size_t(a)], y = m_times[size_t(b)];
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case SortKey::Column::size: {
            const int64_t x = m_entries[a].sizeForSorting(), y = m_entries[b].sizeForSorting();
            c = x < y ? -1 : (x > y ? 1 : 0);
            break;
        }
        case SortKey::Column::kind:
            c = m_kinds[a].compare(m_kinds[b]);
            break;
        }
        if (c != 0)
            return key.order == Qt::AscendingOrder ? c : -c;
    }
    return 0;
}

void VisibleEntries::compute() const
{
    std::vector<qsizetype> rows;
    rows.reserve(size_t(m_entries.size()));
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_search.isEmpty() || m_entries[i].name.contains(m_search, Qt::CaseInsensitive))
            rows.push_back(i);
    }

    prepareKeys();
    // Folders first whatever the order; a stable sort keeps the listing's
    // order among entries that compare equal.
    std::stable_sort(rows.begin(), rows.end(), [this](qsizetype a, qsizetype b) {
        const bool folderA = m_entries[a].isDirectory, folderB = m_entries[b].isDirectory;
        if (folderA != folderB)
            return folderA;
        return compare(a, b) < 0;
    });

    QList<RemoteEntry> result;
    result.reserve(qsizetype(rows.size()));
    for (qsizetype row : rows)
        result.append(m_entries[row]);
    m_result = std::move(result);
}
