#pragma once

#include <QByteArray>
#include <QPointF>
#include <QSizeF>
#include <QString>

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
