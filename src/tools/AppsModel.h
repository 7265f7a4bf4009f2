#pragma once

#include "ADB.h"
#include "ADBTools.h"
#include "Task.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// One ready phone's installed apps and the actions on them: one action at a
// time (a second one only beeps), a question before the destructive ones,
// a status line after success and an error text after failure. Lives on
// the GUI thread; made through make() so that work under way keeps it alive
// after its window has let it go.
class AppsModel : public QObject, public std::enable_shared_from_this<AppsModel> {
    Q_OBJECT
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(std::optional<QString> busyPackage READ busyPackage NOTIFY busyPackageChanged)
    Q_PROPERTY(std::optional<QString> status READ status NOTIFY statusChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)

public:
    // What the model asks of the desktop; tests replace them.
    struct Seams {
        // Whether the person chose `button` over "Cancel".
        std::function<bool(const QString& message, const QString& informative, const QString& button)> confirm;
        std::function<void()> beep;
        std::function<void(const QStringList& paths)> reveal;
        // A failed save's sentence once the window no longer shows this
        // model (the main window's alert); none keeps it untold.
        std::function<void(const QString& message)> elsewhere;
    };

    static std::shared_ptr<AppsModel> make(ADB adb, QString serial, QString name);
    ~AppsModel() override;

    // Empty members keep the desktop's own.
    void setSeams(Seams seams);

    // The window lets go of the model (its phone went or changed): a question
    // still open closes, and no answer to it acts any more; a reload ends its
    // adb; a save that fails from now on, or whose failure is still on
    // screen, is told elsewhere.
    void drop();

    const QString& serial() const { return m_serial; }
    const QString& name() const { return m_name; }

    const std::vector<InstalledApp>& apps() const { return m_apps; }
    bool isLoading() const { return m_runningReloads > 0; }
    const std::optional<QString>& busyPackage() const { return m_busyPackage; }
    const std::optional<QString>& status() const { return m_status; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString>& message);

    // Reads the apps again; `done` runs when this reload has ended. Only the
    // most recently started reload's answer is taken.
    void reload(std::function<void()> done = {});

    void open(const InstalledApp& app);
    void forceStop(const InstalledApp& app);
    void showInfo(const InstalledApp& app);
    void clearData(const InstalledApp& app);
    void uninstall(const InstalledApp& app);
    // Pulls the app's package file, or its split files into a new folder,
    // into `folder` and shows the result in the file manager. A save that
    // does not finish removes what it made, and nothing else.
    void saveAPK(const InstalledApp& app, const QString& folder);

    // The saved file's (`ending` ".apk") or folder's name before numbering:
    // the package and the version made one name within the chosen folder.
    static QString saveName(const InstalledApp& app, const QString& ending = {});
    // The confirmation box as the person sees it, not yet shown.
    static std::unique_ptr<class QMessageBox> confirmation(const QString& message, const QString& informative,
                                                            const QString& button);

Q_SIGNALS:
    void appsChanged();
    void isLoadingChanged();
    void busyPackageChanged();
    void statusChanged();
    void errorMessageChanged();
    void dropped();

private:
    // Runs on a worker; returns the paths to show in the file manager.
    using Operation = std::function<QStringList(const ADB&, const QString& serial, const QString& package,
                                                const Cancel&)>;

    AppsModel(ADB adb, QString serial, QString name);

    // `failureElsewhere`: the failure is also told, after these words, when
    // the window no longer shows it.
    void perform(const InstalledApp& app, const QString& statusText, bool reloadAfter, Operation operation,
                 std::optional<QString> failureElsewhere = std::nullopt);
    void tellElsewhere(const QString& failure);
    bool confirm(const QString& message, const QString& informative, const QString& button);
    void setBusyPackage(const std::optional<QString>& package);
    void setStatus(const QString& status);
    void setLoading(int running);

    const ADB m_adb;
    const QString m_serial;
    const QString m_name;
    Seams m_seams;
    bool m_dropped = false;

    std::vector<InstalledApp> m_apps;
    int m_runningReloads = 0;
    quint64 m_latestReload = 0;
    Task m_reloadTask;
    std::optional<QString> m_untoldSaveFailure;
    std::optional<QString> m_busyPackage;
    std::optional<QString> m_status;
    std::optional<QString> m_errorMessage;
};
