#include "BrowserModel.h"

#include "BrowserPaths.h"

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
    if (dot <= 0 || dot == name.size() - 1)
        return name + suffix;
    return name.left(dot) + suffix + name.mid(dot);
}

QString BrowserModel::uniqueLocalURL(const QString& path)
{
    if (!existsLocally(path))
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString folder = path.left(slash + 1);
    const QString name = path.mid(slash + 1);
    for (int number = 2;; ++number) {
        const QString candidate = folder + numbered(name, number);
        if (!existsLocally(candidate))
            return candidate;
    }
}

QString BrowserModel::uniqueRemoteName(const QString& name, const std::function<bool(const QString&)>& taken)
{
    for (int number = 2;; ++number) {
        const QString candidate = numbered(name, number);
        if (!taken(candidate))
            return candidate;
    }
}
