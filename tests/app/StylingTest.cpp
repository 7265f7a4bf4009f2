#include "FileIcons.h"
#include "Glass.h"
#include "Models.h"
#include "Symbols.h"
#include "Theme.h"

#include <QImage>
#include <QPushButton>

#include <gtest/gtest.h>

namespace {
RemoteEntry entry(const QString& name, bool folder = false)
{
    return RemoteEntry{name, folder, 0, {}};
}
} // namespace

TEST(FileIcons, KeysByFolderOrLowerCaseExtension)
{
    EXPECT_EQ(FileIcons::key(entry(QStringLiteral("Photo.JPG"))), QStringLiteral("jpg"));
    EXPECT_EQ(FileIcons::key(entry(QStringLiteral("archive.tar.gz"))), QStringLiteral("gz"));
    EXPECT_EQ(FileIcons::key(entry(QStringLiteral("README"))), QString());
    EXPECT_EQ(FileIcons::key(entry(QStringLiteral("photos.2024"), true)), QStringLiteral("/folder"));
}

TEST(FileIcons, SameKeySharesOneCachedIconAndNoneIsEmpty)
{
    const QIcon upper = FileIcons::icon(entry(QStringLiteral("Photo.JPG")));
    const QIcon lower = FileIcons::icon(entry(QStringLiteral("photo.jpg")));
    EXPECT_EQ(upper.cacheKey(), lower.cacheKey());
    EXPECT_FALSE(upper.isNull());
    const QIcon folder = FileIcons::icon(entry(QStringLiteral("photos.2024"), true));
    EXPECT_EQ(folder.cacheKey(), FileIcons::icon(entry(QStringLiteral("DCIM"), true)).cacheKey());
    EXPECT_NE(folder.cacheKey(), upper.cacheKey());
    EXPECT_FALSE(FileIcons::icon(entry(QStringLiteral("README"))).isNull());
    EXPECT_FALSE(FileIcons::icon(entry(QStringLiteral("x.unknownext"))).isNull());
}

TEST(Symbols, EveryNameGivesAnIcon)
{
    EXPECT_FALSE(Symbols::icon(QStringLiteral("internaldrive")).isNull());
    EXPECT_FALSE(Symbols::icon(QStringLiteral("no.such.symbol")).isNull());
}

TEST(Theme, ColoursPerAppearance)
{
    auto rgb = [](const QColor& c) { return std::make_tuple(qRound(c.redF() * 100), qRound(c.greenF() * 100), qRound(c.blueF() * 100)); };
    EXPECT_EQ(rgb(Theme::accent(true)), std::make_tuple(36, 80, 56));
    EXPECT_EQ(rgb(Theme::accent(false)), std::make_tuple(13, 58, 37));
    EXPECT_EQ(rgb(Theme::phoneBody(true)), std::make_tuple(16, 17, 18));
    EXPECT_EQ(rgb(Theme::phoneBody(false)), std::make_tuple(12, 13, 14));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(30, 30, 30));
    EXPECT_TRUE(Theme::isDark(dark));
    QPalette light;
    light.setColor(QPalette::Window, QColor(240, 240, 240));
    EXPECT_FALSE(Theme::isDark(light));
}

TEST(Glass, SurfaceDrawsItsShapeWithAHairlineAndLeavesCornersClear)
{
    GlassSurface surface(GlassSurface::Shape::capsule);
    surface.resize(120, 40);
    surface.setGraphicsEffect(nullptr); // look at the surface itself, not its shadow
    QImage image(surface.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    surface.render(&image);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);          // outside the capsule's round end
    EXPECT_GT(qAlpha(image.pixel(60, 20)), 150);      // the translucent fill
}

TEST(Glass, ProminentButtonsTakeTheAccent)
{
    QPushButton button(QStringLiteral("Copy Command"));
    glassButton(&button, true);
    EXPECT_TRUE(button.styleSheet().contains(Theme::accent(Theme::isDark(button.palette())).name()));
    glassButton(&button, false);
    EXPECT_TRUE(button.styleSheet().isEmpty());
}
