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
    // A phone with this USB serial number, plugged in.
    std::shared_ptr<mtpsim::SimulatedPhone> plugged(const QString& serial)
    {
        auto phone = std::make_shared<mtpsim::SimulatedPhone>();
        phone->configure([&](auto& s) { s.usbSerial = serial; });
        host->plug(phone);
        return phone;
    }

    std::vector<Device> poll(const QSet<QString>& skipping = {}) { return manager.devices(skipping, Cancel()); }

    std::shared_ptr<mtpsim::SimulatedUsbHost> host = std::make_shared<mtpsim::SimulatedUsbHost>();
    MTPManager manager{host};
};

TEST_F(MTPManagerTest, OnlyInterfacesNamedMTPArePhones)
{
    host->addInterface({1, QStringLiteral("mtp"), QStringLiteral("A"), QStringLiteral("Other")});
    host->addInterface({2, std::nullopt, QStringLiteral("B"), QStringLiteral("Keyboard")});
    host->addInterface({3, QStringLiteral("PTP"), QStringLiteral("C"), QStringLiteral("Camera")});
    EXPECT_TRUE(poll().empty());

    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    phone->configure([](auto& s) {
        s.usbSerial = QStringLiteral("R58M");
        s.model.clear(); // keeps the registry's name visible
        s.interfaceNumber = 2;
    });
    host->plug(phone);
    EXPECT_EQ(poll(), (std::vector<Device>{Device{QStringLiteral("R58M"), QStringLiteral("device"),
                                                  QStringLiteral("Pixel 7"), Device::Transport::mtp}}));
}

TEST_F(MTPManagerTest, StatesOfThePhonesAndConnectionsOnlyForReadyOnes)
{
    plugged(QStringLiteral("A"));
    auto locked = plugged(QStringLiteral("B"));
    locked->removeStorage(0x00010001);
    plugged(QStringLiteral("C"))->configure([](auto& s) { s.heldByOtherProgram = true; });
    plugged(QStringLiteral("D"))->configure([](auto& s) { s.responseFor[0x1002] = 0x2002; });
    const auto devices = poll(); // a phone seen for the first time is listed after its first attempt
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].state, QStringLiteral("device"));
    EXPECT_EQ(devices[1].state, QStringLiteral("locked"));
    EXPECT_EQ(devices[2].state, QStringLiteral("busy"));
    EXPECT_EQ(devices[3].state, QStringLiteral("offline"));
    EXPECT_TRUE(manager.connection(QStringLiteral("A")));
    for (const char* serial : {"B", "C", "D", "nobody"})
        EXPECT_FALSE(manager.connection(QString::fromLatin1(serial))) << serial;

    locked->addStorage(0x00010001);
    poll(); // queues the new storage check without waiting for it
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager.connection(QStringLiteral("B")) != nullptr; }, 5s));
}

TEST_F(MTPManagerTest, SameInterfaceKeepsItsConnectionAcrossPolls)
{
    auto phone = plugged(QStringLiteral("A"));
    phone->configure([](auto& s) { s.friendlyName = QStringLiteral("Work phone"); });
    poll();
    auto first = manager.connection(QStringLiteral("A"));
    ASSERT_TRUE(first);
    const auto devices = poll();
    EXPECT_EQ(manager.connection(QStringLiteral("A")), first);
    EXPECT_EQ(devices.at(0).model, QStringLiteral("Work phone")); // the session's name, not the scan's
    EXPECT_EQ(phone->claims(), 1);
    EXPECT_EQ(phone->commandCodes().front(), 0x1002); // one session, opened once
}

TEST_F(MTPManagerTest, VanishedInterfaceIsClosedAndAReplugStartsAfresh)
{
    auto phone = plugged(QStringLiteral("A"));
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

    // A listing that fails counts as every phone gone.
    host->failNextListing();
    EXPECT_TRUE(poll().empty());
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 5s));
}

TEST_F(MTPManagerTest, PhonesThatAdbHandlesAreSkippedAndClosed)
{
    auto phone = plugged(QStringLiteral("A"));
    plugged(QStringLiteral("B"));
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

TEST_F(MTPManagerTest, CloseAllClosesAndForgets)
{
    auto a = plugged(QStringLiteral("A"));
    auto b = plugged(QStringLiteral("B"));
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

} // namespace
