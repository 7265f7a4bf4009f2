// Moving and renaming: the one request each needs, and a phone that lacks them.
#include "FilesFixture.h"

using namespace mtp;

namespace {

class MTPMove : public FilesTest {
protected:
    void SetUp() override
    {
        FilesTest::SetUp();
        music = phone->addFolder(0, QStringLiteral("Music"));
        other = phone->addFolder(0, QStringLiteral("Other"));
        song = phone->addFile(music, QStringLiteral("song.mp3"), QByteArray("la"));
        files().list(QStringLiteral("/sdcard/Music"), false, Cancel()); // known paths
        phone->clearRecords();
    }

    void lacking(uint16_t operation)
    {
        phone->configure([operation](auto& s) { s.operations.erase(operation); });
        connection->close(true);
        connect();
        phone->clearRecords();
    }

    uint32_t music = 0, other = 0, song = 0;
};

TEST_F(MTPMove, RenamingWithinAFolderOnlyRenames)
{
    files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Music/It's mine.mp3"), Cancel());
    EXPECT_EQ(phone->commandCodes(), std::vector<uint16_t>{Operation::setObjectPropValue});
    EXPECT_EQ(phone->commands().front().params, (std::vector<uint32_t>{song, ObjectProperty::objectFileName}));
    EXPECT_EQ(phone->object(song)->name, QStringLiteral("It's mine.mp3"));
    EXPECT_FALSE(files().exists(QStringLiteral("/sdcard/Music/song.mp3"), Cancel()));
    EXPECT_TRUE(files().exists(QStringLiteral("/sdcard/Music/It's mine.mp3"), Cancel()));
}

TEST_F(MTPMove, MovingUnderTheSameNameOnlyMoves)
{
    files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Other/song.mp3"), Cancel());
    EXPECT_EQ(phone->commands().back().code, Operation::moveObject);
    EXPECT_EQ(phone->commands().back().params, (std::vector<uint32_t>{song, 0x00010001, other}));
    EXPECT_EQ(sent(Operation::setObjectPropValue), 0);
    EXPECT_EQ(phone->object(song)->parent, other);

    phone->clearRecords();
    files().move(QStringLiteral("/sdcard/Other/song.mp3"), QStringLiteral("/sdcard/song.mp3"), Cancel());
    EXPECT_EQ(phone->commands().back().params, (std::vector<uint32_t>{song, 0x00010001, 0}))
        << "the root is parent 0";
    EXPECT_TRUE(phone->objectAt(QStringLiteral("song.mp3")));
}

TEST_F(MTPMove, MovingAndRenamingSendsBoth)
{
    files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Other/tune.mp3"), Cancel());
    const auto codes = phone->commandCodes();
    ASSERT_GE(codes.size(), 2u);
    EXPECT_EQ(codes[codes.size() - 2], Operation::moveObject);
    EXPECT_EQ(codes.back(), Operation::setObjectPropValue);
    EXPECT_EQ(phone->objectAt(QStringLiteral("Other/tune.mp3"))->handle, song);
}

TEST_F(MTPMove, APhoneWithoutMoveObjectCannotMove)
{
    lacking(Operation::moveObject);
    const auto error = mtpErrorOf(
        [&] { files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Other/song.mp3"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("This phone can't move files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(phone->object(song)->parent, music);
    // Renaming still works.
    files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Music/b.mp3"), Cancel());
    EXPECT_EQ(phone->object(song)->name, QStringLiteral("b.mp3"));
}

TEST_F(MTPMove, APhoneThatMovesButCannotRenameEndsWithTheItemMoved)
{
    lacking(Operation::setObjectPropValue);
    const auto error = mtpErrorOf(
        [&] { files().move(QStringLiteral("/sdcard/Music/song.mp3"), QStringLiteral("/sdcard/Other/x.mp3"), Cancel()); });
    ASSERT_TRUE(error);
    EXPECT_EQ(error->description(),
              QStringLiteral("This phone can't rename files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(phone->object(song)->parent, other);
    EXPECT_EQ(phone->object(song)->name, QStringLiteral("song.mp3"));
}

} // namespace
