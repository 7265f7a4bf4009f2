// Each item of a folder lists once under its exact name, however the names
// look and however many there are, through the real adb and the fake phone.
#include "ADBFiles.h"
#include "PhoneFixture.h"

#include <QTemporaryDir>

#include <set>
#include <unistd.h>

namespace {

const QString ordinary = QStringLiteral("stat -L -c '%F|%s|%Y|%n/' -- * 2>/dev/null; true");

class Listing : public PhoneTest {
protected:
    ADBFiles files() const { return ADBFiles(adb(), serial()); }
    QString local(const QString& phonePath) const { return phonetest::storagePath(phone(), phonePath); }
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
using HostileNames = Listing;
using OverfullFolder = Listing;

TEST_F(Listing, AnOrdinaryFolderCostsOneCommandWithThePathQuotedOnce)
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
    phone().setReply(QStringLiteral("cd '/sdcard/hostile' || exit 1; stat -L -c '%F|%s|%Y|%n/' -- * .* 2>/dev/null; true"), {});
    EXPECT_EQ(names(QStringLiteral("/sdcard/hostile")), expected);
}

// Mended: a name that is not UTF-8 was acted on under its replaced name.
TEST_F(HostileNames, ANameThatIsNotUtf8IsRefusedByNameAndAFolderCopyKeepsItsBytes)
{
    const QString odd = local(QStringLiteral("/sdcard/odd"));
    phonetest::makeItems(odd, {"bad\xfe"}, true);
    phonetest::makeItems(odd, {"bad\xff.txt", "bad\xfe/inner"});
    std::vector<QString> paths;
    for (const RemoteEntry& entry : files().list(QStringLiteral("/sdcard/odd"), false, Cancel()))
        paths.push_back(QStringLiteral("/sdcard/odd/") + entry.name);
    ASSERT_EQ(paths.size(), 2u);
    QTemporaryDir copy;
    for (const QString& path : paths) {
        const std::function<void()> operations[] {
            [&] { files().remove(path, Cancel()); },
            [&] { files().move(path, QStringLiteral("/sdcard/odd/renamed"), Cancel()); },
            [&] { files().pull(path, copy.filePath(QStringLiteral("copy")), Cancel()); },
            [&] { files().list(path, false, Cancel()); }};
        for (const auto& operation : operations)
            EXPECT_TRUE(phonetest::failureOf(operation).startsWith(QStringLiteral("“bad\uFFFD")));
        EXPECT_FALSE(files().exists(path, Cancel()));
    }
    files().pull(QStringLiteral("/sdcard/odd"), copy.filePath(QStringLiteral("odd")), Cancel());
    for (const QString& folder : {odd, copy.filePath(QStringLiteral("odd"))}) {
        EXPECT_EQ(::access((QFile::encodeName(folder) + "/bad\xff.txt").constData(), F_OK), 0);
        EXPECT_EQ(::access((QFile::encodeName(folder) + "/bad\xfe/inner").constData(), F_OK), 0);
    }
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
    phone().setReply(QStringLiteral("cd '/sdcard/odd' || exit 1; for f in *; do case \"$f\" in .|..) ;; "
                                    "*) [ -e \"$f\" ] && { echo y; break; } ;; esac; done; true"),
                     {"y\n", {}, 0});
    EXPECT_EQ(phonetest::failureOf([&] { files().list(QStringLiteral("/sdcard/odd"), false, Cancel()); }),
              QStringLiteral("Couldn’t read the items of “odd” on the phone."));
    EXPECT_EQ(phone().receivedCommands().size(), 3);
}

} // namespace
