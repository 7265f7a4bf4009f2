// A folder with more items than the phone can hand to one command must be
// listed completely, not read as empty.
#include "ADBFiles.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <set>
#include <unistd.h>

namespace {

class OverfullFolder : public PhoneTest {};

QString longName(int i)
{
    return QStringLiteral("%1-").arg(i, 5, 10, QLatin1Char('0')) + QString(94, QLatin1Char('x'));
}

TEST_F(OverfullFolder, ListsEveryItemOfFortyThousand)
{
    constexpr int count = 40000;
    const QString folder = phonetest::storagePath(phone(), QStringLiteral("/sdcard/big"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (int i = 0; i < count; ++i) {
        const QByteArray path = QFile::encodeName(folder + QLatin1Char('/') + longName(i));
        const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ASSERT_TRUE(phonetest::writeFile(folder + QStringLiteral("/.hidden"), "h"));

    ADBFiles files(adb(), serial());
    const auto entries = files.list(QStringLiteral("/sdcard/big"), false, Cancel());
    ASSERT_EQ(entries.size(), size_t(count));
    std::set<QString> names;
    for (const RemoteEntry& entry : entries)
        names.insert(entry.name);
    EXPECT_EQ(names.size(), size_t(count));
    EXPECT_TRUE(names.count(longName(0)) && names.count(longName(count - 1)));
    EXPECT_FALSE(names.count(QStringLiteral(".hidden")));

    // The ordinary listing went first, unchanged, and came back empty as on a
    // real phone (the shell could not pass every name to stat): then the check
    // and the batched listing followed.
    const QStringList received = phone().receivedCommands();
    ASSERT_EQ(received.size(), 3) << received.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(received.first().endsWith(
        QStringLiteral("cd '/sdcard/big' || exit 1; stat -L -c '%F|%s|%Y|%n/' -- * 2>/dev/null; true")));

    EXPECT_EQ(files.list(QStringLiteral("/sdcard/big"), true, Cancel()).size(), size_t(count + 1));
}

TEST_F(OverfullFolder, OneThatStillListsNothingFailsRatherThanReadAsEmpty)
{
    // The check finds items, yet the batched listing brings none.
    ASSERT_TRUE(QDir().mkpath(phonetest::storagePath(phone(), QStringLiteral("/sdcard/odd"))));
    phone().setReply(QStringLiteral("cd '/sdcard/odd' || exit 1; for f in *; do case \"$f\" in .|..) ;; "
                                    "*) [ -e \"$f\" ] && { echo y; break; } ;; esac; done; true"),
                     {"y\n", {}, 0});
    try {
        ADBFiles(adb(), serial()).list(QStringLiteral("/sdcard/odd"), false, Cancel());
        FAIL() << "an unreadable folder must not read as empty";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("Couldn’t read the items of “odd” on the phone."));
    }
    EXPECT_EQ(phone().receivedCommands().size(), 3);
}

} // namespace
