#pragma once

#include <QByteArray>

#include <optional>

class QWidget;

// What a launcher gives a start so that its window may come to the front
// under a window manager that keeps windows from taking the focus on their
// own: Wayland's activation token, X11's startup id. Each is good for one
// activation, of the start it was given to or of the running application
// that start hands over to.
struct ActivationToken {
    QByteArray wayland; // XDG_ACTIVATION_TOKEN
    QByteArray x11;     // DESKTOP_STARTUP_ID

    bool isEmpty() const { return wayland.isEmpty() && x11.isEmpty(); }
    bool operator==(const ActivationToken&) const = default;

    // This start's tokens, read before the application object exists (Qt's
    // X11 connection takes the startup id out of the environment).
    static ActivationToken ofThisStart();
    // Takes them out of the environment once the application object exists:
    // a child (adb, and the server it leaves running) must not carry them.
    static void clearEnvironment();

    // As it travels on the hand-over line: words without spaces.
    QByteArray encoded() const;
    // nullopt when `words` are not what encoded() makes.
    static std::optional<ActivationToken> decoded(const QByteArray& words);

    // Brings `window` to the front with the tokens, once it is on screen;
    // the tokens are spent then and nothing of them is left in the
    // environment. Without tokens it does nothing.
    void bringForward(QWidget* window) const;
};
