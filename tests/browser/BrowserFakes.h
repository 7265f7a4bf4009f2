#pragma once

// Stand-ins for everything the browser model reaches outside itself, and a
// fixture that builds a model over them with its settings in a temporary INI
// file. The fakes answer on worker threads, so they lock their state.

#include "BrowserModel.h"
#include "ServiceBrowser.h"
#include "TestSupport.h"

#include <QHash>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>

#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace browsertest {

using namespace Qt::Literals::StringLiterals;

// A fake's lock, and the calls it answered, such as "list /sdcard", "info",
// "locate", "devices", "name SERIAL" or "serial SERIAL".
class Fake {
protected:
    template <class F>
    auto locked(F f) const
    {
        std::lock_guard lock(m_mutex);
        return f();
    }
    // Records `call` and answers f(), under the lock.
    template <class F>
    auto recorded(const QString& call, F f) const
    {
        return locked([&] {
            m_calls.append(call);
            return f();
        });
    }

public:
    int calls(const QString& call) const { return locked([&] { return int(m_calls.count(call)); }); }
    int callsStartingWith(const QString& prefix) const
    {
        return locked([&] { return int(m_calls.filter(QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(prefix))).size()); });
    }
    int callsMatching(const QRegularExpression& pattern) const
    {
        return locked([&] { return int(m_calls.filter(pattern).size()); });
    }

private:
    mutable std::mutex m_mutex;
    mutable QStringList m_calls;
};

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
// The names joined by ",", for short comparisons.
QString joined(const QList<RemoteEntry>& entries);
QList<QUrl> urls(const QStringList& paths);

// A phone's files in memory: a listing per folder, failures on demand.
class MemoryPhoneFiles : public PhoneFiles, public Fake {
public:
    void setFolder(const QString& path, const QList<RemoteEntry>& entries) { locked([&] { m_folders.insert(path, entries); }); }
    void removeFolder(const QString& path) { locked([&] { m_folders.remove(path); }); }
    // The next listings of `path` throw this.
    void failListing(const QString& path, std::exception_ptr error) { locked([&] { m_failures.insert(path, error); }); }
    // The next listing of `path` waits for the returned gate.
    std::shared_ptr<Gate> holdListing(const QString& path)
    {
        return locked([&] { return m_holds[path] = std::make_shared<Gate>(); });
    }
    void setInfo(const DeviceInfo& info) { locked([&] { m_info = info; }); }
    // Pushes of `source` made to become `phonePath`: to it, or to a working
    // name of a copy beside it.
    int sent(const QString& source, const QString& phonePath) const;

    // Runs at the start of every pull and push ("pull FROM TO", "push FROM
    // TO"), outside the lock: it may report progress, wait or throw.
    using Transfer = std::function<void(const QString& call, const Progress& progress, const Cancel& cancel)>;
    void onTransfer(Transfer transfer) { locked([&] { m_transfer = std::move(transfer); }); }
    // Runs at the start of every remove and move ("remove PATH", "move FROM
    // TO"), outside the lock: it may wait or throw, as a phone that stops
    // answering there does.
    using Call = std::function<void(const QString& call, const Cancel& cancel)>;
    void onCall(Call call) { locked([&] { m_onCall = std::move(call); }); }
    // Whether putInPlace() is one rename that takes the old file's place, as
    // over adb; else the old file is removed first.
    void setSwapsAtOnce(bool atOnce) { locked([&] { m_swapsAtOnce = atOnce; }); }
    // Whether a name is found whatever its letter case, as on shared storage.
    void setIgnoresCase(bool ignores) { locked([&] { m_ignoresCase = ignores; }); }
    bool putsInPlaceAtOnce() const override { return locked([&] { return m_swapsAtOnce; }); }
    std::optional<Clash> putInPlace(const QString& from, const QString& to, const Covered& covered,
                                    const Cancel& cancel) override;

    std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) override;
    using PhoneFiles::pull;
    // Writes the item's path as a file's contents (a folder is made empty)
    // at the destination, inside it when it is a folder.
    void pull(const QString& path, const QString& destination, const Progress& progress, const Cancel& cancel) override;
    // Adds the item to its folder's listing.
    void push(const QString& source, const QString& destination, const Progress& progress, const Cancel& cancel) override;
    // A listed folder, or an item of one.
    bool exists(const QString& path, const Cancel&) override;
    std::optional<bool> existence(const QString& path, const Cancel&) override;
    // Checks of `path` fail, as after a brief adb or USB error: exists()
    // reads false, existence() can't tell. A path ending in "*" stands for
    // every path it starts.
    void failExists(const QString& path) { locked([&] { m_failedChecks.insert(path); }); }
    // Every failure set so far ends, as when the phone answers again.
    void answerAgain()
    {
        locked([&] {
            m_failures.clear();
            m_failedChecks.clear();
        });
    }
    void remove(const QString& path, const Cancel&) override;
    // Adds the folder to its parent's listing; fails when the parent isn't listed.
    void makeFolder(const QString& path, const Cancel&) override;
    // Renames the item within its listing.
    void move(const QString& from, const QString& to, const Cancel&) override;
    // The call ("remove PATH", "mkdir PATH", "move FROM TO") throws this.
    void failCall(const QString& call, std::exception_ptr error) { locked([&] { m_failures.insert(call, std::move(error)); }); }
    DeviceInfo info(const Cancel&) override { return recorded(u"info"_s, [&] { return m_info; }); }

private:
    // Records the call and runs the transfer hook.
    void transfer(const QString& call, const Progress& progress, const Cancel& cancel);
    // Under the lock: whether the folder `path` lies in lists `name`.
    bool lists(const QString& path, const QString& name, bool foldersOnly = false) const;
    // Records the call and, unless failCall set it to throw, runs f, under the lock.
    template <class F>
    void change(const QString& call, F f)
    {
        recorded(call, [&] { m_failures.contains(call) ? std::rethrow_exception(m_failures.value(call)) : f(); });
    }

    QHash<QString, QList<RemoteEntry>> m_folders;
    QHash<QString, std::exception_ptr> m_failures;
    QSet<QString> m_failedChecks;
    QHash<QString, std::shared_ptr<Gate>> m_holds;
    DeviceInfo m_info;
    Transfer m_transfer;
    Call m_onCall;
    bool m_swapsAtOnce = false;
    bool m_ignoresCase = false;
};

// The desktop with a scripted user: answers and choices are set beforehand,
// and what the model asked and showed is kept.
class ScriptedDesktop : public Desktop {
public:
    std::optional<int> answer;          // to every question; none: closed
    std::optional<QString> folder;      // chosen in the folder panel
    QStringList items;                  // chosen in the items and files panels
    std::optional<QString> clipboard;   // the text last copied
    QList<Question> questions;
    QList<Panel> panels;
    int beeps = 0;
    QStringList opened;
    bool opens = true; // whether a program opens what is opened
    QList<QStringList> revealed;

    // Runs while a question or panel is open, as the nested event loop of a
    // real one lets the poll and the user go on.
    std::function<void()> whileAsking;

    std::optional<int> ask(const Question& question) override { questions.append(question); meanwhile(); return answer; }
    int closings = 0; // of the questions open
    void closeQuestions() override { ++closings; }
    std::optional<QString> chooseFolder(const Panel& panel) override { panels.append(panel); meanwhile(); return folder; }
    QStringList chooseItems(const Panel& panel) override { panels.append(panel); meanwhile(); return items; }
    QStringList chooseFiles(const Panel& panel, const QStringList&) override { return chooseItems(panel); }
    void copyText(const QString& text) override { clipboard = text; }
    void beep() override { ++beeps; }
    bool open(const QString& path, std::function<void()>) override { opened.append(path); return opens; }
    void reveal(const QStringList& paths) override { revealed.append(paths); }

private:
    void meanwhile()
    {
        if (whileAsking)
            whileAsking();
    }
};

// Phones made on first use.
class Phones {
public:
    std::shared_ptr<MemoryPhoneFiles> phone(const QString& serial)
    {
        std::lock_guard lock(m_mutex);
        auto& phone = m_phones[serial];
        return phone ? phone : (phone = std::make_shared<MemoryPhoneFiles>());
    }
    // The phone's files anew, as a phone unplugged and plugged back in has
    // a new connection; whoever kept the old one still holds it.
    std::shared_ptr<MemoryPhoneFiles> replug(const QString& serial)
    {
        std::lock_guard lock(m_mutex);
        return m_phones[serial] = std::make_shared<MemoryPhoneFiles>();
    }

private:
    std::mutex m_mutex;
    QHash<QString, std::shared_ptr<MemoryPhoneFiles>> m_phones;
};

// The adb tool as the model sees it.
class FakeAdbSource : public AdbSource, public Fake, public Phones {
public:
    void setInstalled(bool installed) { locked([&] { m_installed = installed; }); }
    void setDevices(const std::vector<Device>& devices) { locked([&] { m_devices = devices; }); }
    // As adb lists a phone it connected to, and drops one it disconnected.
    void listIfMissing(const Device& device)
    {
        locked([&] {
            if (std::none_of(m_devices.begin(), m_devices.end(),
                             [&](const Device& listed) { return listed.serial == device.serial; }))
                m_devices.push_back(device);
        });
    }
    void unlist(const QString& serial)
    {
        locked([&] { std::erase_if(m_devices, [&](const Device& listed) { return listed.serial == serial; }); });
    }
    void failDevices(bool fail) { locked([&] { m_failDevices = fail; }); }
    void setDisplayName(const QString& serial, const QString& name) { locked([&] { m_names.insert(serial, name); }); }
    void setSerialNumber(const QString& serial, const QString& hardware) { locked([&] { m_serials.insert(serial, hardware); }); }

    std::optional<ADB> locate() override
    {
        return recorded(u"locate"_s, [&] { return m_installed ? std::optional(ADB(u"/fake/adb"_s)) : std::nullopt; });
    }
    std::vector<Device> devices(const ADB& adb, const Cancel& cancel) override;
    std::optional<QString> displayName(const ADB&, const QString& serial, const Cancel&) override
    {
        return lookup(u"name "_s, m_names, serial);
    }
    std::optional<QString> serialNumber(const ADB&, const QString& serial, const Cancel&) override
    {
        return lookup(u"serial "_s, m_serials, serial);
    }
    std::shared_ptr<PhoneFiles> files(const ADB&, const QString& serial) override { return phone(serial); }

    // adb runs are recorded as "run ARG ARG ..." and answered by the runner
    // (default: "Success"), which may throw.
    using Runner = std::function<QString(const QStringList& args)>;
    void onRun(Runner runner) { locked([&] { m_runner = std::move(runner); }); }
    QString run(const ADB&, const QStringList& args, const Cancel& cancel) override;
    QByteArray screenshot(const ADB&, const QString& serial, const Cancel&) override;
    // Streams run `tool` with adb's arguments ("stream ARGS" is recorded);
    // without a tool they cannot start.
    void setStreamTool(const QString& tool) { locked([&] { m_streamTool = tool; }); }
    std::unique_ptr<ADBStream> stream(const ADB&, const QStringList& args, ADBStream::LinesHandler onLines,
                                      ADBStream::EndHandler onEnd) override;
    // Wi-Fi connections ("connect ADDRESS") succeed, once the gate set here opens.
    void holdConnections(std::shared_ptr<Gate> gate) { locked([&] { m_connectGate = std::move(gate); }); }
    QString connect(const ADB&, const QString& address, const Cancel&) override
    {
        if (const auto gate = recorded(u"connect "_s + address, [&] { return m_connectGate; }))
            gate->wait();
        return address;
    }
    void disconnect(const ADB&, const QString& serial, const Cancel&) override
    {
        recorded(u"disconnect "_s + serial, [] {});
    }

private:
    std::optional<QString> lookup(const QString& call, const QHash<QString, QString>& answers, const QString& serial);

    bool m_installed = true;
    bool m_failDevices = false;
    std::vector<Device> m_devices;
    QHash<QString, QString> m_names;
    QHash<QString, QString> m_serials;
    Runner m_runner;
    QString m_streamTool;
    std::shared_ptr<Gate> m_connectGate;
};

// The MTP layer's "item not on the phone".
class FakeMtpMissing : public Error {
public:
    explicit FakeMtpMissing(const QString& name) : Error(u"“"_s + name + u"” isn't on the phone any more."_s) {}
};

// USB phones in file-transfer mode; phone() is a ready one's connection.
class FakeMtpSource : public MtpSource, public Fake, public Phones {
public:
    void setDevices(const std::vector<Device>& devices) { locked([&] { m_devices = devices; }); }
    QSet<QString> lastSkipping() const { return locked([&] { return m_lastSkipping; }); }
    // The file that stands for a phone's USB device node.
    void setDeviceNode(const QString& serial, const QString& path) { locked([&] { m_nodes.insert(serial, path); }); }
    QString deviceNode(const QString& serial) override { return locked([&] { return m_nodes.value(serial); }); }

    std::vector<Device> devices(const QSet<QString>& skipping, const Cancel& cancel) override;
    std::shared_ptr<PhoneFiles> connection(const QString& serial) override;
    bool isMissingItem(const std::exception_ptr& error) const override
    {
        try {
            std::rethrow_exception(error);
        } catch (const FakeMtpMissing&) {
            return true;
        } catch (...) {
            return false;
        }
    }

private:
    std::vector<Device> m_devices;
    QSet<QString> m_lastSkipping;
    QHash<QString, QString> m_nodes;
};

// Time that moves only when the test says so.
class ManualClock : public Clock {
public:
    void after(std::chrono::milliseconds delay, QObject* context, std::function<void()> action) override
    {
        m_lastDelay = delay;
        m_pending.push_back({context, std::move(action)});
    }
    // Runs what is waiting now (not what that schedules); returns how many ran.
    int fire();
    int waiting() const { return int(m_pending.size()); }
    std::chrono::milliseconds lastDelay() const { return m_lastDelay; }

private:
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> m_pending;
    std::chrono::milliseconds m_lastDelay{-1};
};

// Service discovery that never finds anything.
class SilentServiceBrowser : public ServiceBrowser {
public:
    void browse(const QString&, const QString&, Handlers) override {}
};

inline Device adbPhone(const QString& serial, const QString& state = u"device"_s, const QString& model = u"Pixel 7"_s)
{
    return Device{serial, state, model, Device::Transport::adb};
}
inline Device mtpPhone(const QString& serial, const QString& state = u"device"_s, const QString& model = u"Galaxy"_s)
{
    return Device{serial, state, model, Device::Transport::mtp};
}

// A process that holds `node` open as descriptor 3 and runs `command` with
// the argument 30 (seconds of sleep). Like another user's app it is no child
// of the test: it is handed over to init at once. Destroying it kills it.
class NodeHolder {
public:
    NodeHolder(const QString& node, const QStringList& command);
    ~NodeHolder();
    int processId() const { return m_pid; }
    // Alive: there and not a zombie.
    bool running() const;
    bool waitForFinished(int milliseconds) const;

private:
    int m_pid = 0;
};
std::unique_ptr<NodeHolder> nodeHolder(const QString& node, const QStringList& command = {u"sleep"_s});

// A model over these stand-ins, its polls run by hand.
std::unique_ptr<BrowserModel> newModel(std::shared_ptr<AdbSource> adb, std::shared_ptr<MtpSource> mtp,
                                       QSettings& settings, std::shared_ptr<Clock> clock = std::make_shared<ManualClock>(),
                                       std::shared_ptr<Desktop> desktop = {}, bool pollWhenAsked = false);

// A model over fresh fakes; settings start empty unless seeded before model().
class ModelTest : public ::testing::Test {
protected:
    ~ModelTest() override;

    QSettings& settings() { return *m_settings; }
    // Builds the model on first use.
    BrowserModel& model() { return *(m_model ? m_model : (m_model = makeModel(*m_settings))); }
    // Another model over the same fakes, reading `store`.
    std::unique_ptr<BrowserModel> makeModel(QSettings& store) { return newModel(adb, mtp, store, clock, desktop); }
    // One whole device pass, waited for.
    void pass()
    {
        waitFor([this](auto done) { model().refreshDevices(done); });
        settle();
    }
    // Starts the request and waits for it to call back.
    void waitFor(const std::function<void(std::function<void()>)>& request);
    // Reload, waited for.
    void reload() { waitFor([this](auto done) { model().reload(done); }); }
    // Lets every worker finish and delivers what they posted.
    void settle();
    // Replaces the settings file with this INI text (before model()).
    void seedIni(const QByteArray& text);
    // Ends the model as the application quits; the next model() reads the
    // same settings file anew.
    void quit();
    // The settings as a fresh reader sees them on disk.
    QVariant stored(const QString& key);

    QTemporaryDir m_folder;
    QString m_settingsPath = m_folder.filePath(u"settings.ini"_s);
    int m_seeded = 0;
    std::unique_ptr<QSettings> m_settings = std::make_unique<QSettings>(m_settingsPath, QSettings::IniFormat);
    std::shared_ptr<FakeAdbSource> adb = std::make_shared<FakeAdbSource>();
    std::shared_ptr<FakeMtpSource> mtp = std::make_shared<FakeMtpSource>();
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::vector<std::shared_ptr<Gate>> gates; // opened at the end of every test

private:
    std::unique_ptr<BrowserModel> m_model;
};

// Copies and other jobs: phone A1 chosen with "photo.jpg", "Photos" and
// ".hidden" in /sdcard; copies to the computer go to `saved` without asking.
class JobTest : public ModelTest {
protected:
    void SetUp() override
    {
        adb->setDevices({adbPhone(u"A1"_s)});
        phone->setFolder(u"/sdcard"_s, {file(u"photo.jpg"_s), folder(u"Photos"_s), file(u".hidden"_s)});
        pass();
        model().setAskWhereToSave(false);
        model().setSaveFolder(saved.path());
    }
    // Waits for the job to end and for what follows it.
    void run()
    {
        ASSERT_TRUE(testsupport::waitUntil([this] { return !model().job(); }));
        settle();
    }
    // Every transfer from now on waits for the returned gate.
    std::shared_ptr<Gate> holdTransfers()
    {
        auto gate = gates.emplace_back(std::make_shared<Gate>());
        phone->onTransfer([gate](const QString&, const Progress&, const Cancel&) { gate->wait(); });
        return gate;
    }

    QTemporaryDir saved;
    std::shared_ptr<MemoryPhoneFiles> phone = adb->phone(u"A1"_s);
};

} // namespace browsertest
