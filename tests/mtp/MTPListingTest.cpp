// Listing a folder: through the property list, through object infos when the
// phone has no property list or it fails, and what both must agree on.
#include "FilesFixture.h"

#include <set>

using namespace mtp;

namespace {

const QDateTime when(QDate(2023, 6, 1), QTime(8, 30, 15));

class MTPListing : public FilesTest {
protected:
    void fillDCIM()
    {
        const uint32_t dcim = phone->addFolder(0, QStringLiteral("DCIM"), when);
        phone->addFolder(dcim, QStringLiteral("Camera"), when.addDays(1));
        phone->addFile(dcim, QStringLiteral("IMG_0001.jpg"), bytesOf(12345), when.addSecs(7));
        phone->addFile(dcim, QStringLiteral(".nomedia"), QByteArray(), when);
        phone->addFile(dcim, QStringLiteral("Grüße €.txt"), QByteArray("x"), when);
        // Too big for the 32-bit size field; made up as it is read.
        phone->addFile(dcim, QStringLiteral("movie.mp4"), mtpsim::patternContent(5ull << 30), when);
        phone->addFile(0, QStringLiteral("top.txt"), QByteArray("t"), when);
    }

    // Connects again, so that the phone's changed operations are read anew.
    void reconnect()
    {
        connection->close(true);
        connect();
        phone->clearRecords();
    }

    static std::set<std::tuple<QString, bool, int64_t, qint64>> facts(const std::vector<RemoteEntry>& entries)
    {
        std::set<std::tuple<QString, bool, int64_t, qint64>> result;
        for (const RemoteEntry& e : entries)
            result.insert({e.name, e.isDirectory, e.size, e.modified.toSecsSinceEpoch()});
        return result;
    }
};

TEST_F(MTPListing, BothWaysOfListingGiveTheSameEntries)
{
    fillDCIM();
    const auto byProperties = files().list(QStringLiteral("/sdcard/DCIM"), true, Cancel());
    const auto rootByProperties = files().list(QStringLiteral("/sdcard"), true, Cancel());
    EXPECT_GT(sent(Operation::getObjectPropList), 0);
    EXPECT_EQ(sent(Operation::getObjectInfo), 0);

    // A phone whose property list names one object at a time: listed object by
    // object, the big file's size read from its own property.
    phone->configure([](auto& s) { s.propListOneObjectOnly = true; });
    reconnect();
    const auto byInfo = files().list(QStringLiteral("/sdcard/DCIM"), true, Cancel());
    const auto rootByInfo = files().list(QStringLiteral("/sdcard"), true, Cancel());
    EXPECT_GT(sent(Operation::getObjectHandles), 0);
    EXPECT_GT(sent(Operation::getObjectInfo), 0);

    EXPECT_EQ(facts(byProperties), facts(byInfo));
    EXPECT_EQ(facts(rootByProperties), facts(rootByInfo));
    EXPECT_EQ(facts(byInfo),
              (std::set<std::tuple<QString, bool, int64_t, qint64>>{
                  {QStringLiteral("Camera"), true, 0, when.addDays(1).toSecsSinceEpoch()},
                  {QStringLiteral("IMG_0001.jpg"), false, 12345, when.addSecs(7).toSecsSinceEpoch()},
                  {QStringLiteral(".nomedia"), false, 0, when.toSecsSinceEpoch()},
                  {QStringLiteral("Grüße €.txt"), false, 1, when.toSecsSinceEpoch()},
                  {QStringLiteral("movie.mp4"), false, int64_t(5ull << 30), when.toSecsSinceEpoch()}}));
}

TEST_F(MTPListing, ThePropertyListCostsSixRequestsWhateverTheFolderHolds)
{
    const uint32_t big = phone->addFolder(0, QStringLiteral("Big"));
    for (int i = 0; i < 500; ++i)
        phone->addFile(big, QStringLiteral("f%1").arg(i), QByteArray("x"));
    files().list(QStringLiteral("/sdcard"), false, Cancel());
    phone->clearRecords();

    EXPECT_EQ(files().list(QStringLiteral("/sdcard/Big"), false, Cancel()).size(), 500u);
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>(6, Operation::getObjectPropList));
    for (const auto& command : phone->commands()) {
        ASSERT_EQ(command.params.size(), 5u);
        EXPECT_EQ(command.params[0], big);
        EXPECT_EQ(command.params[4], 1u); // depth: the children
    }
}

TEST_F(MTPListing, TheRootIsNamedAsTheProtocolWantsOnEachPath)
{
    phone->addFile(0, QStringLiteral("a"), QByteArray("1"));
    files().list(QStringLiteral("/sdcard"), false, Cancel());
    for (const auto& command : phone->commands())
        EXPECT_EQ(command.params.at(0), 0u) << "GetObjectPropList names the root 0";

    phone->configure([](auto& s) { s.operations.erase(Operation::getObjectPropList); });
    reconnect();
    files().list(QStringLiteral("/sdcard"), false, Cancel());
    const auto commands = phone->commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.front().code, Operation::getObjectHandles);
    EXPECT_EQ(commands.front().params, (std::vector<uint32_t>{0x00010001, 0, rootHandle}));
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
    EXPECT_EQ(facts(files().list(QStringLiteral("/sdcard/Music"), false, Cancel())).size(), 1u);
    std::set<QString> top;
    for (const RemoteEntry& e : files().list(QStringLiteral("/sdcard"), false, Cancel()))
        top.insert(e.name);
    EXPECT_EQ(top, (std::set<QString>{QStringLiteral("Music"), QStringLiteral("top.txt")}));
}

TEST_F(MTPListing, ASizeOfAnotherTypeReadsAsZero)
{
    phone->addFile(0, QStringLiteral("a.bin"), bytesOf(1000));
    phone->configure([](auto& s) { s.propListSizeAsU32 = true; });
    const auto entries = files().list(QStringLiteral("/sdcard"), false, Cancel());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, 0);
}

TEST_F(MTPListing, AFailingPropertyListFallsBackToObjectInfos)
{
    phone->addFile(0, QStringLiteral("a.bin"), bytesOf(1000));
    phone->configure([](auto& s) { s.responseFor[Operation::getObjectPropList] = Response::generalError; });
    const auto entries = files().list(QStringLiteral("/sdcard"), false, Cancel());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].size, 1000);
    EXPECT_EQ(sent(Operation::getObjectPropList), 1);
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

TEST_F(MTPListing, CancellingStopsBeforeTheNextRequest)
{
    phone->addFile(0, QStringLiteral("a"), QByteArray("1"));
    std::stop_source stop;
    phone->configure([&](auto& s) { s.onCommand = [&](uint16_t) { stop.request_stop(); }; });
    EXPECT_THROW(files().list(QStringLiteral("/sdcard"), false, Cancel(stop.get_token())), Cancelled);
    EXPECT_EQ(phone->commandCodes().size(), 1u);
    phone->configure([](auto& s) { s.onCommand = nullptr; });
}

} // namespace
