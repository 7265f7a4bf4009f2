#include "ActivationToken.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>

#if __has_include(<xcb/xcb.h>) && QT_CONFIG(xcb)
#define WITH_X11 1
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#endif

namespace {

const char waylandVariable[] = "XDG_ACTIVATION_TOKEN";
const char x11Variable[] = "DESKTOP_STARTUP_ID";
// Far above what launchers hand out; the line stays short.
constexpr qsizetype longestToken = 512;

constexpr auto base64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

#ifdef WITH_X11

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t found = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return found;
}

// The launch's X server time, which a startup id carries after "_TIME".
std::optional<quint32> launchTime(const QByteArray& startupId)
{
    const qsizetype at = startupId.lastIndexOf("_TIME");
    if (at < 0)
        return std::nullopt;
    const QByteArray digits = startupId.mid(at + 5);
    if (digits.isEmpty() || digits.size() > 10 || !std::all_of(digits.begin(), digits.end(), [](char c) {
            return c >= '0' && c <= '9';
        }))
        return std::nullopt;
    const qulonglong time = digits.toULongLong();
    if (time > 0xffffffffULL)
        return std::nullopt;
    return quint32(time);
}

// A value of a startup notification message, quoted where it must be.
QByteArray quoted(const QByteArray& value)
{
    if (!value.contains(' ') && !value.contains('"') && !value.contains('\\'))
        return value;
    QByteArray escaped = value;
    escaped.replace('\\', "\\\\").replace('"', "\\\"");
    return '"' + escaped + '"';
}

// The window manager is asked, as for the launch the person made, to bring
// `window` forward; a strict one refuses a request that carries an older
// time than the person's last action. The launch ends with it: the
// launcher's busy pointer goes.
void activateOnX11(QWindow* window, const QByteArray& startupId)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return;
    xcb_connection_t* connection = x11->connection();
    const auto target = xcb_window_t(window->winId());
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(connection, xcb_get_geometry(connection, target), nullptr);
    if (!geometry)
        return;
    const xcb_window_t root = geometry->root;
    std::free(geometry);

    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, target, atom(connection, "_NET_STARTUP_ID"),
                        atom(connection, "UTF8_STRING"), 8, uint32_t(startupId.size()), startupId.constData());
    if (const std::optional<quint32> time = launchTime(startupId)) {
        xcb_client_message_event_t request {};
        request.response_type = XCB_CLIENT_MESSAGE;
        request.format = 32;
        request.window = target;
        request.type = atom(connection, "_NET_ACTIVE_WINDOW");
        request.data.data32[0] = 1; // asked by an application
        request.data.data32[1] = *time;
        request.data.data32[2] = XCB_NONE;
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&request));
    }

    // Sent in pieces of 20 bytes, the first under its own type; the final
    // zero byte ends the message.
    const QByteArray message = "remove: ID=" + quoted(startupId) + '\0';
    const xcb_atom_t first = atom(connection, "_NET_STARTUP_INFO_BEGIN");
    const xcb_atom_t more = atom(connection, "_NET_STARTUP_INFO");
    for (qsizetype at = 0; at < message.size(); at += 20) {
        xcb_client_message_event_t piece {};
        piece.response_type = XCB_CLIENT_MESSAGE;
        piece.format = 8;
        piece.window = target;
        piece.type = at == 0 ? first : more;
        std::memcpy(piece.data.data8, message.constData() + at, size_t(std::min<qsizetype>(20, message.size() - at)));
        xcb_send_event(connection, 0, root, XCB_EVENT_MASK_PROPERTY_CHANGE, reinterpret_cast<const char*>(&piece));
    }
    xcb_flush(connection);
}

#endif

void spend(const ActivationToken& token, QWindow* window)
{
#ifdef WITH_X11
    if (!token.x11.isEmpty() && QGuiApplication::platformName() == QLatin1String("xcb"))
        activateOnX11(window, token.x11);
#endif
    if (!token.wayland.isEmpty()) {
        // Qt's Wayland window takes the token from the environment when it is
        // asked to come forward, and removes it; whatever platform leaves it
        // there, it goes right away.
        qputenv(waylandVariable, token.wayland);
        window->requestActivate();
        qunsetenv(waylandVariable);
    }
}

// Holds the tokens until the window is on screen: a window that is only
// being shown can't be brought forward on every platform.
class WhenExposed final : public QObject {
public:
    WhenExposed(QWindow* window, ActivationToken token) : QObject(window), m_window(window), m_token(std::move(token))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == m_window && event->type() == QEvent::Expose && m_window->isExposed()) {
            m_window->removeEventFilter(this);
            spend(m_token, m_window);
            deleteLater();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWindow> m_window;
    ActivationToken m_token;
};

} // namespace

ActivationToken ActivationToken::ofThisStart()
{
    return {qgetenv(waylandVariable), qgetenv(x11Variable)};
}

void ActivationToken::clearEnvironment()
{
    qunsetenv(waylandVariable);
    qunsetenv(x11Variable);
}

QByteArray ActivationToken::encoded() const
{
    QByteArrayList words;
    if (!wayland.isEmpty())
        words << "wayland=" + wayland.toBase64(base64);
    if (!x11.isEmpty())
        words << "x11=" + x11.toBase64(base64);
    return words.join(' ');
}

std::optional<ActivationToken> ActivationToken::decoded(const QByteArray& words)
{
    ActivationToken token;
    for (const QByteArray& word : words.split(' ')) {
        if (word.isEmpty())
            continue;
        const qsizetype equals = word.indexOf('=');
        const QByteArray key = word.left(equals);
        QByteArray* into = key == "wayland" ? &token.wayland : key == "x11" ? &token.x11 : nullptr;
        if (equals < 0 || !into || !into->isEmpty())
            return std::nullopt;
        const auto value = QByteArray::fromBase64Encoding(word.mid(equals + 1), base64 | QByteArray::AbortOnBase64DecodingErrors);
        if (!value || value.decoded.isEmpty() || value.decoded.size() > longestToken || value.decoded.contains('\0'))
            return std::nullopt;
        *into = value.decoded;
    }
    return token;
}

void ActivationToken::bringForward(QWidget* window) const
{
    if (isEmpty() || !window)
        return;
    QWindow* handle = window->windowHandle();
    if (!handle)
        return;
    if (handle->isExposed())
        spend(*this, handle);
    else
        new WhenExposed(handle, *this);
}
