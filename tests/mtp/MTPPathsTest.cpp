// Phone paths to object handles: the components, resolving with letter case
// and the cache, the one retry when a cached handle went stale, and what
// exists, remove and makeFolder make of it.
#include "FilesFixture.h"

using namespace mtp;

namespace {

class MTPPaths : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        dcim = phone->addFolder(0, QStringLiteral("DCIM"));
        camera = phone->addFolder(dcim, QStringLiteral("Camera"));
        phone->addFile(camera, QStringLiteral("IMG_1.jpg"), QByteArray("jpeg"));
    }

    std::vector<QString> names(const QString& path)
    {
        std::vector<QString> result;
        for (const RemoteEntry& e : files().list(path, true, Cancel()))
            result.push_back(e.name);
        std::sort(result.begin(), result.end());
        return result;
    }

    uint32_t dcim = 0, camera = 0;
};

TEST(MTPPathParts, TheSdcardPrefixIsTheStorageRoot)
{
    EXPECT_TRUE(MTPConnection::parts(QStringLiteral("/sdcard")).isEmpty());
    EXPECT_TRUE(MTPConnection::parts(QStringLiteral("/sdcard/")).isEmpty());
    EXPECT_TRUE(MTPConnection::parts(QString()).isEmpty());
    EXPECT_EQ(MTPConnection::parts(QStringLiteral("/sdcard/DCIM//Camera/")),
              (QStringList{QStringLiteral("DCIM"), QStringLiteral("Camera")}));
    // The prefix goes by its characters, not as a component.
    EXPECT_EQ(MTPConnection::parts(QStringLiteral("/sdcard2/x")), (QStringList{QStringLiteral("2"), QStringLiteral("x")}));
    EXPECT_EQ(MTPConnection::parts(QStringLiteral("/storage/emulated/0/DCIM")).size(), 4);
}

TEST_F(MTPPaths, OtherLetterCaseResolvesAndIsRememberedAsTyped)
{
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim/CAMERA")), std::vector<QString>{QStringLiteral("IMG_1.jpg")});
    phone->clearRecords();
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/dcim/CAMERA/IMG_1.jpg"), Cancel()));
    EXPECT_TRUE(phone->commands().empty()) << "resolved from the cache";
}

TEST_F(MTPPaths, TheExactNameWinsOverAnotherLetterCase)
{
    const uint32_t lower = phone->addFolder(0, QStringLiteral("dcim"));
    phone->addFile(lower, QStringLiteral("lower.txt"), QByteArray("l"));
    EXPECT_EQ(names(QStringLiteral("/sdcard/dcim")), std::vector<QString>{QStringLiteral("lower.txt")});
    EXPECT_EQ(names(QStringLiteral("/sdcard/DCIM")), std::vector<QString>{QStringLiteral("Camera")});
}

TEST_F(MTPPaths, CanonicallyEquivalentNamesAreTheSameName)
{
    const uint32_t decomposed = phone->addFolder(0, QStringLiteral("Cafe\u0301"));
    phone->addFile(decomposed, QStringLiteral("menu.txt"), QByteArray("m"));
    EXPECT_EQ(names(QStringLiteral("/sdcard/Caf\u00e9")), std::vector<QString>{QStringLiteral("menu.txt")});
}

TEST_F(MTPPaths, KnownFoldersAreNotListedAgain)
{
    names(QStringLiteral("/sdcard/DCIM"));
    phone->clearRecords();
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    for (const auto& command : phone->commands())
        EXPECT_EQ(command.params.at(0), camera) << "only Camera itself is listed";
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
}

TEST_F(MTPPaths, AFolderDeletedMeanwhileIsReportedByName)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    phone->removeObject(camera);
    const auto error = mtpErrorOf([&] { files().list(QStringLiteral("/sdcard/DCIM/Camera"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), MTPError::Kind::notFound);
    EXPECT_EQ(error->description(), QStringLiteral("“Camera” isn't on the phone any more."));
}

TEST_F(MTPPaths, ExistsIsFalseForEveryFailure)
{
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Nope"), Cancel()));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM"), Cancel(stop.get_token())));
    host->unplug(phone);
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Camera/IMG_1.jpg"), Cancel()));
}

TEST_F(MTPPaths, ALockedPhoneListsNothingAndHasNothing)
{
    phone->removeStorage(0x00010001);
    connection->close(true);
    connect();
    ASSERT_EQ(connection->status(), MTPConnection::Status::locked);
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard"), Cancel()));
    const auto error = mtpErrorOf([&] { files().list(QStringLiteral("/sdcard"), false, Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("Unlock your phone to see its files."));
}

TEST_F(MTPPaths, RemoveDeletesWithOneRequestAndForgetsThePath)
{
    names(QStringLiteral("/sdcard/DCIM/Camera"));
    phone->clearRecords();
    files().remove(QStringLiteral("/sdcard/DCIM"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::deleteObject});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{dcim, 0}));
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/DCIM/Camera"), Cancel()));
}

TEST_F(MTPPaths, TheStorageRootIsNeverDeleted)
{
    for (const QString& root : {QStringLiteral("/sdcard"), QStringLiteral("/sdcard/")}) {
        const auto error = mtpErrorOf([&] { files().remove(root, Cancel()); });
        ASSERT_TRUE(error);
        EXPECT_EQ(error->description(), QStringLiteral("The phone's whole storage can't be deleted."));
    }
    EXPECT_EQ(sent(Operation::deleteObject), 0);
    EXPECT_TRUE(phone->objectAt(QStringLiteral("DCIM/Camera/IMG_1.jpg")));
}

TEST_F(MTPPaths, MakeFolderCreatesOnlyWhatIsMissing)
{
    files().makeFolder(QStringLiteral("/sdcard/DCIM/Trips/2024"), Cancel());
    EXPECT_EQ(sent(Operation::sendObjectInfo), 2);
    const auto made = phone->objectAt(QStringLiteral("DCIM/Trips/2024"));
    ASSERT_TRUE(made);
    EXPECT_TRUE(made->isFolder());
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

TEST_F(MTPPaths, APhoneThatGivesNoHandleForANewFolderFails)
{
    phone->configure([](auto& s) { s.sendObjectInfoWithoutHandle = true; });
    const auto error = mtpErrorOf([&] { files().makeFolder(QStringLiteral("/sdcard/New"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(), QStringLiteral("The phone didn't create the folder."));
}

} // namespace
