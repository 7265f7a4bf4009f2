// The phone's object tree: listing a folder through the property list or
// object by object, phone paths to handles with letter case, the cache and
// its one retry for stale handles, and what exists, remove, makeFolder and
// move make of it.
#include "PhoneFixture.h"

#include <set>

using namespace mtp;

namespace {

// ---- listing ------------------------------------------------------------------

const QDateTime when(QDate(2023, 6, 1), QTime(8, 30, 15));

using Facts = std::set<std::tuple<QString, bool, int64_t, qint64>>;

Facts facts(const std::vector<RemoteEntry>& entries)
{
    Facts result;
    for (const RemoteEntry& e : entries)
        result.insert({e.name, e.isDirectory, e.size, e.modified.toSecsSinceEpoch()});
    return result;
}

using MTPListing = FilesTest;

TEST_F(MTPListing, BothWaysOfListingGiveTheSameEntries)
{
    const uint32_t dcim = phone->addFolder(0, QStringLiteral("DCIM"), when);
    phone->addFolder(dcim, QStringLiteral("Camera"), when.addDays(1));
    phone->addFile(dcim, QStringLiteral("IMG_0001.jpg"), bytesOf(12345), when.addSecs(7));
    phone->addFile(dcim, QStringLiteral(".nomedia"), QByteArray(), when);
    // Too big for the 32-bit size field; made up as it is read.
    phone->addFile(dcim, QStringLiteral("movie.mp4"), mtpsim::patternContent(5ull << 30), when);
    phone->addFile(0, QStringLiteral("top.txt"), QByteArray("t"), when);
    const auto byProperties = files().list(QStringLiteral("/sdcard/DCIM"), true, Cancel());
    const auto rootByProperties = files().list(QStringLiteral("/sdcard"), true, Cancel());
    EXPECT_EQ(sent(Operation::getObjectInfo), 0);

    // A phone whose property list names one object at a time: listed object by
    // object, the big file's size read from its own property.
    phone->configure([](auto& s) { s.propListOneObjectOnly = true; });
    reconnect();
    const auto byInfo = files().list(QStringLiteral("/sdcard/DCIM"), true, Cancel());
    EXPECT_GT(sent(Operation::getObjectInfo), 0);
    EXPECT_EQ(facts(rootByProperties), facts(files().list(QStringLiteral("/sdcard"), true, Cancel())));
    EXPECT_EQ(facts(byProperties), facts(byInfo));
    EXPECT_EQ(facts(byInfo), (Facts{{QStringLiteral("Camera"), true, 0, when.addDays(1).toSecsSinceEpoch()},
                                    {QStringLiteral("IMG_0001.jpg"), false, 12345, when.addSecs(7).toSecsSinceEpoch()},
                                    {QStringLiteral(".nomedia"), false, 0, when.toSecsSinceEpoch()},
                                    {QStringLiteral("movie.mp4"), false, int64_t(5ull << 30), when.toSecsSinceEpoch()}}));
}

TEST_F(MTPListing, ThePropertyListCostsSixRequestsWhateverTheFolderHolds)
{
    const uint32_t big = phone->addFolder(0, QStringLiteral("Big"));
    for (int i = 0; i < 500; ++i)
        phone->addFile(big, QStringLiteral("f%1").arg(i), QByteArray("x"));
    files().list(QStringLiteral("/sdcard"), false, Cancel());
    EXPECT_EQ(phone->commands().at(0).params.at(0), 0u) << "GetObjectPropList names the root 0";
    phone->clearRecords();

    EXPECT_EQ(files().list(QStringLiteral("/sdcard/Big"), false, Cancel()).size(), 500u);
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>(6, Operation::getObjectPropList));
    EXPECT_EQ(phone->commands().at(0).params.at(0), big);
}

TEST_F(MTPListing, WhatSomePhonesAddToAPropertyListIsLeftOut)
{
    const uint32_t music = phone->addFolder(0, QStringLiteral("Music"));
    phone->addFile(music, QStringLiteral("song.mp3"), bytesOf(300));
    phone->addFile(0, QStringLiteral("top.txt"), QByteArray("t"));
    phone->configure([](auto& s) {
        s.propListIncludesParent = true; // the folder among its own children
        s.propListRootReturnsAll = true; // every object of the storage for the root
    });
    EXPECT_EQ(files().list(QStringLiteral("/sdcard/Music"), false, Cancel()).size(), 1u);
    std::set<QString> top;
    for (const RemoteEntry& e : files().list(QStringLiteral("/sdcard"), false, Cancel()))
        top.insert(e.name);
    EXPECT_EQ(top, (std::set<QString>{QStringLiteral("Music"), QStringLiteral("top.txt")}));
}

TEST_F(MTPListing, AFailingPropertyListFallsBackToObjectInfos)
{
    phone->addFile(0, QStringLiteral("a.bin"), bytesOf(1000));
    phone->configure([](auto& s) { s.responseFor[Operation::getObjectPropList] = Response::generalError; });
    const auto entries = files().list(QStringLiteral("/sdcard"), false, Cancel());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, 1000);
    EXPECT_EQ(sent(Operation::getObjectInfo), 1);
}

TEST_F(MTPListing, APhoneUnpluggedWhileListingFailsRatherThanShowingFewerItems)
{
    for (int i = 0; i < 20; ++i)
        phone->addFile(0, QStringLiteral("f%1").arg(i), QByteArray("x"));
    phone->configure([](auto& s) { s.operations.erase(Operation::getObjectPropList); });
    reconnect();
    // Gone after the handles and a few object infos.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 800, UsbStatus::noDevice, true);
    const auto error = mtpErrorOf([&] { files().list(QStringLiteral("/sdcard"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);
    EXPECT_GT(sent(Operation::getObjectInfo), 1);
}

// ---- paths --------------------------------------------------------------------

// DCIM/Camera/IMG_1.jpg and an empty folder Other.
class MTPPaths : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        dcim = phone->addFolder(0, QStringLiteral("DCIM"));
        camera = phone->addFolder(dcim, QStringLiteral("Camera"));
        photo = phone->addFile(camera, QStringLiteral("IMG_1.jpg"), QByteArray("jpeg"));
        other = phone->addFolder(0, QStringLiteral("Other"));
    }

    std::vector<QString> names(const QString& path)
    {
        std::vector<QString> result;
        for (const RemoteEntry& e : files().list(path, true, Cancel()))
            result.push_back(e.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    uint32_t dcim = 0, camera = 0, photo = 0, other = 0;
};

TEST_F(MTPPaths, OtherLetterCaseResolvesTheExactNameWinsAndTheCacheServesAgain)
{
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim/CAMERA")), std::vector<QString>{QStringLiteral("IMG_1.jpg")});
    phone->clearRecords();
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/dcim/CAMERA/IMG_1.jpg"), Cancel()));
    EXPECT_TRUE(phone->commands().empty()) << "resolved from the cache";

    const uint32_t lower = phone->addFolder(0, QStringLiteral("dcim"));
    phone->addFile(lower, QStringLiteral("lower.txt"), QByteArray("l"));
    reconnect(); // a new connection, with an empty cache
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim")), std::vector<QString>{QStringLiteral("lower.txt")});
    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM")), std::vector<QString>{QStringLiteral("Camera")});
}

TEST_F(MTPPaths, CanonicallyEquivalentNamesAreTheSameName)
{
    const uint32_t decomposed = phone->addFolder(0, QStringLiteral("Cafe\u0301"));
    phone->addFile(decomposed, QStringLiteral("menu.txt"), QByteArray("m"));
    EXPECT_EQ(names(QStringLiteral("/sdcard/Caf\u00e9")), std::vector<QString>{QStringLiteral("menu.txt")});
}

TEST_F(MTPPaths, AStaleHandleIsRetriedOnceWithAnEmptyCache)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    // Replaced on the phone behind our back: the cached handle is gone.
    phone->removeObject(camera);
    const uint32_t again = phone->addFolder(dcim, QStringLiteral("Camera"));
    phone->addFile(again, QStringLiteral("IMG_2.jpg"), QByteArray("new"));
    phone->clearRecords();

    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM/Camera")), std::vector<QString>{QStringLiteral("IMG_2.jpg")});
    EXPECT_EQ(phone->commands().front().params.at(0), camera) << "the first try used the cached handle";

    // Gone for good: reported by name.
    phone->removeObject(again);
    const auto error = mtpErrorOf([&] { files().list(QStringLiteral("/sdcard/DCIM/Camera"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("“Camera” isn't on the phone any more."));
}

TEST_F(MTPPaths, ExistsIsFalseForEveryFailure)
{
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM"), Cancel(stop.get_token())));
    host->unplug(phone);
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Camera/IMG_1.jpg"), Cancel()));
}

TEST_F(MTPPaths, RemoveDeletesWithOneRequestAndForgetsThePathButNeverTheRoot)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    const auto error = mtpErrorOf([&] { files().remove(QStringLiteral("/sdcard/"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone's whole storage can't be deleted."));
    phone->clearRecords();
    files().remove(QStringLiteral("/sdcard/DCIM"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::deleteObject});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{dcim, 0}));
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Camera"), Cancel()));
}

TEST_F(MTPPaths, MakeFolderCreatesOnlyWhatIsMissing)
{
    files().makeFolder(QStringLiteral("/sdcard/DCIM/Trips/2024"), Cancel());
    EXPECT_EQ(sent(Operation::sendObjectInfo), 2);
    const auto made = phone->objectAt(QStringLiteral("DCIM/Trips/2024"));
    ASSERT_TRUE(made && made->isFolder());
    phone->clearRecords();
    files().makeFolder(QStringLiteral("/sdcard/DCIM/Trips/2024"), Cancel());
    EXPECT_EQ(sent(Operation::sendObjectInfo), 0);
}

TEST_F(MTPPaths, NoFolderIsMadeWhenTheLookUpFailedForAnotherReason)
{
    const QString path = QStringLiteral("/sdcard/New");
    // Time-outs: the phone answers neither way of listing.
    phone->configure([](auto& s) {
        s.silentFor[Operation::getObjectPropList] = 1;
        s.silentFor[Operation::getObjectHandles] = 1;
    });
    auto error = mtpErrorOf([&] { files().makeFolder(path, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->description().startsWith(QStringLiteral("USB error talking to the phone: ")))
        << error->description().toStdString();

    // Cancelled while looking.
    std::stop_source stop;
    phone->configure([&](auto& s) { s.onCommand = [&](uint16_t) { stop.request_stop(); }; });
    EXPECT_THROW(files().makeFolder(path, Cancel(stop.get_token())), Cancelled);
    phone->configure([](auto& s) { s.onCommand = nullptr; });

    // Unplugged while looking.
    phone->failAfter(mtpsim::SimulatedPhone::Direction::in, 0, UsbStatus::noDevice, true);
    error = mtpErrorOf([&] { files().makeFolder(path, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::gone);

    EXPECT_EQ(sent(Operation::sendObjectInfo), 0);
}

// ---- move and rename ----------------------------------------------------------

TEST_F(MTPPaths, RenamingOrMovingSendsOnlyTheRequestItNeeds)
{
    const QString photoPath = QStringLiteral("/sdcard/DCIM/Camera/IMG_1.jpg");
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    phone->clearRecords();
    files().move(photoPath, QStringLiteral("/sdcard/DCIM/Camera/It's mine.jpg"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::setObjectPropValue});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{photo, ObjectProperty::objectFileName}));
    EXPECT_FALSE(files().exists(photoPath, Cancel())) << "the cache forgot the old name";

    phone->clearRecords();
    files().move(QStringLiteral("/sdcard/DCIM/Camera/It's mine.jpg"), QStringLiteral("/sdcard/It's mine.jpg"), Cancel());
    EXPECT_EQ(phone->commands().back().params, (std::vector<uint32_t>{photo, 0x00010001, 0})) << "the root is parent 0";
    EXPECT_EQ(sent(Operation::setObjectPropValue), 0);

    files().move(QStringLiteral("/sdcard/It's mine.jpg"), QStringLiteral("/sdcard/Other/tune.jpg"), Cancel());
    EXPECT_EQ(phone->commands().back().code, Operation::setObjectPropValue);
    EXPECT_EQ(phone->objectAt(QStringLiteral("Other/tune.jpg"))->handle, photo);
}

TEST_F(MTPPaths, APhoneThatLacksAnOperationSaysSoAndKeepsWhatItDid)
{
    const QString photoPath = QStringLiteral("/sdcard/DCIM/Camera/IMG_1.jpg");
    phone->configure([](auto& s) { s.operations.erase(Operation::moveObject); });
    reconnect();
    auto error = mtpErrorOf([&] { files().move(photoPath, QStringLiteral("/sdcard/Other/IMG_1.jpg"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("This phone can't move files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(phone->object(photo)->parent, camera);

    // One that moves but cannot rename ends with the item moved.
    phone->configure([](auto& s) {
        s.operations.insert(Operation::moveObject);
        s.operations.erase(Operation::setObjectPropValue);
    });
    reconnect();
    error = mtpErrorOf([&] { files().move(photoPath, QStringLiteral("/sdcard/Other/x.jpg"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("This phone can't rename files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(phone->object(photo)->parent, other);
    EXPECT_EQ(phone->object(photo)->name, QStringLiteral("IMG_1.jpg"));
}

} // namespace
