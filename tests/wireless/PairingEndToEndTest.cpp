// Pairing and connecting through the real adb tool: the fake adb server
// socket answers the pairing requests and passes everything else on to a
// private adb server that knows the fake phone.

#include "FakeADBServer.h"
#include "FakePhoneHarness.h"
#include "WirelessFixture.h"

#include <QFile>

using namespace wirelesstest;

namespace {

QByteArray okay(const QByteArray& text)
{
    return "OKAY" + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}

QByteArray failing(const QByteArray& text)
{
    return "FAIL" + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}

class PairingEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFile::exists(QStringLiteral("/usr/bin/adb")))
            GTEST_SKIP() << "adb is not installed";
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
        const uint16_t privateServer = uint16_t(qEnvironmentVariableIntValue("ANDROID_ADB_SERVER_PORT"));
        server = std::make_unique<FakeADBServer>();
        server->relayTo(privateServer);
        serial = QString::fromUtf8(phone.shell(QStringLiteral("getprop ro.serialno")).out).trimmed();
        phonePort = phone.serial().section(QLatin1Char(':'), 1).toUShort();

        BrowserModel::Collaborators collaborators;
        collaborators.adb = makeSystemAdbSource();
        collaborators.mtp = std::make_shared<browsertest::FakeMtpSource>();
        collaborators.settings = &settings;
        collaborators.clock = browserClock;
        collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<FakeServiceBrowser>(&browses));
        // Only the sheet connects in these tests.
        settings.setValue(QStringLiteral("autoReconnectWireless"), false);
        model = std::make_unique<BrowserModel>(std::move(collaborators));
        pairing.start(*model);
    }
    void TearDown() override
    {
        pairing.stop();
        model.reset();
        settle();
        server.reset();
        phone.stop();
    }
    bool reaches(PhaseKind kind)
    {
        return testsupport::waitUntil([&] { return pairing.phase().kind() == kind; }, std::chrono::seconds(30));
    }

    FakePhoneHarness phone;
    std::unique_ptr<FakeADBServer> server;
    QString serial;
    uint16_t phonePort = 0;
    QTemporaryDir folder;
    QSettings settings{folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<browsertest::ManualClock> browserClock = std::make_shared<browsertest::ManualClock>();
    std::shared_ptr<browsertest::ManualClock> clock = std::make_shared<browsertest::ManualClock>();
    Browses browses;
    std::unique_ptr<BrowserModel> model;
    WirelessPairing pairing{clock};
};

TEST_F(PairingEndToEnd, AScannedCodePairsConnectsAndChoosesThePhone)
{
    const QByteArray guid = "adb-" + serial.toUtf8() + "-Zq81";
    server->setScript({{okay("Successfully paired to 127.0.0.1:37001 [guid=" + guid + "]")}});
    browses.resolve(Kind::pairing, pairing.serviceName(), "127.0.0.1", 37001);
    ASSERT_TRUE(reaches(PhaseKind::connecting));
    EXPECT_EQ(server->pairRequests(),
              std::vector<QByteArray>{"host:pair:" + pairing.password().toUtf8() + ":127.0.0.1:37001"});
    EXPECT_EQ(pairing.phase().text(), QStringLiteral("Android phone (") + serial + QLatin1Char(')'));
    EXPECT_TRUE(model->pairedPhones().contains(serial));

    browses.resolve(Kind::connect, QString::fromUtf8(guid), "127.0.0.1", phonePort);
    settle();
    clock->fire();
    ASSERT_TRUE(reaches(PhaseKind::done)) << pairing.phase().text().toStdString();
    EXPECT_EQ(model->selectedSerial(), phone.serial());
    ASSERT_TRUE(model->selectedDevice());
    EXPECT_EQ(pairing.phase().text(), model->selectedDevice()->model);
}

TEST_F(PairingEndToEnd, TypedCodesAndAddressesEndAsThePhoneOrAdbSays)
{
    const WirelessService offered{Kind::pairing, QStringLiteral("adb-X-y"), QStringLiteral("127.0.0.1:37002")};
    const struct {
        QByteArray reply;
        PhaseKind ends;
        QString text;
    } cases[] = {
        {okay("Failed: Wrong password or connection was dropped."), PhaseKind::failed,
         QStringLiteral("Wrong password or connection was dropped.")},
        {failing("Unable to connect to 127.0.0.1:37002"), PhaseKind::failed,
         QStringLiteral("Couldn’t reach the phone at 127.0.0.1:37002. Make sure the phone and this Mac are on the same "
                        "Wi-Fi network, then try again.")},
        // No guid: the phone is found by its host.
        {okay("Successfully paired to 127.0.0.1:37002"), PhaseKind::done, QString()},
    };
    browses.resolve(Kind::connect, QStringLiteral("adb-") + serial + QStringLiteral("-Zq81"), "127.0.0.1", phonePort);
    for (const auto& c : cases) {
        server->setScript({{c.reply}});
        pairing.pair(offered, QStringLiteral("123456"));
        ASSERT_TRUE(reaches(c.ends)) << pairing.phase().text().toStdString();
        if (!c.text.isEmpty()) {
            EXPECT_EQ(pairing.phase().text(), c.text);
        }
        EXPECT_EQ(server->pairRequests().back(), QByteArray("host:pair:123456:127.0.0.1:37002"));
    }

    pairing.connectManually(phone.serial(), QString(), QString());
    ASSERT_TRUE(reaches(PhaseKind::done));
    pairing.connectManually(QStringLiteral("127.0.0.1:1"), QString(), QString());
    ASSERT_TRUE(reaches(PhaseKind::failed));
    EXPECT_TRUE(pairing.phase().text().startsWith(QStringLiteral("Couldn’t connect to 127.0.0.1:1: ")))
        << pairing.phase().text().toStdString();
    EXPECT_GT(pairing.phase().text().size(), QStringLiteral("Couldn’t connect to 127.0.0.1:1: ").size());

    pairing.stop();
    settle();
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

} // namespace
