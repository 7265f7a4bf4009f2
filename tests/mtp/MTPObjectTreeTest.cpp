// The phone's object tree: listing a folder through the property list or
// object by object, answers that are not about the folder's children, phone
// paths to handles with letter case, the cache and its one retry for stale
// handles, and what exists, remove and move make of it.
#include "PhoneFixture.h"

#include <set>

using namespace mtp;

namespace {

const QDateTime when(QDate(2023, 6, 1), QTime(8, 30, 15));

using Facts = std::set<std::tuple<QString, bool, int64_t, qint64>>;

Facts facts(const std::vector<RemoteEntry>& entries)
{
    Facts result;
    for (const RemoteEntry& e : entries)
        result.insert({e.name, e.isDirectory, e.size, e.modified.toSecsSinceEpoch()});
    return result;
}

// DCIM/Camera/IMG_1.jpg and an empty folder Other.
class MTPTree : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        dcim = phone->addFolder(0, QStringLiteral("DCIM"));
        camera = phone->addFolder(dcim, QStringLiteral("Camera"));
        photo = phone->addFile(camera, QStringLiteral("IMG_1.jpg"), QByteArray("jpeg"));
        other = phone->addFolder(0, QStringLiteral("Other"));
    }

    uint32_t dcim = 0, camera = 0, photo = 0, other = 0;
};

// ---- listing ------------------------------------------------------------------

TEST_F(MTPTree, BothWaysOfListingGiveTheSameEntriesAndThePropertyListCostsSixRequests)
{
    const uint32_t big = phone->addFolder(0, QStringLiteral("Big"), when);
    phone->addFolder(big, QStringLiteral("Sub"), when.addDays(1));
    phone->addFile(big, QStringLiteral(".nomedia"), QByteArray(), when);
    // Too big for the 32-bit size field; made up as it is read.
    phone->addFile(big, QStringLiteral("movie.mp4"), mtpsim::patternContent(5ull << 30), when);
    for (int i = 0; i < 300; ++i)
        phone->addFile(big, QStringLiteral("f%1").arg(i), bytesOf(i), when.addSecs(i));
    names(QStringLiteral("/sdcard"));
    EXPECT_EQ(phone->commands().at(0).params.at(0), 0u) << "GetObjectPropList names the root 0";
    phone->clearRecords();
    const auto byProperties = files().list(QStringLiteral("/sdcard/Big"), true, Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>(6, Operation::getObjectPropList));

    // Listed object by object, the big file's size read from its own property.
    phone->configure([](auto& s) { s.propListAboutItself = true; });
    reconnect();
    const auto byInfo = files().list(QStringLiteral("/sdcard/Big"), true, Cancel());
    EXPECT_EQ(sent(Operation::getObjectInfo), 3 + 303); // one per item of the root and of Big
    EXPECT_EQ(byProperties.size(), 303u);
    EXPECT_EQ(facts(byProperties), facts(byInfo));
    EXPECT_TRUE(facts(byInfo).count({QStringLiteral("movie.mp4"), false, int64_t(5ull << 30), when.toSecsSinceEpoch()}));
}

// Some responders ignore the depth and describe the folder itself, some list a
// folder among its own children, some send what can't be read: whatever is
// not a child of the folder asked about is never shown, and the listing, the
// paths and a push into an existing folder work through object infos.
TEST_F(MTPTree, PropertyListsThatAreNotAboutTheChildrenAreNotTrusted)
{
    QByteArray malformed("\x01\x00\x00\x00" "\x05\x00\x00\x00" "\x07\xDC" "\x0A\x40" "\xFF\xFF\xFF\xFF", 16);
    const std::vector<std::pair<const char*, std::function<void(mtpsim::SimulatedPhone::Settings&)>>> phones = {
        {"a folder among its own children", [&](auto& s) { s.alsoListed = {{dcim, dcim}}; }},
        {"2^32-1 values of 128 bits", [&](auto& s) { s.dataFor[Operation::getObjectPropList] = mtpsim::bytesContent(malformed); }},
        {"about the object asked for", [](auto& s) { s.propListAboutItself = true; }},
    };
    ASSERT_TRUE(write(local(QStringLiteral("new.txt")), "new"));
    for (const auto& [what, setting] : phones) {
        SCOPED_TRACE(what);
        phone->configure([&](auto& s) {
            s.alsoListed.clear();
            s.dataFor.clear();
            setting(s);
        });
        reconnect();
        EXPECT_EQ(names(QStringLiteral("/sdcard")), (std::vector<QString>{QStringLiteral("DCIM"), QStringLiteral("Other")}));
        EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM")), std::vector<QString>{QStringLiteral("Camera")});
        files().push(local(QStringLiteral("new.txt")), QStringLiteral("/sdcard/DCIM/Camera/"), {}, Cancel());
        EXPECT_EQ(sent(Operation::sendObjectInfo), 1) << "no folder made again";
        EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM/Camera")),
                  (std::vector<QString>{QStringLiteral("IMG_1.jpg"), QStringLiteral("new.txt")}));
        phone->removeObject(phone->objectAt(QStringLiteral("DCIM/Camera/new.txt"))->handle);
    }
    // The last phone's property lists are left alone for the rest of the session, not for the next.
    phone->clearRecords();
    names(QStringLiteral("/sdcard/Other"));
    EXPECT_EQ(sent(Operation::getObjectPropList), 0);
    reconnect();
    names(QStringLiteral("/sdcard"));
    EXPECT_GT(sent(Operation::getObjectPropList), 0);
}

TEST_F(MTPTree, AFolderThatListsItselfOrItsParentIsWalkedOnce)
{
    phone->configure([&](auto& s) {
        s.operations.erase(Operation::getObjectPropList);
        s.alsoListed = {{dcim, dcim}, {camera, dcim}};
    });
    reconnect();
    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM")), std::vector<QString>{QStringLiteral("Camera")});
    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/DCIM"), local(QStringLiteral("DCIM")), progress.callback(), Cancel());
    EXPECT_EQ(read(local(QStringLiteral("DCIM/Camera/IMG_1.jpg"))), QByteArray("jpeg"));
    EXPECT_EQ(entries(local(QStringLiteral("DCIM/Camera"))), QStringList{QStringLiteral("IMG_1.jpg")});
    EXPECT_TRUE(progress.risesTo1());
}

TEST_F(MTPTree, APhoneUnpluggedWhileListingFailsRatherThanShowingFewerItems)
{
    for (int i = 0; i < 20; ++i)
        phone->addFile(0, QStringLiteral("f%1").arg(i), QByteArray("x"));
    phone->configure([](auto& s) { s.operations.erase(Operation::getObjectPropList); });
    reconnect();
    // Gone after the handles and a few object infos.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 800, UsbStatus::noDevice, true);
    const auto error = errorOf([&] { files().list(QStringLiteral("/sdcard"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_GT(sent(Operation::getObjectInfo), 1);
}

// ---- paths --------------------------------------------------------------------

TEST_F(MTPTree, OtherLetterCaseResolvesTheExactNameWinsAndTheCacheServesAgain)
{
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim/CAMERA")), std::vector<QString>{QStringLiteral("IMG_1.jpg")});
    phone->clearRecords();
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/dcim/CAMERA/IMG_1.jpg"), Cancel()));
    EXPECT_TRUE(phone->commands().empty()) << "resolved from the cache";

    const uint32_t lower = phone->addFolder(0, QStringLiteral("dcim"));
    phone->addFile(lower, QStringLiteral("lower.txt"), QByteArray("l"));
    const uint32_t decomposed = phone->addFolder(0, QStringLiteral("Cafe\u0301"));
    phone->addFile(decomposed, QStringLiteral("menu.txt"), QByteArray("m"));
    reconnect(); // a new connection, with an empty cache
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim")), std::vector<QString>{QStringLiteral("lower.txt")});
    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM")), std::vector<QString>{QStringLiteral("Camera")});
    EXPECT_EQ(names(QStringLiteral("/sdcard/Caf\u00e9")), std::vector<QString>{QStringLiteral("menu.txt")});
}

TEST_F(MTPTree, AStaleHandleIsRetriedOnceWithAnEmptyCache)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    // Replaced on the phone behind our back: the cached handle is gone.
    phone->removeObject(camera);
    const uint32_t again = phone->addFolder(dcim, QStringLiteral("Camera"));
    phone->addFile(again, QStringLiteral("IMG_2.jpg"), QByteArray("new"));
    phone->clearRecords();

    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM/Camera")), std::vector<QString>{QStringLiteral("IMG_2.jpg")});
    EXPECT_EQ(phone->commands().front().params.at(0), camera) << "the first try used the cached handle";

    phone->removeObject(again);
    const auto error = errorOf([&] { files().list(QStringLiteral("/sdcard/DCIM/Camera"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("“Camera” isn't on the phone any more."));
}

TEST_F(MTPTree, NoFolderIsMadeWhenTheLookUpFailedForAnotherReason)
{
    const QString path = QStringLiteral("/sdcard/New");
    // The phone answers neither way of listing.
    phone->configure([](auto& s) {
        s.silentFor[Operation::getObjectPropList] = 1;
        s.silentFor[Operation::getObjectHandles] = 1;
    });
    EXPECT_TRUE(errorOf([&] { files().makeFolder(path, Cancel()); }));
    std::stop_source stop;
    phone->configure([&](auto& s) { s.onCommand = [&](uint16_t) { stop.request_stop(); }; });
    EXPECT_THROW(files().makeFolder(path, Cancel(stop.get_token())), Cancelled);
    phone->configure([](auto& s) { s.onCommand = nullptr; });
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 0, UsbStatus::noDevice, true);
    const auto unplugged = errorOf([&] { files().makeFolder(path, Cancel()); });
    ASSERT_TRUE(unplugged);
    EXPECT_EQ(unplugged->kind(), MTPError::Kind::gone);
    EXPECT_EQ(sent(Operation::sendObjectInfo), 0);
}

// ---- remove, move and rename ----------------------------------------------------

TEST_F(MTPTree, RemoveDeletesWithOneRequestButNeverTheWholeStorage)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    const auto error = errorOf([&] { files().remove(QStringLiteral("/sdcard/"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone's whole storage can't be deleted."));
    phone->clearRecords();
    files().remove(QStringLiteral("/sdcard/DCIM"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::deleteObject});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{dcim, 0}));
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Camera"), Cancel())) << "the cache forgot it";
}

TEST_F(MTPTree, RenamingOrMovingSendsOnlyTheRequestItNeeds)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    phone->clearRecords();
    files().move(QStringLiteral("/sdcard/DCIM/Camera/IMG_1.jpg"), QStringLiteral("/sdcard/DCIM/Camera/a.jpg"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::setObjectPropValue});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{photo, ObjectProperty::objectFileName}));

    phone->clearRecords();
    files().move(QStringLiteral("/sdcard/DCIM/Camera/a.jpg"), QStringLiteral("/sdcard/a.jpg"), Cancel());
    EXPECT_EQ(phone->commands().back().params, (std::vector<uint32_t>{photo, 0x00010001, 0})) << "the root is parent 0";
    EXPECT_EQ(sent(Operation::setObjectPropValue), 0);

    // A phone that moves but cannot rename says so and keeps the item moved.
    phone->configure([](auto& s) { s.operations.erase(Operation::setObjectPropValue); });
    reconnect();
    const auto error = errorOf([&] { files().move(QStringLiteral("/sdcard/a.jpg"), QStringLiteral("/sdcard/Other/b.jpg"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("This phone can't rename files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(phone->object(photo)->parent, other);
    EXPECT_EQ(phone->object(photo)->name, QStringLiteral("a.jpg"));
}

} // namespace
