#pragma once

#include "ADB.h"
#include "Cancel.h"
#include "Error.h"
#include "Models.h"

#include <QString>

#include <optional>
#include <stdexcept>
#include <vector>

// The file operations on one phone that the browser uses, whatever the
// transport. Paths are absolute phone paths as the phone's shell sees them
// ("/sdcard/DCIM"); computer locations are absolute local paths. Every call
// blocks a worker thread, takes the caller's Cancel last and throws Cancelled
// when cancelled; failures are ADBError or MTPError.
class PhoneFiles {
public:
    virtual ~PhoneFiles() = default;

    // Direct children, unordered; hidden items (leading ".") only when asked;
    // never "." or "..". A missing folder fails.
    virtual std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) = 0;
    // Every item of the folder, hidden ones included, as a copy of it needs:
    // where a listing may leave out an item the phone couldn't describe,
    // such an item fails it instead.
    virtual std::vector<RemoteEntry> listAll(const QString& path, const Cancel& cancel)
    {
        return list(path, true, cancel);
    }
    // Copies a phone file or folder to `destination` (the full local path of
    // the copy; into it when it is an existing folder), keeping the
    // modification time.
    virtual void pull(const QString& path, const QString& destination, const Progress& progress,
                      const Cancel& cancel) = 0;
    void pull(const QString& path, const QString& destination, const Cancel& cancel)
    {
        pull(path, destination, {}, cancel);
    }
    // Copies a local file or folder to the full phone path `destination`; a
    // destination ending in "/" names the folder to copy into.
    virtual void push(const QString& source, const QString& destination, const Progress& progress,
                      const Cancel& cancel) = 0;
    // Never fails: any failure, cancellation included, reads as false.
    virtual bool exists(const QString& path, const Cancel& cancel) = 0;
    // Whether something is at `path`; none when that can't be told (a
    // failure or a cancellation). Where "not there" must be certain, such as
    // before removing what a stopped copy left. Without a transport's own
    // answer only a "yes" of exists() is trusted.
    virtual std::optional<bool> existence(const QString& path, const Cancel& cancel)
    {
        return exists(path, cancel) ? std::optional<bool>(true) : std::nullopt;
    }
    // Removes a file, or a folder with everything in it: the item at that
    // name now, whatever made it.
    virtual void remove(const QString& path, const Cancel& cancel) = 0;
    // Removes what this program made at `path` (what a stopped or failed
    // copy left). Where the transport knows the item it made, only that
    // item goes, never another found at the name since; one gone or moved
    // already counts as removed. Elsewhere as remove().
    virtual void removeOwn(const QString& path, const Cancel& cancel) { remove(path, cancel); }
    // Makes one folder in a folder that is there; fails when that one is
    // missing, and leaves a folder already at `path` as it is.
    virtual void makeFolder(const QString& path, const Cancel& cancel) = 0;
    virtual void move(const QString& from, const QString& to, const Cancel& cancel) = 0;
    struct Clash {
        QString name;     // the last component of the item left out
        bool folderThere; // a folder is in the way of a file, or else a file in the way of a folder
        bool cameMeanwhile = false; // a file changed after the answer is there
    };
    // What an answer to replace covers at a name: the item that was there
    // when it was given. Anything else found there came meanwhile (another
    // program, the phone itself) and is never replaced.
    struct Covered {
        // From markSince(): an item changed after the mark came meanwhile.
        QString since;
        // The item as listed when the answer was given.
        std::optional<RemoteEntry> entry;
    };
    // Puts the finished file at `from` in the place of the file at `to`, in
    // the same folder; what is at `to` stays until the new file takes over.
    // Where what is there is a folder or isn't the `covered` one, both stay
    // as they are: that clash. A failure after the old file went leaves the
    // new one at `from`.
    virtual std::optional<Clash> putInPlace(const QString& from, const QString& to, const Covered& covered,
                                            const Cancel& cancel)
    {
        Q_UNUSED(covered);
        if (existence(to, cancel) != std::optional<bool>(false))
            remove(to, cancel);
        move(from, to, cancel);
        return std::nullopt;
    }
    // Makes the working folder `folder` with a mark in it that every item
    // made or changed on the storage from now on is newer than, by the
    // time of its last change; the mark's path, or none where the phone
    // keeps no such times (what is covered is then told by what was listed).
    virtual QString markSince(const QString& folder, const Cancel& cancel)
    {
        Q_UNUSED(folder);
        Q_UNUSED(cancel);
        return {};
    }
    // Whether items can be renamed; a copy then makes a new item under a
    // working name and gives it its own only once whole.
    virtual bool canRename(const Cancel& cancel)
    {
        Q_UNUSED(cancel);
        return true;
    }
    // Gives the finished new item at `from` the name `to`, in the same
    // folder; false, leaving both as they are, when something is at `to`.
    // Fails when that can't be told.
    virtual bool takeName(const QString& from, const QString& to, const Cancel& cancel)
    {
        const std::optional<bool> taken = existence(to, cancel);
        if (!taken) {
            cancel.check();
            throw SystemError(QStringLiteral("The phone didn’t answer whether “") + to.section(QLatin1Char('/'), -1)
                              + QStringLiteral("” is free."));
        }
        if (*taken)
            return false;
        move(from, to, cancel);
        return true;
    }
    // Whether mergeInto() runs on the phone in one step; otherwise a merge
    // goes item by item.
    virtual bool mergesOnPhone() const { return false; }
    // Moves what the folder `from` holds into the folder `to` on the same storage:
    // files replace files, folders merge, each file renamed into place whole;
    // an item meeting one of the other kind is left out, and so is a file
    // meeting one changed after the mark `since` (from markSince(); none:
    // no such check). Every such clash, in no set order. `from` is removed
    // after, with what was left out.
    virtual std::vector<Clash> mergeInto(const QString& from, const QString& to, const QString& since,
                                           const Cancel& cancel)
    {
        Q_UNUSED(from);
        Q_UNUSED(to);
        Q_UNUSED(since);
        Q_UNUSED(cancel);
        throw std::logic_error("mergeInto without mergesOnPhone");
    }
    // Copies the local items `sources` into the phone folder `folder`, which
    // must be there, each under its own name, in one transfer. Only where
    // mergesOnPhone().
    virtual void pushInto(const QStringList& sources, const QString& folder, const Progress& progress,
                          const Cancel& cancel)
    {
        Q_UNUSED(sources);
        Q_UNUSED(folder);
        Q_UNUSED(progress);
        Q_UNUSED(cancel);
        throw std::logic_error("pushInto without mergesOnPhone");
    }
    // Makes the folders at the relative paths `relative` below the folder
    // `base`, which must be there, with every folder between. Only where
    // mergesOnPhone().
    virtual void makeFolders(const QString& base, const QStringList& relative, const Cancel& cancel)
    {
        Q_UNUSED(base);
        Q_UNUSED(relative);
        Q_UNUSED(cancel);
        throw std::logic_error("makeFolders without mergesOnPhone");
    }
    // Makes the folder `folder` with a mark in it that every file made on
    // the storage from now on is newer than, as moveWholeFiles() needs;
    // false where that can't be made sure (times too coarse). Only where
    // mergesOnPhone().
    virtual bool markTime(const QString& folder, const Cancel& cancel)
    {
        Q_UNUSED(folder);
        Q_UNUSED(cancel);
        return false;
    }
    // While a transfer into the folder `from` goes on: moves into the
    // folder `to` the files directly in `from` that the transfer has
    // finished (dated at or before the mark of markTime() in `marked`, as
    // the transfer dates each file it has written), each replacing a file
    // of its name whole. A file meeting a folder, or one changed after the
    // mark `since`, stays for mergeInto().
    virtual void moveWholeFiles(const QString& from, const QString& to, const QString& marked, const QString& since,
                                const Cancel& cancel)
    {
        Q_UNUSED(from);
        Q_UNUSED(to);
        Q_UNUSED(marked);
        Q_UNUSED(since);
        Q_UNUSED(cancel);
    }
    // Throws, naming the item, for a name the phone can't store as given
    // (it would be cut short); before anything is sent under it.
    virtual void checkStorable(const QString& name) const { Q_UNUSED(name); }
    virtual DeviceInfo info(const Cancel& cancel) = 0;
    // Whether a folder is better pulled in one call than item by item: true
    // where each call costs a run of its own (adb starts a process per call).
    virtual bool pullsFoldersWhole() const { return false; }
    // Whether putInPlace() is one step on the phone, so that after any
    // failure the file at `to` is the old one or the new one, whole.
    virtual bool putsInPlaceAtOnce() const { return false; }
};
