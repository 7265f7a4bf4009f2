// Mended: names the line format could not carry (line breaks, "*", ".*") and
// names that are not UTF-8, through the real adb and the fake phone.
#include "ADBFiles.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

class HostileNames : public PhoneTest {
protected:
    // Makes the items under the phone folder, by their raw bytes.
    void make(const QString& phoneFolder, const std::vector<QByteArray>& names, bool folders = false)
    {
        const QByteArray base = QFile::encodeName(phonetest::storagePath(phone(), phoneFolder)) + '/';
        ASSERT_TRUE(QDir().mkpath(QFile::decodeName(base)));
        for (const QByteArray& name : names) {
            const QByteArray path = base + name;
            if (folders)
                ASSERT_EQ(::mkdir(path.constData(), 0755), 0);
            else
                ::close(::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644));
        }
    }
    std::multiset<QString> listed(const QString& path)
    {
        std::multiset<QString> names;
        for (const RemoteEntry& entry : ADBFiles(adb(), serial()).list(path, true, Cancel())) {
            EXPECT_FALSE(entry.isDirectory) << entry.name.toStdString();
            names.insert(entry.name);
        }
        return names;
    }
};

TEST_F(HostileNames, EachItemListsOnceUnderItsExactNameInBothListings)
{
    const std::vector<QByteArray> names {"line\nbreak", "\nleading", "x\ndirectory|4096|1234567890|real.txt",
                                         "real.txt", "cr\r", "vt\v", "ff\f", "nel\xc2\x85", "ls\xe2\x80\xa8",
                                         "ps\xe2\x80\xa9", "*", ".*", "a|b", "bad\xff"};
    make(QStringLiteral("/sdcard/hostile"), names);
    std::multiset<QString> expected;
    for (const QByteArray& name : names)
        expected.insert(QString::fromUtf8(name));
    expected.erase(QStringLiteral("bad\uFFFD"));
    expected.insert(QStringLiteral("bad") + QChar(0xDCFF));
    EXPECT_EQ(listed(QStringLiteral("/sdcard/hostile")), expected);

    // An overfull folder's first answer is empty; the batched listing follows.
    phone().setReply(
        QStringLiteral("cd '/sdcard/hostile' || exit 1; stat -L -c '%F|%s|%Y|%n/' -- * .* 2>/dev/null; true"), {});
    EXPECT_EQ(listed(QStringLiteral("/sdcard/hostile")), expected);
}

TEST_F(HostileNames, ANameThatIsNotUtf8IsRefusedByNameAndAFolderCopyKeepsItsBytes)
{
    make(QStringLiteral("/sdcard/odd"), {"bad\xfe"}, true);
    make(QStringLiteral("/sdcard/odd"), {"bad\xff.txt", "bad\xfe/inner"});
    ADBFiles files(adb(), serial());
    std::vector<QString> paths;
    for (const RemoteEntry& entry : files.list(QStringLiteral("/sdcard/odd"), false, Cancel()))
        paths.push_back(QStringLiteral("/sdcard/odd/") + entry.name);
    ASSERT_EQ(paths.size(), 2u);
    QTemporaryDir local;
    for (const QString& path : paths) {
        const std::function<void()> operations[] {
            [&] { files.remove(path, Cancel()); },
            [&] { files.move(path, QStringLiteral("/sdcard/odd/renamed"), Cancel()); },
            [&] { files.pull(path, local.filePath(QStringLiteral("copy")), Cancel()); },
            [&] { files.list(path, false, Cancel()); }};
        for (const auto& operation : operations) {
            try {
                operation();
                ADD_FAILURE() << "acted on " << path.toStdString();
            } catch (const ADBError& error) {
                EXPECT_TRUE(error.description().startsWith(QStringLiteral("“bad\uFFFD")))
                    << error.description().toStdString();
            }
        }
        EXPECT_FALSE(files.exists(path, Cancel()));
    }
    const QByteArray storage = QFile::encodeName(phonetest::storagePath(phone(), QStringLiteral("/sdcard/odd")));
    EXPECT_EQ(::access((storage + "/bad\xff.txt").constData(), F_OK), 0);
    EXPECT_EQ(::access((storage + "/bad\xfe/inner").constData(), F_OK), 0);

    files.pull(QStringLiteral("/sdcard/odd"), local.filePath(QStringLiteral("odd")), Cancel());
    const QByteArray copy = QFile::encodeName(local.filePath(QStringLiteral("odd")));
    EXPECT_EQ(::access((copy + "/bad\xff.txt").constData(), F_OK), 0);
    EXPECT_EQ(::access((copy + "/bad\xfe/inner").constData(), F_OK), 0);
}

} // namespace
