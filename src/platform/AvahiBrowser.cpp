// The avahi backend of ServiceBrowser: one client connection to the avahi
// daemon, one avahi service browser per browsed type, one resolver per report.

#include "AvahiQtPoll.h"
#include "ServiceBrowser.h"
#include "ServiceReports.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/defs.h>

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <chrono>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// When the system bus itself can't be reached, try again this much later.
constexpr std::chrono::seconds retryDelay(5);

// avahi wants names without the final root dot ("_http._tcp", "local").
QByteArray avahiName(const QString& name)
{
    QByteArray bytes = name.toUtf8();
    if (bytes.endsWith('.'))
        bytes.chop(1);
    return bytes;
}

QByteArray socketAddress(const AvahiAddress& address, uint16_t port, AvahiIfIndex interface)
{
    if (address.proto == AVAHI_PROTO_INET) {
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(port);
        in.sin_addr.s_addr = address.data.ipv4.address;
        return QByteArray(reinterpret_cast<const char*>(&in), sizeof in);
    }
    if (address.proto == AVAHI_PROTO_INET6) {
        sockaddr_in6 in6{};
        in6.sin6_family = AF_INET6;
        in6.sin6_port = htons(port);
        std::memcpy(in6.sin6_addr.s6_addr, address.data.ipv6.address, sizeof in6.sin6_addr.s6_addr);
        in6.sin6_scope_id = interface > 0 ? uint32_t(interface) : 0;
        return QByteArray(reinterpret_cast<const char*>(&in6), sizeof in6);
    }
    return {};
}

class AvahiBrowser final : public ServiceBrowser {
public:
    AvahiBrowser();
    ~AvahiBrowser() override;

    void browse(const QString& type, const QString& domain, Handlers handlers) override;

private:
    struct Search;

    // One report of one instance, being resolved.
    struct Resolution {
        Search* search = nullptr;
        QString name;
        ServiceReports::Where where;
        AvahiServiceResolver* resolver = nullptr;
    };

    struct Search {
        AvahiBrowser* owner = nullptr;
        QByteArray type;
        QByteArray domain;
        Handlers handlers;
        AvahiServiceBrowser* browser = nullptr;
        ServiceReports reports;
        std::map<std::tuple<QString, int, int>, std::unique_ptr<Resolution>> resolutions;
    };

    static void clientChanged(AvahiClient* client, AvahiClientState state, void* userdata);
    static void browserEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                             AvahiLookupResultFlags flags, void* userdata);
    static void resolverEvent(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                              const char* hostName, const AvahiAddress* address, uint16_t port,
                              AvahiStringList* txt, AvahiLookupResultFlags flags, void* userdata);

    void connectClient();
    void start(Search& search);
    void found(Search& search, const QString& name, ServiceReports::Where where);
    void lost(Search& search, const QString& name, ServiceReports::Where where);
    // The daemon went away: every avahi object is dead, every instance gone.
    void dropAll();
    void deliverResolved(const Search& search, ServiceBrowser::Resolved resolved);
    void deliverRemoved(const Search& search, const QString& name);

    AvahiQtPoll m_poll;
    AvahiClient* m_client = nullptr;
    quint64 m_generation = 0; // counts clients, so a late replacement can't hit a newer one
    bool m_connected = false;
    std::vector<std::unique_ptr<Search>> m_searches;
    // Handlers are called through queued calls on this object, so they never
    // run inside an avahi callback and never after the browser is gone.
    QObject m_context;
};

AvahiBrowser::AvahiBrowser()
{
    connectClient();
}

AvahiBrowser::~AvahiBrowser()
{
    // Frees the browsers and resolvers with it; no callback runs from here.
    if (m_client)
        avahi_client_free(m_client);
}

void AvahiBrowser::connectClient()
{
    int error = 0;
    // NO_FAIL: a daemon that isn't running yet is waited for.
    ++m_generation;
    AvahiClient* client = avahi_client_new(m_poll.api(), AVAHI_CLIENT_NO_FAIL, clientChanged, this, &error);
    if (!client) {
        // The state callback may have seen the client that avahi just freed.
        m_client = nullptr;
        m_connected = false;
        QTimer::singleShot(retryDelay, &m_context, [this] { connectClient(); });
        return;
    }
    m_client = client;
}

void AvahiBrowser::clientChanged(AvahiClient* client, AvahiClientState state, void* userdata)
{
    auto* self = static_cast<AvahiBrowser*>(userdata);
    // The first call comes from inside avahi_client_new, before it returns.
    self->m_client = client;
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
        self->m_connected = true;
        for (auto& search : self->m_searches)
            self->start(*search);
        break;
    case AVAHI_CLIENT_CONNECTING:
        self->m_connected = false;
        break;
    case AVAHI_CLIENT_FAILURE:
        // The daemon or the bus went away. The client can't be freed from
        // its own callback: replace it from the event loop, waiting anew.
        self->m_connected = false;
        self->dropAll();
        QMetaObject::invokeMethod(
            &self->m_context,
            [self, generation = self->m_generation] {
                if (self->m_generation != generation || !self->m_client)
                    return;
                avahi_client_free(self->m_client);
                self->m_client = nullptr;
                self->connectClient();
            },
            Qt::QueuedConnection);
        break;
    }
}

void AvahiBrowser::browse(const QString& type, const QString& domain, Handlers handlers)
{
    auto search = std::make_unique<Search>();
    search->owner = this;
    search->type = avahiName(type);
    search->domain = avahiName(domain);
    search->handlers = std::move(handlers);
    m_searches.push_back(std::move(search));
    if (m_connected)
        start(*m_searches.back());
}

void AvahiBrowser::start(Search& search)
{
    if (search.browser || !m_client)
        return;
    search.browser = avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, search.type.constData(),
                                               search.domain.constData(), AvahiLookupFlags(0), browserEvent, &search);
}

void AvahiBrowser::browserEvent(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                                AvahiBrowserEvent event, const char* name, const char*, const char*,
                                AvahiLookupResultFlags, void* userdata)
{
    auto& search = *static_cast<Search*>(userdata);
    if (!name)
        return;
    // Instance names come from the network: plain text, nothing more.
    const QString instance = QString::fromUtf8(name);
    const ServiceReports::Where where{int(interface), int(protocol)};
    switch (event) {
    case AVAHI_BROWSER_NEW:
        search.owner->found(search, instance, where);
        break;
    case AVAHI_BROWSER_REMOVE:
        search.owner->lost(search, instance, where);
        break;
    case AVAHI_BROWSER_FAILURE:
    case AVAHI_BROWSER_ALL_FOR_NOW:
    case AVAHI_BROWSER_CACHE_EXHAUSTED:
        break;
    }
}

void AvahiBrowser::found(Search& search, const QString& name, ServiceReports::Where where)
{
    search.reports.add(name, where);
    // A report seen again is resolved afresh.
    auto& slot = search.resolutions[{name, where.interface, where.protocol}];
    if (slot && slot->resolver)
        avahi_service_resolver_free(slot->resolver);
    slot = std::make_unique<Resolution>();
    slot->search = &search;
    slot->name = name;
    slot->where = where;
    const QByteArray nameBytes = name.toUtf8();
    slot->resolver = avahi_service_resolver_new(m_client, AvahiIfIndex(where.interface), AvahiProtocol(where.protocol),
                                                nameBytes.constData(), search.type.constData(),
                                                search.domain.constData(), AvahiProtocol(where.protocol),
                                                AvahiLookupFlags(0), resolverEvent, slot.get());
}

void AvahiBrowser::lost(Search& search, const QString& name, ServiceReports::Where where)
{
    auto slot = search.resolutions.find({name, where.interface, where.protocol});
    if (slot != search.resolutions.end()) {
        if (slot->second->resolver)
            avahi_service_resolver_free(slot->second->resolver);
        search.resolutions.erase(slot);
    }
    ServiceReports::Removal removal = search.reports.remove(name, where);
    if (removal.gone)
        deliverRemoved(search, name);
    else if (removal.update)
        deliverResolved(search, std::move(*removal.update));
}

void AvahiBrowser::resolverEvent(AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                                 const char*, const char*, const char*, const char*, const AvahiAddress* address,
                                 uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* userdata)
{
    auto& resolution = *static_cast<Resolution*>(userdata);
    Search& search = *resolution.search;
    if (event != AVAHI_RESOLVER_FOUND || !address) {
        // A resolution that fails is simply never reported. Freeing the
        // resolver from its own callback is allowed.
        avahi_service_resolver_free(resolution.resolver);
        resolution.resolver = nullptr;
        return;
    }
    const QByteArray bytes = socketAddress(*address, port, interface);
    if (bytes.isEmpty())
        return;
    search.owner->deliverResolved(search, search.reports.resolve(resolution.name, resolution.where, bytes, port));
}

void AvahiBrowser::dropAll()
{
    for (auto& search : m_searches) {
        // The client frees these objects when it goes; forgetting them here
        // is enough, and no callback of theirs comes any more.
        search->browser = nullptr;
        search->resolutions.clear();
        for (const QString& name : search->reports.clear())
            deliverRemoved(*search, name);
    }
}

void AvahiBrowser::deliverResolved(const Search& search, ServiceBrowser::Resolved resolved)
{
    if (!search.handlers.resolved)
        return;
    QMetaObject::invokeMethod(
        &m_context, [handler = search.handlers.resolved, resolved = std::move(resolved)] { handler(resolved); },
        Qt::QueuedConnection);
}

void AvahiBrowser::deliverRemoved(const Search& search, const QString& name)
{
    if (!search.handlers.removed)
        return;
    QMetaObject::invokeMethod(
        &m_context, [handler = search.handlers.removed, name] { handler(name); }, Qt::QueuedConnection);
}

} // namespace

std::unique_ptr<ServiceBrowser> ServiceBrowser::createSystem()
{
    return std::make_unique<AvahiBrowser>();
}
