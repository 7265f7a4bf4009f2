// The browser model's side of Wi-Fi phones: names, connected marks,
// connecting by address and reconnecting paired phones by themselves.

#include "WirelessFixture.h"

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

using BrowserWireless = WirelessTest;

TEST_F(BrowserWireless, NamesAServiceByStoredNameDeviceOrSerial)
{
    settings.setValue(u"pairedPhones"_s, QVariantMap{{u"NAMED"_s, u"Work phone"_s}, {u"EMPTY"_s, QString()}});
    adb->setDevices({adbPhone(u"EMPTY"_s, u"device"_s, u"Pixel 8"_s)});
    pass();
    const std::pair<QString, QString> cases[] = {
        {u"adb-NAMED-x1"_s, u"Work phone"_s},
        {u"adb-EMPTY-x1"_s, u"Pixel 8"_s},
        {u"adb-NEW-PART-x1"_s, u"Android phone (NEW-PART)"_s},
        {u"vantelorquist-abcd2345"_s, u"Android phone"_s},
        {u"Living room"_s, u"Living room"_s},
    };
    for (const auto& [name, expected] : cases)
        EXPECT_EQ(model().name(name), expected) << name.toStdString();
}

TEST_F(BrowserWireless, AServiceIsConnectedByAddressMdnsNameOrSerial)
{
    adb->setDevices({adbPhone(u"10.0.0.5:5555"_s), adbPhone(u"adb-MDNS-t._adb-tls-connect._tcp"_s), adbPhone(u"USB1"_s)});
    pass();
    const std::pair<WirelessService, bool> cases[] = {
        {{Kind::connect, u"adb-A-t"_s, u"10.0.0.5:5555"_s}, true},
        {{Kind::connect, u"adb-MDNS-t"_s, u"10.0.0.6:5555"_s}, true},
        {{Kind::pairing, u"adb-MDNS-t"_s, u"10.0.0.6:5555"_s}, false},
        {{Kind::connect, u"adb-USB1-t"_s, u"10.0.0.7:5555"_s}, true},
        {{Kind::connect, u"adb-OTHER-t"_s, u"10.0.0.8:5555"_s}, false},
    };
    for (const auto& [service, isConnected] : cases)
        EXPECT_EQ(model().isConnected(service), isConnected) << service.id().toStdString();
}

TEST_F(BrowserWireless, ConnectingShowsItsJobThenChoosesThePhoneOrThrows)
{
    std::optional<Device> device;
    QString failure;
    for (const bool succeeds : {true, false}) {
        model().connectWireless(
            u"10.0.0.5:5555"_s, &model(), [&](std::optional<Device> d) { device = d; },
            [&](std::exception_ptr error) { failure = failureText(error).value_or(u"<cancelled>"_s); });
        EXPECT_EQ(model().job(), (Job{u"Connecting to 10.0.0.5:5555…"_s, std::nullopt, false}));
        adb->setDevices({});
        if (succeeds)
            adb->setDevices({adbPhone(u"10.0.0.5:5555"_s, u"device"_s, u"Pixel 8"_s)});
        adb->connects.push(succeeds ? std::function<void()>([] {}) : connectFails(u"failed to connect"_s));
        settle();
        EXPECT_FALSE(model().job());
    }
    ASSERT_TRUE(device);
    EXPECT_EQ(device->model, u"Pixel 8"_s);
    EXPECT_EQ(model().selectedSerial(), u"10.0.0.5:5555"_s);
    EXPECT_EQ(failure, u"failed to connect"_s);
}

// Mended: adb keeps an address it failed to connect to as an offline phone,
// so the list said "Connecting…" for good after the sheet said it failed.
TEST_F(BrowserWireless, AFailedConnectionIsDisconnectedAgainWithinABound)
{
    WirelessPairing pairing{clock};
    pairing.start(host());
    settle();
    adb->scriptDisconnects = true;
    const QString address = u"10.0.0.5:5555"_s;
    pairing.connectManually(address, QString(), QString());
    settle();
    adb->setDevices({adbPhone(address, u"offline"_s)}); // as adb keeps it
    answerConnect(connectFails(u"failed to connect to 10.0.0.5:5555"_s));
    EXPECT_EQ(pairing.phase().kind(), PhaseKind::failed);
    ASSERT_EQ(adb->disconnects.requests(), QStringList{address});
    // A disconnect that hangs is given up on.
    EXPECT_EQ(adb->disconnects.waiting(), 1);
    browserClock->fire();
    settle();
    EXPECT_EQ(adb->disconnects.cancelled(), 1);

    // Neither a connection that worked nor one the person stopped is undone.
    pairing.connectManually(address, QString(), QString());
    answerConnect();
    pairing.connectManually(u"10.0.0.6:5555"_s, QString(), QString());
    settle();
    pairing.stop();
    settle();
    EXPECT_EQ(adb->disconnects.requests(), QStringList{address});
}

// Mended: a failed connection to an address adb reads otherwise (its port
// past 65535) left adb's offline entry, listed under the address adb read.
// It goes as any other's does, and only when it wasn't listed before.
TEST_F(BrowserWireless, AFailedConnectionToAnAddressAdbReadsOtherwiseLeavesNoEntry)
{
    adb->scriptDisconnects = true;
    const QString typed = u"10.0.0.5:4294972851"_s, listed = u"10.0.0.5:5555"_s;
    for (const bool listedBefore : {false, true}) {
        SCOPED_TRACE(listedBefore ? "listed before" : "not listed before");
        adb->setDevices(listedBefore ? std::vector{adbPhone(listed, u"offline"_s)} : std::vector<Device>{});
        QString failure;
        model().connectWireless(typed, &model(), [](std::optional<Device>) {},
                                [&](std::exception_ptr error) { failure = failureText(error).value_or(u"<cancelled>"_s); });
        settle();
        adb->setDevices({adbPhone(listed, u"offline"_s)}); // as adb keeps it
        answerConnect(connectFails(u"failed to connect to 10.0.0.5:5555"_s));
        EXPECT_EQ(failure, u"failed to connect to 10.0.0.5:5555"_s);
        if (!listedBefore)
            adb->disconnects.push([] {});
        settle();
        EXPECT_EQ(adb->disconnects.requests(), QStringList{listed}); // the first time only
    }
}

// Mended: after a failed connect, any entry of the address that wasn't a
// ready phone was disconnected, someone else's connection under way
// included. Only what adb leaves of a failed connection goes.
TEST_F(BrowserWireless, AFailedConnectLeavesAnEntryThatIsBeingConnected)
{
    adb->scriptDisconnects = true;
    const QString address = u"10.0.0.5:5555"_s;
    for (const QString& state : {u"connecting"_s, u"authorizing"_s, u"unauthorized"_s}) {
        SCOPED_TRACE(state.toStdString());
        adb->setDevices({});
        model().connectWireless(address, &model(), [](std::optional<Device>) {}, [](std::exception_ptr) {});
        settle();
        adb->setDevices({adbPhone(address, state)});
        answerConnect(connectFails(u"failed to connect to 10.0.0.5:5555"_s));
        EXPECT_EQ(adb->disconnects.requests(), QStringList());
    }
}

// Mended: the automatic reconnection and the sheet's Connect ran side by side
// on one address, and the one that failed last disconnected the phone the
// other had just connected.
TEST_F(BrowserWireless, OneAttemptPerAddressAndALateFailureDropsNoReadyPhone)
{
    const QString address = u"10.0.0.5:5555"_s;
    settings.setValue(u"pairedPhones"_s, QVariantMap{{u"R5C"_s, QString()}});
    settings.setValue(u"autoReconnectWireless"_s, true);
    list(Kind::connect, u"adb-R5C-t"_s, "10.0.0.5", 5555);
    ASSERT_EQ(connected(), QStringList{address});

    std::vector<std::optional<Device>> done;
    QStringList failures;
    auto sheetConnects = [&] {
        return model().connectWireless(
            address, &model(), [&](std::optional<Device> device) { done.push_back(device); },
            [&](std::exception_ptr error) { failures << failureText(error).value_or(u"<cancelled>"_s); });
    };
    sheetConnects();
    Task stopped = sheetConnects();
    settle();
    EXPECT_EQ(connected().size(), 1) << "the sheet's attempts wait for the automatic one";
    stopped.cancel();
    settle();
    EXPECT_EQ(failures, QStringList{u"<cancelled>"_s});

    answerConnect(); // the automatic attempt connects
    ASSERT_EQ(connected().size(), 2);
    answerConnect(connectFails(u"failed to connect to 10.0.0.5:5555"_s)); // the sheet's, late
    EXPECT_EQ(connected().size(), 2) << "the stopped attempt never ran";
    EXPECT_EQ(adb->callsStartingWith(u"disconnect"_s), 0);
    ASSERT_EQ(done.size(), 1u);
    ASSERT_TRUE(done.front());
    EXPECT_EQ(model().selectedSerial(), address);
}

// Mended: only the caller's Stop is a cancellation. The listing after "adb
// connect" ended from outside, or a Disconnect of the address while a
// connection ran or waited for its turn, ended the connection as cancelled,
// and the sheet said "Connecting to …" for good.
TEST_F(BrowserWireless, AConnectionNobodyWhoAskedStoppedEndsInWords)
{
    const QString address = u"10.0.0.5:5555"_s;
    QStringList failures;
    const auto connect = [&] {
        return model().connectWireless(
            address, &model(), [](std::optional<Device>) {},
            [&](std::exception_ptr error) { failures << failureText(error).value_or(u"<cancelled>"_s); });
    };

    connect();
    settle();
    // Asked once more; ended from outside both times, it is told.
    answerConnect([this] { adb->stopListings = 2; });
    EXPECT_EQ(failures, QStringList{u"adb was stopped before it answered."_s});
    EXPECT_FALSE(model().job());

    failures.clear();
    adb->setDevices({adbPhone(address, u"offline"_s)});
    connect();
    connect(); // waits for the first one's turn
    settle();
    model().disconnect(adbPhone(address, u"offline"_s));
    settle();
    EXPECT_EQ(failures, (QStringList{u"it was disconnected meanwhile."_s, u"it was disconnected meanwhile."_s}));
    EXPECT_FALSE(model().job());

    // The caller's own Stop stays a cancellation, running or waiting.
    failures.clear();
    Task running = connect();
    Task waiting = connect();
    settle();
    waiting.cancel();
    running.cancel();
    settle();
    EXPECT_EQ(failures, (QStringList{u"<cancelled>"_s, u"<cancelled>"_s}));
}

// Mended: an address typed without a port connected, and adb listed it
// with its default port, so the connection was reported as a failure.
TEST_F(BrowserWireless, AnAddressWithoutAPortIsTheOneAdbLists)
{
    std::optional<Device> done;
    QStringList failures;
    model().connectWireless(
        u"10.0.0.7"_s, &model(), [&](std::optional<Device> device) { done = device; },
        [&](std::exception_ptr error) { failures << failureText(error).value_or(u"<cancelled>"_s); });
    settle();
    answerConnect();
    EXPECT_EQ(failures, QStringList());
    ASSERT_TRUE(done);
    EXPECT_EQ(done->serial, u"10.0.0.7:5555"_s);
    EXPECT_EQ(model().selectedSerial(), u"10.0.0.7:5555"_s);
}

// Mended: an address adb reads otherwise than it is written connected the
// phone, yet its entry was not found: the sheet said "Couldn’t connect" and
// the phone was not chosen. An entry of another port is still not taken.
TEST_F(BrowserWireless, TheEntryIsFoundAsAdbReadsTheAddress)
{
    const struct { QString typed, listed; bool found; } cases[] = {
        {u"127.0.0.1:040357"_s, u"127.0.0.1:40357"_s, true},
        {u"127.0.0.1: 40357"_s, u"127.0.0.1:40357"_s, true},
        {u"127.0.0.1:+40357 "_s, u"127.0.0.1:40357"_s, true},
        {u"::1"_s, u"[::1]:5555"_s, true},
        {u"[::1]:05555"_s, u"[::1]:5555"_s, true},
        {u"fe80::1%wlan0"_s, u"[fe80::1%wlan0]:5555"_s, true},
        // Mended: adb reads the port as a 32-bit number, its sign too.
        {u"127.0.0.1:4295014419"_s, u"127.0.0.1:47123"_s, true},
        {u"127.0.0.1:-4294920173"_s, u"127.0.0.1:47123"_s, true},
        {u"127.0.0.1:40358"_s, u"127.0.0.1:40357"_s, false},
        {u"LOCALHOST:40357"_s, u"localhost:40357"_s, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        adb->setDevices({});
        adb->listsAs.insert(c.typed, c.listed);
        if (!c.found)
            adb->answersAs.insert(c.typed, c.typed);
        std::optional<Device> done;
        QString failure;
        model().connectWireless(
            c.typed, &model(), [&](std::optional<Device> device) { done = device; },
            [&](std::exception_ptr error) { failure = failureText(error).value_or(u"<cancelled>"_s); });
        settle();
        answerConnect();
        if (c.found) {
            EXPECT_EQ(failure, QString());
            ASSERT_TRUE(done);
            EXPECT_EQ(done->serial, c.listed);
            EXPECT_EQ(model().selectedSerial(), c.listed);
        } else {
            EXPECT_EQ(failure, u"adb doesn’t list it as a phone."_s);
            EXPECT_FALSE(done);
        }
    }
}

// Mended: with no thread for adb, connecting showed "Connecting to …" and
// threw, so the job stayed and every later action only beeped; an automatic
// reconnection's failure is shown as the one to start anything else is.
TEST_F(BrowserWireless, ConnectionsThatGetNoThreadEndAndSayWhy)
{
    struct Refusal {
        Refusal() { WorkerPool::shared().refuseThreadsForTesting(true); }
        ~Refusal() { WorkerPool::shared().refuseThreadsForTesting(false); }
    };
    settings.setValue(u"pairedPhones"_s, QVariantMap{{u"R5C"_s, QString()}});
    QString failure;
    const struct {
        const char* what;
        std::function<void()> request;
        const QString* shown;
    } cases[] = {
        {"connecting by address",
         [&] {
             model().connectWireless(u"10.0.0.5:5555"_s, &model(), [](std::optional<Device>) {},
                                     [&](std::exception_ptr error) { failure = failureText(error).value_or(QString()); });
         },
         &failure},
        {"reconnecting a paired phone",
         [&] {
             model().setAutoReconnectWireless(true);
             list(Kind::connect, u"adb-R5C-t"_s, "10.0.0.6", 5555);
         },
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        model().setErrorMessage(std::nullopt);
        {
            const Refusal refusal;
            EXPECT_NO_THROW(c.request());
            settle();
        }
        const QString shown = c.shown ? *c.shown : model().errorMessage().value_or(QString());
        EXPECT_TRUE(shown.startsWith(u"Couldn't start a worker thread"_s)) << shown.toStdString();
        EXPECT_FALSE(model().job());
    }
    EXPECT_TRUE(connected().isEmpty());
    EXPECT_EQ(adb->callsStartingWith(u"disconnect"_s), 0) << "nothing ran, so nothing is undone";
}

TEST_F(BrowserWireless, PairedAdvertisedPhonesReconnectAtMostOnceAMinute)
{
    settings.setValue(u"pairedPhones"_s, QVariantMap{{u"R5C"_s, QString()}});
    settings.setValue(u"autoReconnectWireless"_s, true);
    list(Kind::connect, u"adb-R5C-t"_s, "10.0.0.5", 5555);
    list(Kind::connect, u"adb-UNPAIRED-t"_s, "10.0.0.6", 5555);
    list(Kind::connect, u"not-an-adb-name"_s, "10.0.0.7", 5555);
    EXPECT_EQ(connected(), QStringList{u"10.0.0.5:5555"_s});
    adb->setDevices({adbPhone(u"10.0.0.5:5555"_s, u"offline"_s)}); // as adb keeps it
    adb->connects.push(connectFails(u"no route"_s));
    settle();
    // Not left as adb's offline entry, which would count as connected.
    EXPECT_EQ(adb->calls(u"disconnect 10.0.0.5:5555"_s), 1);
    const auto after = [&](int seconds, bool on) {
        browserClock->time += std::chrono::seconds(seconds);
        model().setAutoReconnectWireless(on);
        settle();
        return connected().size();
    };
    EXPECT_EQ(after(59, true), 1);
    EXPECT_EQ(after(1, true), 2);
    adb->connects.push([] {});
    settle();
    // Not while off, nor for a phone that is already there over USB.
    after(300, false);
    adb->setDevices({adbPhone(u"R5C"_s)});
    pass();
    EXPECT_EQ(after(0, true), 2);
}

TEST_F(BrowserWireless, AUserDisconnectHoldsUntilTheAddressStopsBeingAdvertised)
{
    settings.setValue(u"pairedPhones"_s, QVariantMap{{u"R5C"_s, QString()}});
    list(Kind::connect, u"adb-R5C-t"_s, "10.0.0.5", 5555);
    adb->setDevices({adbPhone(u"10.0.0.5:5555"_s)});
    pass();
    model().disconnect(model().devices().first());
    adb->setDevices({});
    settle();
    model().setAutoReconnectWireless(true);
    settle();
    EXPECT_TRUE(connected().isEmpty());
    browses.remove(Kind::connect, u"adb-R5C-t"_s);
    settle();
    list(Kind::connect, u"adb-R5C-t"_s, "10.0.0.5", 5555);
    EXPECT_EQ(connected(), QStringList{u"10.0.0.5:5555"_s});
    adb->connects.push([] {});
}

} // namespace
