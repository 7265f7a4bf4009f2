#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Paths.h"
#include "Error.h"

#include <QDir>
#include <QFile>

using paths::joined;

namespace {

// The sentence refusing the first computer item whose name cannot be joined to a folder.
std::optional<QString> localRefusal(const QStringList& names)
{
    for (const QString& name : names) {
        if (std::optional<QString> text = browserpaths::refusal(name, QStringLiteral("copied")))
            return text;
    }
    return std::nullopt;
}

QString quoted(const QString& name)
{
    return QStringLiteral("“") + name + QStringLiteral("”");
}

QString place(int index, int count)
{
    return QStringLiteral(" (") + QString::number(index + 1) + QStringLiteral(" of ") + QString::number(count)
           + QStringLiteral(")…");
}

// The local path of a dropped or chosen item, without a trailing "/".
QString localPath(const QUrl& url)
{
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

} // namespace

// ---- to the computer -----------------------------------------------------------------

void BrowserModel::download(const QList<RemoteEntry>& entries)
{
    if (const std::optional<Shown> asked = shown())
        download(*asked, entries);
}

void BrowserModel::download(const Shown& asked, const QList<RemoteEntry>& entries)
{
    // The entries are of the folder shown when the request was made.
    if (entries.isEmpty() || !stillShown(asked, true, QStringLiteral("copied")))
        return;
    QString folder = m_saveFolder;
    if (m_askWhereToSave) {
        Desktop::Panel panel;
        panel.message = QStringLiteral("Choose where to copy ")
                        + (entries.size() == 1 ? quoted(entries.first().name)
                                               : QString::number(entries.size()) + QStringLiteral(" items"));
        panel.prompt = QStringLiteral("Save Here");
        panel.folder = m_saveFolder;
        const std::optional<QString> chosen = m_desktop->chooseFolder(panel);
        if (!chosen || chosen->isEmpty())
            return;
        folder = *chosen;
        setSaveFolder(folder);
    }
    copyToMac(asked, entries, folder, m_revealAfterCopy);
}

void BrowserModel::copyToMac(const Shown& asked, const QList<RemoteEntry>& entries, const QString& folder,
                             bool reveal)
{
    // The entries belong to the folder shown when the copy was asked for.
    if (!stillShown(asked, true, QStringLiteral("copied")) || !files() || entries.isEmpty())
        return;
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("copied"))) {
        setErrorMessage(*text);
        return;
    }
    QStringList conflicts;
    for (const RemoteEntry& entry : entries) {
        if (browserpaths::existsLocally(joined(folder, entry.name)))
            conflicts.append(entry.name);
    }
    const Conflict answer = conflicts.isEmpty() ? Conflict::replace
                                                : askAboutConflicts(conflicts, QStringLiteral("this folder"));
    if (answer == Conflict::cancel || !stillShown(asked, true, QStringLiteral("copied")))
        return;
    // Taken after the answer: a phone plugged back in meanwhile has a new connection.
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    const QString path = asked.path;
    startJob(QStringLiteral("Copying to Mac…"), true, false, [=](JobContext& job) {
        // A missing save folder would otherwise become the copy's own name.
        if (!QDir().mkpath(folder))
            throw SystemError(QStringLiteral("Couldn't create the folder ") + folder + QStringLiteral("."));
        QStringList copied;
        const int count = int(entries.size());
        for (int index = 0; index < count; ++index) {
            job.cancel().check();
            const RemoteEntry& entry = entries[index];
            QString target = joined(folder, entry.name);
            QString destination = folder; // the transport copies into it under the item's own name
            bool isNew = true;
            if (browserpaths::existsLocally(target)) {
                if (answer == Conflict::skip)
                    continue;
                if (answer == Conflict::keepBoth) {
                    target = uniqueLocalURL(target);
                    destination = target;
                } else {
                    isNew = false;
                }
            }
            job.setItem(QStringLiteral("Copying ") + quoted(entry.name) + QStringLiteral(" to Mac")
                        + place(index, count));
            try {
                phone->pull(joined(path, entry.name), destination, job.progressHandler(), job.cancel());
            } catch (...) {
                // Only a file this copy began is ours to take away again.
                if (isNew && !entry.isDirectory)
                    QFile::remove(target);
                throw;
            }
            copied.append(target);
        }
        if (reveal && !copied.isEmpty())
            job.post([copied](BrowserModel& model) { model.m_desktop->reveal(copied); });
    });
}

void BrowserModel::openOnMac(const QList<RemoteEntry>& entries)
{
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone || entries.isEmpty())
        return;
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("copied"))) {
        setErrorMessage(*text);
        return;
    }
    const QString path = m_path;
    startJob(QStringLiteral("Opening…"), true, false, [=](JobContext& job) {
        const QString folder = browserpaths::newPrivateFolder();
        for (const RemoteEntry& entry : entries) {
            job.cancel().check();
            job.setItem(QStringLiteral("Opening ") + quoted(entry.name) + QStringLiteral("…"));
            const QString staged = joined(folder, entry.name);
            try {
                phone->pull(joined(path, entry.name), folder, job.progressHandler(), job.cancel());
            } catch (...) {
                // The part copied would wait in the staging folder until quit.
                if (entry.isDirectory)
                    QDir(staged).removeRecursively();
                else
                    QFile::remove(staged);
                throw;
            }
            job.post([staged](BrowserModel& model) { model.openStaged(staged); });
        }
    });
}

// ---- to the phone ----------------------------------------------------------------------

void BrowserModel::chooseAndUpload(const std::optional<QString>& folder)
{
    const std::optional<Shown> asked = shown();
    Desktop::Panel panel;
    panel.message = QStringLiteral("Choose files or folders to copy to ") + folder.value_or(m_path);
    panel.prompt = QStringLiteral("Copy to Phone");
    const QStringList chosen = m_desktop->chooseItems(panel);
    if (chosen.isEmpty())
        return;
    if (!asked)
        return;
    QList<QUrl> items;
    for (const QString& path : chosen)
        items.append(QUrl::fromLocalFile(path));
    // The panel named the folder shown when it opened.
    uploadTo(*asked, items, folder && *folder != asked->path ? folder : std::nullopt);
}

void BrowserModel::upload(const QList<QUrl>& items, const std::optional<QString>& folder)
{
    if (const std::optional<Shown> asked = shown())
        uploadTo(*asked, items, folder);
}

void BrowserModel::uploadTo(const Shown& asked, const QList<QUrl>& items, const std::optional<QString>& folder)
{
    // Into the folder shown: the same folder still; into a named one: the same phone.
    if (!stillShown(asked, !folder, QStringLiteral("copied")) || !files() || items.isEmpty())
        return;
    QStringList sources;
    QStringList names;
    for (const QUrl& item : items) {
        sources.append(localPath(item));
        names.append(sources.last().mid(sources.last().lastIndexOf(QLatin1Char('/')) + 1));
    }
    if (const std::optional<QString> text = localRefusal(names)) {
        setErrorMessage(*text);
        return;
    }
    const QString target = folder.value_or(asked.path);
    // The names shown when the copy was asked for; another folder is not known.
    QSet<QString> listed;
    if (!folder) {
        for (const RemoteEntry& entry : std::as_const(m_entries))
            listed.insert(entry.name);
    }
    QStringList conflicts;
    for (const QString& name : std::as_const(names)) {
        if (listed.contains(name))
            conflicts.append(name);
    }
    const Conflict answer = conflicts.isEmpty() ? Conflict::replace
                                                : askAboutConflicts(conflicts, QStringLiteral("the phone"));
    if (answer == Conflict::cancel || !stillShown(asked, !folder, QStringLiteral("copied")))
        return;
    // Taken after the answer: a phone plugged back in meanwhile has a new connection.
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    startJob(QStringLiteral("Copying to phone…"), true, true, [=](JobContext& job) {
        const Cancel& cancel = job.cancel();
        QSet<QString> created; // names this copy has taken on the phone
        // Inside the folder under the item's own name: a folder of that name
        // receives the contents instead of a nested copy.
        const QString into = target.endsWith(QLatin1Char('/')) ? target : target + QLatin1Char('/');
        const int count = int(names.size());
        for (int index = 0; index < count; ++index) {
            cancel.check();
            const QString& name = names[index];
            const bool conflicting = listed.contains(name);
            if (conflicting && answer == Conflict::skip)
                continue;
            const bool keepBoth = conflicting && answer == Conflict::keepBoth;
            QString phoneName = name;
            if (keepBoth) {
                phoneName = uniqueRemoteName(name, [&](const QString& candidate) {
                    return listed.contains(candidate) || created.contains(candidate)
                           || phone->exists(joined(target, candidate), cancel);
                });
            }
            const QString phonePath = joined(target, phoneName);
            // Only what this copy certainly creates may be removed after Stop:
            // a listed name, or one whose check failed, counts as the user's.
            const bool existed = (conflicting && !keepBoth) || created.contains(phoneName)
                                 || phone->existence(phonePath, cancel) != std::optional<bool>(false);
            cancel.check();
            job.setItem(QStringLiteral("Copying ") + quoted(name) + QStringLiteral(" to phone") + place(index, count));
            try {
                phone->push(sources[index], keepBoth ? phonePath : into, job.progressHandler(), cancel);
            } catch (...) {
                if (cancel.isCancelled() && !existed) {
                    // The job's token is stopped already; the clean-up needs its own.
                    try {
                        phone->remove(phonePath, Cancel());
                    } catch (...) {
                    }
                }
                throw;
            }
            created.insert(phoneName);
        }
    });
}
