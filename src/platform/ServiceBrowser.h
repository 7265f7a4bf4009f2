#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

// DNS service discovery: browses service types in a domain and resolves each
// instance it finds. An instance is one name per type, however many network
// interfaces and protocols it is seen on. Handlers run on the thread that
// created the browser (through its Qt event loop), never from inside a call
// to the browser, and never after the browser is destroyed.
class ServiceBrowser {
public:
    // An instance resolved: the socket addresses (the bytes of a sockaddr_in
    // or sockaddr_in6) of all its resolved reports, and its port.
    struct Resolved {
        QString name;
        QList<QByteArray> addresses;
        uint16_t port = 0;

        friend bool operator==(const Resolved&, const Resolved&) = default;
    };

    struct Handlers {
        // Called again whenever the instance resolves anew.
        std::function<void(const Resolved&)> resolved;
        // The instance's last report went away.
        std::function<void(const QString& name)> removed;
    };

    virtual ~ServiceBrowser() = default;

    // Starts browsing `type` (for example "_http._tcp.") in `domain`
    // ("local."). Browsing goes on until the browser is destroyed.
    virtual void browse(const QString& type, const QString& domain, Handlers handlers) = 0;

    // The system's service discovery (the avahi daemon, over D-Bus). It
    // waits for a daemon that isn't running yet and reconnects after a
    // daemon restart; it never reports a failure.
    static std::unique_ptr<ServiceBrowser> createSystem();

    // Opens the system's discovery library ahead of createSystem(), from any
    // thread, so that the first browser does not wait for it.
    static void prepareSystem();
};
