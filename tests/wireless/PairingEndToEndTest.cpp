// Pairing and connecting through the real adb tool: the fake adb server
// socket answers the pairing requests and passes everything else on to a
// private adb server that knows the fake phone.

#include "FakeADBServer.h"
#include "FakePhoneHarness.h"
#include "WirelessFixture.h"

#include <QFile>

using namespace wirelesstest;

namespace {

// An adb server's reply: status, hex length, text.
QByteArray reply(const char* status, const QByteArray& text)
{
    return status + QByteArray::number(text.size(), 16).rightJustified(4, '0') + text;
}

class PairingEndToEnd : public WirelessTest {
protected:
    void SetUp() override
    {
        if (!QFile::exists(u"/usr/bin/adb"_s))
            GTEST_SKIP() << "adb is not installed";
        QString error;
        ASSERT_TRUE(phone.start(&error)) << error.toStdString();
        const auto privateServer = uint16_t(qEnvironmentVariableIntValue("ANDROID_ADB_SERVER_PORT"));
        server = std::make_unique<FakeADBServer>(); // takes the variable over
        server->relayTo(privateServer);
        serial = QString::fromUtf8(phone.shell(u"getprop ro.serialno"_s).out).trimmed();
        phonePort = phone.serial().section(u':', 1).toUShort();
        browser = makeModel(makeSystemAdbSource(), settings, browserClock, browses); // only the sheet connects
        pairing.start(*browser);
    }
    void TearDown() override
    {
        pairing.stop();
        browser.reset();
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
    std::unique_ptr<BrowserModel> browser;
    WirelessPairing pairing{clock};
};

TEST_F(PairingEndToEnd, AScannedCodePairsConnectsAndChoosesThePhone)
{
    const QByteArray guid = "adb-" + serial.toUtf8() + "-Zq81";
    server->setScript({{reply("OKAY", "Successfully paired to 127.0.0.1:37001 [guid=" + guid + "]")}});
    browses.resolve(Kind::pairing, pairing.serviceName(), "127.0.0.1", 37001);
    ASSERT_TRUE(reaches(PhaseKind::connecting));
    EXPECT_EQ(server->pairRequests(), std::vector<QByteArray>{"host:pair:" + pairing.password().toUtf8() + ":127.0.0.1:37001"});
    EXPECT_EQ(pairing.phase().text(), u"Android phone ("_s + serial + u')');
    EXPECT_TRUE(browser->pairedPhones().contains(serial));

    browses.resolve(Kind::connect, QString::fromUtf8(guid), "127.0.0.1", phonePort);
    settle();
    clock->fire();
    ASSERT_TRUE(reaches(PhaseKind::done)) << pairing.phase().text().toStdString();
    EXPECT_EQ(browser->selectedSerial(), phone.serial());
    ASSERT_TRUE(browser->selectedDevice());
    EXPECT_EQ(pairing.phase().text(), browser->selectedDevice()->model);
}

TEST_F(PairingEndToEnd, TypedCodesAndAddressesEndAsThePhoneOrAdbSays)
{
    const WirelessService offered{Kind::pairing, u"adb-X-y"_s, u"127.0.0.1:37002"_s};
    const struct { QByteArray reply; PhaseKind ends; QString text; } cases[] = {
        {reply("OKAY", "Failed: Wrong password or connection was dropped."), PhaseKind::failed,
         u"Wrong password or connection was dropped."_s},
        {reply("FAIL", "Unable to connect to 127.0.0.1:37002"), PhaseKind::failed,
         u"Couldn’t reach the phone at 127.0.0.1:37002. Make sure the phone and this computer are on the same Wi-Fi "
         "network, then try again."_s},
        // No guid: the phone is found by its host.
        {reply("OKAY", "Successfully paired to 127.0.0.1:37002"), PhaseKind::done, QString()},
    };
    browses.resolve(Kind::connect, u"adb-"_s + serial + u"-Zq81"_s, "127.0.0.1", phonePort);
    for (const auto& c : cases) {
        server->setScript({{c.reply}});
        pairing.pair(offered, u"123456"_s);
        ASSERT_TRUE(reaches(c.ends)) << pairing.phase().text().toStdString();
        EXPECT_TRUE(c.text.isEmpty() || pairing.phase().text() == c.text) << pairing.phase().text().toStdString();
        EXPECT_EQ(server->pairRequests().back(), QByteArray("host:pair:123456:127.0.0.1:37002"));
    }

    pairing.connectManually(phone.serial(), QString(), QString());
    ASSERT_TRUE(reaches(PhaseKind::done));
    pairing.connectManually(u"127.0.0.1:1"_s, QString(), QString());
    ASSERT_TRUE(reaches(PhaseKind::failed));
    const QString prefix = u"Couldn’t connect to 127.0.0.1:1: "_s; // then adb's own message
    EXPECT_TRUE(pairing.phase().text().startsWith(prefix) && pairing.phase().text().size() > prefix.size())
        << pairing.phase().text().toStdString();

    pairing.stop();
    settle();
    EXPECT_EQ(testsupport::reapZombies(), 0);
}

} // namespace
