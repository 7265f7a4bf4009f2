#include "Error.h"
#include "TempFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Points the private base at a fresh runtime folder (or, without one, the
// temporary directory) for one test.
struct Environment {
    QTemporaryDir dir;
    QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR"), oldTemp = qgetenv("TMPDIR");
    explicit Environment(bool runtime)
    {
        if (runtime)
            qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());
        else
            qunsetenv("XDG_RUNTIME_DIR");
        qputenv("TMPDIR", dir.path().toLocal8Bit());
    }
    ~Environment()
    {
        qputenv("XDG_RUNTIME_DIR", oldRuntime);
        qputenv("TMPDIR", oldTemp);
    }
};

bool touch(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly);
}
} // namespace

TEST(TempFolder, IsPrivateAndRemovedWithItsContents)
{
    Environment environment(true);
    const QString path = TempFolder::path();
    EXPECT_EQ(path, environment.dir.path() + QStringLiteral("/Vantelorquist"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/a/b")) && touch(path + QStringLiteral("/a/b/x")));
    TempFolder::removeAll();
    EXPECT_FALSE(QFileInfo::exists(path));
}

// Another local user may plant a link at either level; nothing reached
// through it is touched, neither when making nor when removing.
TEST(TempFolder, LeavesWhatALinkPointsAtAlone)
{
    for (const bool linkedBase : {true, false}) {
        SCOPED_TRACE(linkedBase ? "link in place of the base" : "link in place of the folder");
        Environment environment(!linkedBase);
        QTemporaryDir victim;
        ASSERT_TRUE(QDir(victim.path()).mkdir(QStringLiteral("Vantelorquist")));
        ASSERT_TRUE(touch(victim.path() + QStringLiteral("/Vantelorquist/keep")));
        const QString planted = linkedBase
            ? environment.dir.path() + QStringLiteral("/vantelorquist-") + QString::number(::getuid())
            : environment.dir.path() + QStringLiteral("/Vantelorquist");
        ASSERT_TRUE(QFile::link(linkedBase ? victim.path() : victim.path() + QStringLiteral("/Vantelorquist"), planted));
        EXPECT_THROW(TempFolder::path(), SystemError);
        TempFolder::removeAll();
        EXPECT_TRUE(QFileInfo::exists(victim.path() + QStringLiteral("/Vantelorquist/keep")));
    }
}
