#include "FileIcons.h"
#include "Glass.h"
#include "Models.h"
#include "Symbols.h"
#include "Theme.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {
QIcon iconOf(const QString& name, bool folder = false)
{
    return FileIcons::icon(RemoteEntry{name, folder, 0, {}});
}
} // namespace

TEST(FileIcons, OneCachedIconPerKindAndNoneIsEmpty)
{
    const QIcon jpg = iconOf(QStringLiteral("Photo.JPG"));
    EXPECT_EQ(jpg.cacheKey(), iconOf(QStringLiteral("photo.jpg")).cacheKey());
    EXPECT_EQ(iconOf(QStringLiteral("a.tar.gz")).cacheKey(), iconOf(QStringLiteral("b.gz")).cacheKey());
    const QIcon folder = iconOf(QStringLiteral("photos.2024"), true);
    EXPECT_EQ(folder.cacheKey(), iconOf(QStringLiteral("DCIM"), true).cacheKey());
    EXPECT_NE(folder.cacheKey(), jpg.cacheKey());
    EXPECT_FALSE(jpg.isNull());
    EXPECT_FALSE(iconOf(QStringLiteral("README")).isNull());
    EXPECT_FALSE(iconOf(QStringLiteral("x.unknownext")).isNull());
}

TEST(Symbols, EveryNameGivesAnIcon)
{
    EXPECT_FALSE(Symbols::icon(QStringLiteral("internaldrive")).isNull());
    EXPECT_FALSE(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
}

TEST(Theme, DarknessComesFromThePalette)
{
    QPalette palette;
    palette.setColor(QPalette::Window, QColor(30, 30, 30));
    EXPECT_TRUE(Theme::isDark(palette));
    palette.setColor(QPalette::Window, QColor(240, 240, 240));
    EXPECT_FALSE(Theme::isDark(palette));
}

TEST(Glass, SurfaceDrawsItsShapeAndLeavesCornersClear)
{
    GlassSurface surface(GlassSurface::Shape::capsule);
    surface.resize(120, 40);
    surface.setGraphicsEffect(nullptr); // look at the surface itself, not its shadow
    QImage image(surface.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    surface.render(&image);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);     // outside the capsule's round end
    EXPECT_GT(qAlpha(image.pixel(60, 20)), 150); // the translucent fill
}
