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

#include <QCoreApplication>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

namespace wirelesstest {

using Kind = WirelessService::Kind;
using PhaseKind = WirelessPairing::Phase::Kind;

// Workers waiting in a channel for an answer the test has not given yet.
// They count as idle, so a test can settle while one waits.
inline std::atomic<int> blockedWorkers{0};

// Answers handed to a blocked worker one by one. A worker waits (10 s at
// most) for the next answer or its cancellation. An answer or a cancellation
// stops the worker counting as blocked at once, so that settling afterwards
// waits until it has delivered.
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
    T take(const Cancel& cancel)
    {
        std::stop_callback onCancel(cancel.token(), [this] {
            std::lock_guard lock(m_mutex);
            release();
        });
        std::unique_lock lock(m_mutex);
        if (m_answers.empty() && !cancel.isCancelled()) {
            ++m_sleepers;
            ++blockedWorkers;
            m_changed.wait_for(lock, cancel.token(), std::chrono::seconds(10),
                               [this] { return !m_answers.empty(); });
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
            throw ADBError::failed(QStringLiteral("no answer scripted"));
        auto answer = std::move(m_answers.front());
        m_answers.pop_front();
        lock.unlock();
        return answer();
    }
    int waiting() const { return locked([this] { return m_sleepers; }); }
    int cancelled() const { return locked([this] { return m_cancelled; }); }

private:
    // Under the lock: one sleeper is about to wake.
    void release()
    {
        if (m_sleepers > m_released) {
            ++m_released;
            --blockedWorkers;
        }
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
    int m_sleepers = 0;
    int m_released = 0;
    int m_cancelled = 0;
};

// adb's "connect", answered from the test's script.
class ConnectingAdbSource : public browsertest::FakeAdbSource {
public:
    void connect(const ADB&, const QString& address, const Cancel& cancel) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_addresses.append(address);
        }
        connects.take(cancel);
    }
    QStringList connected() const
    {
        std::lock_guard lock(m_mutex);
        return m_addresses;
    }
    Channel<void> connects;

private:
    mutable std::mutex m_mutex;
    QStringList m_addresses;
};

// The browser model as host, with adb's pairing answered from the script.
class ScriptedHost : public BrowserPairingHost {
public:
    using BrowserPairingHost::BrowserPairingHost;

    ADB::PairResult pair(const ADB&, const QString& address, const QString& code, const Cancel& cancel) override
    {
        {
            std::lock_guard lock(m_mutex);
            m_requests.append(code + QLatin1Char(':') + address);
        }
        return pairs.take(cancel);
    }
    // "code:address" of every pairing request.
    QStringList requests() const
    {
        std::lock_guard lock(m_mutex);
        return m_requests;
    }
    Channel<ADB::PairResult> pairs;

private:
    mutable std::mutex m_mutex;
    QStringList m_requests;
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

inline ADB::PairResult paired(const QString& address, std::optional<QString> guid = std::nullopt)
{
    return {address, std::move(guid)};
}

inline std::function<ADB::PairResult()> pairingFails(const PairingFailure& failure)
{
    return [failure]() -> ADB::PairResult { throw ADBError::pairing(failure); };
}

// The browser model over fakes, with automatic reconnection off unless a
// test turns it on, and a pairing host over it.
class WirelessTest : public ::testing::Test {
protected:
    WirelessTest()
    {
        settings.setValue(QStringLiteral("autoReconnectWireless"), false);
    }
    ~WirelessTest() override { settle(); }

    BrowserModel& model()
    {
        if (!m_model) {
            BrowserModel::Collaborators collaborators;
            collaborators.adb = adb;
            collaborators.mtp = std::make_shared<browsertest::FakeMtpSource>();
            collaborators.settings = &settings;
            collaborators.clock = browserClock;
            collaborators.discovery =
                std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
            m_model = std::make_unique<BrowserModel>(std::move(collaborators));
            m_host = std::make_shared<ScriptedHost>(*m_model);
            settle();
        }
        return *m_model;
    }
    ScriptedHost& host()
    {
        model();
        return *m_host;
    }
    std::shared_ptr<ScriptedHost> hostPointer()
    {
        model();
        return m_host;
    }
    // A service appears (or moves) in the discovery.
    void list(Kind kind, const QString& name, const char* ip, uint16_t port)
    {
        model();
        browses.resolve(kind, name, ip, port);
    }

    QTemporaryDir folder;
    QSettings settings{folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ConnectingAdbSource> adb = std::make_shared<ConnectingAdbSource>();
    std::shared_ptr<browsertest::ManualClock> browserClock = std::make_shared<browsertest::ManualClock>();
    std::shared_ptr<browsertest::ManualClock> clock = std::make_shared<browsertest::ManualClock>();
    Browses browses;

private:
    std::unique_ptr<BrowserModel> m_model;
    std::shared_ptr<ScriptedHost> m_host;
};

} // namespace wirelesstest
