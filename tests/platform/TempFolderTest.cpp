#include "Error.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>

namespace {

// Points the staging places at folders of one test: the cache folder (or,
// without one, the home folder), the runtime folder and the temporary
// directory. Restores the environment afterwards.
struct Environment {
    QTemporaryDir dir;
    QTemporaryDir runtime;
    std::optional<QByteArray> saved[4];
    static constexpr const char* names[4] = {"XDG_CACHE_HOME", "XDG_RUNTIME_DIR", "TMPDIR", "HOME"};

    // With `cacheHere`, XDG_CACHE_HOME is this test's folder; else unset.
    explicit Environment(bool cacheHere)
    {
        for (int i = 0; i < 4; ++i)
            saved[i] = qEnvironmentVariableIsSet(names[i]) ? std::optional(qgetenv(names[i])) : std::nullopt;
        if (cacheHere)
            qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.path()));
        else
            qunsetenv("XDG_CACHE_HOME");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        qputenv("TMPDIR", QFile::encodeName(dir.path()));
        qputenv("HOME", QFile::encodeName(dir.path()));
    }
    ~Environment()
    {
        TempFolder::removeAll();
        for (int i = 0; i < 4; ++i) {
            if (saved[i])
                qputenv(names[i], *saved[i]);
            else
                qunsetenv(names[i]);
        }
    }
};

bool touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}

unsigned modeOf(const QString& path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

} // namespace

TEST(TempFolder, IsPrivateAndRemovedWithItsContents)
{
    Environment environment(true);
    const QString path = TempFolder::path();
    const QString root = environment.dir.path() + QStringLiteral("/Vantelorquist");
    EXPECT_EQ(QFileInfo(path).path(), root);
    EXPECT_EQ(modeOf(root), 0700u);
    EXPECT_EQ(modeOf(path), 0700u);
    EXPECT_EQ(TempFolder::path(), path); // one folder for the process
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/a/b")) && touch(path + QStringLiteral("/a/b/x")));
    TempFolder::removeAll();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(root));
}

// Mended: staged copies went to the runtime folder, which lives in memory
// and is capped at a fraction of it, so a large video could not be opened.
TEST(TempFolder, StagesOnDiskInTheCacheFolderNeverInTheRuntimeFolder)
{
    for (const bool cacheSet : {true, false}) {
        SCOPED_TRACE(cacheSet ? "XDG_CACHE_HOME set" : "XDG_CACHE_HOME unset");
        Environment environment(false);
        const QString cache = environment.dir.path() + (cacheSet ? QStringLiteral("/cache") : QStringLiteral("/.cache"));
        if (cacheSet) {
            ASSERT_TRUE(QDir().mkpath(cache));
            qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        }
        const QString path = TempFolder::path();
        EXPECT_TRUE(path.startsWith(cache + QStringLiteral("/Vantelorquist/"))) << path.toStdString();
        EXPECT_TRUE(QDir(environment.runtime.path()).isEmpty());
        if (!cacheSet) {
            EXPECT_EQ(modeOf(cache), 0700u); // made as the base directory rules ask
        }

        // A file of several gigabytes has room there (sparse: no blocks used).
        QFile large(path + QStringLiteral("/large.mp4"));
        ASSERT_TRUE(large.open(QIODevice::WriteOnly));
        EXPECT_TRUE(large.resize(qint64(5) << 30));
        large.close();
        EXPECT_EQ(QFileInfo(large.fileName()).size(), qint64(5) << 30);
    }
}

// Another local user may plant a link at either level; nothing reached
// through it is touched, neither when making nor when removing.
TEST(TempFolder, LeavesWhatALinkPointsAtAlone)
{
    for (const bool linkedBase : {true, false}) {
        SCOPED_TRACE(linkedBase ? "link in place of the base" : "link in place of the folder");
        Environment environment(false);
        QTemporaryDir victim;
        ASSERT_TRUE(QDir(victim.path()).mkdir(QStringLiteral("Vantelorquist")));
        ASSERT_TRUE(touch(victim.path() + QStringLiteral("/Vantelorquist/keep")));
        if (linkedBase) {
            // The cache folder is a link (so not used), and so is the
            // fallback under the temporary directory.
            const QString cache = environment.dir.path() + QStringLiteral("/cache");
            ASSERT_TRUE(QFile::link(victim.path(), cache));
            qputenv("XDG_CACHE_HOME", QFile::encodeName(cache));
        } else {
            qputenv("XDG_CACHE_HOME", QFile::encodeName(environment.dir.path()));
        }
        const QString planted = linkedBase
            ? environment.dir.path() + QStringLiteral("/vantelorquist-") + QString::number(::getuid())
            : environment.dir.path() + QStringLiteral("/Vantelorquist");
        ASSERT_TRUE(QFile::link(linkedBase ? victim.path() : victim.path() + QStringLiteral("/Vantelorquist"), planted));
        EXPECT_THROW(TempFolder::path(), SystemError);
        TempFolder::removeLeftovers();
        TempFolder::removeAll();
        EXPECT_TRUE(QFileInfo::exists(victim.path() + QStringLiteral("/Vantelorquist/keep")));
        EXPECT_EQ(QDir(victim.path() + QStringLiteral("/Vantelorquist")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
                  QStringList{QStringLiteral("keep")});
    }
}

// Mended: what a run left behind stayed for good. A run that ended (its lock
// free) leaves nothing behind at the next start; a running instance (its
// lock held) keeps its files.
TEST(TempFolder, RemovesWhatEndedRunsLeftButNeverARunningInstancesFiles)
{
    Environment environment(true);
    const QString root = environment.dir.path() + QStringLiteral("/Vantelorquist");
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/100-dead/7F3A/movie.mp4")));
    ASSERT_TRUE(touch(root + QStringLiteral("/100-dead.lock")));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/0B9C-older/photo.jpg"))); // no lock at all
    ASSERT_TRUE(touch(root + QStringLiteral("/stray.txt")));
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/200-running/51D2")));
    ASSERT_TRUE(touch(root + QStringLiteral("/200-running/51D2/song.mp3")));
    ASSERT_TRUE(touch(root + QStringLiteral("/200-running.lock")));
    // The other instance's lock, as that process holds it.
    const int running = ::open(QFile::encodeName(root + QStringLiteral("/200-running.lock")).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(running, 0);
    ASSERT_EQ(::flock(running, LOCK_EX | LOCK_NB), 0);

    const QString path = TempFolder::path();
    const QString own = QFileInfo(path).fileName();
    QStringList expected{QStringLiteral("200-running"), QStringLiteral("200-running.lock"), own, own + QStringLiteral(".lock")};
    expected.sort();
    EXPECT_EQ(QDir(root).entryList(QDir::NoDotAndDotDot | QDir::AllEntries, QDir::Name), expected);
    EXPECT_TRUE(QFileInfo::exists(root + QStringLiteral("/200-running/51D2/song.mp3")));

    // Once it has ended, its files go at the next clean-up; ours stay.
    ::close(running);
    TempFolder::removeLeftovers();
    expected = QStringList{own, own + QStringLiteral(".lock")};
    expected.sort();
    EXPECT_EQ(QDir(root).entryList(QDir::NoDotAndDotDot | QDir::AllEntries, QDir::Name), expected);
    EXPECT_TRUE(QFileInfo(path).isDir());
}

// Quitting removes this instance's files only; the shared folder goes with
// the last instance.
TEST(TempFolder, QuittingLeavesAnotherRunningInstancesFiles)
{
    Environment environment(true);
    const QString root = environment.dir.path() + QStringLiteral("/Vantelorquist");
    const QString path = TempFolder::path();
    ASSERT_TRUE(QDir().mkpath(root + QStringLiteral("/300-other/A1")));
    ASSERT_TRUE(touch(root + QStringLiteral("/300-other.lock")));
    const int other = ::open(QFile::encodeName(root + QStringLiteral("/300-other.lock")).constData(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);

    TempFolder::removeAll();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_TRUE(QFileInfo(root + QStringLiteral("/300-other/A1")).isDir());
    ::close(other);
}
