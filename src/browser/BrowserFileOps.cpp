#include "BrowserModel.h"

#include "ADB.h"
#include "ADBError.h"
#include "BrowserPaths.h"
#include "Error.h"
#include "MTPPaths.h"
#include "Paths.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <chrono>

using paths::joined;

namespace {

QString quoted(const QString& name)
{
    return QStringLiteral("“") + paths::shown(name) + QStringLiteral("”");
}

using browserpaths::lastName;

// Once the item has left its name, a Stop leaves it this long to take one.
constexpr std::chrono::milliseconds respellGrace(300);

// A new spelling of the item's own name (its letter case changed) on a
// storage that ignores letter case, where the item answers to it already
// and a rename onto it would change nothing: through a hidden name of the
// rename's own. Should the second step fail, the item takes its old name
// back; should even that fail, it is kept under the hidden name and the
// message says where.
void respell(PhoneFiles& phone, const QString& folder, const QString& from, const QString& to, JobContext& job)
{
    namespace names = browserpaths::workingnames;
    const browserpaths::HeldWorkingName working(browserpaths::temporaryName(from, true));
    const QString source = joined(folder, from);
    const QString temporary = joined(folder, working.name());
    job.cancel().check();
    const GraceAfterStop grace(job.cancel(), respellGrace);
    // The person's own item goes under our working name: kept, and stored,
    // before it does, so that a process killed between the steps leaves it
    // shown and never taken for a stale working item.
    names::RecordingLeftovers::keep(temporary);
    const auto notKept = [&] {
        names::unkeep(working.name());
        names::store();
    };
    std::exception_ptr failure;
    try {
        phone.move(source, temporary, grace.cancel());
        if (phone.takeName(temporary, joined(folder, to), grace.cancel())) {
            notKept();
            return;
        }
        failure = std::make_exception_ptr(ADBError::failed(quoted(to) + QStringLiteral(" already exists.")));
    } catch (...) {
        failure = std::current_exception();
    }
    const std::optional<bool> away = phone.existence(temporary, grace.cancel());
    if (away == std::optional<bool>(false)) {
        notKept();
        std::rethrow_exception(failure);
    }
    if (away) {
        bool back = false;
        try {
            back = phone.takeName(temporary, source, grace.cancel());
        } catch (...) {
        }
        if (back) {
            notKept();
            std::rethrow_exception(failure);
        }
    }
    // Where the phone can't say, or the item can't take a name: it stays kept.
    const QString sentence = quoted(from)
                             + QStringLiteral(" wasn't renamed, and the phone didn’t give it its name back. It is in ")
                             + folder + QStringLiteral(" as the hidden item ") + quoted(working.name())
                             + QStringLiteral(".");
    if (job.cancel().isCancelled()) {
        job.note(sentence);
        std::rethrow_exception(failure);
    }
    throw SystemError(sentence);
}

// Whether the folder lists an item of exactly that name.
bool listsExactly(PhoneFiles& phone, const QString& folder, const QString& name, const Cancel& cancel)
{
    const std::vector<RemoteEntry> entries = phone.list(folder, true, cancel);
    return std::any_of(entries.begin(), entries.end(), [&](const RemoteEntry& entry) { return entry.name == name; });
}

} // namespace

std::optional<BrowserModel::Shown> BrowserModel::shown() const
{
    const std::optional<Device> device = readyDevice();
    if (!device)
        return std::nullopt;
    return Shown{device->serial, device->transport, m_path};
}

bool BrowserModel::isShown(const Shown& asked, bool folderToo) const
{
    const std::optional<Shown> now = shown();
    return now && now->serial == asked.serial && now->transport == asked.transport
           && (!folderToo || now->path == asked.path);
}

bool BrowserModel::stillShown(const Shown& asked, bool folderToo, const QString& done)
{
    if (isShown(asked, folderToo))
        return true;
    setErrorMessage(QStringLiteral("Nothing was ") + done
                    + (folderToo ? QStringLiteral(": the phone or folder shown changed before you answered.")
                                 : QStringLiteral(": the phone shown changed before you answered.")));
    return false;
}

std::optional<QString> BrowserModel::refusal(const QList<RemoteEntry>& entries, const QString& done) const
{
    const std::optional<Device> device = readyDevice();
    const bool overAdb = device && device->transport == Device::Transport::adb;
    const bool overMtp = device && device->transport == Device::Transport::mtp;
    for (const RemoteEntry& entry : entries) {
        if (std::optional<QString> text = browserpaths::refusal(entry.name, done))
            return text;
        // The transport would refuse it only when the work reaches it, after
        // the items before it were already copied or deleted.
        try {
            if (overAdb)
                ADB::checkSendable(entry.name);
            else if (overMtp)
                mtppaths::checkUsable(entry.name);
        } catch (const Error& error) {
            return error.description();
        }
    }
    return std::nullopt;
}

bool BrowserModel::validate(const QString& name)
{
    if (name.isEmpty())
        return false;
    if (name == QLatin1StringView(".") || name == QLatin1StringView("..")) {
        setErrorMessage(QStringLiteral("Names can't be “.” or “..”."));
        return false;
    }
    if (name.contains(QLatin1Char('/')) || name.contains(QChar(0))) {
        setErrorMessage(QStringLiteral("Names can't contain “/”."));
        return false;
    }
    return true;
}

void BrowserModel::remove(const QList<RemoteEntry>& entries)
{
    if (const std::optional<Shown> asked = shown())
        remove(*asked, entries);
}

void BrowserModel::remove(const Shown& asked, const QList<RemoteEntry>& entries)
{
    // The entries are of the folder shown when the request was made.
    if (entries.isEmpty() || !stillShown(asked, true, QStringLiteral("deleted")) || !files())
        return;
    // The delete could not start after the answer: no question.
    if (refuseWhileJobRuns())
        return;
    if (const std::optional<QString> text = refusal(entries, QStringLiteral("deleted"))) {
        setErrorMessage(*text);
        return;
    }
    Desktop::Question question;
    question.message = entries.size() == 1
                           ? QStringLiteral("Delete ") + quoted(entries.first().name) + QStringLiteral(" from the phone?")
                           : QStringLiteral("Delete ") + QString::number(entries.size())
                                 + QStringLiteral(" items from the phone?");
    question.informative = QStringLiteral("This can't be undone.");
    question.buttons = {QStringLiteral("Delete"), QStringLiteral("Cancel")};
    question.warning = true;
    question.destructive = 0;
    if (m_desktop->ask(question) != 0 || !stillShown(asked, true, QStringLiteral("deleted")))
        return;
    // Taken after the answer: a phone unplugged and plugged back in
    // meanwhile has a new connection, and the old one is closed.
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    const QString path = asked.path;
    startJob(QStringLiteral("Deleting…"), true, true, [=](JobContext& job) {
        for (const RemoteEntry& entry : entries) {
            job.setItem(QStringLiteral("Deleting ") + quoted(entry.name) + QStringLiteral("…"));
            phone->remove(joined(path, entry.name), job.cancel());
        }
        // The selection is the folder's the user may have gone to meanwhile.
        job.post([asked](BrowserModel& model) {
            if (model.isShown(asked, true))
                model.setSelection({});
        });
    });
}

void BrowserModel::newFolder(const QString& name)
{
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    // The prompt stays open while the phone goes and another is shown; the
    // name was meant for the first. Its folder line follows the path shown.
    if (m_showingNewFolder
        && (!m_newFolderAsked || !stillShown(*m_newFolderAsked, false, QStringLiteral("created"))))
        return;
    const QString trimmed = name.trimmed();
    if (!validate(trimmed))
        return;
    const Shown asked = *shown();
    const QString parent = m_path;
    const QString target = joined(parent, trimmed);
    startJob(QStringLiteral("Creating ") + quoted(trimmed) + QStringLiteral("…"), true, true, [=](JobContext& job) {
        if (phone->exists(target, job.cancel()))
            throw ADBError::failed(quoted(trimmed) + QStringLiteral(" already exists."));
        try {
            phone->makeFolder(target, job.cancel());
        } catch (...) {
            // The folder shown went from the phone: it is not made again.
            if (!job.cancel().isCancelled() && phone->existence(parent, job.cancel()) == std::optional<bool>(false))
                throw SystemError(quoted(trimmed) + QStringLiteral(" wasn't created: ") + quoted(lastName(parent))
                                  + QStringLiteral(" isn't on the phone any more."));
            throw;
        }
        job.post([asked, trimmed](BrowserModel& model) {
            if (model.isShown(asked, true))
                model.setSelection({trimmed});
        });
    });
}

void BrowserModel::rename(const RemoteEntry& entry, const QString& name)
{
    const std::shared_ptr<PhoneFiles> phone = files();
    if (!phone)
        return;
    const QString trimmed = name.trimmed();
    // The name as it was, untouched, is no new name, even with spaces around it.
    if (name == entry.name || trimmed == entry.name)
        return;
    if (const std::optional<QString> text = refusal({entry}, QStringLiteral("renamed"))) {
        setErrorMessage(*text);
        return;
    }
    if (!validate(trimmed))
        return;
    const Shown asked = *shown();
    const QString source = joined(m_path, entry.name);
    const QString target = joined(m_path, trimmed);
    const QString folder = m_path;
    const QString original = entry.name;
    startJob(QStringLiteral("Renaming…"), true, true, [=](JobContext& job) {
        const browserpaths::workingnames::RecordingLeftovers recording(leftoverKey(asked.serial, asked.transport));
        if (phone->exists(target, job.cancel())) {
            // Only its letter case changed, and the phone finds the item by
            // its new spelling: the item itself, unless the folder holds
            // another of exactly that name.
            if (browserpaths::nameKey(trimmed) != browserpaths::nameKey(original)
                || listsExactly(*phone, folder, trimmed, job.cancel()))
                throw ADBError::failed(quoted(trimmed) + QStringLiteral(" already exists."));
            respell(*phone, folder, original, trimmed, job);
        } else if (!phone->takeName(source, target, job.cancel())) {
            // Came meanwhile, or a check that failed above: never renamed over.
            throw ADBError::failed(quoted(trimmed) + QStringLiteral(" already exists."));
        }
        job.post([asked, trimmed](BrowserModel& model) {
            if (model.isShown(asked, true))
                model.setSelection({trimmed});
        });
    });
}

void BrowserModel::openStaged(const QString& path)
{
    // Without a program for it the copy would arrive and nothing show. The
    // launcher may answer after this model is gone.
    const auto noProgram = [model = QPointer<BrowserModel>(this), name = QFileInfo(path).fileName()] {
        if (model)
            model->setErrorMessage(quoted(name)
                                   + QStringLiteral(" can't be opened: no application on this computer opens it."));
    };
    if (!m_desktop->open(path, noProgram))
        noProgram();
}
