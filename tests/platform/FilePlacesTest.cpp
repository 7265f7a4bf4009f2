// A new file takes the name of exactly the file meant, on every kind of
// disk: this one, and (through caselessfs, where FUSE can be had) one
// without birth times, one that ignores letter case and can't exchange
// names or link as vfat, and mounts that take renames only without flags.

#include "FilePlaces.h"
#ifdef FILE_PLACES_DISKS
#include "FakePhoneHarness.h"
#endif

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>

using namespace fileplaces;
using namespace Qt::StringLiterals;

namespace {

struct DiskKind {
    const char* name;
    bool mounted;
    bool ignoresCase;
    const char* renames;
    bool links;
};

const DiskKind disks[] = {
    {"this disk", false, false, "all", true},
    {"without birth times", true, false, "all", true},
    {"ignoring case, as vfat", true, true, "noreplace", false},
    {"renames without flags", true, false, "plain", true},
    {"renames without flags nor links", true, true, "plain", false},
};

QByteArray read(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

void write(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = QIODevice::WriteOnly)
{
    QFile file(path);
    ASSERT_TRUE(file.open(mode));
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// This disk's folders go in VANTELORQUIST_SWEEP_DISK when set: a real disk
// of another kind to try (a loop-mounted ext4 with 128-byte inodes).
QString folderTemplate()
{
    const QString disk = qEnvironmentVariable("VANTELORQUIST_SWEEP_DISK");
    return (disk.isEmpty() ? QDir::tempPath() : disk) + u"/places-XXXXXX"_s;
}

class FilePlacesTest : public ::testing::TestWithParam<DiskKind> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_root.isValid());
        if (!GetParam().mounted)
            return;
#ifdef FILE_PLACES_DISKS
        if (const QString why = FakePhoneHarness::caselessStorageUnavailable(); !why.isEmpty())
            GTEST_SKIP() << why.toStdString();
        QString error;
        m_mount = FakePhoneHarness::mountDisk(
            m_root.path(), {GetParam().ignoresCase, QString::fromLatin1(GetParam().renames), GetParam().links}, &error);
        ASSERT_TRUE(m_mount) << error.toStdString();
#else
        GTEST_SKIP() << "caselessfs was not built";
#endif
    }
    void TearDown() override
    {
#ifdef FILE_PLACES_DISKS
        m_mount.reset();
#endif
    }
    QString at(const QString& name) const { return m_root.filePath(name); }
    static QByteArray bytes(const QString& path) { return QFile::encodeName(path); }

    QTemporaryDir m_root{folderTemplate()};
#ifdef FILE_PLACES_DISKS
    std::unique_ptr<FakePhoneHarness::DiskMount> m_mount;
#endif
};

TEST_P(FilePlacesTest, OnlyTheFileMeantAsItWasIsReplaced)
{
    // What happens to the file at the name between the look and the copy.
    const struct {
        const char* what;
        std::function<void(const QString& path)> meanwhile;
        Placed result;
        QByteArray there; // at the name afterwards
        // Only a disk with birth times or inode generations tells it (not
        // the FUSE stand-in, nor many FUSE and network mounts).
        bool onlyWhereReuseIsTold = false;
    } cases[] = {
        {"nothing", [](const QString&) {}, Placed::done, "new"},
        {"a line added", [](const QString& path) { write(path, " and more", QIODevice::Append); }, Placed::taken,
         "old and more"},
        {"rewritten in place, as long",
         [](const QString& path) {
             write(path, "OLD", QIODevice::ReadWrite);
             const timespec times[2] = {{0, UTIME_OMIT}, {1000000, 5}};
             ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
         },
         Placed::taken, "OLD"},
        {"another file in its place",
         [](const QString& path) {
             QFile::remove(path);
             write(path, "theirs");
         },
         Placed::taken, "theirs"},
        // Where times go to the second only and the inode is used again.
        {"another file of the same size and time in its place",
         [](const QString& path) {
             struct stat old {};
             ::stat(QFile::encodeName(path).constData(), &old);
             QFile::remove(path);
             write(path, "OLD");
             const timespec times[2] = {{0, UTIME_OMIT}, old.st_mtim};
             ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
         },
         Placed::taken, "OLD", true},
        {"a folder in its place",
         [](const QString& path) {
             QFile::remove(path);
             QDir().mkpath(path);
         },
         Placed::folderThere, "<none>"},
        {"removed", [](const QString& path) { QFile::remove(path); }, Placed::done, "new"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.onlyWhereReuseIsTold && GetParam().mounted)
            continue;
        write(at(u"a.txt"_s), "old");
        const std::optional<Identity> covered = identityOf(bytes(at(u"a.txt"_s)));
        ASSERT_TRUE(covered);
        write(at(u"new"_s), "new");
        c.meanwhile(at(u"a.txt"_s));
        int asked = 0;
        const Placing placing = replaceFile(bytes(at(u"new"_s)), bytes(at(u"a.txt"_s)), *covered, [&] {
            ++asked;
            return bytes(at(u"aside"_s));
        });
        EXPECT_EQ(placing.result, c.result);
        EXPECT_EQ(read(at(u"a.txt"_s)), c.there);
        if (c.result == Placed::done) {
            // The file replaced, if any, is the caller's to remove.
            if (!placing.replaced.isEmpty()) {
                EXPECT_EQ(read(QFile::decodeName(placing.replaced)), "old");
            } else {
                EXPECT_FALSE(QFile::exists(at(u"new"_s)));
            }
        } else {
            EXPECT_EQ(read(at(u"new"_s)), "new");
            EXPECT_FALSE(QFile::exists(at(u"aside"_s)));
        }
        // Only a disk that can't exchange names asks for a place aside.
        if (std::string_view(GetParam().renames) == "all") {
            EXPECT_EQ(asked, 0);
        }
        for (const QString& name : QDir(m_root.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
            ASSERT_TRUE(QFile::remove(at(name)) || QDir(at(name)).removeRecursively());
    }
}

// A folder found at the name when the person answered is never the file
// the answer covers, even while it is still there.
TEST_P(FilePlacesTest, AFolderIsNeverReplaced)
{
    QDir().mkpath(at(u"Album"_s));
    write(at(u"Album/a.jpg"_s), "the person's");
    const std::optional<Identity> folder = identityOf(bytes(at(u"Album"_s)));
    ASSERT_TRUE(folder);
    write(at(u"new"_s), "new");
    const Placing placing =
        replaceFile(bytes(at(u"new"_s)), bytes(at(u"Album"_s)), *folder, [&] { return bytes(at(u"aside"_s)); });
    EXPECT_EQ(placing.result, Placed::folderThere);
    EXPECT_EQ(read(at(u"Album/a.jpg"_s)), "the person's");
    EXPECT_EQ(read(at(u"new"_s)), "new");
}

// On a disk that can't exchange names the file at the name is moved aside
// to be looked at: one that took the covered file's place just then gets its
// name back.
TEST_P(FilePlacesTest, AnItemMovedAsideToBeLookedAtGetsItsNameBack)
{
    if (std::string_view(GetParam().renames) == "all")
        GTEST_SKIP() << "this disk exchanges names";
    write(at(u"a.txt"_s), "old");
    const std::optional<Identity> covered = identityOf(bytes(at(u"a.txt"_s)));
    ASSERT_TRUE(covered);
    write(at(u"new"_s), "new");
    const Placing placing = replaceFile(bytes(at(u"new"_s)), bytes(at(u"a.txt"_s)), *covered, [&] {
        // Another program's file, just as the copy looks.
        QFile::remove(at(u"a.txt"_s));
        write(at(u"a.txt"_s), "theirs");
        return bytes(at(u"aside"_s));
    });
    EXPECT_EQ(placing.result, Placed::taken);
    EXPECT_EQ(read(at(u"a.txt"_s)), "theirs");
    EXPECT_EQ(read(at(u"new"_s)), "new");
    EXPECT_FALSE(QFile::exists(at(u"aside"_s)));
}

std::string diskName(const ::testing::TestParamInfo<DiskKind>& info)
{
    std::string name;
    for (const char* c = info.param.name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Disks, FilePlacesTest, ::testing::ValuesIn(disks), diskName);

} // namespace
