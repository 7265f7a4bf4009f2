// The device manager: which interfaces are phones, one connection per
// interface across polls, and closing what went away.
#include "MTPManager.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class MTPManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<mtpsim::SimulatedPhone> newPhone(const QString& serial, const QString& product = QStringLiteral("Pixel_7"))
    {
        auto phone = std::make_shared<mtpsim::SimulatedPhone>();
        phone->configure([&](auto& s) {
            s.usbSerial = serial;
            s.usbProduct = product;
        });
        return phone;
    }

    std::vector<Device> poll(const QSet<QString>& skipping = {}) { return manager.devices(skipping, Cancel()); }

    std::shared_ptr<mtpsim::SimulatedUsbHost> host = std::make_shared<mtpsim::SimulatedUsbHost>();
    MTPManager manager{host};
};

Device mtpDevice(const QString& serial, const QString& state, const QString& model)
{
    return Device{serial, state, model, Device::Transport::mtp};
}

TEST_F(MTPManagerTest, OnlyInterfacesNamedMTPArePhones)
{
    host->addInterface({1, QStringLiteral("mtp"), QStringLiteral("A"), QStringLiteral("Other")});
    host->addInterface({2, std::nullopt, QStringLiteral("B"), QStringLiteral("Keyboard")});
    host->addInterface({3, QStringLiteral("PTP"), QStringLiteral("C"), QStringLiteral("Camera")});
    EXPECT_TRUE(poll().empty());

    auto phone = newPhone(QStringLiteral("R58M"));
    phone->configure([](auto& s) {
        s.model.clear(); // keeps the registry's name visible
        s.interfaceNumber = 2;
    });
    host->plug(phone);
    EXPECT_EQ(poll(), (std::vector<Device>{mtpDevice(QStringLiteral("R58M"), QStringLiteral("device"), QStringLiteral("Pixel 7"))}));
}

TEST_F(MTPManagerTest, SerialAndNameFallBacks)
{
    auto noSerial = newPhone(QString(), QStringLiteral("Pixel_7_Pro"));
    auto noName = newPhone(QStringLiteral("S2"));
    for (auto& phone : {noSerial, noName}) {
        phone->configure([](auto& s) { s.model.clear(); });
    }
    noName->configure([](auto& s) { s.usbProduct.reset(); });
    const uint64_t id = host->plug(noSerial);
    host->plug(noName);
    const auto devices = poll();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].serial, QString::number(id));
    EXPECT_EQ(devices[0].model, QStringLiteral("Pixel 7 Pro"));
    EXPECT_EQ(devices[1].serial, QStringLiteral("S2"));
    EXPECT_EQ(devices[1].model, QStringLiteral("Android phone"));
}

TEST_F(MTPManagerTest, StatesOfThePhones)
{
    auto ready = newPhone(QStringLiteral("A"));
    auto locked = newPhone(QStringLiteral("B"));
    locked->removeStorage(0x00010001);
    auto busy = newPhone(QStringLiteral("C"));
    busy->configure([](auto& s) { s.heldByOtherProgram = true; });
    auto broken = newPhone(QStringLiteral("D"));
    broken->configure([](auto& s) { s.responseFor[0x1002] = 0x2002; });
    for (auto& p : {ready, locked, busy, broken})
        host->plug(p);
    const auto devices = poll(); // a phone seen for the first time is listed after its first attempt
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].state, QStringLiteral("device"));
    EXPECT_EQ(devices[1].state, QStringLiteral("locked"));
    EXPECT_EQ(devices[2].state, QStringLiteral("busy"));
    EXPECT_EQ(devices[3].state, QStringLiteral("offline"));
    EXPECT_EQ(devices[3].transport, Device::Transport::mtp);
    EXPECT_EQ(devices[3].stateDescription(), QStringLiteral("Connecting…"));
}

TEST_F(MTPManagerTest, SameInterfaceKeepsItsConnectionAcrossPolls)
{
    auto phone = newPhone(QStringLiteral("A"));
    phone->configure([](auto& s) { s.friendlyName = QStringLiteral("Work phone"); });
    host->plug(phone);
    poll();
    auto first = manager.connection(QStringLiteral("A"));
    ASSERT_TRUE(first);
    const auto devices = poll();
    EXPECT_EQ(manager.connection(QStringLiteral("A")), first);
    EXPECT_EQ(devices.at(0).model, QStringLiteral("Work phone")); // the session's name, not the scan's
    EXPECT_EQ(phone->claims(), 1);
    EXPECT_EQ(phone->commandCodes().front(), 0x1002); // one session, opened once
}

TEST_F(MTPManagerTest, ConnectionOnlyForReadyPhones)
{
    auto phone = newPhone(QStringLiteral("A"));
    phone->removeStorage(0x00010001);
    host->plug(phone);
    poll();
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    EXPECT_FALSE(manager.connection(QStringLiteral("nobody")));

    phone->addStorage(0x00010001);
    poll(); // queues the new storage check without waiting for it
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager.connection(QStringLiteral("A")) != nullptr; }, 5s));
}

TEST_F(MTPManagerTest, VanishedInterfaceIsClosedAndAReplugStartsAfresh)
{
    auto phone = newPhone(QStringLiteral("A"));
    host->plug(phone);
    poll();
    auto before = manager.connection(QStringLiteral("A"));
    host->unplug(phone);
    EXPECT_TRUE(poll().empty());
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 5s));

    host->plug(phone); // a new registry ID
    EXPECT_EQ(poll().size(), 1u);
    auto after = manager.connection(QStringLiteral("A"));
    ASSERT_TRUE(after);
    EXPECT_NE(after, before);
    EXPECT_EQ(phone->claims(), 2);
}

TEST_F(MTPManagerTest, PhonesThatAdbHandlesAreSkippedAndClosed)
{
    auto phone = newPhone(QStringLiteral("A"));
    auto other = newPhone(QStringLiteral("B"));
    host->plug(phone);
    host->plug(other);
    poll();
    const auto devices = poll({QStringLiteral("A")});
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].serial, QStringLiteral("B"));
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 5s));
    EXPECT_EQ(phone->commandCodes().back(), 0x1003);

    EXPECT_EQ(poll().size(), 2u); // adb let go: a new connection
    EXPECT_EQ(phone->claims(), 2);
}

TEST_F(MTPManagerTest, FailedListingClosesEverything)
{
    auto phone = newPhone(QStringLiteral("A"));
    host->plug(phone);
    poll();
    host->failNextListing();
    EXPECT_TRUE(poll().empty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 5s));
}

TEST_F(MTPManagerTest, CloseAllClosesAndForgets)
{
    auto a = newPhone(QStringLiteral("A"));
    auto b = newPhone(QStringLiteral("B"));
    host->plug(a);
    host->plug(b);
    poll();
    manager.closeAll();
    for (auto& p : {a, b}) {
        EXPECT_FALSE(p->claimed()); // closed before closeAll returned
        EXPECT_EQ(p->commandCodes().back(), 0x1003);
    }
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    poll();
    EXPECT_EQ(a->claims(), 2);
}

TEST_F(MTPManagerTest, CancelledPollReturnsNothing)
{
    host->plug(newPhone(QStringLiteral("A")));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(manager.devices({}, Cancel(stop.get_token())).empty());
}

} // namespace
