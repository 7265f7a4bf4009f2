// The guides' building blocks: the drawn phone's measures, the command box's
// copy confirmation, and the busy view's quit button title.

#include "BusyPhoneView.h"
#include "CommandBox.h"
#include "PhoneFrame.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

TEST(PhoneFrame, MeasuresFollowTheWidth)
{
    const PhoneFrame::Geometry small = PhoneFrame::geometry(80);
    EXPECT_DOUBLE_EQ(small.size.height(), 164);
    EXPECT_DOUBLE_EQ(small.cornerRadius, 16);
    EXPECT_EQ(small.screen.size(), QSizeF(72, 156));
    EXPECT_DOUBLE_EQ(small.screenRadius, 12);
    EXPECT_NEAR(small.cameraDiameter, 4.8, 1e-9);
    EXPECT_NEAR(small.cameraCentre.y(), 7.2, 1e-9);

    const PhoneFrame::Geometry large = PhoneFrame::geometry(120);
    EXPECT_DOUBLE_EQ(large.size.height(), 246);
    EXPECT_DOUBLE_EQ(large.cornerRadius, 24);
    EXPECT_EQ(large.screen.size(), QSizeF(112, 238));
    EXPECT_DOUBLE_EQ(large.screenRadius, 20);
    EXPECT_NEAR(large.cameraDiameter, 7.2, 1e-9);
    EXPECT_NEAR(large.cameraCentre.y(), 10.8, 1e-9);
}

TEST(CommandBox, CopiedShowsFromTheFirstClickNotTheLast)
{
    CommandBox box(QStringLiteral("brew install --cask android-platform-tools"));
    box.show();
    QElapsedTimer clock;
    clock.start();
    box.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("brew install --cask android-platform-tools"));
    EXPECT_EQ(box.copyButton()->text(), QStringLiteral("Copied"));

    QTest::qWait(1000);
    QGuiApplication::clipboard()->clear();
    box.copyButton()->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("brew install --cask android-platform-tools"));
    EXPECT_TRUE(box.copied());

    // Back to "Copy Command" 1.6 s after the first click, though the second
    // was only 0.6 s before.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box.copied(); }, 3000));
    const qint64 elapsed = clock.elapsed();
    EXPECT_GE(elapsed, CommandBox::copiedMilliseconds);
    EXPECT_LT(elapsed, 1000 + CommandBox::copiedMilliseconds);
    EXPECT_EQ(box.copyButton()->text(), QStringLiteral("Copy Command"));
}

TEST(BusyPhoneView, QuitTitleJoinsTheNamesWithAnd)
{
    EXPECT_EQ(BusyPhoneView::quitTitle({QStringLiteral("Photos")}), QStringLiteral("Quit Photos"));
    EXPECT_EQ(BusyPhoneView::quitTitle({QStringLiteral("Android File Transfer"), QStringLiteral("Image Capture"),
                                        QStringLiteral("Photos")}),
              QStringLiteral("Quit Android File Transfer and Image Capture and Photos"));
}
