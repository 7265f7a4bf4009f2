#pragma once

#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <vector>

// One copy's account of its items, item by item, in both directions: what
// was copied, what the person's answer skipped, what was left out and what
// failed, each with the sentence that says why. The end of the copy tells
// every item not copied from it, a failure that ends the copy included.
// Safe from any thread: a merge may report from a thread beside the job's.
class CopyAccount {
public:
    enum class Outcome { copied, skipped, leftOut, failed, notReached };
    struct Item {
        QString name;
        Outcome outcome;
        QString sentence; // why it wasn't copied; empty when it was, or was skipped
        bool inside = false; // an item inside a folder the copy was asked for
    };

    void copied(const QString& name);
    void skipped(const QString& name);
    // `sentence` names the item and says why it was left out.
    void leftOut(const QString& name, const QString& sentence);
    void failed(const QString& name, const QString& sentence);
    // The failure that ended the copy, at an item inside a folder it copies:
    // always told with the item's name.
    void failedInside(const QString& name, const QString& sentence);
    // An item the copy never came to: a failure ended it first.
    void notReached(const QString& name);

    std::vector<Item> items() const;
    // The sentence of each item not copied, in the copy's order; what the
    // person's answer skipped is theirs, not among them.
    QStringList notCopied() const;

    struct Told {
        QString text;
        // The whole list, one sentence an item; empty when the text says all.
        QStringList details;
    };
    // What the end of the copy says: the failure that ended it (when it
    // did), else the first item not copied, and how many others were not;
    // none when every item was copied or skipped and nothing failed.
    std::optional<Told> tell(const std::optional<QString>& failure) const;

private:
    void add(Item item);

    mutable std::mutex m_mutex;
    std::vector<Item> m_items;
};
