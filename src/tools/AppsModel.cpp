#include "AppsModel.h"
#include "PlainText.h"

#include "BrowserModel.h"
#include "BrowserPaths.h"
#include "Error.h"
#include "FileManager.h"
#include "OwnedDialog.h"
#include "Task.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every failure is shown; adb ended from outside is one (ADBError::stopped).
QString describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const Error& e) {
        return e.description();
    } catch (...) {
        return failureText(std::current_exception()).value_or(QString());
    }
}

// The question closes, unanswered, when the window lets go of `model`.
bool confirmWithBox(AppsModel& model, const QString& message, const QString& informative, const QString& button)
{
    const OwnedDialog box(AppsModel::confirmation(message, informative, button).release());
    QObject::connect(&model, &AppsModel::dropped, box.get(), &QDialog::reject);
    box->exec();
    if (box.gone())
        return false;
    return box->clickedButton() && box->buttonRole(box->clickedButton()) == QMessageBox::DestructiveRole;
}

QStringList pull(const ADB& adb, const QString& serial, const QString& phonePath, const QString& target,
                 const Cancel& cancel)
{
    adb.run({QStringLiteral("-s"), serial, QStringLiteral("pull"), phonePath, target}, cancel);
    return {};
}

// Makes the first free name of `wanted` (numbered as the browser numbers
// copies) as a new, empty file or folder, in one step with the check, so that
// what another save or program made meanwhile is never taken over.
QString makeFresh(const QString& wanted, bool folder)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const QString path = BrowserModel::uniqueLocalURL(wanted);
        const QByteArray encoded = QFile::encodeName(path);
        int made = -1;
        if (folder) {
            made = ::mkdir(encoded.constData(), 0777);
        } else {
            made = ::open(encoded.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (made >= 0)
                ::close(made);
        }
        if (made >= 0)
            return path;
        if (errno != EEXIST)
            throw SystemError::fromErrno(QStringLiteral("Couldn’t create “%1”").arg(path), errno);
    }
    throw SystemError::fromErrno(QStringLiteral("Couldn’t create “%1”").arg(wanted), EEXIST);
}

// Removes what one save made: the pulled files it named and its own folder
// once that holds nothing else.
void removeMade(const QString& target, bool folder, const QStringList& pulled)
{
    if (!folder) {
        QFile::remove(target);
        return;
    }
    for (const QString& name : pulled)
        QFile::remove(target + QLatin1Char('/') + name);
    QDir().rmdir(target);
}

QStringList savePackage(const ADB& adb, const QString& serial, const InstalledApp& app, const QString& folder,
                        const Cancel& cancel)
{
    // An app gone from the phone meanwhile: "pm path" ends 1 without a word.
    const ADB::ShellAnswer answer = adb.shellAnswer(serial, QStringLiteral("pm path ") + ADB::quote(app.package), cancel);
    const QString words = QString::fromUtf8(answer.err.isEmpty() ? answer.out : answer.err).trimmed();
    if (answer.status != 0 && !words.isEmpty())
        throw ADBError::failed(ADB::clean(words));
    const QStringList paths = answer.status == 0 ? ADB::packageNames(QString::fromUtf8(answer.out)) : QStringList();
    // Each part is pulled into the save under its name on the phone: a name
    // that isn't one ("..", none) would put it somewhere else.
    const auto unusable = [](const QString& path) {
        return browserpaths::refusal(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1), {}).has_value();
    };
    if (paths.isEmpty() || std::any_of(paths.begin(), paths.end(), unusable))
        throw ADBError::failed(QStringLiteral("The phone didn't say where this app is stored."));

    // A new home may have no Downloads folder yet.
    std::error_code made;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), made);
    if (made)
        throw SystemError::fromErrno(QStringLiteral("Couldn’t create the folder “%1”").arg(folder), made.value());
    const QString inFolder = QDir(folder).absolutePath() + QLatin1Char('/');
    const bool split = paths.size() > 1;
    const QString target = makeFresh(inFolder + AppsModel::saveName(app, split ? QString() : QStringLiteral(".apk")), split);
    // adb leaves what it had of a file cut short under its name: a package
    // cut short would look like a whole one, and half an app is no app.
    QStringList pulled;
    try {
        if (!split) {
            pull(adb, serial, paths.first(), target, cancel);
        } else {
            for (const QString& path : paths) {
                pulled.append(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
                pull(adb, serial, path, target, cancel);
            }
        }
    } catch (...) {
        removeMade(target, split, pulled);
        throw;
    }
    return {target};
}

} // namespace

std::shared_ptr<AppsModel> AppsModel::make(ADB adb, QString serial, QString name)
{
    // Let go on the GUI thread, whichever thread drops the last hold. Not
    // while the application object goes: Qt then drops the answers still
    // queued (one may hold the last hold) under the lock that posting takes,
    // and the process is ending anyway.
    return std::shared_ptr<AppsModel>(new AppsModel(std::move(adb), std::move(serial), std::move(name)),
                                      [](AppsModel* model) {
                                          if (!QCoreApplication::closingDown())
                                              model->deleteLater();
                                      });
}

AppsModel::AppsModel(ADB adb, QString serial, QString name)
    : m_adb(std::move(adb)),
      m_serial(std::move(serial)),
      m_name(std::move(name)),
      m_seams {[this](const QString& message, const QString& informative, const QString& button) {
                   return confirmWithBox(*this, message, informative, button);
               },
               [] { QApplication::beep(); }, FileManager::reveal}
{
}

AppsModel::~AppsModel() = default;

void AppsModel::setSeams(Seams seams)
{
    if (seams.confirm)
        m_seams.confirm = std::move(seams.confirm);
    if (seams.beep)
        m_seams.beep = std::move(seams.beep);
    if (seams.reveal)
        m_seams.reveal = std::move(seams.reveal);
    if (seams.elsewhere)
        m_seams.elsewhere = std::move(seams.elsewhere);
}

void AppsModel::setErrorMessage(const std::optional<QString>& message)
{
    // Dismissed or replaced: the save's failure has been seen.
    m_untoldSaveFailure.reset();
    if (message == m_errorMessage)
        return;
    m_errorMessage = message;
    Q_EMIT errorMessageChanged();
}

void AppsModel::setBusyPackage(const std::optional<QString>& package)
{
    if (package == m_busyPackage)
        return;
    m_busyPackage = package;
    Q_EMIT busyPackageChanged();
}

void AppsModel::setStatus(const QString& status)
{
    if (status == m_status)
        return;
    m_status = status;
    Q_EMIT statusChanged();
}

void AppsModel::setLoading(int running)
{
    const bool was = isLoading();
    m_runningReloads = running;
    if (was != isLoading())
        Q_EMIT isLoadingChanged();
}

void AppsModel::reload(std::function<void()> done)
{
    // Nobody shows the list any more; its adb would run until the phone answers.
    if (m_dropped) {
        if (done)
            done();
        return;
    }
    // Its answer would be dropped anyway; a phone that hangs must not pile up adb.
    m_reloadTask.cancel();
    const quint64 reload = ++m_latestReload;
    setLoading(m_runningReloads + 1);
    auto self = shared_from_this();
    auto finish = [self, done](quint64) {
        self->setLoading(self->m_runningReloads - 1);
        if (done)
            done();
    };
    m_reloadTask = Task::run(
        this, [adb = m_adb, serial = m_serial](const Cancel& cancel) { return adb.apps(serial, cancel); },
        [self, reload, finish](std::vector<InstalledApp> apps) {
            // An older reload's list would bring back what a newer one no longer saw.
            if (reload == self->m_latestReload && apps != self->m_apps) {
                self->m_apps = std::move(apps);
                Q_EMIT self->appsChanged();
            }
            finish(reload);
        },
        [self, reload, finish](const std::exception_ptr& error) {
            if (reload == self->m_latestReload && !self->m_dropped)
                self->setErrorMessage(describe(error));
            finish(reload);
        });
}

bool AppsModel::confirm(const QString& message, const QString& informative, const QString& button)
{
    // The window may let go of the model while the question is open.
    const std::shared_ptr<AppsModel> self = shared_from_this();
    const bool yes = m_seams.confirm(message, informative, button);
    return yes && !m_dropped;
}

void AppsModel::drop()
{
    m_dropped = true;
    // Nobody shows the list any more.
    m_reloadTask.cancel();
    Q_EMIT dropped();
    // A failed save still on screen went with the window's list; it is told where it can be seen.
    if (const std::optional<QString> failure = std::exchange(m_untoldSaveFailure, std::nullopt))
        tellElsewhere(*failure);
}

void AppsModel::tellElsewhere(const QString& failure)
{
    if (m_seams.elsewhere)
        m_seams.elsewhere(failure);
}

std::unique_ptr<QMessageBox> AppsModel::confirmation(const QString& message, const QString& informative,
                                                     const QString& button)
{
    auto box = std::make_unique<QMessageBox>(QApplication::activeWindow());
    box->setIcon(QMessageBox::Warning);
    // The package name is the phone's text, never markup.
    box->setTextFormat(Qt::PlainText);
    box->setText(message);
    PlainText::setInformativeText(*box, informative);
    QPushButton* confirming = box->addButton(button, QMessageBox::DestructiveRole);
    QPushButton* cancel = box->addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box->setDefaultButton(confirming);
    box->setEscapeButton(cancel);
    return box;
}

void AppsModel::perform(const InstalledApp& app, const QString& statusText, bool reloadAfter, Operation operation,
                        std::optional<QString> failureElsewhere)
{
    if (m_busyPackage) {
        m_seams.beep();
        return;
    }
    setBusyPackage(app.package);
    auto self = shared_from_this();
    Task::run(
        this,
        [adb = m_adb, serial = m_serial, package = app.package, operation = std::move(operation)](
            const Cancel& cancel) { return operation(adb, serial, package, cancel); },
        [self, statusText, reloadAfter](const QStringList& reveal) {
            self->setStatus(statusText);
            if (!reveal.isEmpty())
                self->m_seams.reveal(reveal);
            if (reloadAfter)
                self->reload([self] { self->setBusyPackage(std::nullopt); });
            else
                self->setBusyPackage(std::nullopt);
        },
        [self, failureElsewhere, reloadAfter](const std::exception_ptr& error) {
            const QString description = describe(error);
            if (failureElsewhere && self->m_dropped) {
                self->tellElsewhere(*failureElsewhere + description);
            } else {
                self->setErrorMessage(description);
                if (failureElsewhere)
                    self->m_untoldSaveFailure = *failureElsewhere + description;
            }
            // An action that changes the list may have been done although no
            // clear answer came (adb ended, the connection dropped): the list
            // is read again rather than kept as it was.
            if (reloadAfter)
                self->reload([self] { self->setBusyPackage(std::nullopt); });
            else
                self->setBusyPackage(std::nullopt);
        });
}

void AppsModel::open(const InstalledApp& app)
{
    perform(app, QStringLiteral("Opened ") + app.package, false,
            [](const ADB& adb, const QString& serial, const QString& package, const Cancel& cancel) {
                adb.launch(serial, package, cancel);
                return QStringList();
            });
}

void AppsModel::forceStop(const InstalledApp& app)
{
    perform(app, QStringLiteral("Stopped ") + app.package, false,
            [](const ADB& adb, const QString& serial, const QString& package, const Cancel& cancel) {
                adb.forceStop(serial, package, cancel);
                return QStringList();
            });
}

void AppsModel::showInfo(const InstalledApp& app)
{
    perform(app, QStringLiteral("Showing App info on the phone"), false,
            [](const ADB& adb, const QString& serial, const QString& package, const Cancel& cancel) {
                adb.showAppInfo(serial, package, cancel);
                return QStringList();
            });
}

void AppsModel::clearData(const InstalledApp& app)
{
    if (!confirm(QStringLiteral("Clear all data for “") + app.package + QStringLiteral("”?"),
                 QStringLiteral("Its accounts, settings and files on the phone are deleted, as if it was just installed."),
                 QStringLiteral("Clear Data")))
        return;
    perform(app, QStringLiteral("Cleared data for ") + app.package, false,
            [](const ADB& adb, const QString& serial, const QString& package, const Cancel& cancel) {
                adb.clearData(serial, package, cancel);
                return QStringList();
            });
}

void AppsModel::uninstall(const InstalledApp& app)
{
    if (!confirm(QStringLiteral("Uninstall “") + app.package + QStringLiteral("”?"),
                 QStringLiteral("The app and its data are removed from ") + m_name + QLatin1Char('.'),
                 QStringLiteral("Uninstall")))
        return;
    perform(app, QStringLiteral("Uninstalled ") + app.package, true,
            [](const ADB& adb, const QString& serial, const QString& package, const Cancel& cancel) {
                adb.uninstall(serial, package, cancel);
                return QStringList();
            });
}

void AppsModel::saveAPK(const InstalledApp& app, const QString& folder)
{
    const QString folderName = QFileInfo(QDir::cleanPath(folder)).fileName();
    perform(app, QStringLiteral("Saved ") + app.package + QStringLiteral(" to ") + folderName, false,
            [app, folder](const ADB& adb, const QString& serial, const QString&, const Cancel& cancel) {
                return savePackage(adb, serial, app, folder, cancel);
            },
            QStringLiteral("Couldn’t save “") + app.package + QStringLiteral("”: "));
}

QString AppsModel::saveName(const InstalledApp& app, const QString& ending)
{
    QString name = app.package;
    if (app.version)
        name += QLatin1Char(' ') + *app.version;
    // Both parts come from the phone: the result must stay one name inside the chosen folder.
    return browserpaths::nameFromPhone(name, ending, QStringLiteral("App"));
}
