#include "FileIcons.h"
#include "Models.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {
QIcon iconOf(const QString& name, bool folder = false)
{
    return FileIcons::icon(RemoteEntry{name, folder, 0, {}});
}
} // namespace

TEST(FileIcons, OneCachedIconPerKindAndNoneIsEmpty)
{
    const QIcon jpg = iconOf(u"Photo.JPG"_s);
    EXPECT_EQ(jpg.cacheKey(), iconOf(u"photo.jpg"_s).cacheKey());
    EXPECT_EQ(iconOf(u"a.tar.gz"_s).cacheKey(), iconOf(u"b.gz"_s).cacheKey());
    const QIcon folder = iconOf(u"photos.2024"_s, true);
    EXPECT_EQ(folder.cacheKey(), iconOf(u"DCIM"_s, true).cacheKey());
    EXPECT_NE(folder.cacheKey(), jpg.cacheKey());
    EXPECT_FALSE(jpg.isNull());
    EXPECT_FALSE(iconOf(u"README"_s).isNull());
    EXPECT_FALSE(iconOf(u"x.unknownext"_s).isNull());
}
