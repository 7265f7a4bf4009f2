#pragma once

// A browser model over fakes whose discovery the test drives, adb's pairing
// and connecting answered from per-test scripts, and clocks that move only
// when the test says so.

#include "ADBError.h"
#include "BrowserFakes.h"
#include "FakeServiceBrowser.h"
#include "PairingHost.h"
#include "TestSupport.h"
#include "WirelessPairing.h"
#include "WorkerPool.h"

#include <QRegularExpression>
#include <QCoreApplication>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace wirelesstest {

using namespace Qt::Literals::StringLiterals;
using Kind = WirelessService::Kind;
using Phase = WirelessPairing::Phase;
using PhaseKind = Phase::Kind;

// Workers waiting in a channel for an answer the test has not given yet.
// They count as idle, so a test can settle while one waits.
inline std::atomic<int> blockedWorkers{0};

// Requests recorded and answered one by one from the test's script. A worker
// waits (10 s at most) for the next answer or its cancellation. Either stops
// it counting as blocked at once, so settling afterwards waits until it has
// delivered.
template <class T>
class Channel {
public:
    void push(std::function<T()> answer)
    {
        std::lock_guard lock(m_mutex);
        m_answers.push_back(std::move(answer));
        release();
        m_changed.notify_all();
    }
    T take(const QString& request, const Cancel& cancel)
    {
        locked([&] { m_requests.append(request); });
        std::stop_callback onCancel(cancel.token(), [this] { locked([this] { release(); }); });
        std::unique_lock lock(m_mutex);
        if (m_answers.empty() && !cancel.isCancelled()) {
            ++m_sleepers, ++blockedWorkers;
            m_changed.wait_for(lock, cancel.token(), std::chrono::seconds(10), [this] { return !m_answers.empty(); });
            --m_sleepers;
            if (m_released > 0)
                --m_released;
            else
                --blockedWorkers;
        }
        if (cancel.isCancelled()) {
            ++m_cancelled;
            throw Cancelled();
        }
        if (m_answers.empty())
            throw ADBError::failed(u"no answer scripted"_s);
        auto answer = std::move(m_answers.front());
        m_answers.pop_front();
        lock.unlock();
        return answer();
    }
    QStringList requests() const { return locked([this] { return m_requests; }); }
    int waiting() const { return locked([this] { return m_sleepers; }); }
    int cancelled() const { return locked([this] { return m_cancelled; }); }

private:
    // Under the lock: one sleeper is about to wake.
    void release()
    {
        if (m_sleepers > m_released)
            ++m_released, --blockedWorkers;
    }
    template <class F>
    auto locked(F f) const
    {
        std::lock_guard lock(m_mutex);
        return f();
    }
    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<std::function<T()>> m_answers;
    QStringList m_requests;
    int m_sleepers = 0, m_released = 0, m_cancelled = 0;
};

// adb's "connect", answered from the test's script; requests are addresses.
// So is "disconnect" once a test scripts it. As adb does, a connection
// lists the address as a ready phone (unless it is listed already) and
// answers with the serial it lists, and a disconnect drops it from the list.
class ConnectingAdbSource : public browsertest::FakeAdbSource {
public:
    QString connect(const ADB&, const QString& address, const Cancel& cancel) override
    {
        connects.take(address, cancel);
        // As adb lists it: an IP address given without a port has its default.
        static const QRegularExpression bareIp(u"^[0-9.]+$"_s);
        const QString listed = listsAs.value(address, bareIp.match(address).hasMatch() ? address + u":5555"_s : address);
        listIfMissing(browsertest::adbPhone(listed));
        listingsLeftToEnd = listingsToEndAfterConnect.load();
        std::lock_guard lock(m_leavingMutex);
        m_leaving = listingsBeforeLeaving >= 0 ? listed : QString();
        m_listingsLeft = listingsBeforeLeaving;
        return answersAs.value(address, listed);
    }
    void disconnect(const ADB& adb, const QString& serial, const Cancel& cancel) override
    {
        if (scriptDisconnects)
            disconnects.take(serial, cancel);
        else
            FakeAdbSource::disconnect(adb, serial, cancel);
        unlist(serial);
    }
    // The next that many device listings (or that many after each connect)
    // fail as adb ended from outside does.
    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override
    {
        if (stopListings > 0) {
            --stopListings;
            throw ADBError::stopped();
        }
        if (listingsLeftToEnd > 0) {
            --listingsLeftToEnd;
            throw ADBError::stopped();
        }
        {
            std::lock_guard lock(m_leavingMutex);
            if (!m_leaving.isEmpty() && m_listingsLeft-- <= 0) {
                unlist(m_leaving);
                m_leaving.clear();
            }
        }
        return FakeAdbSource::devices(adb, cancel);
    }
    std::atomic<int> stopListings{0};
    Channel<void> connects;
    // How many listings after each connect end from outside.
    std::atomic<int> listingsToEndAfterConnect{0};
    std::atomic<int> listingsLeftToEnd{0};
    // The entry adb lists for an address written otherwise; set before connecting.
    QHash<QString, QString> listsAs;
    // The serial adb's answer names, where it is not the entry listed.
    QHash<QString, QString> answersAs;
    std::atomic<bool> scriptDisconnects{false};
    Channel<void> disconnects;
    // The phone a connect lists leaves after that many more listings (-1: it stays).
    std::atomic<int> listingsBeforeLeaving{-1};

private:
    std::mutex m_leavingMutex;
    QString m_leaving;
    int m_listingsLeft = -1;
};

// The browser model as host, with adb's pairing answered from the script;
// requests are "code:address".
class ScriptedHost : public BrowserPairingHost {
public:
    using BrowserPairingHost::BrowserPairingHost;
    ADB::PairResult pair(const ADB&, const QString& address, const QString& code, const Cancel& cancel) override
    {
        return pairs.take(code + u':' + address, cancel);
    }
    // While set, a connection hands back a cancellation nobody asked for.
    Task connectWireless(const QString& address, QObject* context, std::function<void(std::optional<Device>)> done,
                         std::function<void(std::exception_ptr)> failed) override
    {
        if (!connectsCancelUnasked)
            return BrowserPairingHost::connectWireless(address, context, std::move(done), std::move(failed));
        QMetaObject::invokeMethod(
            context, [failed] { failed(std::make_exception_ptr(Cancelled())); }, Qt::QueuedConnection);
        return {};
    }
    Channel<ADB::PairResult> pairs;
    bool connectsCancelUnasked = false;
};

// Waits until no worker runs, without delivering what they posted, so a
// test can act in the same turn as an answer arrives.
inline void workersIdle()
{
    for (int i = 0; i < 5000 && WorkerPool::shared().activeJobs() > blockedWorkers; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Lets workers finish and delivers their answers, a few rounds deep.
inline void settle()
{
    for (int round = 0; round < 10; ++round) {
        workersIdle();
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents();
    }
}

inline std::function<ADB::PairResult()> paired(const QString& address, std::optional<QString> guid = std::nullopt)
{
    return [=] { return ADB::PairResult{address, guid}; };
}

inline std::function<ADB::PairResult()> pairingFails(const PairingFailure& failure)
{
    return [failure]() -> ADB::PairResult { throw ADBError::pairing(failure); };
}

inline std::function<void()> connectFails(const QString& message)
{
    return [message] { throw ADBError::failed(message); };
}

// A clock whose time the test moves.
class SteppedClock : public browsertest::ManualClock {
public:
    std::chrono::steady_clock::time_point now() const override { return time; }
    std::chrono::steady_clock::time_point time{std::chrono::hours(1)};
};

// A browser model over these fakes, its discovery reporting into `browses`.
inline std::unique_ptr<BrowserModel> makeModel(std::shared_ptr<AdbSource> adb, QSettings& settings,
                                               std::shared_ptr<Clock> clock, Browses& browses)
{
    BrowserModel::Collaborators collaborators;
    collaborators.adb = std::move(adb);
    collaborators.mtp = std::make_shared<browsertest::FakeMtpSource>();
    collaborators.settings = &settings;
    collaborators.clock = std::move(clock);
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
    return std::make_unique<BrowserModel>(std::move(collaborators));
}

// The browser model over fakes, with automatic reconnection off unless a
// test turns it on, and a pairing host over it.
class WirelessTest : public ::testing::Test {
protected:
    WirelessTest() { settings.setValue(u"autoReconnectWireless"_s, false); }
    ~WirelessTest() override { settle(); }

    BrowserModel& model()
    {
        if (!m_model) {
            m_model = makeModel(adb, settings, browserClock, browses);
            m_host = std::make_shared<ScriptedHost>(*m_model);
            settle();
        }
        return *m_model;
    }
    std::shared_ptr<ScriptedHost> host()
    {
        model();
        return m_host;
    }
    QStringList requests() { return host()->pairs.requests(); }
    QStringList connected() const { return adb->connects.requests(); }
    // A service appears (or moves) in the discovery, and the model hears of it.
    void list(Kind kind, const QString& name, const char* ip, uint16_t port)
    {
        model();
        browses.resolve(kind, name, ip, port);
        settle();
    }
    void answerPairing(std::function<ADB::PairResult()> answer)
    {
        host()->pairs.push(std::move(answer));
        settle();
    }
    void answerConnect(std::function<void()> answer = [] {})
    {
        adb->connects.push(std::move(answer));
        settle();
    }
    // A typed-code pairing with a phone offering it at 192.168.1.20:37001.
    static void pairTyped(WirelessPairing& pairing)
    {
        pairing.pair({Kind::pairing, u"adb-R5C-x"_s, u"192.168.1.20:37001"_s}, u"123456"_s);
        settle();
    }
    // One pass of the device poll, waited for.
    void pass()
    {
        bool done = false;
        model().refreshDevices([&done] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
        settle();
    }

    QTemporaryDir folder;
    QSettings settings{folder.filePath(u"settings.ini"_s), QSettings::IniFormat};
    std::shared_ptr<ConnectingAdbSource> adb = std::make_shared<ConnectingAdbSource>();
    std::shared_ptr<SteppedClock> browserClock = std::make_shared<SteppedClock>();
    std::shared_ptr<browsertest::ManualClock> clock = std::make_shared<browsertest::ManualClock>();
    Browses browses;

private:
    std::unique_ptr<BrowserModel> m_model;
    std::shared_ptr<ScriptedHost> m_host;
};

} // namespace wirelesstest
