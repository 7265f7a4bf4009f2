#pragma once

// Stand-ins for everything the browser model reaches outside itself, and a
// fixture that builds a model over them with its settings in a temporary INI
// file. The fakes answer on worker threads, so they lock their state.

#include "BrowserModel.h"
#include "ServiceBrowser.h"

#include <QHash>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace browsertest {

// Holds a worker until the test lets it go (at most 10 seconds, so a broken
// test cannot hang).
class Gate {
public:
    void open();
    void wait();
    bool waiting() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
    bool m_waiting = false;
};

RemoteEntry folder(const QString& name);
RemoteEntry file(const QString& name, int64_t size = 0, const QDateTime& modified = {});
QStringList names(const QList<RemoteEntry>& entries);

// A phone's files in memory: a listing per folder, failures on demand.
class MemoryPhoneFiles : public PhoneFiles {
public:
    void setFolder(const QString& path, const QList<RemoteEntry>& entries);
    void removeFolder(const QString& path);
    // The next listings of `path` throw this.
    void failListing(const QString& path, std::exception_ptr error);
    // The next listing of `path` waits for the returned gate.
    std::shared_ptr<Gate> holdListing(const QString& path);
    void setInfo(const DeviceInfo& info);

    int listings(const QString& path) const;
    QList<bool> hiddenFlags() const; // showHidden of every listing, in order
    int infoReads() const;

    std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) override;
    using PhoneFiles::pull;
    void pull(const QString&, const QString&, const Progress&, const Cancel&) override {}
    void push(const QString&, const QString&, const Progress&, const Cancel&) override {}
    bool exists(const QString& path, const Cancel&) override;
    void remove(const QString&, const Cancel&) override {}
    void makeFolder(const QString&, const Cancel&) override {}
    void move(const QString&, const QString&, const Cancel&) override {}
    DeviceInfo info(const Cancel& cancel) override;

private:
    mutable std::mutex m_mutex;
    QHash<QString, QList<RemoteEntry>> m_folders;
    QHash<QString, std::exception_ptr> m_failures;
    QHash<QString, std::shared_ptr<Gate>> m_holds;
    QHash<QString, int> m_listings;
    QList<bool> m_hidden;
    DeviceInfo m_info;
    int m_infoReads = 0;
};

// The adb tool as the model sees it.
class FakeAdbSource : public AdbSource {
public:
    void setInstalled(bool installed);
    void setDevices(const std::vector<Device>& devices);
    void failDevices(bool fail);
    void setDisplayName(const QString& serial, const std::optional<QString>& name);
    void setSerialNumber(const QString& serial, const std::optional<QString>& hardwareSerial);
    std::shared_ptr<MemoryPhoneFiles> phone(const QString& serial); // made on first use

    int displayNameQueries(const QString& serial) const;
    int serialNumberQueries(const QString& serial) const;
    int locateCalls() const;
    int devicesCalls() const;

    std::optional<ADB> locate() override;
    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override;
    std::optional<QString> displayName(const ADB& adb, const QString& serial, const Cancel& cancel) override;
    std::optional<QString> serialNumber(const ADB& adb, const QString& serial, const Cancel& cancel) override;
    std::shared_ptr<PhoneFiles> files(const ADB& adb, const QString& serial) override;

private:
    mutable std::mutex m_mutex;
    bool m_installed = true;
    bool m_failDevices = false;
    std::vector<Device> m_devices;
    QHash<QString, std::optional<QString>> m_names;
    QHash<QString, std::optional<QString>> m_serials;
    QHash<QString, std::shared_ptr<MemoryPhoneFiles>> m_phones;
    QHash<QString, int> m_nameQueries;
    QHash<QString, int> m_serialQueries;
    int m_locateCalls = 0;
    int m_devicesCalls = 0;
};

// The MTP layer's "item not on the phone".
class FakeMtpMissing : public Error {
public:
    explicit FakeMtpMissing(const QString& name) : Error(QStringLiteral("“") + name + QStringLiteral("” isn't on the phone any more.")) {}
};

// USB phones in file-transfer mode.
class FakeMtpSource : public MtpSource {
public:
    void setDevices(const std::vector<Device>& devices);
    std::shared_ptr<MemoryPhoneFiles> phone(const QString& serial); // ready connection, made on first use
    QSet<QString> lastSkipping() const;

    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) override;
    std::shared_ptr<PhoneFiles> connection(const QString& serial) override;
    bool isMissingItem(const std::exception_ptr& error) const override;

private:
    mutable std::mutex m_mutex;
    std::vector<Device> m_devices;
    QHash<QString, std::shared_ptr<MemoryPhoneFiles>> m_phones;
    QSet<QString> m_lastSkipping;
};

// Time that moves only when the test says so.
class ManualClock : public Clock {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override;
    // Runs what is waiting now (not what that schedules); returns how many ran.
    int fire();
    int waiting() const { return int(m_pending.size()); }
    std::chrono::milliseconds lastDelay() const { return m_lastDelay; }

private:
    struct Pending {
        QPointer<QObject> context;
        std::function<void()> action;
    };
    std::vector<Pending> m_pending;
    std::chrono::milliseconds m_lastDelay{-1};
};

// Service discovery that never finds anything.
class SilentServiceBrowser : public ServiceBrowser {
public:
    void browse(const QString&, const QString&, Handlers) override {}
};

Device adbPhone(const QString& serial, const QString& state = QStringLiteral("device"),
                const QString& model = QStringLiteral("Pixel 7"));
Device mtpPhone(const QString& serial, const QString& state = QStringLiteral("device"),
                const QString& model = QStringLiteral("Galaxy"));

// A model over fresh fakes; settings start empty unless seeded before model().
class ModelTest : public ::testing::Test {
protected:
    ModelTest();
    ~ModelTest() override;

    QSettings& settings() { return *m_settings; }
    // Builds the model on first use.
    BrowserModel& model();
    // One whole device pass, waited for.
    void pass();
    // Reload, waited for.
    void reload();
    // Lets every worker finish and delivers what they posted.
    void settle();
    // Replaces the settings file with this INI text (before model()).
    void seedIni(const QByteArray& text);
    // The settings as a fresh reader sees them on disk.
    QVariant stored(const QString& key);

    QTemporaryDir m_folder;
    QString m_settingsPath;
    int m_seeded = 0;
    std::unique_ptr<QSettings> m_settings;
    std::shared_ptr<FakeAdbSource> adb = std::make_shared<FakeAdbSource>();
    std::shared_ptr<FakeMtpSource> mtp = std::make_shared<FakeMtpSource>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::vector<std::shared_ptr<Gate>> gates; // opened at the end of every test

private:
    std::unique_ptr<BrowserModel> m_model;
};

} // namespace browsertest
