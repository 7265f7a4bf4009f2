#include "BrowserModel.h"

#include "Error.h"

#include <QDir>
#include <QFile>

namespace {

const QString recordingFile = QStringLiteral("/sdcard/vantelorquist-recording.mp4");

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
    QString name = phone;
    name.replace(QLatin1Char('/'), QLatin1Char('-'));
    name.replace(QChar(0), QLatin1Char('-'));
    return name + QLatin1Char(' ') + kind + QLatin1Char(' ')
           + when.toLocalTime().toString(QStringLiteral("yyyy-MM-dd 'at' HH.mm.ss")) + QLatin1Char('.') + extension;
}

void BrowserModel::takeScreenshot()
{
    const std::optional<Device> device = selectedDevice();
    if (!m_adb || !readyOverAdb(device))
        return;
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QString folder = m_saveFolder;
    startJob(QStringLiteral("Taking a screenshot of ") + device->model + QStringLiteral("…"), false, false,
             [=](JobContext& job) {
                 const QByteArray png = source->screenshot(adb, device->serial, job.cancel());
                 makeSaveFolder(folder);
                 const QString path = uniqueLocalURL(
                     folder + QLatin1Char('/')
                     + captureName(device->model, QStringLiteral("Screenshot"), QDateTime::currentDateTime(),
                                   QStringLiteral("png")));
                 QFile file(path);
                 if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write(png) != png.size()
                     || !file.flush()) {
                     const QString reason = file.errorString();
                     file.remove();
                     throw SystemError(QStringLiteral("Couldn't save the screenshot: ") + reason);
                 }
                 file.close();
                 job.post([path](BrowserModel& model) { model.m_desktop->reveal({path}); });
             });
}

void BrowserModel::toggleRecording()
{
    if (m_recordingStarted)
        stopRecording();
    else
        startRecording();
}

void BrowserModel::startRecording()
{
    const std::optional<Device> device = selectedDevice();
    if (!m_adb || !readyOverAdb(device) || m_recorder)
        return;
    // The phone file still belongs to the last recording until its copy ends.
    if (m_recordingToCopy || m_copyingRecording) {
        m_desktop->beep();
        return;
    }
    auto channel = std::make_shared<jobdetail::Channel>(this);
    try {
        // The exit only posts: the stream is released here, never inside its
        // own callback.
        m_recorder = m_adbSource->stream(
            *m_adb,
            {QStringLiteral("-s"), device->serial, QStringLiteral("shell"),
             QStringLiteral("screenrecord --bit-rate 12000000 ") + recordingFile},
            [channel](int) { jobdetail::Channel::post(channel, [](BrowserModel& model) { model.recordingEnded(); }); });
    } catch (const Error& error) {
        setErrorMessage(error.description());
        return;
    }
    m_recorderChannel = channel;
    m_recordingDevice = device;
    setRecordingStarted(QDateTime::currentDateTimeUtc());
}

void BrowserModel::stopRecording()
{
    if (!m_adb || !m_recordingDevice)
        return;
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QStringList args{QStringLiteral("-s"), m_recordingDevice->serial, QStringLiteral("shell"),
                           QStringLiteral("pkill -INT screenrecord")};
    // Not a job: it must reach the phone while a copy runs.
    Task::run(
        this, [=](const Cancel& cancel) { source->run(adb, args, cancel); }, [] {}, [](const std::exception_ptr&) {});
}

void BrowserModel::recordingEnded()
{
    if (!m_recordingDevice)
        return;
    const Device device = *m_recordingDevice;
    if (m_recorderChannel)
        m_recorderChannel->cut();
    m_recorderChannel.reset();
    m_recorder.reset();
    m_recordingDevice.reset();
    setRecordingStarted(std::nullopt);
    if (!m_adb)
        return;
    // The video waits on the phone until the running job is done.
    if (m_job) {
        m_recordingToCopy = device;
        return;
    }
    copyRecording(device);
}

void BrowserModel::copyRecording(const Device& device)
{
    if (!m_adb)
        return;
    const ADB adb = *m_adb;
    const std::shared_ptr<AdbSource> source = m_adbSource;
    const QString folder = m_saveFolder;
    m_copyingRecording = true;
    startJob(QStringLiteral("Copying the screen recording from ") + device.model + QStringLiteral("…"), false, false,
             [=](JobContext& job) {
                 makeSaveFolder(folder);
                 const QString path = uniqueLocalURL(
                     folder + QLatin1Char('/')
                     + captureName(device.model, QStringLiteral("Recording"), QDateTime::currentDateTime(),
                                   QStringLiteral("mp4")));
                 source->run(adb, {QStringLiteral("-s"), device.serial, QStringLiteral("pull"), recordingFile, path},
                             job.cancel());
                 try {
                     source->run(adb,
                                 {QStringLiteral("-s"), device.serial, QStringLiteral("shell"),
                                  QStringLiteral("rm -f ") + recordingFile},
                                 job.cancel());
                 } catch (const std::exception&) {
                     // Left on the phone; the next recording overwrites it.
                 }
                 job.post([path](BrowserModel& model) { model.m_desktop->reveal({path}); });
             });
}

void BrowserModel::jobEnded()
{
    // Another job took its place at once: its own end comes later.
    if (m_job)
        return;
    if (m_copyingRecording) {
        m_copyingRecording = false;
        return;
    }
    if (m_recordingToCopy) {
        const Device device = *m_recordingToCopy;
        m_recordingToCopy.reset();
        copyRecording(device);
    }
}
