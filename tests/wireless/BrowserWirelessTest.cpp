// The browser model's side of Wi-Fi phones: names, connected marks,
// connecting by address and reconnecting paired phones by themselves.

#include "WirelessFixture.h"

using namespace wirelesstest;
using browsertest::adbPhone;

namespace {

// A clock whose time the test moves.
class SteppedClock : public browsertest::ManualClock {
public:
    std::chrono::steady_clock::time_point now() const override { return time; }
    std::chrono::steady_clock::time_point time{std::chrono::hours(1)};
};

class BrowserWireless : public WirelessTest {
protected:
    BrowserWireless() { browserClock = stepped; }
    // One pass of the device poll.
    void pass()
    {
        bool done = false;
        model().refreshDevices([&done] { done = true; });
        ASSERT_TRUE(testsupport::waitUntil([&done] { return done; }));
        settle();
    }

    std::shared_ptr<SteppedClock> stepped = std::make_shared<SteppedClock>();
};

TEST_F(BrowserWireless, NamesAServiceByStoredNameDeviceOrSerial)
{
    settings.setValue(QStringLiteral("pairedPhones"), QVariantMap{{QStringLiteral("NAMED"), QStringLiteral("Work phone")},
                                                                  {QStringLiteral("EMPTY"), QString()}});
    adb->setDevices({adbPhone(QStringLiteral("EMPTY"), QStringLiteral("device"), QStringLiteral("Pixel 8"))});
    pass();
    const struct {
        QString name, expected;
    } cases[] = {
        {QStringLiteral("adb-NAMED-x1"), QStringLiteral("Work phone")},
        {QStringLiteral("adb-EMPTY-x1"), QStringLiteral("Pixel 8")},
        {QStringLiteral("adb-NEW-PART-x1"), QStringLiteral("Android phone (NEW-PART)")},
        {QStringLiteral("vantelorquist-abcd2345"), QStringLiteral("Android phone")},
        {QStringLiteral("Living room"), QStringLiteral("Living room")},
    };
    for (const auto& c : cases)
        EXPECT_EQ(model().name(c.name), c.expected) << c.name.toStdString();
}

TEST_F(BrowserWireless, AServiceIsConnectedByAddressMdnsNameOrSerial)
{
    adb->setDevices({adbPhone(QStringLiteral("10.0.0.5:5555")),
                     adbPhone(QStringLiteral("adb-MDNS-t._adb-tls-connect._tcp")), adbPhone(QStringLiteral("USB1"))});
    pass();
    const struct {
        WirelessService service;
        bool connected;
    } cases[] = {
        {{Kind::connect, QStringLiteral("adb-A-t"), QStringLiteral("10.0.0.5:5555")}, true},
        {{Kind::connect, QStringLiteral("adb-MDNS-t"), QStringLiteral("10.0.0.6:5555")}, true},
        {{Kind::pairing, QStringLiteral("adb-MDNS-t"), QStringLiteral("10.0.0.6:5555")}, false},
        {{Kind::connect, QStringLiteral("adb-USB1-t"), QStringLiteral("10.0.0.7:5555")}, true},
        {{Kind::connect, QStringLiteral("adb-OTHER-t"), QStringLiteral("10.0.0.8:5555")}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(model().isConnected(c.service), c.connected) << c.service.id().toStdString();
}

TEST_F(BrowserWireless, ConnectingShowsItsJobChoosesThePhoneAndClearsTheJob)
{
    std::optional<std::optional<Device>> answer;
    model().connectWireless(QStringLiteral("10.0.0.5:5555"), &model(),
                            [&](std::optional<Device> device) { answer = device; }, [](std::exception_ptr) {});
    EXPECT_EQ(model().job(), (Job{QStringLiteral("Connecting to 10.0.0.5:5555…"), std::nullopt, false}));
    adb->setDevices({adbPhone(QStringLiteral("10.0.0.5:5555"), QStringLiteral("device"), QStringLiteral("Pixel 8"))});
    adb->connects.push([] {});
    settle();
    ASSERT_TRUE(answer && *answer);
    EXPECT_EQ((*answer)->model, QStringLiteral("Pixel 8"));
    EXPECT_EQ(model().selectedSerial(), QStringLiteral("10.0.0.5:5555"));
    EXPECT_FALSE(model().job());
}

TEST_F(BrowserWireless, AFailedConnectionIsThrownAndClearsOnlyItsOwnJob)
{
    QString failure;
    model().connectWireless(
        QStringLiteral("10.0.0.5:5555"), &model(), [](std::optional<Device>) {},
        [&](std::exception_ptr error) { failure = failureText(error).value_or(QStringLiteral("<cancelled>")); });
    adb->connects.push([] { throw ADBError::failed(QStringLiteral("failed to connect to 10.0.0.5:5555")); });
    settle();
    EXPECT_EQ(failure, QStringLiteral("failed to connect to 10.0.0.5:5555"));
    EXPECT_FALSE(model().job());

    adb->setInstalled(false);
    BrowserModel::Collaborators collaborators;
    collaborators.adb = adb;
    collaborators.mtp = std::make_shared<browsertest::FakeMtpSource>();
    collaborators.settings = &settings;
    collaborators.clock = stepped;
    collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<browsertest::SilentServiceBrowser>());
    BrowserModel withoutAdb(std::move(collaborators));
    withoutAdb.connectWireless(
        QStringLiteral("10.0.0.5:5555"), &withoutAdb, [](std::optional<Device>) {},
        [&](std::exception_ptr error) { failure = failureText(error).value_or(QString()); });
    settle();
    EXPECT_EQ(failure, QStringLiteral("adb not found. Install Google's platform tools with: brew install --cask "
                                      "android-platform-tools"));
    EXPECT_TRUE(adb->connected().size() == 1);
}

TEST_F(BrowserWireless, PairedAdvertisedPhonesReconnectAtMostOnceAMinute)
{
    settings.setValue(QStringLiteral("pairedPhones"), QVariantMap{{QStringLiteral("R5C"), QString()}});
    settings.setValue(QStringLiteral("autoReconnectWireless"), true);
    list(Kind::connect, QStringLiteral("adb-R5C-t"), "10.0.0.5", 5555);
    list(Kind::connect, QStringLiteral("adb-UNPAIRED-t"), "10.0.0.6", 5555);
    list(Kind::connect, QStringLiteral("not-an-adb-name"), "10.0.0.7", 5555);
    settle();
    EXPECT_EQ(adb->connected(), QStringList{QStringLiteral("10.0.0.5:5555")});
    adb->connects.push([] { throw ADBError::failed(QStringLiteral("no route")); });
    settle();

    stepped->time += std::chrono::seconds(59);
    model().setAutoReconnectWireless(true);
    settle();
    EXPECT_EQ(adb->connected().size(), 1);
    stepped->time += std::chrono::seconds(1);
    model().setAutoReconnectWireless(true);
    settle();
    EXPECT_EQ(adb->connected().size(), 2);
    adb->connects.push([] {});
    settle();

    // Not while off, nor for a phone that is already there over USB.
    stepped->time += std::chrono::minutes(5);
    model().setAutoReconnectWireless(false);
    settle();
    adb->setDevices({adbPhone(QStringLiteral("R5C"))});
    pass();
    model().setAutoReconnectWireless(true);
    settle();
    EXPECT_EQ(adb->connected().size(), 2);
}

TEST_F(BrowserWireless, AUserDisconnectHoldsUntilTheAddressStopsBeingAdvertised)
{
    settings.setValue(QStringLiteral("pairedPhones"), QVariantMap{{QStringLiteral("R5C"), QString()}});
    list(Kind::connect, QStringLiteral("adb-R5C-t"), "10.0.0.5", 5555);
    adb->setDevices({adbPhone(QStringLiteral("10.0.0.5:5555"))});
    pass();
    model().disconnect(model().devices().first());
    adb->setDevices({});
    settle();
    model().setAutoReconnectWireless(true);
    settle();
    EXPECT_TRUE(adb->connected().isEmpty());

    browses.remove(Kind::connect, QStringLiteral("adb-R5C-t"));
    settle();
    list(Kind::connect, QStringLiteral("adb-R5C-t"), "10.0.0.5", 5555);
    settle();
    EXPECT_EQ(adb->connected(), QStringList{QStringLiteral("10.0.0.5:5555")});
    adb->connects.push([] {});
    settle();
}

} // namespace
