#include "WindowRegistry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

TEST(WindowRegistry, OpensOneWindowPerIdentifierAndBringsItBack)
{
    WindowRegistry registry;
    int made = 0;
    registry.define(QStringLiteral("apps"), QStringLiteral("Apps"), QSize(720, 560), [&] {
        ++made;
        return new QWidget;
    });
    QWidget* first = registry.open(QStringLiteral("apps"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Apps"));
    EXPECT_EQ(first->objectName(), QStringLiteral("apps"));
    EXPECT_EQ(first->size(), QSize(720, 560));
    EXPECT_EQ(registry.open(QStringLiteral("apps")), first);
    EXPECT_EQ(made, 1);

    // Closed windows are made anew.
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(registry.window(QStringLiteral("apps")), nullptr);
    QWidget* second = registry.open(QStringLiteral("apps"));
    EXPECT_EQ(made, 2);
    delete second;
}

TEST(WindowRegistry, WindowsWithoutContentCannotOpen)
{
    WindowRegistry registry;
    registry.define(QStringLiteral("mirror"), QStringLiteral("Phone Screen"), QSize(470, 860), {});
    EXPECT_TRUE(registry.isDefined(QStringLiteral("mirror")));
    EXPECT_FALSE(registry.canOpen(QStringLiteral("mirror")));
    EXPECT_EQ(registry.open(QStringLiteral("mirror")), nullptr);
    EXPECT_EQ(registry.open(QStringLiteral("unknown")), nullptr);
}
