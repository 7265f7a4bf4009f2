#pragma once

#include "ADB.h"
#include "ADBStream.h"
#include "AdbSource.h"
#include "BrowserPaths.h"
#include "BrowserTypes.h"
#include "Clock.h"
#include "ConflictingApps.h"
#include "Desktop.h"
#include "JobContext.h"
#include "Models.h"
#include "MtpSource.h"
#include "PhoneFiles.h"
#include "PushBatches.h"
#include "Task.h"
#include "VisibleEntries.h"
#include "WirelessDiscovery.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMimeData>
#include <QObject>
#include <QSet>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class MirrorSession;

// The application's one model: the phone list the device poll keeps, the
// chosen phone, its current folder with history, listing, selection, search
// and sort, the running job and the persisted settings. It lives on the GUI
// thread; phone work runs on worker threads and reports back here, and an
// answer that arrives after the user moved on is dropped.
class BrowserModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QList<Device> devices READ devices NOTIFY devicesChanged)
    Q_PROPERTY(std::optional<QString> selectedSerial READ selectedSerial WRITE setSelectedSerial NOTIFY
                   selectedSerialChanged)
    Q_PROPERTY(std::optional<DeviceInfo> deviceInfo READ deviceInfo NOTIFY deviceInfoChanged)
    Q_PROPERTY(bool adbMissing READ adbMissing NOTIFY adbMissingChanged)
    Q_PROPERTY(QString path READ path NOTIFY pathChanged)
    Q_PROPERTY(QList<RemoteEntry> entries READ entries NOTIFY entriesChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(QSet<QString> selection READ selection WRITE setSelection NOTIFY selectionChanged)
    Q_PROPERTY(QString searchText READ searchText WRITE setSearchText NOTIFY searchTextChanged)
    Q_PROPERTY(SortOrder sortOrder READ sortOrder WRITE setSortOrder NOTIFY sortOrderChanged)
    Q_PROPERTY(bool showingNewFolder READ showingNewFolder WRITE setShowingNewFolder NOTIFY showingNewFolderChanged)
    Q_PROPERTY(bool showingWireless READ showingWireless WRITE setShowingWireless NOTIFY showingWirelessChanged)
    Q_PROPERTY(std::optional<RemoteEntry> renaming READ renaming WRITE setRenaming NOTIFY renamingChanged)
    Q_PROPERTY(std::optional<QDateTime> recordingStarted READ recordingStarted NOTIFY recordingStartedChanged)
    Q_PROPERTY(std::optional<Job> job READ job NOTIFY jobChanged)
    Q_PROPERTY(std::optional<QString> errorMessage READ errorMessage WRITE setErrorMessage NOTIFY errorMessageChanged)
    Q_PROPERTY(std::optional<QString> notice READ notice NOTIFY noticeChanged)
    Q_PROPERTY(bool showHidden READ showHidden WRITE setShowHidden NOTIFY showHiddenChanged)
    Q_PROPERTY(bool askWhereToSave READ askWhereToSave WRITE setAskWhereToSave NOTIFY askWhereToSaveChanged)
    Q_PROPERTY(bool revealAfterCopy READ revealAfterCopy WRITE setRevealAfterCopy NOTIFY revealAfterCopyChanged)
    Q_PROPERTY(bool keepRunningInMenuBar READ keepRunningInMenuBar WRITE setKeepRunningInMenuBar NOTIFY
                   keepRunningInMenuBarChanged)
    Q_PROPERTY(bool openWhenConnected READ openWhenConnected WRITE setOpenWhenConnected NOTIFY
                   openWhenConnectedChanged)
    Q_PROPERTY(bool autoReconnectWireless READ autoReconnectWireless WRITE setAutoReconnectWireless NOTIFY
                   autoReconnectWirelessChanged)
    Q_PROPERTY(PhoneNames pairedPhones READ pairedPhones WRITE setPairedPhones NOTIFY pairedPhonesChanged)
    Q_PROPERTY(int windowRequest READ windowRequest NOTIFY windowRequestChanged)
    Q_PROPERTY(ViewMode viewMode READ viewMode WRITE setViewMode NOTIFY viewModeChanged)
    Q_PROPERTY(QString saveFolder READ saveFolder WRITE setSaveFolder NOTIFY saveFolderChanged)

    // Derived from the state above.
    Q_PROPERTY(QList<RemoteEntry> visibleEntries READ visibleEntries NOTIFY visibleEntriesChanged)
    Q_PROPERTY(bool canGoBack READ canGoBack NOTIFY historyChanged)
    Q_PROPERTY(bool canGoForward READ canGoForward NOTIFY historyChanged)
    Q_PROPERTY(bool canGoUp READ canGoUp NOTIFY pathChanged)

public:
    // Everything the model reaches outside itself. Empty members get the
    // real thing: the adb tool, the USB phones, the application's settings,
    // Qt timers and the network's service discovery.
    struct Collaborators {
        std::shared_ptr<AdbSource> adb;
        std::shared_ptr<MtpSource> mtp;
        QSettings* settings = nullptr; // not owned; must outlive the model
        std::shared_ptr<Clock> clock;
        std::unique_ptr<WirelessDiscovery> discovery;
        // Questions, panels, the beep, opening and showing files; without
        // one, questions are cancelled and panels choose nothing.
        std::shared_ptr<Desktop> desktop;
        // Whose working items are ours (workingnames::setOwner()): by
        // default the settings file's; tests name one that outlives a
        // settings file copied at a restart.
        std::optional<QString> owner;
        // The device poll starts at once, or with this set at startPolling():
        // the application starts it once its first window is drawn, which
        // then doesn't share its time with the phones' first answers.
        bool pollWhenAsked = false;
    };

    // Reads the settings, locates adb, starts the device poll and the
    // service discovery, in that order.
    explicit BrowserModel(QObject* parent = nullptr);
    explicit BrowserModel(Collaborators collaborators, QObject* parent = nullptr);
    ~BrowserModel() override;
    // Starts the device poll once; see Collaborators::pollWhenAsked.
    void startPolling();

    // The phone and folder a request was made in. A question or panel runs
    // a nested event loop while the poll goes on, and a view may hand a
    // request over later than the click or drop that made it; the request
    // only counts for the phone and folder it was made in.
    struct Shown {
        QString serial;
        Device::Transport transport;
        QString path;
    };
    // None without a ready phone.
    std::optional<Shown> shown() const;
    // Whether the same phone (and, with folderToo, the same folder) is still
    // shown; otherwise says that nothing was `done` and returns false.
    bool stillShown(const Shown& asked, bool folderToo, const QString& done);

    // ---- phones ----------------------------------------------------------------
    const QList<Device>& devices() const { return m_devices; }
    const std::optional<QString>& selectedSerial() const { return m_selectedSerial; }
    // Choosing another phone (or none) saves the choice and shows that
    // phone's last folder.
    void setSelectedSerial(const std::optional<QString>& serial);
    const std::optional<DeviceInfo>& deviceInfo() const { return m_deviceInfo; }
    bool adbMissing() const { return m_adbMissing; }
    int windowRequest() const { return m_windowRequest; }
    // The located adb tool, if any.
    const std::optional<ADB>& adb() const { return m_adb; }

    // The chosen phone's entry in the list.
    std::optional<Device> selectedDevice() const;
    // That phone's entry in the list.
    std::optional<Device> deviceWithSerial(const QString& serial) const;
    // The chosen phone when it is ready.
    std::optional<Device> readyDevice() const;
    // The ready phone's files: its MTP connection, or adb's files when adb is
    // located. Made afresh on every call.
    std::shared_ptr<PhoneFiles> files() const;

    // ---- screen mirroring (BrowserMirror.cpp) --------------------------------
    // A new, unstarted mirroring session for the chosen phone when it is
    // ready over adb; none otherwise. Defined with the session, in the
    // mirroring library, so that this library does not depend on it.
    std::unique_ptr<MirrorSession> makeMirror() const;
    // What makeMirror() needs: the adb tool and the phone to mirror.
    struct MirrorTarget {
        ADB adb;
        QString serial;
        QString name;
        QSettings* settings;
    };
    std::optional<MirrorTarget> mirrorTarget() const;

    // One pass of the device poll: both transports' phones merged into one
    // entry per phone, names and hardware serials looked up, a newly plugged
    // phone chosen, the choice kept or handed over. `finished` runs on the
    // GUI thread when the pass is done.
    void refreshDevices(std::function<void()> finished = {});
    // Reads the chosen phone's facts into deviceInfo; a late answer for a
    // phone no longer chosen is dropped.
    void refreshInfo(std::function<void()> finished = {});
    // Records a Wi-Fi phone's hardware serial and name among the paired ones.
    void rememberPaired(const QString& serial, const std::optional<QString>& name);

    // ---- Wi-Fi phones (BrowserWireless.cpp) -----------------------------------
    // Whether an advertised service's phone is listed already: by its
    // address, its mDNS connection name or (over USB too) its serial.
    bool isConnected(const WirelessService& service) const;
    // The name to show for a phone's mDNS instance name.
    QString name(const QString& serviceName) const;
    // Connects adb to address, one attempt per address at a time (a second
    // waits for the first). Success is the address listed as a ready phone,
    // which is chosen, or as one waiting for the person's Allow
    // ("unauthorized"), which is kept and not chosen. done gets that entry
    // (none when the phone is listed otherwise); failed gets
    // ADBError::notFound, adb's failure or Cancelled. Either runs on
    // context's thread, never once context is gone. Cancelling the task ends
    // the adb run. After a failure or a cancellation the address is
    // disconnected again only when this attempt added it and it is not a
    // ready phone.
    Task connectWireless(const QString& address, QObject* context, std::function<void(std::optional<Device>)> done,
                         std::function<void(std::exception_ptr)> failed);
    // Disconnects a Wi-Fi phone; it is not reconnected by itself while it
    // stays advertised at that address.
    void disconnect(const Device& device);
    using QObject::disconnect;

    // ---- programs that hold a busy phone (ConflictingApps.cpp) ----------------
    // Their names, sorted, no duplicates, as they are when read; this
    // process, what it started and the adb server are never among them.
    // The change signal follows the poll passes.
    QStringList conflictingApps() const;
    // Asks those that hold a busy phone at this moment to quit, then polls
    // the phones again a second later.
    void quitConflictingApps();

    // ---- the folder ------------------------------------------------------------
    const QString& path() const { return m_path; }
    const QList<RemoteEntry>& entries() const { return m_entries; }
    bool isLoading() const { return m_isLoading; }
    const QSet<QString>& selection() const { return m_selection; }
    void setSelection(const QSet<QString>& names);
    const QString& searchText() const { return m_searchText; }
    void setSearchText(const QString& text);
    const SortOrder& sortOrder() const { return m_sortOrder; }
    void setSortOrder(const SortOrder& order);

    // The listing filtered by the search text, sorted, folders first. Worked
    // out once per change of the listing, search or sort.
    const QList<RemoteEntry>& visibleEntries() const { return m_visible.result(); }
    // The selected entries in listing order, those hidden by the search too.
    QList<RemoteEntry> selectedEntries() const;
    // The crumbs of the path bar, "Internal Storage" first.
    QList<PathComponent> pathComponents() const;

    bool canGoBack() const { return !m_backStack.isEmpty(); }
    bool canGoForward() const { return !m_forwardStack.isEmpty(); }
    bool canGoUp() const;

    // Shows another folder; the same folder again does nothing.
    void navigate(const QString& target, bool recordHistory = true);
    // Enters a folder entry; opens file entries on the computer.
    void open(const RemoteEntry& entry);
    void openSelection();
    void goBack();
    void goForward();
    void goUp();
    // Lists the current folder again. `finished` runs when the answer has
    // been dealt with.
    void reload(std::function<void()> finished = {});
    // Follows a change of the chosen phone: its last folder, no history, no
    // listing or facts until they are read again.
    void deviceChanged();

    // ---- prompts, jobs and messages ------------------------------------------
    bool showingNewFolder() const { return m_showingNewFolder; }
    void setShowingNewFolder(bool showing);
    bool showingWireless() const { return m_showingWireless; }
    void setShowingWireless(bool showing);
    const std::optional<RemoteEntry>& renaming() const { return m_renaming; }
    void setRenaming(const std::optional<RemoteEntry>& entry);
    const std::optional<QDateTime>& recordingStarted() const { return m_recordingStarted; }
    // When that phone's recording started; none while it records nothing.
    std::optional<QDateTime> recordingStartedOn(const QString& serial) const;
    const std::optional<Job>& job() const { return m_job; }
    const std::optional<QString>& errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString>& message);
    // The message with the whole list behind it, one sentence an item (every
    // item a copy didn't copy), and whether it is a note of what the
    // person's own Stop left rather than a failure; both go with the message.
    void setErrorMessage(const std::optional<QString>& message, const QStringList& details, bool note);
    const QStringList& errorDetails() const { return m_errorDetails; }
    bool errorIsNote() const { return m_errorIsNote; }
    // Stops the running job; it ends without a message. Nothing when idle.
    void cancelJob();
    // A passing word for the status line: a request the running job keeps
    // from starting, a folder that went from the phone. It goes after
    // noticeTime, when the next one comes, and a job's when the job ends.
    std::optional<QString> notice() const;
    // The same, in the parts a narrow line may shorten.
    const std::optional<Notice>& noticeParts() const { return m_notice; }
    static constexpr std::chrono::milliseconds noticeTime{8000};
    // While a job runs: says what the request waits for ("Wait for
    // “Deleting…” to finish.") as the notice, beeps when `beep`, and returns
    // true. Every request refused because a job runs is answered here, so
    // that none is dropped with a beep alone, which many desktops never play.
    bool refuseWhileJobRuns(bool beep = true);

    // ---- copies (each runs as the job) ----------------------------------------
    // Copies phone entries of the folder shown to the save folder, asking
    // where first when askWhereToSave is on.
    void download(const QList<RemoteEntry>& entries);
    // The same for entries of the folder `asked` was taken in; nothing but a
    // message when another phone or folder is shown by now.
    void download(const Shown& asked, const QList<RemoteEntry>& entries);
    // Copies phone files into a new private folder and opens each with its
    // application as soon as it has arrived.
    void openOnMac(const QList<RemoteEntry>& entries);
    // Lets the user pick files and folders, then uploads them; no folder
    // means the current one.
    void chooseAndUpload(const std::optional<QString>& folder = std::nullopt);
    // Copies computer files and folders into a phone folder (no folder: the
    // current one), asking first about the names that folder holds, hidden
    // ones included; the folder shown is listed again afterwards, whatever
    // the outcome.
    void upload(const QList<QUrl>& items, const std::optional<QString>& folder = std::nullopt);

    // ---- changing the folder (BrowserFileOps.cpp; each runs as the job) -------
    // Asks, then removes the entries one by one; the first failure stops.
    // While a job runs it is refused without asking.
    void remove(const QList<RemoteEntry>& entries);
    void remove(const Shown& asked, const QList<RemoteEntry>& entries);
    // The name as typed; it is trimmed and checked first. While the prompt is
    // shown, only on the phone it was opened for. Made in the folder shown,
    // which must still be there: a folder gone from the phone is not made again.
    void newFolder(const QString& name);
    void rename(const RemoteEntry& entry, const QString& name);

    // ---- drops and installs (BrowserDrops.cpp) ----------------------------------
    // Lets the user pick app packages and installs them.
    void installAPK();
    // Computer files dropped on a phone folder (none: the folder shown). App
    // packages alone, on a ready adb phone, may be installed instead.
    void handleDrop(const QList<QUrl>& urls, const std::optional<QString>& folder = std::nullopt);
    // A drop on the phone and folder `asked` was taken in at the drop.
    void handleDrop(const Shown& asked, const QList<QUrl>& urls, const std::optional<QString>& folder = std::nullopt);
    // Installs the packages one after another on the chosen phone.
    void install(const QList<QUrl>& urls);

    // ---- screen captures (BrowserCapture.cpp) -----------------------------------
    void takeScreenshot();
    // The same for that phone, chosen or not (the one a window mirrors).
    void takeScreenshotOf(const QString& serial);
    // Starts a recording of the chosen phone, or asks it to stop the one it
    // records. Each phone records on its own; recordingStarted() is the
    // chosen phone's.
    void toggleRecording();
    void toggleRecordingOn(const QString& serial);
    // Whether a recording runs, waits for its copy or is being copied.
    bool hasRecordingsToKeep() const;
    // Quitting: running recordings are stopped and copied first (as the
    // job, which Stop may end); `quit` runs once none is left to copy.
    // Asked again meanwhile, what is not copied stays on the phone, the
    // user is told where, and `quit` runs at once.
    void quitAfterRecordings(std::function<void()> quit);
    // Where both go on the phone and what the files on the computer are called.
    static QString captureName(const QString& phone, const QString& kind, const QDateTime& when,
                               const QString& extension);

    // ---- to other applications (BrowserDragOut.cpp) ------------------------------
    // The phone paths of the entries, one a line, on the clipboard.
    void copyPaths(const QList<RemoteEntry>& entries);
    // The drag item of entries of the folder shown; the caller owns it and
    // may delete it at any time. The entries are copied from the phone only
    // when a receiver asks for the files, each into a new folder of its
    // own; every later request of the same drag gets those copies. A
    // request waits for the copies at most dragOutWait, without running
    // events; a drag that ends with a request unanswered sets the error
    // message, as does a copy that failed. Entries whose names can't be
    // carried are refused with a sentence, and the item carries nothing.
    QMimeData* itemProvider(const QList<RemoteEntry>& entries);
    QMimeData* itemProvider(const RemoteEntry& entry);
    // Less than receivers wait for dropped data (about five seconds for Qt
    // programs), so that they get an answer rather than give up.
    static constexpr std::chrono::milliseconds defaultDragOutWait{4000};
    void setDragOutWait(std::chrono::milliseconds wait);

    // ---- free names --------------------------------------------------------------
    // "photo.jpg", 2 gives "photo 2.jpg"; "Notes" gives "Notes 2"; a leading
    // dot does not start an extension (".nomedia 2"). A name that would
    // pass 255 bytes is cut short before the number.
    static QString numbered(const QString& name, int number);
    // `path` when nothing is there, else the first numbered name beside it
    // that is free. A dangling symbolic link counts as something. Throws
    // SystemError when none of the first freeNameTries numbers is free.
    static QString uniqueLocalURL(const QString& path);
    // The same, passing over the numbered names whose browserpaths::nameKey
    // is in `reserved` (names a copy is about to make).
    static QString uniqueLocalURL(const QString& path, const QSet<QString>& reserved);
    // The first numbered form of `name` that `taken` says is free (false);
    // `taken` answers none when it can't tell. Throws Cancelled once `cancel`
    // is, and a failure naming the item when the phone can't tell or no
    // number up to freeNameTries is free.
    static QString uniqueRemoteName(const QString& name,
                                    const std::function<std::optional<bool>(const QString&)>& taken,
                                    const Cancel& cancel);
    // How many numbers a free-name search tries before it gives up.
    static constexpr int freeNameTries = 10000;
    // Removes from the phone folder the working files of ours that no copy
    // of this process uses any more (another owner's are left alone), and
    // returns its entries without the working files of copies to the
    // phone, of whichever owner (those we kept after a failed rename stay).
    static std::vector<RemoteEntry> removeStaleWorkingFiles(PhoneFiles& phone, const QString& folder,
                                                            std::vector<RemoteEntry> entries, const Cancel& cancel);

    // What a phone's working items that a copy could not remove are
    // recorded under: its serial and transport.
    static QString leftoverKey(const QString& serial, Device::Transport transport);
    // Removes, off the GUI thread and within a bound, the recorded working
    // items of the chosen phone when it is ready; what can't go now stays
    // recorded. Never the job: no status, no beep. `finished` runs once done.
    void removeLeftovers(std::function<void()> finished = {});
    void removePhoneLeftovers(std::function<void()> finished);
    // The computer's part of it, then `next`: what killed copies left goes,
    // and a file of the person's they had set aside goes back to its name,
    // or the person is told where it is.
    void removeLocalLeftovers(std::function<void()> next);

    // ---- settings (each written as soon as it is assigned) ---------------------
    bool showHidden() const { return m_showHidden; }
    // Also lists the folder again.
    void setShowHidden(bool show);
    bool askWhereToSave() const { return m_askWhereToSave; }
    void setAskWhereToSave(bool ask);
    bool revealAfterCopy() const { return m_revealAfterCopy; }
    void setRevealAfterCopy(bool reveal);
    // The parts a folder merged on the phone is sent in (tests make them small).
    void setPushBatchLimits(const PushBatchLimits& limits) { m_pushBatchLimits = limits; }
    bool keepRunningInMenuBar() const { return m_keepRunningInMenuBar; }
    void setKeepRunningInMenuBar(bool keep);
    bool openWhenConnected() const { return m_openWhenConnected; }
    void setOpenWhenConnected(bool open);
    bool autoReconnectWireless() const { return m_autoReconnectWireless; }
    void setAutoReconnectWireless(bool reconnect);
    const PhoneNames& pairedPhones() const { return m_pairedPhones; }
    void setPairedPhones(const PhoneNames& phones);
    ViewMode viewMode() const { return m_viewMode; }
    void setViewMode(ViewMode mode);
    const QString& saveFolder() const { return m_saveFolder; }
    void setSaveFolder(const QString& folder);

    WirelessDiscovery& discovery() const { return *m_discovery; }

Q_SIGNALS:
    void devicesChanged();
    // A pass of the phone list has ended, whether or not the list changed.
    void devicesListed();
    void selectedSerialChanged();
    void deviceInfoChanged();
    void adbMissingChanged();
    void pathChanged();
    void entriesChanged();
    void isLoadingChanged();
    void selectionChanged();
    void searchTextChanged();
    void sortOrderChanged();
    void showingNewFolderChanged();
    void showingWirelessChanged();
    void renamingChanged();
    void recordingStartedChanged();
    // Any phone's recording started or ended.
    void recordingsChanged();
    void jobChanged();
    void errorMessageChanged();
    void noticeChanged();
    void showHiddenChanged();
    void askWhereToSaveChanged();
    void revealAfterCopyChanged();
    void keepRunningInMenuBarChanged();
    void openWhenConnectedChanged();
    void autoReconnectWirelessChanged();
    void pairedPhonesChanged();
    void windowRequestChanged();
    void conflictingAppsChanged();
    void viewModeChanged();
    void saveFolderChanged();
    // A package was installed on the phone `serial`: lists of its apps are out of date.
    void appsInstalled(const QString& serial);

    void visibleEntriesChanged();
    void historyChanged();

private:
    struct PollLists;

    void pollOnce();
    void mergePass(PollLists lists, std::function<void()> finished);
    void finishPass(QList<Device> list, std::function<void()> finished);
    void endPass(std::function<void()> finished);
    QList<Device> oneEntryPerPhone(const QList<Device>& list) const;
    QString identity(const Device& device) const;
    void autoReconnect();
    // Wi-Fi connection attempts, queued by address (BrowserWireless.cpp).
    struct ConnectAttempt;
    struct ConnectOutcome;
    using AttemptPtr = std::shared_ptr<ConnectAttempt>;
    void queueAttempt(const AttemptPtr& attempt);
    void beginAttempt(const AttemptPtr& attempt);
    void stopAttempt(const AttemptPtr& attempt);
    void attemptAnswered(const AttemptPtr& attempt, const ConnectOutcome& outcome);
    void removeLeftover(const AttemptPtr& attempt, const QString& address);
    void endTurn(const AttemptPtr& attempt);

    bool isShown(const Shown& asked, bool folderToo) const;
    // The sentence refusing the first entry of the phone shown that can't be
    // named to it (a place that isn't one item, or a name adb can't send);
    // none when every entry can be `done`.
    std::optional<QString> refusal(const QList<RemoteEntry>& entries, const QString& done) const;

    // What to do with items whose names are taken at the destination; one
    // answer for the whole request.
    enum class Conflict { replace, keepBoth, skip, cancel };
    Conflict askAboutConflicts(const QStringList& names, const QString& destination);
    void copyToMac(const Shown& asked, const QList<RemoteEntry>& entries, const QString& folder, bool reveal);
    // Opens a file copied for Open on Mac; says so when nothing can open it.
    void openStaged(const QString& path);
    void uploadTo(const Shown& asked, const QList<QUrl>& items, const std::optional<QString>& folder);
    // Lists the folder again when the copy of an item of it failed because
    // the item is gone from the phone, and the folder is still shown.
    void reloadIfGone(const Shown& asked, const std::exception_ptr& error);
    // Whether the failure says that the item, or the folder it was in, is not
    // on the phone: adb's "No such file" or "does not exist", MTP's missing or
    // stale item, this model's own "isn't on the phone any more".
    bool isGone(const std::exception_ptr& error) const;
    // Shows `text` as the notice; `untilJobEnds` takes it away with the job.
    void say(const Notice& notice, bool untilJobEnds = false);
    void setNotice(const std::optional<Notice>& notice);
    void installOn(const Shown& asked, const QList<QUrl>& urls);

    bool validate(const QString& name);
    // A recording under way on one phone, into a phone file of its own.
    struct Recording {
        Device device;
        QString phoneFile;
        QDateTime started;
        std::unique_ptr<ADBStream> recorder;
        // The recorder's output and exit reach the model through this; cut when it goes.
        std::shared_ptr<jobdetail::Channel> channel;
        QString said; // the recorder's last line
    };
    // A finished recording on its way to the computer.
    struct Take {
        Device device;
        QString phoneFile;
        QDateTime started;
        int status = 0;
        QString said;
        bool stoppedFromOutside = false; // its adb ended by a signal we did not send
    };
    void startRecording(const QString& serial);
    // A stop that finds no recorder on the phone (it has not started yet)
    // is asked again while the recording lasts, `attempt` counting.
    void stopRecording(const QString& serial, int attempt = 0);
    void recorderSaid(const QString& serial, const QStringList& lines);
    void recordingEnded(const QString& serial, const ADBStream::End& end);
    // Starts the next waiting copy when no job runs.
    void copyNextTake();
    void copyRecording(const Take& take);
    // A recording that stays on the phone (or one kept that the phone's
    // recorder ended early): said now, or at the quit.
    // `stopped`: by the person's Stop, which left it on the phone as they chose.
    void recordingNotCopied(const QString& sentence, bool stopped = false);
    // recordingStarted() follows the chosen phone.
    void publishRecording();
    // Everything not copied yet stays on the phone; the quit goes on.
    void leaveRecordingsOnPhone();
    void finishQuit();
    // Runs once the job has ended: a recording's copy that waited for it.
    void jobEnded();
    // Shows a phone; `remember` keeps it as the last phone. The poll's own
    // choices are not the person's and are not remembered.
    void choose(const std::optional<QString>& serial, bool remember);

    // Runs `work` as the one job on a worker thread; while a job runs, the
    // request is refused (refuseWhileJobRuns()). With reloadAfter the folder and the phone's facts
    // are read again once the job has ended, however it ended.
    void startJob(const QString& message, bool cancellable, bool reloadAfter,
                  std::function<void(JobContext&)> work);
    // `failure`: the sentence of what ended the job; none when it ended
    // whole or by the person's Stop. A copy's account is told with it.
    void endJob(const std::optional<QString>& failure, bool reloadAfter);
    // The job's worker reports through here, on the GUI thread.
    friend class JobContext;
    void setJobLine(const std::shared_ptr<jobdetail::Channel>& channel, const QString& message);
    void scheduleProgress(const std::shared_ptr<jobdetail::Channel>& channel);
    void applyProgress();

    void setDevices(const QList<Device>& devices);
    void setConflicts(ConflictingApps::Scan scan);
    void setDeviceInfo(const std::optional<DeviceInfo>& info);
    void setAdbMissing(bool missing);
    void setPath(const QString& path);
    void setEntries(const QList<RemoteEntry>& entries, std::shared_ptr<const VisibleEntries::Keys> keys = nullptr);
    void setIsLoading(bool loading);
    void setRecordingStarted(const std::optional<QDateTime>& started);
    void setJob(const std::optional<Job>& job);
    void raiseWindowRequest();
    void setHistory(const QStringList& back, const QStringList& forward);

    QString lastPathKey() const;
    // Writes the kept copies and recorded working items to the settings when
    // they changed since last written, so that a later run finishes with
    // them; they are read back when the model is made.
    void storeWorkingItems();

    // Published state.
    QList<Device> m_devices;
    std::optional<QString> m_selectedSerial;
    std::optional<DeviceInfo> m_deviceInfo;
    bool m_adbMissing = false;
    QString m_path = QStringLiteral("/sdcard");
    QList<RemoteEntry> m_entries;
    bool m_isLoading = false;
    QSet<QString> m_selection;
    QString m_searchText;
    SortOrder m_sortOrder{SortKey{}};
    bool m_showingNewFolder = false;
    // The phone the new-folder prompt was opened for.
    std::optional<Shown> m_newFolderAsked;
    bool m_showingWireless = false;
    std::optional<RemoteEntry> m_renaming;
    std::optional<QDateTime> m_recordingStarted;
    std::optional<Job> m_job;
    std::optional<QString> m_errorMessage;
    QStringList m_errorDetails;
    bool m_errorIsNote = false;
    std::optional<Notice> m_notice;
    bool m_noticeEndsWithJob = false;
    uint64_t m_noticeCount = 0; // a timer only takes away its own notice
    bool m_showHidden = false;
    bool m_askWhereToSave = true;
    bool m_revealAfterCopy = true;
    bool m_keepRunningInMenuBar = true;
    bool m_openWhenConnected = true;
    bool m_autoReconnectWireless = true;
    PhoneNames m_pairedPhones;
    int m_windowRequest = 0;
    ViewMode m_viewMode = ViewMode::list;
    QString m_saveFolder;
    PushBatchLimits m_pushBatchLimits;

    // Plain state.
    QStringList m_backStack;    // last = most recent
    QStringList m_forwardStack; // last = next one forward
    // The folder shown was opened from its parent's listing and not listed
    // yet, so it is no missing folder: a failure of that first listing is
    // shown, not left for "/sdcard". Cleared by the first listing's answer.
    QString m_openedFolder;
    // By the recording phone's serial.
    std::map<QString, Recording> m_recordings;
    // Finished recordings waiting for the running job, in order, and the one
    // being copied.
    std::deque<Take> m_takesToCopy;
    std::optional<Take> m_takeCopied;
    // While a quit waits for recordings; what stayed on the phone meanwhile.
    std::function<void()> m_quitAfterRecordings;
    bool m_quitting = false;
    QStringList m_leftOnPhone;
    Task m_jobTask;
    // The running job's link to its worker; a report of another job is dropped.
    std::shared_ptr<jobdetail::Channel> m_jobChannel;
    // Progress lands at most once a frame.
    QTimer m_progressTimer;
    QElapsedTimer m_progressApplied;
    std::shared_ptr<Desktop> m_desktop;
    std::optional<ADB> m_adb;
    std::optional<QString> m_selectedPhone; // identity, survives a change of transport
    // The chosen phone that left the list, to be chosen again when it is back
    // ready, unless the person chose another meanwhile.
    std::optional<std::pair<QString, QString>> m_leftPhone; // serial, identity
    // New phones that came while a ready one was shown but were not ready
    // themselves: they arrive once they are ready.
    QSet<QString> m_arrivingWhenReady;
    int m_pollCount = 0;
    QHash<QString, QString> m_deviceNames;
    std::optional<QSet<QString>> m_seenSerials; // none until the first pass ends
    QHash<QString, std::chrono::steady_clock::time_point> m_reconnectAttempts; // by address
    QSet<QString> m_disconnectedByUser;
    QHash<QString, QList<AttemptPtr>> m_connectAttempts; // by address; the first one runs
    QSet<QString> m_serialLookups;
    QHash<QString, QString> m_wirelessSerials; // Wi-Fi serial to hardware serial
    ConflictingApps::Scan m_conflicts; // of the last pass
    QStringList m_conflictingApps; // as the last pass saw them, for the change signal

    // Every reload is numbered; only the newest one's answer is taken, and
    // loading shows while the newest one is under way.
    uint64_t m_listingGeneration = 0;
    Task m_listingTask;
    Task m_pollTask;
    bool m_pollStarted = false;
    Task m_infoTask;
    Task m_leftoverTask;
    Task m_localLeftoverTask;
    bool m_removingLocal = false;
    // Files of the person's that stay hidden, told of once each: the removal
    // is tried again at every poll.
    QSet<QString> m_toldLeftovers;
    // Phones whose recorded working items are being removed, and what waits for that.
    QHash<QString, std::vector<std::function<void()>>> m_removingLeftovers;
    // Where workingnames::store() writes the records: this model's settings.
    uint64_t m_storeToken = 0;
    // workingnames::changes() when last stored; none: to be stored.
    std::optional<uint64_t> m_storedChanges;
    mutable VisibleEntries m_visible;
    std::chrono::milliseconds m_dragOutWait = defaultDragOutWait;

    // Collaborators.
    std::shared_ptr<AdbSource> m_adbSource;
    std::shared_ptr<MtpSource> m_mtpSource;
    std::shared_ptr<Clock> m_clock;
    QSettings* m_settings;
    std::unique_ptr<WirelessDiscovery> m_discovery;
};
