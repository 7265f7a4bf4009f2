// The device manager: which interfaces are phones, one connection per
// interface across polls, and closing what went away or everything at quit;
// and the production USB stack's list of interfaces, read from sysfs.
#include "LibusbHost.h"
#include "MTPManager.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TestSupport.h"
#include "WorkerPool.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <future>

using namespace std::chrono_literals;

namespace {

constexpr uint16_t openSession = 0x1002, closeSession = 0x1003;

class MTPManagerTest : public ::testing::Test {
protected:
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

TEST_F(MTPManagerTest, OnlyInterfacesNamedMTPArePhonesWithTheirStates)
{
    host->addInterface({1, QStringLiteral("mtp"), QStringLiteral("A"), QStringLiteral("Other")});
    host->addInterface({2, std::nullopt, QStringLiteral("B"), QStringLiteral("Keyboard")});
    host->addInterface({3, QStringLiteral("PTP"), QStringLiteral("C"), QStringLiteral("Camera")});
    EXPECT_TRUE(poll().empty());

    plugged(QStringLiteral("A"))->configure([](auto& s) { s.model.clear(); }); // keeps the registry's name
    auto locked = plugged(QStringLiteral("B"));
    locked->removeStorage(0x00010001);
    plugged(QStringLiteral("C"))->configure([](auto& s) { s.heldByOtherProgram = true; });
    plugged(QStringLiteral("D"))->configure([](auto& s) { s.responseFor[openSession] = 0x2002; });
    const auto devices = poll(); // a phone seen for the first time is listed after its first attempt
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0], (Device{QStringLiteral("A"), QStringLiteral("device"), QStringLiteral("Pixel 7"),
                                  Device::Transport::mtp}));
    const QStringList states{devices[1].state, devices[2].state, devices[3].state};
    EXPECT_EQ(states, (QStringList{QStringLiteral("locked"), QStringLiteral("busy"), QStringLiteral("offline")}));
    EXPECT_TRUE(manager.connection(QStringLiteral("A")));
    for (const char* serial : {"B", "C", "D", "nobody"})
        EXPECT_FALSE(manager.connection(QString::fromLatin1(serial))) << serial;

    locked->addStorage(0x00010001);
    poll(); // queues the new storage check without waiting for it
    ASSERT_TRUE(testsupport::waitUntil([&] { return manager.connection(QStringLiteral("B")) != nullptr; }, 30s));
}

// Without a serial string the interface's registry ID in decimal stands in;
// without a product name the phone is an "Android phone" until its session
// tells a better name (here it tells none).
TEST_F(MTPManagerTest, SerialAndNameFallBackWhenTheDeviceDoesNotTellThem)
{
    struct Case {
        std::optional<QString> serial, product;
        QString expectedSerial; // empty: the registry ID
        QString expectedName;
    };
    const std::vector<Case> cases = {
        {QStringLiteral("R58M1"), QStringLiteral("Pixel_7_Pro"), QStringLiteral("R58M1"), QStringLiteral("Pixel 7 Pro")},
        {std::nullopt, std::nullopt, {}, QStringLiteral("Android phone")},
        {QString(), QString(), {}, QStringLiteral("Android phone")},
    };
    std::vector<std::pair<QString, QString>> expected;
    for (const Case& c : cases) {
        auto phone = std::make_shared<mtpsim::SimulatedPhone>();
        phone->configure([&](auto& s) {
            s.usbSerial = c.serial;
            s.usbProduct = c.product;
            s.model.clear();
        });
        const uint64_t id = host->plug(phone);
        expected.emplace_back(c.expectedSerial.isEmpty() ? QString::number(id) : c.expectedSerial, c.expectedName);
    }
    std::vector<std::pair<QString, QString>> listed;
    for (const Device& device : poll())
        listed.emplace_back(device.serial, device.model);
    EXPECT_EQ(listed, expected);
}

TEST_F(MTPManagerTest, SameInterfaceKeepsItsConnectionAReplugStartsAfresh)
{
    auto phone = plugged(QStringLiteral("A"));
    phone->configure([](auto& s) { s.friendlyName = QStringLiteral("Work phone"); });
    poll();
    auto first = manager.connection(QStringLiteral("A"));
    ASSERT_TRUE(first);
    EXPECT_EQ(poll().at(0).model, QStringLiteral("Work phone")); // the session's name, not the scan's
    EXPECT_EQ(manager.connection(QStringLiteral("A")), first);
    EXPECT_EQ(phone->claims(), 1);

    host->unplug(phone);
    EXPECT_TRUE(poll().empty());
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 30s));
    host->plug(phone); // a new registry ID
    EXPECT_EQ(poll().size(), 1u);
    EXPECT_NE(manager.connection(QStringLiteral("A")), first);
    EXPECT_EQ(phone->claims(), 2);

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
    ASSERT_TRUE(testsupport::waitUntil([&] { return !phone->claimed(); }, 30s));
    EXPECT_EQ(phone->commandCodes().back(), closeSession);

    EXPECT_EQ(poll().size(), 2u); // adb let go: a new connection
    EXPECT_EQ(phone->claims(), 2);
}

// Mended: a phone whose connection got no thread for its queue left an
// empty entry behind; the next poll after the phone was unplugged used it and
// ended the application.
TEST_F(MTPManagerTest, APhoneWhoseConnectionGetsNoThreadIsTriedAgainAndCanGo)
{
    auto phone = plugged(QStringLiteral("A"));
    WorkerPool::shared().refuseThreadsForTesting(true);
    EXPECT_THROW(poll(), NoThreadError);
    WorkerPool::shared().refuseThreadsForTesting(false);
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    EXPECT_EQ(phone->claims(), 0);
    host->unplug(phone);
    EXPECT_TRUE(poll().empty());
    host->plug(phone);
    ASSERT_EQ(poll().size(), 1u);
    EXPECT_TRUE(manager.connection(QStringLiteral("A")));
}

// Quitting closes every session, but does not wait for ever on one whose
// queue is stuck (a transfer that hangs): that one is abandoned.
TEST_F(MTPManagerTest, CloseAllClosesEveryPhoneWithinItsLimit)
{
    auto a = plugged(QStringLiteral("A"));
    auto b = plugged(QStringLiteral("B"));
    poll();
    std::promise<void> entered, release;
    auto released = release.get_future().share();
    auto stuck = std::async(std::launch::async, [&] {
        manager.connection(QStringLiteral("B"))->run(
            [&](MTPConnection&) {
                entered.set_value();
                released.wait_for(30s);
            },
            Cancel());
    });
    ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
    auto closing = std::async(std::launch::async, [&] { manager.closeAll(2s); });
    const bool returned = closing.wait_for(20s) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(returned) << "closeAll waited for the stuck phone";
    EXPECT_FALSE(a->claimed()); // closed before closeAll returned
    EXPECT_EQ(a->commandCodes().back(), closeSession);
    stuck.get();
    ASSERT_TRUE(testsupport::waitUntil([&] { return !b->claimed(); }, 30s)) << "closed once its run ended";
    EXPECT_FALSE(manager.connection(QStringLiteral("A")));
    poll();
    EXPECT_EQ(a->claims(), 2);
}

// Unplugged in the middle of a listing or a copy: the operation says the
// phone was disconnected and leaves no partial file, the next poll drops the
// phone, and once it is back it is listed and usable again.
TEST_F(MTPManagerTest, APhoneUnpluggedMidOperationIsReportedAndListedAgainWhenBack)
{
    constexpr uint16_t getObject = 0x1009, getObjectPropList = 0x9805;
    constexpr uint64_t MiB = 1 << 20;
    auto phone = plugged(QStringLiteral("A"));
    phone->addFile(0, QStringLiteral("big.bin"), mtpsim::patternContent(3 * MiB));
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    struct Case {
        const char* what;
        uint16_t armedBy;
        uint64_t after;
        std::function<void(PhoneFiles&)> operation;
    };
    const std::vector<Case> cases = {
        {"listing", getObjectPropList, 20,
         [](PhoneFiles& files) { files.list(QStringLiteral("/sdcard"), true, Cancel()); }},
        {"copy", getObject, MiB,
         [&](PhoneFiles& files) { files.pull(QStringLiteral("/sdcard/big.bin"), temp.path(), {}, Cancel()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(poll().size(), 1u);
        const auto connection = manager.connection(QStringLiteral("A"));
        ASSERT_TRUE(connection);
        phone->failAfter(mtpsim::SimulatedPhone::Direction::in, c.after, UsbStatus::noDevice, true, c.armedBy);
        std::optional<MTPError> failure;
        try {
            c.operation(*connection);
        } catch (const MTPError& error) {
            failure = error;
        }
        ASSERT_TRUE(failure);
        EXPECT_EQ(failure->kind(), MTPError::Kind::gone);
        EXPECT_TRUE(QDir(temp.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());

        host->unplug(phone);
        EXPECT_TRUE(poll().empty());
        EXPECT_FALSE(manager.connection(QStringLiteral("A")));
        host->plug(phone);
        const auto devices = poll();
        ASSERT_EQ(devices.size(), 1u);
        EXPECT_EQ(devices[0].state, QStringLiteral("device"));
        const auto again = manager.connection(QStringLiteral("A"));
        ASSERT_TRUE(again);
        EXPECT_EQ(again->list(QStringLiteral("/sdcard"), true, Cancel()).size(), 1u);
    }
}

void write(const QString& path, const QByteArray& text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
}

TEST(MTPUsbBackend, InterfacesComeFromTheKernelsStrings)
{
    QTemporaryDir sysfs;
    ASSERT_TRUE(sysfs.isValid());
    const QString root = sysfs.path();
    const std::pair<const char*, const char*> files[] = {
        // A phone with its MTP interface and an adb interface without a name.
        {"1-1.4/busnum", "1"}, {"1-1.4/devnum", "17"}, {"1-1.4/serial", "R58M123"}, {"1-1.4/product", "Pixel_7"},
        {"1-1.4:1.0/bInterfaceNumber", "00"}, {"1-1.4:1.0/interface", "MTP"}, {"1-1.4:1.1/bInterfaceNumber", "01"},
        // A device without serial or product strings.
        {"2-3/busnum", "2"}, {"2-3/devnum", "4"}, {"2-3:2.10/bInterfaceNumber", "0a"}, {"2-3:2.10/interface", "mtp "},
        // A root hub and a half-removed device are skipped.
        {"usb1/busnum", "1"}, {"3-1:1.0/bInterfaceNumber", "00"}};
    for (const auto& [path, text] : files)
        write(root + QLatin1Char('/') + QLatin1String(path), QByteArray(text) + '\n');

    auto records = LibusbHost(root).interfaces();
    std::sort(records.begin(), records.end(), [](auto& a, auto& b) { return a.registryID < b.registryID; });
    using Record = std::tuple<uint64_t, std::optional<QString>, std::optional<QString>, std::optional<QString>>;
    std::vector<Record> found;
    for (const UsbInterfaceRecord& r : records)
        found.emplace_back(r.registryID, r.name, r.serial, r.product);
    const QString serial = QStringLiteral("R58M123"), product = QStringLiteral("Pixel_7");
    EXPECT_EQ(found, (std::vector<Record>{
                         {LibusbHost::registryID(1, 17, 1, 0), QStringLiteral("MTP"), serial, product},
                         {LibusbHost::registryID(1, 17, 1, 1), std::nullopt, serial, product},
                         // Only the line end is the kernel's.
                         {LibusbHost::registryID(2, 4, 2, 10), QStringLiteral("mtp "), std::nullopt, std::nullopt}}));
}

} // namespace
