#include "BrowserModel.h"

#include "Paths.h"

#include "BrowserPaths.h"
#include "Error.h"

using browserpaths::existsLocally;

BrowserModel::Conflict BrowserModel::askAboutConflicts(const QStringList& names, const QString& destination)
{
    Desktop::Question question;
    question.message = names.size() == 1
                           ? QStringLiteral("“") + names.first() + QStringLiteral("” already exists in ") + destination
                                 + QStringLiteral(".")
                           : QString::number(names.size()) + QStringLiteral(" items already exist in ") + destination
                                 + QStringLiteral(".");
    question.informative = QStringLiteral("Replacing overwrites existing files. Folders are merged.");
    question.buttons = {QStringLiteral("Replace"), QStringLiteral("Keep Both"), QStringLiteral("Skip"),
                        QStringLiteral("Cancel")};
    // Any answer but the first three buttons, closing the question included, is Cancel.
    const std::optional<int> answer = m_desktop->ask(question);
    if (!answer || *answer < 0 || *answer > 2)
        return Conflict::cancel;
    return Conflict(*answer);
}

QString BrowserModel::numbered(const QString& name, int number)
{
    // The extension follows the last dot, unless that dot starts the name.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = QLatin1Char(' ') + QString::number(number);
    QString base = name;
    QString extension;
    if (dot > 0 && dot < name.size() - 1) {
        base = name.left(dot);
        extension = name.mid(dot);
    }
    // A longer name can't be made on either side: the base gives way, the
    // number and the extension stay (an extension too long to keep goes too).
    using browserpaths::nameBytes;
    if (nameBytes(base + suffix + extension) > browserpaths::nameLimit) {
        if (nameBytes(suffix + extension) >= browserpaths::nameLimit) {
            base = name;
            extension.clear();
        }
        base = browserpaths::cutToBytes(base, browserpaths::nameLimit - nameBytes(suffix + extension));
    }
    return base + suffix + extension;
}

QString BrowserModel::uniqueLocalURL(const QString& path)
{
    return uniqueLocalURL(path, {});
}

QString BrowserModel::uniqueLocalURL(const QString& path, const QSet<QString>& reserved)
{
    if (!existsLocally(path))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    // A file system that answers every name (a broken network share) must
    // not hold the search for ever.
    for (int number = 2; number <= freeNameTries; ++number) {
        const QString candidate = numbered(name, number);
        if (!reserved.contains(browserpaths::nameKey(candidate)) && !existsLocally(folder + candidate))
            return folder + candidate;
    }
    throw SystemError(QStringLiteral("Couldn't find a free name for “") + paths::shown(name) + QStringLiteral("” in ")
                      + (folder.size() > 1 ? folder.chopped(1) : folder) + QStringLiteral("."));
}

QString BrowserModel::uniqueRemoteName(const QString& name,
                                       const std::function<std::optional<bool>(const QString&)>& taken,
                                       const Cancel& cancel)
{
    for (int number = 2; number <= freeNameTries; ++number) {
        cancel.check();
        QString candidate = numbered(name, number);
        // A phone's name also fits an MTP string: the base gives way, as for bytes.
        for (QString shorter = name; candidate.size() > browserpaths::nameUnits && !shorter.isEmpty();) {
            const qsizetype dot = shorter.lastIndexOf(QLatin1Char('.'));
            const qsizetype end = dot > 1 && candidate.endsWith(shorter.mid(dot)) ? dot : shorter.size();
            const bool pair = end >= 2 && shorter.at(end - 1).isLowSurrogate() && shorter.at(end - 2).isHighSurrogate();
            shorter.remove(end - (pair ? 2 : 1), pair ? 2 : 1);
            candidate = numbered(shorter, number);
        }
        const std::optional<bool> answer = taken(candidate);
        if (answer == std::optional<bool>(false))
            return candidate;
        if (!answer) {
            cancel.check();
            throw SystemError(QStringLiteral("“") + paths::shown(name)
                              + QStringLiteral("” wasn't copied: the phone didn't answer whether “") + paths::shown(candidate)
                              + QStringLiteral("” is free."));
        }
    }
    throw SystemError(QStringLiteral("“") + paths::shown(name)
                      + QStringLiteral("” wasn't copied: the phone has no free numbered name for it."));
}
