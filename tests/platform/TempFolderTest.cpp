#include "Error.h"
#include "TempFolder.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {
// Points the private base at a fresh runtime folder for one test.
struct RuntimeDir {
    QTemporaryDir dir;
    QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    RuntimeDir() { qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit()); }
    ~RuntimeDir() { qputenv("XDG_RUNTIME_DIR", old); }
};
} // namespace

TEST(TempFolder, IsPrivateAndRemovedWithItsContents)
{
    RuntimeDir runtime;
    const QString path = TempFolder::path();
    EXPECT_EQ(path, runtime.dir.path() + QStringLiteral("/Vantelorquist"));
    struct stat st {};
    ASSERT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    QFile file(path + QStringLiteral("/x"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    TempFolder::removeAll();
    EXPECT_FALSE(QFileInfo::exists(path));
}

TEST(TempFolder, RefusesASymbolicLinkPlantedInItsPlace)
{
    RuntimeDir runtime;
    QTemporaryDir elsewhere;
    ASSERT_TRUE(QFile::link(elsewhere.path(), runtime.dir.path() + QStringLiteral("/Vantelorquist")));
    EXPECT_THROW(TempFolder::path(), SystemError);
    TempFolder::removeAll(); // must not follow the link
    EXPECT_TRUE(QFileInfo::exists(elsewhere.path()));
}
