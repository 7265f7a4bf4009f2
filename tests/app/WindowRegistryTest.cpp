#include "WindowRegistry.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

#include <gtest/gtest.h>

// Which identifiers the application defines, and that those without content
// do not open, is shown through the application's windows.
TEST(WindowRegistry, OpensOneWindowPerIdentifierAndMakesAClosedOneAnew)
{
    WindowRegistry registry;
    int made = 0;
    registry.define(QStringLiteral("apps"), QStringLiteral("Apps"), QSize(720, 560), [&] { return ++made, new QWidget; });
    QWidget* first = registry.open(QStringLiteral("apps"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Apps"));
    EXPECT_EQ(first->objectName(), QStringLiteral("apps")); // what the closing rule goes by
    EXPECT_EQ(registry.open(QStringLiteral("apps")), first);
    EXPECT_EQ(registry.open(QStringLiteral("unknown")), nullptr);
    first->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(registry.window(QStringLiteral("apps")), nullptr);
    delete registry.open(QStringLiteral("apps"));
    EXPECT_EQ(made, 2);
}
