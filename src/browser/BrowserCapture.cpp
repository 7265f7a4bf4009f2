#include "BrowserModel.h"

#include "BrowserPaths.h"
#include "Error.h"
#include "Finished.h"

#include "ADBError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTimer>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace {

// How often, and how far apart, a stop is asked again while the phone's
// recorder has not started: about half a minute in all.
constexpr int stopAttempts = 150;
constexpr std::chrono::milliseconds stopRetryInterval{200};

// Each recording has a phone file of its own, so that one that could not be
// copied is never overwritten by the next.
QString recordingFile(const QDateTime& started)
{
    return QStringLiteral("/sdcard/vantelorquist-recording-")
           + started.toLocalTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz")) + QStringLiteral(".mp4");
}

QString stayedOnPhone(const QString& phoneFile)
{
    return QStringLiteral("The screen recording stayed on the phone as “") + phoneFile + QStringLiteral("”.");
}

// A recorder whose adb ended goes on writing for a while (its shell ended
// from outside, by an adb server restart); its file is copied once it has
// ended. How often the phone is asked, when the recorder is asked to stop as
// our Stop asks it, and when the video is left on the phone.
constexpr std::chrono::milliseconds recorderPoll{200};
constexpr std::chrono::seconds recorderAskAfter{3};
constexpr std::chrono::seconds recorderLimit{20};
// Where the phone can't tell whether its recorder runs: the file is final
// once its size has held this long.
constexpr std::chrono::seconds recorderQuiet{2};

// Matches this recording's recorder, not the shell that looks for it.
QString recorderPattern(const QString& phoneFile)
{
    return QStringLiteral("[s]creenrecord --bit-rate 12000000 ") + phoneFile;
}

// What the phone says of a recording: whether its recorder runs (none: the
// phone can't tell) and the file's size (none: no file).
struct RecorderState {
    std::optional<bool> running;
    std::optional<qint64> size;
};

RecorderState askRecorder(AdbSource& source, const ADB& adb, const QString& serial, const QString& phoneFile,
                          const Cancel& cancel)
{
    // Ends with a line of its own: without it (adb may end a dropped shell
    // with status 0 and no output) nothing is known.
    QString answer = source.run(
        adb,
        {QStringLiteral("-s"), serial, QStringLiteral("shell"),
         QStringLiteral("pgrep -f ") + ADB::quote(recorderPattern(phoneFile))
             + QStringLiteral(" >/dev/null 2>&1; r=$?; s=$(stat -c %s ") + ADB::quote(phoneFile)
             + QStringLiteral(" 2>/dev/null); echo \"recorder=$r size=${s:--}\"")},
        cancel);
    answer.remove(QLatin1Char('\r')); // a shell on a terminal ends its lines so
    static const QRegularExpression line(QStringLiteral("^recorder=([0-9]{1,3}) size=([0-9]{1,18}|-)$"),
                                         QRegularExpression::MultilineOption);
    QRegularExpressionMatch match;
    for (QRegularExpressionMatchIterator it = line.globalMatch(answer); it.hasNext();)
        match = it.next();
    if (!match.hasMatch())
        throw ADBError::failed(QStringLiteral("The phone didn't answer."));
    RecorderState state;
    const QString found = match.captured(1);
    if (found == QStringLiteral("0"))
        state.running = true;
    else if (found == QStringLiteral("1"))
        state.running = false;
    if (match.captured(2) != QStringLiteral("-"))
        state.size = match.captured(2).toLongLong();
    return state;
}

// Waits `pause`, or less when the job is stopped.
void pauseUnlessStopped(std::chrono::milliseconds pause, const Cancel& cancel)
{
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, cancel.token(), pause, [] { return false; });
    cancel.check();
}

// The recording once its recorder has ended on the phone; throws a sentence
// when it has not within the bound.
RecorderState recorderEnded(AdbSource& source, const ADB& adb, const QString& serial, const QString& phoneFile,
                            const Cancel& cancel)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    bool asked = false;
    std::optional<std::pair<std::optional<qint64>, Clock::time_point>> quietSince;
    for (;;) {
        const RecorderState state = askRecorder(source, adb, serial, phoneFile, cancel);
        const Clock::time_point now = Clock::now();
        if (state.running == false)
            return state;
        if (!state.running) {
            if (!quietSince || quietSince->first != state.size)
                quietSince.emplace(state.size, now);
            else if (now - quietSince->second >= recorderQuiet)
                return state;
        } else if (!asked && now - start >= recorderAskAfter) {
            asked = true;
            try {
                source.run(adb,
                           {QStringLiteral("-s"), serial, QStringLiteral("shell"),
                            QStringLiteral("pkill -INT -f ") + ADB::quote(recorderPattern(phoneFile))},
                           cancel);
            } catch (const Cancelled&) {
                throw;
            } catch (const Error&) {
                // Asked again by nobody; the bound below still holds.
            }
        }
        if (now - start >= recorderLimit)
            throw ADBError::failed(QStringLiteral("The phone's recorder didn't stop."));
        pauseUnlessStopped(recorderPoll, cancel);
    }
}

// Whole writes, so that a short write reports the system's reason (a full
// disk) rather than none.
void writeNew(const QString& path, const QByteArray& bytes, const QString& what)
{
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        throw SystemError::fromErrno(what, errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(name.constData());
            throw SystemError::fromErrno(what, error);
        }
        done += n;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(name.constData());
        throw SystemError::fromErrno(what, error);
    }
}

bool readyOverAdb(const std::optional<Device>& device)
{
    return device && device->isReady() && device->transport == Device::Transport::adb;
}

// A new home may have no Downloads folder yet; a copy to the computer makes it too.
void makeSaveFolder(const QString& folder)
{
    if (!QDir().mkpath(folder))
        throw SystemError(QStringLiteral("Couldn't create the folder ") + folder + QStringLiteral("."));
}

} // namespace

QString BrowserModel::captureName(const QString& phone, const QString& kind, const QDateTime& when,
                                  const QString& extension)
{
    // The phone's owner names it freely; the file must still land in the folder.
    return browserpaths::nameFromPhone(phone, QLatin1Char(' ') + kind + QLatin1Char(' ')
                                                  + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss"))
                                                  + QLatin1Char('.') + extension);
}

void BrowserModel::takeScreenshot()
{
    if (m_selectedSerial)
        takeScreenshotOf(*m_selectedSerial);
}

void BrowserModel::takeScreenshotOf(const QString& serial)
{
    const std::optional<Device> device = deviceWithSerial(serial);
    if (!m_adb || !readyOverAdb(device))
        return;
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QString folder = m_saveFolder;
    startJob(QStringLiteral("Taking a screenshot of ") + device->model + QStringLiteral("…"), true, false,
             [=](JobContext& job) {
                 const QByteArray png = source->screenshot(adb, device->serial, job.cancel());
                 makeSaveFolder(folder);
                 const QString path = uniqueLocalURL(
                     folder + QLatin1Char('/')
                     + captureName(device->model, QStringLiteral("Screenshot"), QDateTime::currentDateTime(),
                                   QStringLiteral("png")));
                 writeNew(path, png, QStringLiteral("Couldn't save the screenshot"));
                 job.post([path](BrowserModel& model) { model.m_desktop->reveal({path}); });
             });
}

void BrowserModel::toggleRecording()
{
    if (m_selectedSerial)
        toggleRecordingOn(*m_selectedSerial);
}

void BrowserModel::toggleRecordingOn(const QString& serial)
{
    if (m_recordings.count(serial))
        stopRecording(serial);
    else
        startRecording(serial);
}

std::optional<QDateTime> BrowserModel::recordingStartedOn(const QString& serial) const
{
    const auto recording = m_recordings.find(serial);
    if (recording == m_recordings.end())
        return std::nullopt;
    return recording->second.started;
}

bool BrowserModel::hasRecordingsToKeep() const
{
    return !m_recordings.empty() || !m_takesToCopy.empty() || m_takeCopied.has_value();
}

void BrowserModel::startRecording(const QString& serial)
{
    const std::optional<Device> device = deviceWithSerial(serial);
    if (!m_adb || !readyOverAdb(device) || m_recordings.count(serial) || m_quitting)
        return;
    const QDateTime started = QDateTime::currentDateTimeUtc();
    const QString phoneFile = recordingFile(started);
    auto channel = std::make_shared<jobdetail::Channel>(this);
    std::unique_ptr<ADBStream> recorder;
    try {
        // The exit only posts: the stream is released here, never inside its
        // own callback.
        recorder = m_adbSource->stream(
            *m_adb,
            {QStringLiteral("-s"), serial, QStringLiteral("shell"),
             QStringLiteral("screenrecord --bit-rate 12000000 ") + phoneFile},
            [channel, serial](const QStringList& lines) {
                jobdetail::Channel::post(channel, [serial, lines](BrowserModel& model) { model.recorderSaid(serial, lines); });
            },
            [channel, serial](const ADBStream::End& end) {
                jobdetail::Channel::post(channel,
                                         [serial, end](BrowserModel& model) { model.recordingEnded(serial, end); });
            });
    } catch (const Error& error) {
        setErrorMessage(error.description());
        return;
    }
    m_recordings.emplace(serial, Recording{*device, phoneFile, started, std::move(recorder), channel, {}});
    publishRecording();
    Q_EMIT recordingsChanged();
}

void BrowserModel::stopRecording(const QString& serial, int attempt)
{
    const auto recording = m_recordings.find(serial);
    if (!m_adb || recording == m_recordings.end())
        return;
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QString phoneFile = recording->second.phoneFile;
    const QStringList args{QStringLiteral("-s"), serial, QStringLiteral("shell"), QStringLiteral("pkill -INT screenrecord")};
    // A stop asked for right after the start can reach the phone before its
    // recorder runs; pkill then finds nothing, and the recording would go on.
    const auto again = [this, serial, phoneFile, attempt](const std::exception_ptr& error) {
        try {
            std::rethrow_exception(error);
        } catch (const Cancelled&) {
            return;
        } catch (const NoThreadError& noThread) {
            // Nothing reached the phone; the recording goes on until asked again.
            setErrorMessage(noThread.description());
            return;
        } catch (...) {
        }
        if (attempt + 1 >= stopAttempts)
            return;
        QTimer::singleShot(stopRetryInterval, this, [this, serial, phoneFile, attempt] {
            const auto still = m_recordings.find(serial);
            if (still != m_recordings.end() && still->second.phoneFile == phoneFile)
                stopRecording(serial, attempt + 1);
        });
    };
    // Not a job: it must reach the phone while a copy runs.
    Task::run(this, [=](const Cancel& cancel) { source->run(adb, args, cancel); }, [] {}, again);
}

void BrowserModel::recorderSaid(const QString& serial, const QStringList& lines)
{
    const auto recording = m_recordings.find(serial);
    if (recording == m_recordings.end())
        return;
    // The phone's words end up in a sentence: the last line, and not all of a long one.
    for (const QString& line : lines) {
        const QString words = ADB::clean(line);
        if (!words.isEmpty())
            recording->second.said = words.left(300);
    }
}

void BrowserModel::recordingEnded(const QString& serial, const ADBStream::End& end)
{
    const auto found = m_recordings.find(serial);
    if (found == m_recordings.end())
        return;
    Recording recording = std::move(found->second);
    m_recordings.erase(found);
    recording.channel->cut();
    recording.recorder.reset();
    publishRecording();
    Q_EMIT recordingsChanged();
    m_takesToCopy.push_back(Take{recording.device, recording.phoneFile, recording.started, end.code(), recording.said,
                                 end.stoppedFromOutside()});
    copyNextTake();
}

void BrowserModel::copyNextTake()
{
    // The video waits on the phone until the running job is done.
    if (m_job || m_takesToCopy.empty() || !m_adb)
        return;
    const Take take = m_takesToCopy.front();
    m_takesToCopy.pop_front();
    copyRecording(take);
}

void BrowserModel::copyRecording(const Take& take)
{
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QString folder = m_saveFolder;
    m_takeCopied = take;
    // Stop leaves it on the phone.
    startJob(QStringLiteral("Copying the screen recording from ") + take.device.model + QStringLiteral("…"), true,
             false, [=](JobContext& job) {
                 const QString serial = take.device.serial;
                 const QString stayed = stayedOnPhone(take.phoneFile);
                 const auto notCopied = [&job](const QString& sentence, bool stopped = false) {
                     job.post([sentence, stopped](BrowserModel& model) { model.recordingNotCopied(sentence, stopped); });
                 };
                 const auto removeFromPhone = [&] {
                     try {
                         source->run(adb, {QStringLiteral("-s"), serial, QStringLiteral("shell"),
                                           QStringLiteral("rm -f ") + ADB::quote(take.phoneFile)},
                                     job.cancel());
                     } catch (const std::exception&) {
                         // Left on the phone under its own name.
                     }
                 };
                 // adb ended by someone else's signal is no Stop of the person's.
                 const auto notCopiedFor = [&](const std::exception_ptr& failure) {
                     try {
                         std::rethrow_exception(failure);
                     } catch (const Cancelled&) {
                         if (job.cancel().isCancelled()) {
                             notCopied(stayed, true);
                             throw;
                         }
                         notCopied(stayed + QStringLiteral(" adb was stopped before it answered."));
                     } catch (const Error& error) {
                         notCopied(stayed + QLatin1Char(' ') + error.description());
                     }
                 };
                 RecorderState ended;
                 try {
                     ended = recorderEnded(*source, adb, serial, take.phoneFile, job.cancel());
                     if (!ended.size || *ended.size == 0) {
                         // The recorder failed, or the connection that ran it
                         // ended before it wrote anything.
                         removeFromPhone();
                         QString sentence = QStringLiteral("The phone couldn't record its screen.");
                         if (take.said == ADB::phoneLeftSentence())
                             sentence += QLatin1Char(' ') + take.said;
                         else if (take.stoppedFromOutside && take.said.isEmpty())
                             // Not the phone's failing: its recorder went with adb.
                             sentence += QStringLiteral(" adb was stopped before it answered.");
                         else if (!take.said.isEmpty())
                             sentence += QStringLiteral(" It said: ") + take.said;
                         notCopied(sentence);
                         return;
                     }
                     makeSaveFolder(folder);
                 } catch (const Error&) {
                     return notCopiedFor(std::current_exception());
                 }
                 const QString path = uniqueLocalURL(
                     folder + QLatin1Char('/')
                     + captureName(take.device.model, QStringLiteral("Recording"), take.started, QStringLiteral("mp4")));
                 // Under a name of its own until it is whole: a copy that stops
                 // leaves nothing under the recording's name.
                 const QString part = uniqueLocalURL(
                     folder + QLatin1Char('/') + browserpaths::temporaryName(QFileInfo(path).fileName(), true));
                 // Recorded before it is made, so that the next start removes
                 // what a killed process left of it.
                 // Held while it is made, so that no clean-up takes it for a leftover.
                 const browserpaths::HeldWorkingName held(browserpaths::lastName(part));
                 browserpaths::workingnames::recordLocal(part);
                 const auto unrecorded = qScopeGuard(
                     [&part] { browserpaths::workingnames::forgetLocalIfGone(part); });
                 try {
                     source->run(adb, {QStringLiteral("-s"), serial, QStringLiteral("pull"), take.phoneFile, part},
                                 job.cancel());
                     job.cancel().check();
                     // Only the phone's whole final file lets the phone's go.
                     const RecorderState after = askRecorder(*source, adb, serial, take.phoneFile, job.cancel());
                     if (QFileInfo(part).size() != *ended.size || after.size != ended.size || after.running == true)
                         throw ADBError::failed(QStringLiteral("The copy didn't match the video on the phone."));
                     if (browserpaths::existsLocally(path) || !QFile::rename(part, path))
                         throw SystemError(QStringLiteral("Couldn't save the recording as ") + path + QLatin1Char('.'));
                 } catch (const Error&) {
                     QFile::remove(part);
                     return notCopiedFor(std::current_exception());
                 }
                 removeFromPhone();
                 job.post([path](BrowserModel& model) { model.m_desktop->reveal({path}); });
                 // A recorder that failed midway (a full phone's encoder) leaves
                 // the video so far: kept, and its end told in the phone's words.
                 if (take.status != 0 && !take.stoppedFromOutside && !take.said.isEmpty())
                     notCopied(take.said == ADB::phoneLeftSentence()
                                   ? QStringLiteral("The screen recording ended early. ") + take.said
                                   : QStringLiteral("The screen recording ended early with an error on the phone. "
                                                    "It said: ")
                                         + take.said);
             });
}

void BrowserModel::recordingNotCopied(const QString& sentence, bool stopped)
{
    if (m_quitting) {
        if (m_quitAfterRecordings)
            m_leftOnPhone.append(sentence);
        return;
    }
    if (!stopped) {
        setErrorMessage(sentence);
        return;
    }
    // What the person's own Stop did, not a fault: told where the video
    // is, as quitting tells it. Once the job has ended, so that the note
    // waits on nothing.
    QTimer::singleShot(0, this, [this, sentence] {
        Desktop::Question note;
        note.message = sentence;
        note.buttons = {QStringLiteral("OK")};
        m_desktop->ask(note);
    });
}

void BrowserModel::publishRecording()
{
    std::optional<QDateTime> started;
    if (m_selectedSerial) {
        const auto recording = m_recordings.find(*m_selectedSerial);
        if (recording != m_recordings.end())
            started = recording->second.started;
    }
    setRecordingStarted(started);
}

void BrowserModel::quitAfterRecordings(std::function<void()> quit)
{
    if (m_quitting && !m_quitAfterRecordings) {
        call(quit);
        return;
    }
    if (m_quitAfterRecordings) {
        // Asked again: nothing more is waited for.
        leaveRecordingsOnPhone();
        finishQuit();
        return;
    }
    if (!hasRecordingsToKeep()) {
        call(quit);
        return;
    }
    m_quitting = true;
    m_quitAfterRecordings = std::move(quit);
    // What quitting stops anyway; the recordings' copies wait for it.
    if (m_job && !m_takeCopied)
        cancelJob();
    if (m_job && m_takeCopied) {
        Job job = *m_job;
        job.cancellable = true;
        setJob(job);
    }
    QStringList recording;
    for (const auto& [serial, running] : m_recordings)
        recording.append(serial);
    for (const QString& serial : std::as_const(recording))
        stopRecording(serial);
}

void BrowserModel::leaveRecordingsOnPhone()
{
    const bool recording = !m_recordings.empty();
    for (auto& [serial, running] : m_recordings) {
        running.channel->cut();
        m_leftOnPhone.append(stayedOnPhone(running.phoneFile));
    }
    m_recordings.clear();
    publishRecording();
    if (recording)
        Q_EMIT recordingsChanged();
    for (const Take& take : m_takesToCopy)
        m_leftOnPhone.append(stayedOnPhone(take.phoneFile));
    m_takesToCopy.clear();
    if (m_takeCopied) {
        m_leftOnPhone.append(stayedOnPhone(m_takeCopied->phoneFile));
        m_takeCopied.reset();
        cancelJob();
    }
}

void BrowserModel::finishQuit()
{
    const std::function<void()> quit = std::exchange(m_quitAfterRecordings, nullptr);
    const QStringList notes = std::exchange(m_leftOnPhone, {});
    if (!notes.isEmpty()) {
        Desktop::Question question;
        question.message = notes.join(QLatin1Char('\n'));
        question.buttons = {QStringLiteral("OK")};
        m_desktop->ask(question);
    }
    call(quit);
    m_quitting = false;
}

void BrowserModel::jobEnded()
{
    // Another job took its place at once: its own end comes later.
    if (m_job)
        return;
    m_takeCopied.reset();
    copyNextTake();
    if (m_quitAfterRecordings && !hasRecordingsToKeep())
        finishQuit();
}
