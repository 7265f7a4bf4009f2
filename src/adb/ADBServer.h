#pragma once

#include "Cancel.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// A minimal client of the adb server's host protocol on 127.0.0.1: one
// request, one reply, on a fresh connection. Only pairing goes this way.
class ADBServer {
public:
    ADBServer() = delete;

    // The server's answer to one request.
    struct Reply {
        enum class Kind { okay, fail };

        static Reply okay(QString text) { return {Kind::okay, std::move(text)}; }
        static Reply fail(QString text) { return {Kind::fail, std::move(text)}; }

        Kind kind = Kind::okay;
        QString text; // the payload of okay, the message of fail

        friend bool operator==(const Reply&, const Reply&) = default;
    };

    // The local server's port: "ANDROID_ADB_SERVER_PORT" when it holds a
    // decimal number up to 65535, else 5037. Read afresh on every call.
    static uint16_t port();

    // Sends one request and waits for the reply, each send and receive
    // limited to `timeout` seconds. Blocks the calling (worker) thread;
    // cancelling shuts the socket down and throws Cancelled at once. Other
    // failures are ADBError::failed with a finished sentence.
    static Reply query(const QString& request, double timeout, const Cancel& cancel);

    // The reply framed in the bytes that follow the status: an optional
    // "FAIL", four hexadecimal digits of length, then the payload. None while
    // the bytes don't yet hold a complete message.
    static std::optional<Reply> parse(const QByteArray& body);
};
