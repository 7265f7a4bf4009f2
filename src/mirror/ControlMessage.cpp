#include "ControlMessage.h"

#include <QtEndian>

#include <cmath>
#include <utility>
#include <limits>

namespace {

// Cap on a typed text; the server takes no more in one message.
constexpr qsizetype textLimit = 300;

template <class T>
void append(QByteArray& out, T value)
{
    char bytes[sizeof(T)];
    qToBigEndian(value, bytes);
    out.append(bytes, sizeof(T));
}

// Nearest integer, halves away from zero; the session never sends a
// non-finite or out-of-range coordinate, but a stray one must not be
// undefined behaviour.
qint32 coordinate(double value)
{
    if (!std::isfinite(value))
        return 0;
    const double rounded = std::round(value);
    if (rounded >= double(std::numeric_limits<qint32>::max()))
        return std::numeric_limits<qint32>::max();
    if (rounded <= double(std::numeric_limits<qint32>::min()))
        return std::numeric_limits<qint32>::min();
    return qint32(rounded);
}

quint16 screenExtent(double value)
{
    if (!(value > 0)) // also NaN
        return 0;
    if (value >= 65535)
        return 65535;
    return quint16(value);
}

void appendPosition(QByteArray& out, QPointF point, QSizeF screen)
{
    append(out, coordinate(point.x()));
    append(out, coordinate(point.y()));
    append(out, screenExtent(screen.width()));
    append(out, screenExtent(screen.height()));
}

// The UTF-8 text cut to whole characters within the limit, so that the phone
// never receives half a character.
QByteArray typedText(const QString& text)
{
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= textLimit)
        return bytes;
    qsizetype end = textLimit;
    while (end > 0 && (quint8(bytes[end]) & 0xC0) == 0x80)
        --end;
    bytes.truncate(end);
    return bytes;
}

} // namespace

ControlMessage ControlMessage::key(quint8 action, qint32 keyCode, quint32 metaState)
{
    ControlMessage m(Kind::key);
    m.m_action = action;
    m.m_keyCode = keyCode;
    m.m_metaState = metaState;
    return m;
}

ControlMessage ControlMessage::text(const QString& text)
{
    ControlMessage m(Kind::text);
    m.m_text = text;
    return m;
}

ControlMessage ControlMessage::touch(TouchAction action, QPointF point, QSizeF screen)
{
    ControlMessage m(Kind::touch);
    m.m_action = quint8(action);
    m.m_point = point;
    m.m_screen = screen;
    return m;
}

ControlMessage ControlMessage::scroll(QPointF point, QSizeF screen, double horizontal, double vertical)
{
    ControlMessage m(Kind::scroll);
    m.m_point = point;
    m.m_screen = screen;
    m.m_horizontal = horizontal;
    m.m_vertical = vertical;
    return m;
}

ControlMessage ControlMessage::setClipboard(const QString& text, bool paste)
{
    ControlMessage m(Kind::setClipboard);
    m.m_text = text;
    m.m_paste = paste;
    return m;
}

ControlMessage ControlMessage::rotateDevice() { return ControlMessage(Kind::rotateDevice); }

ControlMessage ControlMessage::resetVideo() { return ControlMessage(Kind::resetVideo); }

qint16 ControlMessage::fixedPoint(double value)
{
    if (!std::isfinite(value))
        return 0;
    if (value <= -1)
        return -32768;
    if (value >= 1)
        return 32767;
    return qint16(value * 32768); // truncates toward zero
}

QByteArray ControlMessage::data() const
{
    QByteArray out;
    switch (m_kind) {
    case Kind::key:
        out.append(char(0));
        out.append(char(m_action));
        append(out, m_keyCode);
        append(out, quint32(0)); // repeat
        append(out, m_metaState);
        break;
    case Kind::text: {
        const QByteArray bytes = typedText(m_text);
        out.append(char(1));
        append(out, quint32(bytes.size()));
        out.append(bytes);
        break;
    }
    case Kind::touch:
        out.append(char(2));
        out.append(char(m_action));
        append(out, qint64(-2)); // the pointer id of a mouse
        appendPosition(out, m_point, m_screen);
        append(out, quint16(m_action == quint8(TouchAction::up) ? 0 : 0xFFFF)); // pressure
        append(out, quint32(0)); // action button
        append(out, quint32(0)); // buttons
        break;
    case Kind::scroll:
        out.append(char(3));
        appendPosition(out, m_point, m_screen);
        append(out, fixedPoint(m_horizontal * 0.0625));
        append(out, fixedPoint(m_vertical * 0.0625));
        append(out, quint32(0)); // buttons
        break;
    case Kind::setClipboard: {
        const QByteArray bytes = m_text.toUtf8();
        out.append(char(9));
        append(out, quint64(0)); // sequence: no acknowledgement wanted
        out.append(char(m_paste ? 1 : 0));
        append(out, quint32(bytes.size()));
        out.append(bytes);
        break;
    }
    case Kind::rotateDevice:
        out.append(char(11));
        break;
    case Kind::resetVideo:
        out.append(char(17));
        break;
    }
    return out;
}

// ---- ControlQueue -------------------------------------------------------------------

bool ControlQueue::push(const ControlMessage& message)
{
    QByteArray bytes = message.data();
    if (bytes.isEmpty())
        return false;
    const quint8 up = 1;
    if (message.kind() == ControlMessage::Kind::key) {
        if (message.action() == up) {
            if (m_droppedKeys.remove(message.keyCode()))
                return false;
            append(std::move(bytes));
            return true;
        }
        if (!fits(bytes.size())) {
            m_droppedKeys.insert(message.keyCode());
            return false;
        }
        m_droppedKeys.remove(message.keyCode());
        append(std::move(bytes));
        return true;
    }
    if (message.kind() == ControlMessage::Kind::touch) {
        switch (ControlMessage::TouchAction(message.action())) {
        case ControlMessage::TouchAction::down:
            m_touchDropped = !fits(bytes.size());
            if (m_touchDropped)
                return false;
            break;
        case ControlMessage::TouchAction::up:
            if (std::exchange(m_touchDropped, false))
                return false;
            append(std::move(bytes));
            return true;
        case ControlMessage::TouchAction::move:
            if (m_touchDropped || !fits(bytes.size()))
                return false;
            break;
        }
        append(std::move(bytes));
        return true;
    }
    if (!fits(bytes.size()))
        return false;
    append(std::move(bytes));
    return true;
}

void ControlQueue::append(QByteArray bytes)
{
    m_bytes += bytes.size();
    m_messages.push_back(std::move(bytes));
}

QByteArray ControlQueue::take()
{
    QByteArray bytes = std::move(m_messages.front());
    m_messages.pop_front();
    m_bytes -= bytes.size();
    return bytes;
}

void ControlQueue::clear()
{
    m_messages.clear();
    m_bytes = 0;
    m_droppedKeys.clear();
    m_touchDropped = false;
}
