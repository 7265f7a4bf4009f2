#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "BrowserSettings.h"
#include "Finished.h"
#include "Paths.h"
#include "Error.h"

namespace {

const QString storageRoot = QStringLiteral("/sdcard");

// "/sdcard/DCIM/Camera" gives "/sdcard/DCIM", "/storage" gives "/".
QString enclosingFolder(const QString& path)
{
    QString trimmed = path;
    while (trimmed.size() > 1 && trimmed.endsWith(QLatin1Char('/')))
        trimmed.chop(1);
    const qsizetype slash = trimmed.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return trimmed.left(slash);
}

using browserpaths::lastName;

} // namespace

bool BrowserModel::isGone(const std::exception_ptr& error) const
{
    const std::optional<QString> text = failureText(error);
    return text
           && (text->contains(QStringLiteral("No such file")) || text->contains(QStringLiteral("does not exist"))
               || text->contains(QStringLiteral("isn't on the phone any more")) || m_mtpSource->isMissingItem(error));
}

QString BrowserModel::lastPathKey() const
{
    return settingkeys::lastPathPrefix + m_selectedSerial.value_or(QString());
}

bool BrowserModel::canGoUp() const
{
    return m_path != storageRoot && m_path != QStringLiteral("/");
}

void BrowserModel::navigate(const QString& target, bool recordHistory)
{
    if (target == m_path)
        return;
    if (target != m_openedFolder)
        m_openedFolder.clear();
    if (recordHistory) {
        QStringList back = m_backStack;
        back.append(m_path);
        setHistory(back, {});
    }
    setPath(target);
    if (m_selectedSerial)
        BrowserSettings(*m_settings).setText(lastPathKey(), target);
    setSelection({});
    setSearchText(QString());
    setEntries({});
    // A rename goes by the folder shown; the entry belonged to the one left.
    setRenaming(std::nullopt);
    reload();
}

void BrowserModel::open(const RemoteEntry& entry)
{
    if (entry.isDirectory) {
        m_openedFolder = paths::joined(m_path, entry.name);
        navigate(m_openedFolder, true);
    } else
        openOnMac({entry});
}

void BrowserModel::openSelection()
{
    const QList<RemoteEntry> chosen = selectedEntries();
    if (chosen.size() == 1 && chosen.first().isDirectory) {
        open(chosen.first());
        return;
    }
    QList<RemoteEntry> fileEntries;
    for (const RemoteEntry& entry : chosen) {
        if (!entry.isDirectory)
            fileEntries.append(entry);
    }
    openOnMac(fileEntries);
}

void BrowserModel::goBack()
{
    if (m_backStack.isEmpty())
        return;
    QStringList back = m_backStack;
    const QString target = back.takeLast();
    QStringList forward = m_forwardStack;
    forward.append(m_path);
    setHistory(back, forward);
    navigate(target, false);
}

void BrowserModel::goForward()
{
    if (m_forwardStack.isEmpty())
        return;
    QStringList forward = m_forwardStack;
    const QString target = forward.takeLast();
    QStringList back = m_backStack;
    back.append(m_path);
    setHistory(back, forward);
    navigate(target, false);
}

void BrowserModel::goUp()
{
    if (!canGoUp())
        return;
    navigate(enclosingFolder(m_path), true);
}

void BrowserModel::deviceChanged()
{
    QString target = storageRoot;
    if (m_selectedSerial) {
        const std::optional<QString> stored = BrowserSettings(*m_settings).text(lastPathKey());
        // Only an absolute phone path is a folder to go back to.
        if (stored && stored->startsWith(QLatin1Char('/')))
            target = *stored;
    }
    m_openedFolder.clear();
    setPath(target);
    setHistory({}, {});
    setSelection({});
    setEntries({});
    setRenaming(std::nullopt);
    setDeviceInfo(std::nullopt);
    reload([this] { refreshInfo(); });
}

void BrowserModel::reload(std::function<void()> finished)
{
    // Whatever is under way now answers for a state the user has left: it
    // stops, so it holds neither the phone's queue nor an adb process.
    m_listingTask.cancel();
    const uint64_t generation = ++m_listingGeneration;
    const std::shared_ptr<PhoneFiles> phoneFiles = files();
    if (!phoneFiles) {
        setEntries({});
        setIsLoading(false);
        call(finished);
        return;
    }
    const QString serial = selectedDevice()->serial;
    const QString listed = m_path;
    const bool showHidden = m_showHidden;
    setIsLoading(true);

    // Taken only from the newest listing, for the folder and phone it was
    // asked for: a late answer, success or failure, is dropped.
    auto current = [this, generation, listed, serial] {
        return generation == m_listingGeneration && m_path == listed && m_selectedSerial == serial;
    };
    auto ended = [this, generation] {
        if (generation == m_listingGeneration)
            setIsLoading(false);
    };

    struct Listing {
        QList<RemoteEntry> entries;
        std::shared_ptr<const VisibleEntries::Keys> keys;
    };
    m_listingTask = Task::run(
        this,
        [phoneFiles, listed, showHidden](const Cancel& cancel) {
            const std::vector<RemoteEntry> found =
                removeStaleWorkingFiles(*phoneFiles, listed, phoneFiles->list(listed, showHidden, cancel), cancel);
            Listing listing{QList<RemoteEntry>(found.begin(), found.end()), nullptr};
            // Sorting a large folder then costs the GUI thread little.
            listing.keys = VisibleEntries::makeKeys(listing.entries);
            return listing;
        },
        [this, current, ended, finished, listed](Listing listing) {
            const bool isCurrent = current();
            ended();
            if (isCurrent) {
                // Listed once: from now on it is a folder that may go.
                if (listed == m_openedFolder)
                    m_openedFolder.clear();
                QSet<QString> names;
                names.reserve(listing.entries.size());
                for (const RemoteEntry& entry : std::as_const(listing.entries))
                    names.insert(entry.name);
                QSet<QString> kept = m_selection;
                kept.intersect(names);
                setEntries(listing.entries, std::move(listing.keys));
                setSelection(kept);
            }
            // The phone answers: what copies to it could not remove goes now.
            removeLeftovers(finished);
        },
        [this, current, ended, finished, listed](const std::exception_ptr& error) {
            const bool isCurrent = current();
            ended();
            const std::optional<QString> text = failureText(error);
            if (isCurrent && text) {
                // Only the first listing after open() tells of a folder that
                // can't be listed; later it is one that went.
                const bool justOpened = listed == m_openedFolder;
                m_openedFolder.clear();
                const QString up = enclosingFolder(listed);
                if (isGone(error) && listed != storageRoot && up != listed && !justOpened) {
                    // To the nearest folder still there: each one gone on
                    // the way says so in its turn, the last word staying.
                    say({QStringLiteral("“"), lastName(listed), QStringLiteral("” isn't on the phone any more.")});
                    navigate(up, false);
                } else {
                    setErrorMessage(*text);
                }
            }
            call(finished);
        });
}

QList<RemoteEntry> BrowserModel::selectedEntries() const
{
    QList<RemoteEntry> chosen;
    for (const RemoteEntry& entry : m_entries) {
        if (m_selection.contains(entry.name))
            chosen.append(entry);
    }
    return chosen;
}

QList<PathComponent> BrowserModel::pathComponents() const
{
    QList<PathComponent> crumbs{{QStringLiteral("Internal Storage"), storageRoot}};
    const QString prefix = storageRoot + QLatin1Char('/');
    if (!m_path.startsWith(prefix))
        return crumbs;
    QString running = storageRoot;
    const QStringList pieces = m_path.mid(prefix.size()).split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        running += QLatin1Char('/') + piece;
        crumbs.append({piece, running});
    }
    return crumbs;
}
