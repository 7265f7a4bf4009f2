// Every file operation of ADBFiles through the real adb and the fake phone,
// with names that hold what shells, globs, adb and line-based output treat
// specially: each operation acts on exactly the item named, under its exact
// name, and nothing in a name is ever run.
#include "ADBFiles.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <set>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using phonetest::failureOf;

const QDateTime stamp = QDateTime(QDate(2022, 6, 7), QTime(8, 9, 10), Qt::UTC);

// Names Linux allows that a shell, a glob, adb or a line reader could misread.
const std::vector<QByteArray> hostile {
    " leading space", "trailing space ", "trailing dot.", "..dots", "It's", "say \"hi\"", "back\\slash", "$HOME",
    "$(touch injected)", "`touch injected`", "a;touch injected", "a && touch injected", "a|touch injected",
    "-rf", "--", "-", "-n", "*", "?", "[ab]", "{a,b}", "~", "!x", "#x", "100%s%n", "<in>", "tab\there",
    "new\nline", "ends in line feed\n", "cr\rname", "a -> b", "😀 emoji", "e\xcc\x81 combining", "a,b", "a:b",
    "\\", "'", "\"", QByteArray(255, 'L'), QByteArray("\xf0\x9f\x98\x80").repeated(63) + "end"};

// Siblings a glob made of a hostile name would also match.
const std::vector<QByteArray> bystanders {"a", "b", "ab", "x"};

QByteArray bytesOf(const QString& path)
{
    return QFile::encodeName(path);
}

bool present(const QByteArray& path)
{
    struct stat info {};
    return ::lstat(path.constData(), &info) == 0;
}

QByteArray readAll(const QByteArray& path)
{
    QFile file(QFile::decodeName(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// Every path below `folder` whose name holds "injected": what a shell that
// ran part of a name would have made.
QStringList injected(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (QFileInfo(path).fileName() == QStringLiteral("injected"))
            found << path;
    }
    return found;
}

// The phone's file tools as a phone may have them: the host's (GNU, the
// pretend phone's own), toybox (Android's) or busybox.
struct Toolbox {
    const char* name;
    const char* program; // empty: the host's tools
};

void PrintTo(const Toolbox& toolbox, std::ostream* os)
{
    *os << toolbox.name;
}

class NamesOnPhone : public ::testing::TestWithParam<Toolbox> {
public:
    static void TearDownTestSuite() { s_phone.reset(); }

protected:
    void SetUp() override
    {
        const QString program = QString::fromLatin1(GetParam().program);
        if (!program.isEmpty() && ::access(GetParam().program, X_OK) != 0)
            GTEST_SKIP() << GetParam().program << " is not installed (scripts/setup.sh installs it)";
        // One phone at a time: each sets the environment adb reads.
        if (s_phone && s_toolbox != program)
            s_phone.reset();
        if (!s_phone) {
            s_phone = std::make_unique<FakePhoneHarness>(FakePhoneHarness::Options {.toolbox = program});
            QString error;
            if (!s_phone->start(&error)) {
                s_phone.reset();
                FAIL() << "the fake phone did not start: " << error.toStdString();
            }
            s_toolbox = program;
        }
        s_phone->clearReplies();
        s_phone->clearReceived();
    }

    static FakePhoneHarness& phone() { return *s_phone; }
    ADBFiles files() const { return ADBFiles(ADB(s_phone->adbPath()), s_phone->serial()); }
    QString local(const QString& phonePath) const { return phonetest::storagePath(phone(), phonePath); }
    QByteArray localBytes(const QString& phonePath, const QByteArray& name) const
    {
        return bytesOf(local(phonePath)) + '/' + name;
    }
    void seed(const QString& folder, const std::vector<QByteArray>& names)
    {
        QDir(local(folder)).removeRecursively();
        phonetest::makeItems(local(folder), names);
        for (const QByteArray& name : names)
            ASSERT_TRUE(phonetest::writeFile(QFile::decodeName(localBytes(folder, name)), name, stamp));
    }

private:
    static inline std::unique_ptr<FakePhoneHarness> s_phone;
    static inline QString s_toolbox;
};

// Both listings: the usual one, and the batched one that follows when the
// first comes back empty (as it does for a folder too full for one command).
TEST_P(NamesOnPhone, ListsEachNameExactlyWithItsSizeKindAndTime)
{
    const QString folder = QStringLiteral("/sdcard/names");
    std::vector<QByteArray> all = hostile;
    all.insert(all.end(), bystanders.begin(), bystanders.end());
    seed(folder, all);
    std::set<QString> expected;
    for (const QByteArray& name : all)
        expected.insert(QString::fromUtf8(name));
    for (const bool batched : {false, true}) {
        SCOPED_TRACE(batched ? "batched" : "usual");
        if (batched)
            phone().setReply(QStringLiteral("cd '/sdcard/names' || exit 1; stat -L -c '%F|%s|%Y|%n/' -- ./* ./.* "
                                            "2>/dev/null; true"),
                             {});
        std::set<QString> listed;
        for (const RemoteEntry& entry : files().list(folder, true, Cancel())) {
            listed.insert(entry.name);
            const QByteArray name = entry.name.toUtf8();
            EXPECT_FALSE(entry.isDirectory) << name.toStdString();
            EXPECT_EQ(entry.size, name.size()) << name.toStdString();
            EXPECT_EQ(entry.modified, stamp) << name.toStdString();
        }
        EXPECT_EQ(listed, expected);
    }
    EXPECT_EQ(phone().receivedCommands().size(), 4); // the usual listing, then the check and the batched one
}

TEST_P(NamesOnPhone, ShellOperationsActOnTheOneItemNamedAndRunNothing)
{
    const QString folder = QStringLiteral("/sdcard/ops");
    const QString made = QStringLiteral("/sdcard/ops-made");
    QDir(local(made)).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(local(made)));
    for (const QByteArray& raw : hostile) {
        SCOPED_TRACE(raw.toStdString());
        std::vector<QByteArray> all = bystanders;
        all.push_back(raw);
        seed(folder, all);
        const QString path = folder + QLatin1Char('/') + QString::fromUtf8(raw);
        EXPECT_TRUE(files().exists(path, Cancel()));

        // Renamed, then removed: the bystanders stay. A name's bytes are capped at 255.
        const QByteArray renamedRaw = (raw.size() > 250 ? raw.left(raw.size() - 3) : raw) + " 2";
        const QString renamed = folder + QLatin1Char('/') + QString::fromUtf8(renamedRaw);
        EXPECT_EQ(failureOf([&] { files().move(path, renamed, Cancel()); }), QStringLiteral("<no failure>"));
        EXPECT_FALSE(present(localBytes(folder, raw)));
        EXPECT_EQ(readAll(localBytes(folder, renamedRaw)), raw);
        EXPECT_EQ(failureOf([&] { files().remove(renamed, Cancel()); }), QStringLiteral("<no failure>"));
        EXPECT_FALSE(present(localBytes(folder, renamedRaw)));
        for (const QByteArray& other : bystanders)
            EXPECT_TRUE(present(localBytes(folder, other))) << other.toStdString();
        EXPECT_EQ(files().existence(path, Cancel()), std::optional<bool>(false));

        const QString newFolder = made + QLatin1Char('/') + QString::fromUtf8(raw);
        EXPECT_EQ(failureOf([&] { files().makeFolder(newFolder, Cancel()); }), QStringLiteral("<no failure>"));
        EXPECT_TRUE(QFileInfo(QFile::decodeName(localBytes(made, raw))).isDir());
        // Listed from inside, too.
        ASSERT_TRUE(phonetest::writeFile(QFile::decodeName(localBytes(made, raw + "/inner")), "in"));
        const std::vector<RemoteEntry> inside = files().list(newFolder, false, Cancel());
        EXPECT_EQ(inside.size(), 1u);
        EXPECT_TRUE(!inside.empty() && inside.front().name == QStringLiteral("inner"));
        EXPECT_EQ(failureOf([&] { files().remove(newFolder, Cancel()); }), QStringLiteral("<no failure>"));
        EXPECT_FALSE(present(localBytes(made, raw)));
    }
    EXPECT_EQ(injected(phone().storage()), QStringList());
}

// Copies go through adb's file transfer, not the phone's tools: one phone is enough.
using NamesCopied = NamesOnPhone;

TEST_P(NamesCopied, EachItemCopiesBothWaysUnderItsOwnName)
{
    const QString folder = QStringLiteral("/sdcard/copies");
    const QString back = QStringLiteral("/sdcard/copies back");
    seed(folder, hostile);
    QDir(local(back)).removeRecursively();
    ASSERT_TRUE(QDir().mkpath(local(back)));
    QTemporaryDir computer;
    for (const QByteArray& raw : hostile) {
        SCOPED_TRACE(raw.toStdString());
        const QString name = QString::fromUtf8(raw);
        const QString pulled = computer.filePath(name);
        EXPECT_EQ(failureOf([&] { files().pull(folder + QLatin1Char('/') + name, pulled, Cancel()); }),
                  QStringLiteral("<no failure>"));
        EXPECT_EQ(readAll(bytesOf(computer.path()) + '/' + raw), raw);
        EXPECT_EQ(QFileInfo(pulled).lastModified().toUTC(), stamp);
        // Into the folder by its full path, and (the computer's name kept) by the folder's.
        EXPECT_EQ(failureOf([&] { files().push(pulled, back + QLatin1Char('/') + name, {}, Cancel()); }),
                  QStringLiteral("<no failure>"));
        EXPECT_EQ(readAll(localBytes(back, raw)), raw);
        ::unlink(localBytes(back, raw).constData());
        EXPECT_EQ(failureOf([&] { files().push(pulled, back + QLatin1Char('/'), {}, Cancel()); }),
                  QStringLiteral("<no failure>"));
        EXPECT_EQ(readAll(localBytes(back, raw)), raw);
    }
    EXPECT_EQ(QDir(local(back)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
              qsizetype(hostile.size()));
    EXPECT_EQ(injected(phone().storage()), QStringList());
    EXPECT_EQ(injected(computer.path()), QStringList());
}

// A folder of such names copied to the computer and back keeps every name and content.
TEST_P(NamesCopied, AFolderOfThemCopiesBothWaysWhole)
{
    seed(QStringLiteral("/sdcard/tree"), hostile);
    QDir(local(QStringLiteral("/sdcard/tree back"))).removeRecursively();
    QTemporaryDir computer;
    const QString copy = computer.filePath(QStringLiteral("tree $(touch injected) -rf"));
    files().pull(QStringLiteral("/sdcard/tree"), copy, Cancel());
    files().push(copy, QStringLiteral("/sdcard/tree back"), {}, Cancel());
    for (const QByteArray& raw : hostile) {
        SCOPED_TRACE(raw.toStdString());
        EXPECT_EQ(readAll(bytesOf(copy) + '/' + raw), raw);
        EXPECT_EQ(readAll(localBytes(QStringLiteral("/sdcard/tree back"), raw)), raw);
    }
    EXPECT_EQ(QDir(local(QStringLiteral("/sdcard/tree back"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
              qsizetype(hostile.size()));
    EXPECT_EQ(injected(phone().storage()), QStringList());
    EXPECT_EQ(injected(computer.path()), QStringList());
}

// Links list as what they point to; removing or renaming one acts on the link.
TEST_P(NamesOnPhone, LinksListAsTheirTargetsAndOperationsActOnTheLinkItself)
{
    const QString folder = QStringLiteral("/sdcard/links");
    seed(folder, {"target.txt"});
    phonetest::makeItems(local(folder), {"dir"}, true);
    phonetest::makeItems(local(folder + QStringLiteral("/dir")), {"inner"});
    const std::pair<const char*, const char*> links[] {
        {"to file", "target.txt"}, {"to dir", "dir"}, {"a -> b", "target.txt"}, {"-", "dir"}, {"broken", "nowhere"}};
    for (const auto& [link, target] : links)
        ASSERT_EQ(::symlink(target, localBytes(folder, link).constData()), 0) << link;

    QStringList listed;
    for (const RemoteEntry& entry : files().list(folder, true, Cancel()))
        listed << QStringLiteral("%1 %2 %3").arg(entry.name, entry.isDirectory ? QStringLiteral("folder") : QStringLiteral("file"),
                                                 entry.isDirectory ? QString() : QString::number(entry.size));
    listed.sort();
    EXPECT_EQ(listed, (QStringList {QStringLiteral("- folder "), QStringLiteral("a -> b file 10"), QStringLiteral("dir folder "),
                                    QStringLiteral("target.txt file 10"), QStringLiteral("to dir folder "),
                                    QStringLiteral("to file file 10")}));

    QTemporaryDir computer;
    files().pull(folder + QStringLiteral("/to file"), computer.filePath(QStringLiteral("copy")), Cancel());
    EXPECT_EQ(readAll(bytesOf(computer.filePath(QStringLiteral("copy")))), QByteArray("target.txt"));
    files().pull(folder + QStringLiteral("/to dir"), computer.filePath(QStringLiteral("folder copy")), Cancel());
    EXPECT_TRUE(present(bytesOf(computer.filePath(QStringLiteral("folder copy/inner")))));
    files().move(folder + QStringLiteral("/to file"), folder + QStringLiteral("/renamed"), Cancel());
    files().remove(folder + QStringLiteral("/to dir"), Cancel());
    files().remove(folder + QStringLiteral("/-"), Cancel());
    EXPECT_TRUE(QFileInfo(local(folder + QStringLiteral("/renamed"))).isSymLink());
    EXPECT_FALSE(present(localBytes(folder, "to dir")));
    EXPECT_FALSE(present(localBytes(folder, "-")));
    EXPECT_EQ(readAll(localBytes(folder, "target.txt")), QByteArray("target.txt"));
    EXPECT_TRUE(present(localBytes(folder, "dir/inner")));
}

// A folder the phone's shell may not read fails by name rather than read as
// empty; an item it may not read still lists with its facts.
TEST_P(NamesOnPhone, AFolderThatCannotBeReadFailsAndAnUnreadableItemStillLists)
{
    const QString mixed = QStringLiteral("/sdcard/mixed");
    seed(mixed, {"open.txt", "private.txt"});
    phonetest::makeItems(local(mixed), {"shut", "locked"}, true);
    phonetest::makeItems(local(mixed + QStringLiteral("/locked")), {"inside"});
    ASSERT_EQ(::chmod(localBytes(mixed, "private.txt").constData(), 0), 0);
    ASSERT_EQ(::chmod(localBytes(mixed, "shut").constData(), 0), 0);
    ASSERT_EQ(::chmod(localBytes(mixed, "locked").constData(), 0311), 0);

    QStringList listed;
    for (const RemoteEntry& entry : files().list(mixed, false, Cancel()))
        listed << entry.name + (entry.isDirectory ? QStringLiteral("/") : QString());
    listed.sort();
    EXPECT_EQ(listed, (QStringList {QStringLiteral("locked/"), QStringLiteral("open.txt"), QStringLiteral("private.txt"),
                                    QStringLiteral("shut/")}));
    for (const bool hidden : {false, true}) {
        EXPECT_EQ(failureOf([&] { files().list(mixed + QStringLiteral("/locked"), hidden, Cancel()); }),
                  QStringLiteral("Couldn't read the items of “locked” on the phone."));
        EXPECT_TRUE(failureOf([&] { files().list(mixed + QStringLiteral("/shut"), hidden, Cancel()); })
                        .contains(QStringLiteral("Permission denied")));
    }
    // Only the folder's own permission is missing: an empty readable folder is empty.
    ASSERT_EQ(::chmod(localBytes(mixed, "locked").constData(), 0755), 0);
    ::unlink(localBytes(mixed, "locked/inside").constData());
    EXPECT_TRUE(files().list(mixed + QStringLiteral("/locked"), true, Cancel()).empty());
    ::chmod(localBytes(mixed, "shut").constData(), 0755);
}

INSTANTIATE_TEST_SUITE_P(Tools, NamesOnPhone,
                         ::testing::Values(Toolbox {"host", ""}, Toolbox {"toybox", "/usr/bin/toybox"},
                                           Toolbox {"busybox", "/usr/bin/busybox"}),
                         [](const ::testing::TestParamInfo<Toolbox>& tools) { return std::string(tools.param.name); });
INSTANTIATE_TEST_SUITE_P(Tools, NamesCopied, ::testing::Values(Toolbox {"host", ""}),
                         [](const ::testing::TestParamInfo<Toolbox>& tools) { return std::string(tools.param.name); });

} // namespace
