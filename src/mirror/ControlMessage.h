#pragma once

#include <QByteArray>
#include <QPointF>
#include <QSizeF>
#include <QSet>
#include <QString>

#include <deque>

// A message to the mirroring server on the phone, encoded as the server's
// control protocol expects it (big-endian, no length prefix).
class ControlMessage {
public:
    enum class Kind { key, text, touch, scroll, setClipboard, rotateDevice, resetVideo };
    // Android's motion-event action numbers.
    enum class TouchAction : quint8 { down = 0, up = 1, move = 2 };

    static ControlMessage key(quint8 action, qint32 keyCode, quint32 metaState);
    static ControlMessage text(const QString& text);
    static ControlMessage touch(TouchAction action, QPointF point, QSizeF screen);
    static ControlMessage scroll(QPointF point, QSizeF screen, double horizontal, double vertical);
    static ControlMessage setClipboard(const QString& text, bool paste);
    static ControlMessage rotateDevice();
    static ControlMessage resetVideo();

    Kind kind() const { return m_kind; }
    // A key's action (0 down, 1 up) or a touch's TouchAction.
    quint8 action() const { return m_action; }
    qint32 keyCode() const { return m_keyCode; }

    // The encoded bytes of the message.
    QByteArray data() const;

private:
    explicit ControlMessage(Kind kind) : m_kind(kind) {}

    static qint16 fixedPoint(double value);

    Kind m_kind;
    quint8 m_action = 0;
    qint32 m_keyCode = 0;
    quint32 m_metaState = 0;
    QString m_text;
    bool m_paste = false;
    QPointF m_point;
    QSizeF m_screen;
    double m_horizontal = 0;
    double m_vertical = 0;
};

// Control messages waiting for the phone, at most `limit` bytes of them; a
// message that doesn't fit is dropped whole (one always fits into an empty
// queue). A release (a key's or a touch's up) always fits, so that nothing is
// left held on the phone; a press that was dropped takes its release, and a
// touch's moves, with it. Not thread-safe: its owner guards it.
class ControlQueue {
public:
    explicit ControlQueue(qsizetype limit) : m_limit(limit) {}

    // False when the message was dropped.
    bool push(const ControlMessage& message);
    bool empty() const { return m_messages.empty(); }
    qsizetype bytes() const { return m_bytes; }
    // The oldest message's bytes, removed; the queue must not be empty.
    QByteArray take();
    void clear();

private:
    bool fits(qsizetype size) const { return m_messages.empty() || m_bytes + size <= m_limit; }
    void append(QByteArray bytes);

    const qsizetype m_limit;
    std::deque<QByteArray> m_messages;
    qsizetype m_bytes = 0;
    QSet<qint32> m_droppedKeys; // pressed, dropped, not yet released
    bool m_touchDropped = false; // the touch under way was dropped at its down
};
