#include "AppsModel.h"
#include "PlainText.h"

#include "BrowserModel.h"
#include "Error.h"
#include "FileManager.h"
#include "OwnedDialog.h"
#include "Task.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>
#include <system_error>

namespace {

// Every failure is shown, a cancellation too (adb ended from outside).
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

QStringList savePackage(const ADB& adb, const QString& serial, const InstalledApp& app, const QString& folder,
                        const Cancel& cancel)
{
    const QStringList paths =
        ADB::packageNames(adb.shell(serial, QStringLiteral("pm path ") + ADB::quote(app.package), cancel));
    if (paths.isEmpty())
        throw ADBError::failed(QStringLiteral("The phone didn't say where this app is stored."));
    const QString base = AppsModel::saveName(app);
    // A new home may have no Downloads folder yet.
    std::error_code made;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), made);
    if (made)
        throw SystemError::fromErrno(QStringLiteral("Couldn’t create the folder “%1”").arg(folder), made.value());
    const QString inFolder = QDir(folder).absolutePath() + QLatin1Char('/');
    if (paths.size() == 1) {
        const QString target = BrowserModel::uniqueLocalURL(inFolder + base + QStringLiteral(".apk"));
        try {
            pull(adb, serial, paths.first(), target, cancel);
        } catch (const Cancelled&) {
            // adb, stopped, leaves what it had under the final name: a
            // package cut short would look like a whole one.
            QFile::remove(target);
            throw;
        }
        return {target};
    }
    const QString target = BrowserModel::uniqueLocalURL(inFolder + base);
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(target).toStdString(), error);
    if (error)
        throw SystemError::fromErrno(QStringLiteral("Couldn’t create the folder “%1”").arg(target), error.value());
    try {
        for (const QString& path : paths)
            pull(adb, serial, path, target, cancel);
    } catch (const Cancelled&) {
        // The folder is this save's own; stopped, none of it is the app.
        QDir(target).removeRecursively();
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
}

void AppsModel::setErrorMessage(const std::optional<QString>& message)
{
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
    const quint64 reload = ++m_latestReload;
    setLoading(m_runningReloads + 1);
    auto self = shared_from_this();
    auto finish = [self, done](quint64) {
        self->setLoading(self->m_runningReloads - 1);
        if (done)
            done();
    };
    Task::run(
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
            if (reload == self->m_latestReload)
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
    Q_EMIT dropped();
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

void AppsModel::perform(const InstalledApp& app, const QString& statusText, bool reloadAfter, Operation operation)
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
        [self](const std::exception_ptr& error) {
            self->setErrorMessage(describe(error));
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
            });
}

QString AppsModel::saveName(const InstalledApp& app)
{
    QString name = app.package;
    if (app.version)
        name += QLatin1Char(' ') + *app.version;
    // Both parts come from the phone: the result must stay one name inside the chosen folder.
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(u'\0'), QLatin1Char('-'));
    if (name.isEmpty() || name == QStringLiteral(".") || name == QStringLiteral(".."))
        name = QStringLiteral("-") + name;
    return name;
}
