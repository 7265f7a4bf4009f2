#include "MirrorSession.h"

#include "Error.h"
#include "MirrorDecoder.h"
#include "MirrorFrameSink.h"
#include "StoredValue.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSettings>

#include <mutex>

namespace {
const QString soundKey = QStringLiteral("mirrorSound");
const QString clipboardKey = QStringLiteral("mirrorClipboard");
} // namespace

// Reader threads post through this; the session's destructor closes it, so
// nothing is ever posted to a destroyed session.
struct MirrorSession::Relay {
    std::mutex lock;
    MirrorSession* session = nullptr;
};

MirrorSession::MirrorSession(ADB adb, QString serial, QString name, QSettings* settings, QObject* parent)
    : QObject(parent), m_serial(std::move(serial)), m_name(std::move(name)),
      m_sink(std::make_shared<MirrorFrameSink>()), m_adb(std::move(adb)),
      m_playsSound(storedBool(*settings, soundKey).value_or(true)),
      m_syncsClipboard(storedBool(*settings, clipboardKey).value_or(true)), m_settings(settings),
      m_relay(std::make_shared<Relay>())
{
    m_relay->session = this;
    m_statsTimer.setTimerType(Qt::PreciseTimer);
    m_statsTimer.setInterval(1000);
    connect(&m_statsTimer, &QTimer::timeout, this, &MirrorSession::publishFrameRate);
}

MirrorSession::~MirrorSession()
{
    std::lock_guard lock(m_relay->lock);
    m_relay->session = nullptr;
}

void MirrorSession::setPhase(Phase phase)
{
    if (m_phase == phase)
        return;
    m_phase = std::move(phase);
    Q_EMIT phaseChanged();
}

void MirrorSession::post(const std::shared_ptr<Relay>& relay, quint64 generation,
                         std::function<void(MirrorSession&)> followUp)
{
    std::lock_guard lock(relay->lock);
    if (!relay->session)
        return;
    MirrorSession* session = relay->session;
    // Queued calls to an object die with it, so the pointer is only used alive.
    QMetaObject::invokeMethod(
        session,
        [session, generation, followUp = std::move(followUp)] {
            // An event of a connection already replaced (a restart) is stale.
            if (session->m_connection && session->m_generation == generation)
                followUp(*session);
        },
        Qt::QueuedConnection);
}

void MirrorSession::start()
{
    if (m_connection)
        return;
    setPhase(Phase::connecting());
    m_sink->reset();

    const quint64 generation = ++m_generation;
    auto onEvent = [relay = m_relay, sink = m_sink, generation](const MirrorConnection::Event& event) {
        using Event = MirrorConnection::Event;
        if (const auto* frame = std::get_if<Event::Frame>(&event.value)) {
            const MirrorFrameSink::Result shown = sink->enqueue(frame->sample);
            if (shown.needsKeyFrame)
                post(relay, generation, [](MirrorSession& s) { s.send(ControlMessage::resetVideo()); });
            if (shown.isFirst)
                post(relay, generation, [](MirrorSession& s) { s.setPhase(Phase::streaming()); });
        } else if (const auto* size = std::get_if<Event::Size>(&event.value)) {
            const QSizeF value(size->width, size->height);
            post(relay, generation, [value](MirrorSession& s) {
                if (s.m_videoSize != value) {
                    s.m_videoSize = value;
                    Q_EMIT s.videoSizeChanged();
                }
            });
        } else if (const auto* clipboard = std::get_if<Event::Clipboard>(&event.value)) {
            post(relay, generation, [text = clipboard->text](MirrorSession& s) { s.receiveClipboard(text); });
        } else if (const auto* ended = std::get_if<Event::Ended>(&event.value)) {
            post(relay, generation, [error = ended->error](MirrorSession& s) {
                s.stop();
                s.setPhase(Phase::stopped(failureText(error).value_or(QStringLiteral("Screen mirroring stopped."))));
            });
        }
    };

    auto connection = MirrorConnection::create(m_adb, m_serial, m_playsSound, std::move(onEvent), m_options);
    m_connection = connection;
    m_startTask = Task::run(
        this,
        [connection](const Cancel& cancel) {
            // The decoder is loaded here, off the GUI thread, the first time
            // mirroring starts; without it the phone is not touched.
            MirrorDecoderModule::load();
            connection->start(cancel);
        },
        [] {},
        [this, connection](const std::exception_ptr& error) {
            if (m_connection != connection)
                return; // replaced meanwhile: its failure is no longer news
            const std::optional<QString> text = failureText(error);
            if (!text)
                return;
            stop();
            setPhase(Phase::stopped(*text));
        });
    m_statsTimer.start();
}

void MirrorSession::stop()
{
    m_startTask.cancel();
    if (auto connection = std::exchange(m_connection, nullptr))
        connection->stop();
    // The frame-rate timer publishes once more, then ends (publishFrameRate).
}

void MirrorSession::publishFrameRate()
{
    const int count = m_sink->takeFrameCount();
    if (!m_connection)
        m_statsTimer.stop();
    if (count != m_framesPerSecond) {
        m_framesPerSecond = count;
        Q_EMIT framesPerSecondChanged();
    }
}

void MirrorSession::receiveClipboard(const QString& text)
{
    if (!m_syncsClipboard)
        return;
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard->text() == text)
        return;
    clipboard->clear();
    clipboard->setText(text);
    ++m_clipboardArrivals;
    Q_EMIT clipboardArrivalsChanged();
}

void MirrorSession::setPlaysSound(bool on)
{
    if (on == m_playsSound)
        return;
    m_playsSound = on;
    m_settings->setValue(soundKey, on);
    Q_EMIT playsSoundChanged();
    stop();
    start();
}

void MirrorSession::setSyncsClipboard(bool on)
{
    m_settings->setValue(clipboardKey, on);
    if (on == m_syncsClipboard)
        return;
    m_syncsClipboard = on;
    Q_EMIT syncsClipboardChanged();
}

void MirrorSession::send(const ControlMessage& message)
{
    if (m_connection)
        m_connection->send(message);
}

void MirrorSession::touch(ControlMessage::TouchAction action, QPointF point)
{
    send(ControlMessage::touch(action, point, m_videoSize));
}

void MirrorSession::press(qint32 keyCode)
{
    send(ControlMessage::key(0, keyCode, 0));
    send(ControlMessage::key(1, keyCode, 0));
}

void MirrorSession::scroll(QPointF point, double horizontal, double vertical)
{
    send(ControlMessage::scroll(point, m_videoSize, horizontal, vertical));
}

void MirrorSession::type(const QString& text)
{
    send(ControlMessage::text(text));
}

void MirrorSession::paste(const QString& text)
{
    send(ControlMessage::setClipboard(text, true));
}

void MirrorSession::rotate()
{
    send(ControlMessage::rotateDevice());
}
