#include "CopyAccount.h"

#include "CopyParts.h"

void CopyAccount::add(Item item)
{
    const std::lock_guard lock(m_mutex);
    m_items.push_back(std::move(item));
}

void CopyAccount::copied(const QString& name)
{
    add({name, Outcome::copied, {}});
}

void CopyAccount::skipped(const QString& name)
{
    add({name, Outcome::skipped, {}});
}

void CopyAccount::leftOut(const QString& name, const QString& sentence)
{
    add({name, Outcome::leftOut, sentence});
}

void CopyAccount::failed(const QString& name, const QString& sentence)
{
    add({name, Outcome::failed, sentence});
}

void CopyAccount::failedInside(const QString& name, const QString& sentence)
{
    add({name, Outcome::failed, sentence, true});
}

void CopyAccount::notReached(const QString& name)
{
    add({name, Outcome::notReached,
         copyparts::quoted(name) + QStringLiteral(" wasn't copied: the copy ended before it came to it.")});
}

std::vector<CopyAccount::Item> CopyAccount::items() const
{
    const std::lock_guard lock(m_mutex);
    return m_items;
}

QStringList CopyAccount::notCopied() const
{
    QStringList sentences;
    for (const Item& item : items()) {
        if (item.outcome != Outcome::copied && item.outcome != Outcome::skipped)
            sentences.append(item.sentence);
    }
    return sentences;
}

std::optional<CopyAccount::Told> CopyAccount::tell(const std::optional<QString>& failure) const
{
    QStringList all = notCopied();
    if (all.isEmpty())
        return std::nullopt;
    // The failure comes first: it is why the copy ended. Beside other items
    // not copied, a failure that names no item ("The phone was
    // disconnected.") names the one it ended, and always one inside a
    // folder; one naming an item says enough.
    if (failure) {
        QString first = *failure;
        for (const Item& item : items()) {
            if (item.outcome == Outcome::failed && item.sentence == *failure && !failure->contains(QStringLiteral("“"))
                && (all.size() > 1 || !all.contains(*failure) || item.inside)) {
                first = QStringLiteral("Copying ") + copyparts::quoted(item.name) + QStringLiteral(" failed: ") + *failure;
                break;
            }
        }
        all.removeOne(*failure);
        all.prepend(first);
    }
    const qsizetype others = all.size() - 1;
    QString text = all.first();
    if (others == 1)
        text += QStringLiteral(" 1 other item wasn't copied.");
    else if (others > 1)
        text += QStringLiteral(" ") + QString::number(others) + QStringLiteral(" other items weren't copied.");
    return Told{text, others > 0 ? all : QStringList()};
}
