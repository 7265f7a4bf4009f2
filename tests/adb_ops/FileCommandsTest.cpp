// The phone file commands over adb: the texts sent, the listing read back,
// and the copies handed to adb.
#include "ADBFiles.h"
#include "ADBParsing.h"
#include "StubADB.h"

#include <gtest/gtest.h>

namespace {

const QString serial = QStringLiteral("SER1");

QStringList shell(const QString& command)
{
    return {QStringLiteral("-s"), serial, QStringLiteral("shell"), command};
}

QDateTime at(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC);
}

TEST(ShellQuoting, QuotesEveryPathAndEscapesSingleQuotes)
{
    EXPECT_EQ(ADB::quote(QStringLiteral("/sdcard/It's")), QStringLiteral("'/sdcard/It'\\''s'"));
    EXPECT_EQ(ADB::quote(QStringLiteral("/sdcard/a b $HOME `x` \"q\"")),
              QStringLiteral("'/sdcard/a b $HOME `x` \"q\"'"));
    EXPECT_EQ(ADB::quote(QString()), QStringLiteral("''"));
}

TEST(ListingOutput, ReadsFoldersAndFiles)
{
    const auto entries = adbparse::listing(
        QStringLiteral("directory|4096|1700000000|Camera\nregular file|12345|1700000123|IMG_0001.jpg\n"));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (RemoteEntry{QStringLiteral("Camera"), true, 4096, at(1700000000000)}));
    EXPECT_EQ(entries[1], (RemoteEntry{QStringLiteral("IMG_0001.jpg"), false, 12345, at(1700000123000)}));
}

TEST(ListingOutput, KeepsBarsAndSpacesInNames)
{
    const auto entries = adbparse::listing(
        QStringLiteral("regular file|10|1700000000|a|b.txt\nregular file|1|1700000000| spaced name \r\n"
                       "regular file|1|1700000000|\n"));
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, QStringLiteral("a|b.txt"));
    EXPECT_EQ(entries[1].name, QStringLiteral(" spaced name ")); // line breaks trimmed, spaces kept
    EXPECT_EQ(entries[2].name, QString());
}

TEST(ListingOutput, SkipsShortLinesAndGlobLeftovers)
{
    const auto entries = adbparse::listing(
        QStringLiteral("directory|4096|1700000000\ndirectory|1|2|.\ndirectory|1|2|..\nregular file|1|2|*\n"
                       "regular file|1|2|.*\n"));
    EXPECT_TRUE(entries.empty());
}

TEST(ListingOutput, UnreadableNumbersReadAsZero)
{
    const auto entries = adbparse::listing(
        QStringLiteral("regular file|abc|1700000000.5|a\nsymbolic link|-5| 1700000000|b\n"
                       "regular empty file|+7|1.7e9|c\nregular file|99999999999999999999|0x10|d\n"));
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].size, 0);
    EXPECT_EQ(entries[0].modified, at(1700000000500));
    EXPECT_EQ(entries[1].size, -5);
    EXPECT_EQ(entries[1].modified, at(0));
    EXPECT_FALSE(entries[1].isDirectory);
    EXPECT_EQ(entries[2].size, 7);
    EXPECT_EQ(entries[2].modified, at(1700000000000));
    EXPECT_FALSE(entries[2].isDirectory);
    EXPECT_EQ(entries[3].size, 0);
    EXPECT_EQ(entries[3].modified, at(0));
}

TEST(FileCommands, SendsTheListingTextWithOrWithoutHiddenItems)
{
    StubADB stub;
    const QString plain = QStringLiteral(
        "cd '/sdcard/It'\\''s' || exit 1; stat -L -c '%F|%s|%Y|%n' -- * 2>/dev/null; true");
    const QString hidden = QStringLiteral(
        "cd '/sdcard/DCIM' || exit 1; stat -L -c '%F|%s|%Y|%n' -- * .* 2>/dev/null; true");
    stub.setReply(shell(plain), {"regular file|1|2|x\n", {}, 0});
    stub.setReply(shell(hidden), {"regular file|1|2|.nomedia\ndirectory|1|2|.\n", {}, 0});
    ADB adb = stub.adb();
    EXPECT_EQ(adb.list(serial, QStringLiteral("/sdcard/It's"), false, Cancel()).size(), 1u);
    const auto entries = adb.list(serial, QStringLiteral("/sdcard/DCIM"), true, Cancel());
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, QStringLiteral(".nomedia"));
    // An ordinary folder costs exactly one command.
    EXPECT_EQ(stub.calls().size(), 2u);
}

TEST(FileCommands, AMissingFolderFailsWithTheShellsMessage)
{
    StubADB stub;
    stub.setDefault({{}, "/system/bin/sh: cd: /sdcard/nope: No such file or directory\n", 1});
    try {
        stub.adb().list(serial, QStringLiteral("/sdcard/nope"), false, Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_TRUE(error.description().contains(QStringLiteral("No such file")));
    }
}

TEST(FileCommands, AnEmptyListingIsCheckedBeforeItIsBelieved)
{
    StubADB stub;
    stub.setDefault({{}, {}, 0}); // every command prints nothing: a really empty folder
    EXPECT_TRUE(stub.adb().list(serial, QStringLiteral("/sdcard/empty"), false, Cancel()).empty());
    const auto calls = stub.calls();
    ASSERT_EQ(calls.size(), 2u);
    // The check expands the glob in the shell, where no argument limit applies.
    EXPECT_TRUE(calls[1].at(3).startsWith(QStringLiteral("cd '/sdcard/empty' || exit 1; for f in *;")));
}

TEST(FileCommands, AnOverfullFolderIsListedInBatches)
{
    StubADB stub;
    const QString check = QStringLiteral(
        "cd '/sdcard/big' || exit 1; for f in * .*; do case \"$f\" in .|..|'*'|'.*') ;; *) [ -e \"$f\" ] && "
        "{ echo y; break; } ;; esac; done; true");
    const QString batched = QStringLiteral(
        "cd '/sdcard/big' || exit 1; find . -mindepth 1 -maxdepth 1 -exec stat -L -c '%F|%s|%Y|%n' -- {} + "
        "2>/dev/null; true");
    stub.setDefault({{}, {}, 0});
    stub.setReply(shell(check), {"y\n", {}, 0});
    stub.setReply(shell(batched), {"regular file|3|1700000000|./a|b\ndirectory|4096|1700000000|./.thumbs\n", {}, 0});
    const auto entries = stub.adb().list(serial, QStringLiteral("/sdcard/big"), true, Cancel());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, QStringLiteral("a|b"));
    EXPECT_EQ(entries[1].name, QStringLiteral(".thumbs"));
    EXPECT_TRUE(entries[1].isDirectory);
}

TEST(FileCommands, AnOverfullFolderThatStillListsNothingFails)
{
    StubADB stub;
    stub.setDefault({{}, {}, 0});
    const QString check = QStringLiteral(
        "cd '/sdcard/big' || exit 1; for f in *; do case \"$f\" in .|..|'*'|'.*') ;; *) [ -e \"$f\" ] && "
        "{ echo y; break; } ;; esac; done; true");
    stub.setReply(shell(check), {"y\n", {}, 0});
    try {
        stub.adb().list(serial, QStringLiteral("/sdcard/big"), false, Cancel());
        FAIL() << "an unreadable folder must not read as empty";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("Couldn’t read the items of “big” on the phone."));
    }
    const auto calls = stub.calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(calls[2].at(3).contains(QStringLiteral("find . -mindepth 1 -maxdepth 1 ! -name '.*' -exec")));
}

TEST(FileCommands, ExistsReadsYesAndTreatsEveryFailureAsFalse)
{
    StubADB stub;
    const QStringList args = shell(QStringLiteral("test -e '/sdcard/a b' && echo yes"));
    ADB adb = stub.adb();
    stub.setReply(args, {"yes\n", {}, 0});
    EXPECT_TRUE(adb.exists(serial, QStringLiteral("/sdcard/a b"), Cancel()));
    stub.setReply(args, {{}, {}, 1});
    EXPECT_FALSE(adb.exists(serial, QStringLiteral("/sdcard/a b"), Cancel()));
    stub.setReply(args, {{}, "error: device 'SER1' not found\n", 1});
    EXPECT_FALSE(adb.exists(serial, QStringLiteral("/sdcard/a b"), Cancel()));
    std::stop_source stop;
    stop.request_stop();
    stub.setReply(args, {"yes\n", {}, 0});
    EXPECT_FALSE(adb.exists(serial, QStringLiteral("/sdcard/a b"), Cancel(stop.get_token())));
}

} // namespace
