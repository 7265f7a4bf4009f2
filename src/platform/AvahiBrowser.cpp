// The avahi backend of ServiceBrowser: one client connection to the avahi
// daemon, one avahi service browser per browsed type, one resolver per report.
// Every avahi call makes blocking D-Bus round trips (up to 25 s with a hung
// daemon), so all of them run on avahi's own thread; the GUI thread only
// hands requests over and takes results back.

#include "ServiceBrowser.h"
#include "ServiceReports.h"
#include "SharedLibrary.h"
#include "WorkerPool.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/address.h>
#include <avahi-common/defs.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <QMetaObject>
#include <QObject>

#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <vector>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// avahi's client library, opened when the first browser starts so that a
// start that never looks for phones on the network does not load it.
#define VANTELORQUIST_AVAHI_FUNCTIONS(X)                                                                      \
    X(avahi_threaded_poll_new) X(avahi_threaded_poll_get) X(avahi_threaded_poll_start)                       \
        X(avahi_threaded_poll_stop) X(avahi_threaded_poll_free) X(avahi_client_new) X(avahi_client_free)     \
            X(avahi_elapse_time) X(avahi_service_browser_new) X(avahi_service_resolver_new)                  \
                X(avahi_service_resolver_free)

struct AvahiLibrary {
#define VANTELORQUIST_AVAHI_MEMBER(name) decltype(&::name) name = nullptr;
    VANTELORQUIST_AVAHI_FUNCTIONS(VANTELORQUIST_AVAHI_MEMBER)
#undef VANTELORQUIST_AVAHI_MEMBER
    bool loaded = false;
};

const AvahiLibrary& avahi()
{
    static const AvahiLibrary table = [] {
        AvahiLibrary t;
        // The client library also finds what it takes from avahi-common.
        SharedLibrary library("libavahi-client.so.3");
#define VANTELORQUIST_AVAHI_RESOLVE(name) library.resolve(t.name, #name);
        VANTELORQUIST_AVAHI_FUNCTIONS(VANTELORQUIST_AVAHI_RESOLVE)
#undef VANTELORQUIST_AVAHI_RESOLVE
        t.loaded = library.complete();
        return t;
    }();
    return table;
}

// When the system bus itself can't be reached, try again this much later.
constexpr unsigned retryMilliseconds = 5000;

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

// The avahi side. Apart from post(), detach() and finish(), it runs only on
// avahi's thread, inside callbacks of its poll, so its state needs no lock.
class AvahiCore {
public:
    using Handlers = ServiceBrowser::Handlers;

    // Starts avahi's thread; false when it can't (discovery then stays empty).
    bool start(QObject* context);
    // Runs `work` on avahi's thread soon. Any thread; never blocks.
    void post(std::function<void()> work);
    // No result reaches the GUI thread from now on. GUI thread.
    void detach();
    // Ends avahi's thread and frees everything. Waits for a D-Bus call in
    // progress, so it runs on a worker, never on the GUI thread.
    void finish();

    void connectClient();
    void browse(const QByteArray& type, const QByteArray& domain, Handlers handlers);

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
        AvahiCore* owner = nullptr;
        QByteArray type;
        QByteArray domain;
        Handlers handlers;
        AvahiServiceBrowser* browser = nullptr;
        ServiceReports reports;
        std::map<std::tuple<QString, int, int>, std::unique_ptr<Resolution>> resolutions;
    };

    static void inboxReady(AvahiWatch* watch, int fd, AvahiWatchEvent event, void* userdata);
    static void retryDue(AvahiTimeout* timeout, void* userdata);
    static void clientChanged(AvahiClient* client, AvahiClientState state, void* userdata);
    static void browserEvent(AvahiServiceBrowser* browser, AvahiIfIndex interface, AvahiProtocol protocol,
                             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                             AvahiLookupResultFlags flags, void* userdata);
    static void resolverEvent(AvahiServiceResolver* resolver, AvahiIfIndex interface, AvahiProtocol protocol,
                              AvahiResolverEvent event, const char* name, const char* type, const char* domain,
                              const char* hostName, const AvahiAddress* address, uint16_t port,
                              AvahiStringList* txt, AvahiLookupResultFlags flags, void* userdata);

    const AvahiPoll* api() const { return avahi().avahi_threaded_poll_get(m_poll); }
    void start(Search& search);
    void found(Search& search, const QString& name, ServiceReports::Where where);
    void lost(Search& search, const QString& name, ServiceReports::Where where);
    // The daemon went away: every avahi object is dead, every instance gone.
    void dropAll();
    // Runs `call` on the GUI thread unless the browser has gone.
    void deliver(std::function<void()> call);
    void deliverResolved(const Search& search, ServiceBrowser::Resolved resolved);
    void deliverRemoved(const Search& search, const QString& name);

    AvahiThreadedPoll* m_poll = nullptr;
    int m_wakeFd = -1;
    AvahiWatch* m_inboxWatch = nullptr;
    AvahiTimeout* m_retry = nullptr;
    AvahiClient* m_client = nullptr;
    quint64 m_generation = 0; // counts clients, so a late replacement can't hit a newer one
    bool m_connected = false;
    std::vector<std::unique_ptr<Search>> m_searches;

    std::mutex m_inboxMutex;
    std::vector<std::function<void()>> m_inbox;
    // Results are queued calls on this GUI-thread object, so handlers never
    // run inside an avahi callback and never after the browser is gone.
    std::mutex m_contextMutex;
    QObject* m_context = nullptr;
};

bool AvahiCore::start(QObject* context)
{
    m_context = context;
    if (!avahi().loaded)
        return false;
    m_poll = avahi().avahi_threaded_poll_new();
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (!m_poll || m_wakeFd < 0)
        return false;
    // Registered before the thread runs, so no lock is needed.
    m_inboxWatch = api()->watch_new(api(), m_wakeFd, AVAHI_WATCH_IN, inboxReady, this);
    return m_inboxWatch && avahi().avahi_threaded_poll_start(m_poll) == 0;
}

void AvahiCore::post(std::function<void()> work)
{
    std::lock_guard lock(m_inboxMutex);
    m_inbox.push_back(std::move(work));
    const uint64_t one = 1;
    if (m_wakeFd >= 0)
        [[maybe_unused]] auto written = ::write(m_wakeFd, &one, sizeof one);
}

void AvahiCore::inboxReady(AvahiWatch*, int fd, AvahiWatchEvent, void* userdata)
{
    auto* self = static_cast<AvahiCore*>(userdata);
    uint64_t count = 0;
    [[maybe_unused]] auto read = ::read(fd, &count, sizeof count);
    std::vector<std::function<void()>> work;
    {
        std::lock_guard lock(self->m_inboxMutex);
        work.swap(self->m_inbox);
    }
    for (auto& item : work)
        item();
}

void AvahiCore::detach()
{
    std::lock_guard lock(m_contextMutex);
    m_context = nullptr;
}

void AvahiCore::finish()
{
    if (m_poll)
        avahi().avahi_threaded_poll_stop(m_poll);
    // The thread has ended: what it owned is ours now. Freeing the client
    // frees its browsers and resolvers.
    if (m_client)
        avahi().avahi_client_free(m_client);
    m_client = nullptr;
    m_searches.clear();
    if (m_poll)
        avahi().avahi_threaded_poll_free(m_poll); // with its watches and timeouts
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

void AvahiCore::connectClient()
{
    int error = 0;
    // NO_FAIL: a daemon that isn't running yet is waited for.
    ++m_generation;
    AvahiClient* client = avahi().avahi_client_new(api(), AVAHI_CLIENT_NO_FAIL, clientChanged, this, &error);
    if (!client) {
        // The state callback may have seen the client that avahi just freed.
        m_client = nullptr;
        m_connected = false;
        timeval when {};
        if (!m_retry)
            m_retry = api()->timeout_new(api(), avahi().avahi_elapse_time(&when, retryMilliseconds, 0), retryDue, this);
        return;
    }
    m_client = client;
}

void AvahiCore::retryDue(AvahiTimeout* timeout, void* userdata)
{
    auto* self = static_cast<AvahiCore*>(userdata);
    self->api()->timeout_free(timeout);
    self->m_retry = nullptr;
    self->connectClient();
}

void AvahiCore::clientChanged(AvahiClient* client, AvahiClientState state, void* userdata)
{
    auto* self = static_cast<AvahiCore*>(userdata);
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
        // its own callback: replace it from the next round of the poll.
        self->m_connected = false;
        self->dropAll();
        self->post([self, generation = self->m_generation] {
            if (self->m_generation != generation || !self->m_client)
                return;
            avahi().avahi_client_free(self->m_client);
            self->m_client = nullptr;
            self->connectClient();
        });
        break;
    }
}

void AvahiCore::browse(const QByteArray& type, const QByteArray& domain, Handlers handlers)
{
    auto search = std::make_unique<Search>();
    search->owner = this;
    search->type = type;
    search->domain = domain;
    search->handlers = std::move(handlers);
    m_searches.push_back(std::move(search));
    if (m_connected)
        start(*m_searches.back());
}

void AvahiCore::start(Search& search)
{
    if (search.browser || !m_client)
        return;
    search.browser = avahi().avahi_service_browser_new(m_client, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, search.type.constData(),
                                               search.domain.constData(), AvahiLookupFlags(0), browserEvent, &search);
}

void AvahiCore::browserEvent(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
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

void AvahiCore::found(Search& search, const QString& name, ServiceReports::Where where)
{
    search.reports.add(name, where);
    // A report seen again is resolved afresh.
    auto& slot = search.resolutions[{name, where.interface, where.protocol}];
    if (slot && slot->resolver)
        avahi().avahi_service_resolver_free(slot->resolver);
    slot = std::make_unique<Resolution>();
    slot->search = &search;
    slot->name = name;
    slot->where = where;
    const QByteArray nameBytes = name.toUtf8();
    slot->resolver = avahi().avahi_service_resolver_new(m_client, AvahiIfIndex(where.interface), AvahiProtocol(where.protocol),
                                                nameBytes.constData(), search.type.constData(),
                                                search.domain.constData(), AvahiProtocol(where.protocol),
                                                AvahiLookupFlags(0), resolverEvent, slot.get());
}

void AvahiCore::lost(Search& search, const QString& name, ServiceReports::Where where)
{
    auto slot = search.resolutions.find({name, where.interface, where.protocol});
    if (slot != search.resolutions.end()) {
        if (slot->second->resolver)
            avahi().avahi_service_resolver_free(slot->second->resolver);
        search.resolutions.erase(slot);
    }
    ServiceReports::Removal removal = search.reports.remove(name, where);
    if (removal.gone)
        deliverRemoved(search, name);
    else if (removal.update)
        deliverResolved(search, std::move(*removal.update));
}

void AvahiCore::resolverEvent(AvahiServiceResolver*, AvahiIfIndex interface, AvahiProtocol, AvahiResolverEvent event,
                              const char*, const char*, const char*, const char*, const AvahiAddress* address,
                              uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* userdata)
{
    auto& resolution = *static_cast<Resolution*>(userdata);
    Search& search = *resolution.search;
    if (event != AVAHI_RESOLVER_FOUND || !address) {
        // A resolution that fails is simply never reported. Freeing the
        // resolver from its own callback is allowed.
        avahi().avahi_service_resolver_free(resolution.resolver);
        resolution.resolver = nullptr;
        return;
    }
    const QByteArray bytes = socketAddress(*address, port, interface);
    if (bytes.isEmpty())
        return;
    search.owner->deliverResolved(search, search.reports.resolve(resolution.name, resolution.where, bytes, port));
}

void AvahiCore::dropAll()
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

void AvahiCore::deliver(std::function<void()> call)
{
    std::lock_guard lock(m_contextMutex);
    if (m_context)
        QMetaObject::invokeMethod(m_context, std::move(call), Qt::QueuedConnection);
}

void AvahiCore::deliverResolved(const Search& search, ServiceBrowser::Resolved resolved)
{
    if (search.handlers.resolved)
        deliver([handler = search.handlers.resolved, resolved = std::move(resolved)] { handler(resolved); });
}

void AvahiCore::deliverRemoved(const Search& search, const QString& name)
{
    if (search.handlers.removed)
        deliver([handler = search.handlers.removed, name] { handler(name); });
}

// The GUI thread's face of the avahi side.
class AvahiBrowser final : public ServiceBrowser {
public:
    AvahiBrowser()
    {
        if (m_core->start(&m_context))
            m_core->post([core = m_core.get()] { core->connectClient(); });
    }

    ~AvahiBrowser() override
    {
        m_core->detach();
        try {
            WorkerPool::shared().start([core = m_core](std::stop_token) { core->finish(); });
        } catch (const std::exception&) {
            // No thread for it: avahi's thread is left to end with the process.
        }
    }

    void browse(const QString& type, const QString& domain, Handlers handlers) override
    {
        m_core->post([core = m_core.get(), type = avahiName(type), domain = avahiName(domain),
                      handlers = std::move(handlers)]() mutable { core->browse(type, domain, std::move(handlers)); });
    }

private:
    std::shared_ptr<AvahiCore> m_core = std::make_shared<AvahiCore>();
    QObject m_context;
};

} // namespace

void ServiceBrowser::prepareSystem()
{
    (void)avahi();
}

std::unique_ptr<ServiceBrowser> ServiceBrowser::createSystem()
{
    return std::make_unique<AvahiBrowser>();
}
