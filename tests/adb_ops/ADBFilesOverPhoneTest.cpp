// ADBFiles through the real adb and the fake phone: the whole PhoneFiles
// contract, and what only the adb transport promises: each item of a folder
// lists once under its exact name, however the names look and however many
// there are.
#include "ADBFiles.h"
#include "Paths.h"
#include "PhoneFilesContract.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <filesystem>
#include <set>
#include <stop_token>
#include <thread>
#include <unistd.h>

namespace {

// The contract's view of the fake phone: its storage folder is the phone's
// "/sdcard", so items are seeded and read back there directly.
class ADBTransport : public PhoneFilesTransport {
public:
    bool start(QString* error) override { return m_phone.start(error); }
    std::unique_ptr<PhoneFiles> files() override
    {
        return std::make_unique<ADBFiles>(ADB(m_phone.adbPath()), m_phone.serial());
    }
    QString root() const override { return QStringLiteral("/sdcard"); }

    void seedFile(const QString& path, const QByteArray& content, const QDateTime& modified) override
    {
        ASSERT_TRUE(phonetest::writeFile(local(path), content, modified)) << path.toStdString();
    }
    void seedFolder(const QString& path) override
    {
        QDir(local(path)).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(local(path))) << path.toStdString();
    }
    std::optional<QByteArray> readFile(const QString& path) const override
    {
        QFile file(local(path));
        if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }
    bool isFolder(const QString& path) const override { return QFileInfo(local(path)).isDir(); }
    bool isPresent(const QString& path) const override { return QFileInfo::exists(local(path)); }

    // 10 ms per 64 KiB: a few MiB take a second or so.
    void setSlowTransfers(bool slow) override { m_phone.setChunkDelay(slow ? 10 : 0); }
    bool isNotFound(const Error& error) const override
    {
        return dynamic_cast<const ADBError*>(&error) && error.description().contains(QStringLiteral("No such file"));
    }
    QString leftoverAfterCancel() override
    {
        return phonetest::adbClientsWith(m_phone.serial()).join(QLatin1Char('\n'));
    }

private:
    QString local(const QString& path) const { return phonetest::storagePath(m_phone, path); }
    FakePhoneHarness m_phone;
};

INSTANTIATE_TEST_SUITE_P(ADBFiles, PhoneFilesContract,
                         ::testing::Values(PhoneFilesTransportKind{
                             "adb", [] { return std::unique_ptr<PhoneFilesTransport>(new ADBTransport); }}),
                         phoneFilesTransportName);

// ---- what only the adb transport promises ------------------------------------

const QString ordinary = QStringLiteral("stat -L -c '%F|%s|%Y|%n/' -- ./* 2>/dev/null; true");

class ADBFilesOnPhone : public PhoneTest {
protected:
    ADBFiles files() const { return ADBFiles(adb(), serial()); }
    QString local(const QString& phonePath) const { return phonetest::storagePath(phone(), phonePath); }
    // The names of the items listed, all of them files.
    std::multiset<QString> names(const QString& path, bool hidden = true)
    {
        std::multiset<QString> names;
        for (const RemoteEntry& entry : files().list(path, hidden, Cancel())) {
            EXPECT_FALSE(entry.isDirectory) << entry.name.toStdString();
            names.insert(entry.name);
        }
        return names;
    }
};
using HostileNames = ADBFilesOnPhone;
using OverfullFolder = ADBFilesOnPhone;

TEST_F(ADBFilesOnPhone, AnOrdinaryFolderCostsOneCommandWithThePathQuotedOnce)
{
    phonetest::makeItems(local(QStringLiteral("/sdcard/It's")), {"a"});
    EXPECT_EQ(names(QStringLiteral("/sdcard/It's"), false), (std::multiset<QString> {QStringLiteral("a")}));
    const QStringList received = phone().receivedCommands();
    ASSERT_EQ(received.size(), 1) << received.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(received.first().endsWith(QStringLiteral("cd '/sdcard/It'\\''s' || exit 1; ") + ordinary));
}

// Mended: names the line format could not carry (line breaks, "*", ".*").
TEST_F(HostileNames, EachItemListsOnceUnderItsExactNameInBothListings)
{
    const std::vector<QByteArray> raw {"line\nbreak", "\nleading", "x\ndirectory|4096|1234567890|real.txt",
                                       "real.txt", "cr\r", "vt\v", "ff\f", "nel\xc2\x85", "ls\xe2\x80\xa8",
                                       "ps\xe2\x80\xa9", "*", ".*", "a|b", "bad\xff"};
    phonetest::makeItems(local(QStringLiteral("/sdcard/hostile")), raw);
    std::multiset<QString> expected {QStringLiteral("bad") + QChar(0xDCFF)};
    for (const QByteArray& name : raw)
        expected.insert(QString::fromUtf8(name));
    expected.erase(QStringLiteral("bad\uFFFD"));
    EXPECT_EQ(names(QStringLiteral("/sdcard/hostile")), expected);

    // An overfull folder's first answer is empty; the batched listing follows.
    phone().setReply(QStringLiteral("cd '/sdcard/hostile' || exit 1; stat -L -c '%F|%s|%Y|%n/' -- ./* ./.* 2>/dev/null; true"), {});
    EXPECT_EQ(names(QStringLiteral("/sdcard/hostile")), expected);
}

// Mended: a name that is not UTF-8 was acted on under its replaced name,
// then refused: every operation now carries its bytes, as a Linux name is
// bytes, and reaches that item and no other.
TEST_F(HostileNames, ANameThatIsNotUtf8IsCarriedByteForByteByEveryOperation)
{
    const QString odd = local(QStringLiteral("/sdcard/odd"));
    phonetest::makeItems(odd, {"bad\xfe"}, true);
    phonetest::makeItems(odd, {"bad\xff.txt", "bad\xfe/inner", "bad\xef\xbf\xbd.txt"});
    const auto on = [&](const QString& folder, const char* name) {
        return ::access((paths::bytes(folder) + '/' + name).constData(), F_OK) == 0;
    };
    const QString file = QStringLiteral("/sdcard/odd/bad") + QChar(0xDCFF) + QStringLiteral(".txt");
    const QString folder = QStringLiteral("/sdcard/odd/bad") + QChar(0xDCFE);
    EXPECT_TRUE(files().exists(file, Cancel()));
    EXPECT_EQ(files().list(folder, true, Cancel()).size(), 1u);

    QTemporaryDir copy;
    const QString pulled = copy.filePath(QStringLiteral("a")) + QChar(0xDCE9);
    files().pull(file, pulled, Cancel());
    EXPECT_TRUE(on(copy.path(), "a\xe9"));
    files().pull(folder, copy.path(), Cancel());
    EXPECT_TRUE(on(copy.path(), "bad\xfe/inner"));
    files().push(pulled, QStringLiteral("/sdcard/odd/back") + QChar(0xDCE9), {}, Cancel());
    EXPECT_TRUE(on(odd, "back\xe9"));

    files().move(file, QStringLiteral("/sdcard/odd/moved") + QChar(0xDCE0), Cancel());
    EXPECT_TRUE(on(odd, "moved\xe0") && !on(odd, "bad\xff.txt"));
    files().remove(folder, Cancel());
    EXPECT_FALSE(on(odd, "bad\xfe"));
    // The item whose name is U+FFFD itself was never taken for the others.
    EXPECT_TRUE(on(odd, "bad\xef\xbf\xbd.txt"));
    // A lone surrogate that no byte stands for is refused by name.
    const QString none = QStringLiteral("/sdcard/odd/x") + QChar(0xD800);
    EXPECT_EQ(phonetest::failureOf([&] { files().remove(none, Cancel()); }),
              QStringLiteral("“x\uFFFD” has a name that isn't valid UTF-8, so it can't be used from here. Rename it "
                             "on the phone first."));
    paths::removeLocalTree(copy.path()); // by bytes, as QDir can't name these items
}

// The ordinary listing comes back empty, as on a real phone whose shell can't
// pass every name to stat: a check and the batched listing follow.
TEST_F(OverfullFolder, ListsEveryItemOfFortyThousand)
{
    constexpr int count = 40000;
    const auto name = [](int i) { return QStringLiteral("%1-").arg(i, 5, 10, QLatin1Char('0')) + QString(94, u'x'); };
    std::vector<QByteArray> raw {".hidden"};
    for (int i = 0; i < count; ++i)
        raw.push_back(name(i).toUtf8());
    phonetest::makeItems(local(QStringLiteral("/sdcard/big")), raw);

    const std::multiset<QString> listed = names(QStringLiteral("/sdcard/big"), false);
    EXPECT_EQ(listed.size(), size_t(count));
    EXPECT_EQ(std::set<QString>(listed.begin(), listed.end()).size(), size_t(count));
    EXPECT_TRUE(listed.count(name(0)) && listed.count(name(count - 1)) && !listed.count(QStringLiteral(".hidden")));
    const QStringList received = phone().receivedCommands();
    ASSERT_EQ(received.size(), 3) << received.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(received.first().endsWith(QStringLiteral("cd '/sdcard/big' || exit 1; ") + ordinary));
    EXPECT_EQ(files().list(QStringLiteral("/sdcard/big"), true, Cancel()).size(), size_t(count + 1));
}

TEST_F(OverfullFolder, OneThatStillListsNothingFailsRatherThanReadAsEmpty)
{
    // The check finds items, yet the batched listing brings none.
    phonetest::makeItems(local(QStringLiteral("/sdcard/odd")), {});
    phone().setReply(QStringLiteral("cd '/sdcard/odd' || exit 1; [ -r . ] || { echo unreadable; exit 0; }; for f in *; do case \"$f\" in .|..) ;; "
                                    "*) [ -e \"$f\" ] && { echo y; break; } ;; esac; done; true"),
                     {"y\n", {}, 0});
    EXPECT_EQ(phonetest::failureOf([&] { files().list(QStringLiteral("/sdcard/odd"), false, Cancel()); }),
              QStringLiteral("Couldn't read the items of “odd” on the phone."));
    EXPECT_EQ(phone().receivedCommands().size(), 3);
}

// Mended: a folder was made with the folders above it, so one deleted on the
// phone meanwhile was made again around it.
TEST_F(ADBFilesOnPhone, RemoveAndMakeFolderAreIdempotentAndFailuresOnThePhoneFailTheCall)
{
    EXPECT_NO_THROW(files().remove(QStringLiteral("/sdcard/never was"), Cancel()));
    files().makeFolder(QStringLiteral("/sdcard/deep"), Cancel());
    EXPECT_TRUE(QFileInfo(local(QStringLiteral("/sdcard/deep"))).isDir());
    EXPECT_NO_THROW(files().makeFolder(QStringLiteral("/sdcard/deep"), Cancel()));
    EXPECT_TRUE(phonetest::failureOf([&] { files().makeFolder(QStringLiteral("/sdcard/gone/folder"), Cancel()); })
                    .contains(QStringLiteral("No such file")));
    EXPECT_FALSE(QFileInfo::exists(local(QStringLiteral("/sdcard/gone"))));

    ASSERT_TRUE(phonetest::writeFile(local(QStringLiteral("/sdcard/taken")), "x"));
    EXPECT_THROW(files().list(QStringLiteral("/sdcard/taken"), false, Cancel()), ADBError); // a file, not a folder
    EXPECT_THROW(files().move(QStringLiteral("/sdcard/absent"), QStringLiteral("/sdcard/other"), Cancel()), ADBError);
    EXPECT_TRUE(phonetest::failureOf([&] { files().makeFolder(QStringLiteral("/sdcard/taken"), Cancel()); })
                    .contains(QStringLiteral("taken")));
}

// A phone of its own: the dropped connection does not come back.
class ADBFilesOnDroppingPhone : public ADBFilesOnPhone {};

TEST_F(ADBFilesOnDroppingPhone, ADroppedConnectionFailsTheCopy)
{
    ASSERT_TRUE(phonetest::writeFile(local(QStringLiteral("/sdcard/drop.bin")), QByteArray(1024 * 1024, 'd')));
    QTemporaryDir target;
    phone().dropAfterBytes(200 * 1024);
    EXPECT_THROW(files().pull(QStringLiteral("/sdcard/drop.bin"), target.filePath(QStringLiteral("drop.bin")), Cancel()),
                 ADBError);
}


// The fake phone's fault switches, for the copy tests that break each step:
// each breaks what it names until it is turned off, and nothing else.
class ADBFilesOnFaultyPhone : public ADBFilesOnPhone {};

TEST_F(ADBFilesOnFaultyPhone, EachFaultSwitchBreaksWhatItNamesUntilTurnedOff)
{
    ASSERT_TRUE(phonetest::writeFile(local(QStringLiteral("/sdcard/a.txt")), "a"));
    QTemporaryDir computer;
    const QString source = computer.filePath(QStringLiteral("b.txt"));
    ASSERT_TRUE(phonetest::writeFile(source, "b"));

    phone().setRefuseMoves(true);
    EXPECT_THROW(files().move(QStringLiteral("/sdcard/a.txt"), QStringLiteral("/sdcard/c.txt"), Cancel()), ADBError);
    EXPECT_TRUE(QFileInfo::exists(local(QStringLiteral("/sdcard/a.txt"))));
    files().push(source, QStringLiteral("/sdcard/b.txt"), {}, Cancel()); // writes still work
    phone().setRefuseMoves(false);
    files().move(QStringLiteral("/sdcard/a.txt"), QStringLiteral("/sdcard/c.txt"), Cancel());
    EXPECT_TRUE(QFileInfo::exists(local(QStringLiteral("/sdcard/c.txt"))));

    phone().setStorageFull(true);
    EXPECT_TRUE(phonetest::failureOf([&] { files().push(source, QStringLiteral("/sdcard/d.txt"), {}, Cancel()); })
                    .contains(QStringLiteral("No space left on device")));
    EXPECT_FALSE(QFileInfo::exists(local(QStringLiteral("/sdcard/d.txt"))));
    EXPECT_THROW(files().makeFolder(QStringLiteral("/sdcard/New"), Cancel()), ADBError);
    phone().setStorageFull(false);
    files().push(source, QStringLiteral("/sdcard/d.txt"), {}, Cancel());
    EXPECT_TRUE(QFileInfo::exists(local(QStringLiteral("/sdcard/d.txt"))));

    // Frozen: no answer at all, until Stop; then answers again.
    phone().setUnresponsive(true);
    std::stop_source stop;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        stop.request_stop();
    });
    const auto asked = std::chrono::steady_clock::now();
    const std::optional<bool> frozen = files().existence(QStringLiteral("/sdcard/c.txt"), Cancel(stop.get_token()));
    stopper.join();
    EXPECT_EQ(frozen, std::nullopt);
    EXPECT_GE(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(500));
    phone().setUnresponsive(false);
    EXPECT_EQ(files().existence(QStringLiteral("/sdcard/c.txt"), Cancel()), std::optional<bool>(true));

    // Gone: adb sees the phone offline; back once reachable.
    phone().setUnreachable(true);
    EXPECT_THROW(files().list(QStringLiteral("/sdcard"), false, Cancel()), ADBError);
    EXPECT_NE(phone().state(), QStringLiteral("device"));
    phone().setUnreachable(false);
    ASSERT_TRUE(phone().waitForState(QStringLiteral("device"), 30000));
    EXPECT_EQ(files().existence(QStringLiteral("/sdcard/c.txt"), Cancel()), std::optional<bool>(true));
}

} // namespace
