#pragma once

#include "ADB.h"
#include "ControlMessage.h"
#include "MirrorConnection.h"
#include "Task.h"

#include <QObject>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class MirrorFrameSink;
class QSettings;

// The model of one mirroring window for one phone, on the GUI thread. Each
// start makes a new connection; the senders write control messages to it.
class MirrorSession : public QObject {
    Q_OBJECT
    Q_PROPERTY(QSizeF videoSize READ videoSize NOTIFY videoSizeChanged)
    Q_PROPERTY(int framesPerSecond READ framesPerSecond NOTIFY framesPerSecondChanged)
    Q_PROPERTY(bool playsSound READ playsSound WRITE setPlaysSound NOTIFY playsSoundChanged)
    Q_PROPERTY(bool syncsClipboard READ syncsClipboard WRITE setSyncsClipboard NOTIFY syncsClipboardChanged)
    Q_PROPERTY(int clipboardArrivals READ clipboardArrivals NOTIFY clipboardArrivalsChanged)

public:
    // What the status overlay shows.
    class Phase {
    public:
        enum class Kind { stopped, connecting, streaming };

        static Phase stopped(QString message) { return Phase(Kind::stopped, std::move(message)); }
        static Phase connecting() { return Phase(Kind::connecting, {}); }
        static Phase streaming() { return Phase(Kind::streaming, {}); }

        Kind kind() const { return m_kind; }
        // The message of `stopped`.
        const QString& message() const { return m_message; }

        friend bool operator==(const Phase&, const Phase&) = default;

    private:
        Phase(Kind kind, QString message) : m_kind(kind), m_message(std::move(message)) {}
        Kind m_kind;
        QString m_message;
    };

    // Reads "mirrorSound" and "mirrorClipboard" from `settings` (not owned;
    // must outlive the session). Starts nothing.
    MirrorSession(ADB adb, QString serial, QString name, QSettings* settings, QObject* parent = nullptr);
    ~MirrorSession() override;

    const QString& serial() const { return m_serial; }
    const QString& name() const { return m_name; }
    MirrorFrameSink& sink() { return *m_sink; }

    Phase phase() const { return m_phase; }
    QSizeF videoSize() const { return m_videoSize; }
    int framesPerSecond() const { return m_framesPerSecond; }
    bool playsSound() const { return m_playsSound; }
    bool syncsClipboard() const { return m_syncsClipboard; }
    int clipboardArrivals() const { return m_clipboardArrivals; }

    // Rebuilds the connection with or without sound when the value changes.
    void setPlaysSound(bool on);
    void setSyncsClipboard(bool on);

    // Does nothing while a connection runs.
    void start();
    // Leaves the phase as it is.
    void stop();

    // Senders: nothing is sent while stopped.
    void touch(ControlMessage::TouchAction action, QPointF point);
    void press(qint32 keyCode);
    void scroll(QPointF point, double horizontal, double vertical);
    void type(const QString& text);
    void paste(const QString& text);
    void rotate();

    // For tests and benchmarks: where the server file is, and shorter waits.
    void setConnectionOptions(MirrorConnection::Options options) { m_options = std::move(options); }

Q_SIGNALS:
    void phaseChanged();
    void videoSizeChanged();
    void framesPerSecondChanged();
    void playsSoundChanged();
    void syncsClipboardChanged();
    void clipboardArrivalsChanged();

private:
    struct Relay;

    void setPhase(Phase phase);
    void send(const ControlMessage& message);
    // On a reader thread: runs `followUp` on the GUI thread while this
    // session exists and still holds the connection of `generation`.
    static void post(const std::shared_ptr<Relay>& relay, quint64 generation, std::function<void(MirrorSession&)> followUp);
    void receiveClipboard(const QString& text);
    void publishFrameRate();

    const QString m_serial;
    const QString m_name;
    std::shared_ptr<MirrorFrameSink> m_sink;
    Phase m_phase = Phase::connecting();
    QSizeF m_videoSize {1080, 2340};
    int m_framesPerSecond = 0;
    const ADB m_adb;
    std::shared_ptr<MirrorConnection> m_connection;
    Task m_startTask;
    QTimer m_statsTimer;
    bool m_playsSound;
    bool m_syncsClipboard;
    int m_clipboardArrivals = 0;

    QSettings* m_settings;
    MirrorConnection::Options m_options;
    quint64 m_generation = 0; // counts starts; tags each connection's events
    std::shared_ptr<Relay> m_relay; // how reader threads reach this object while it exists
};
