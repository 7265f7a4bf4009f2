// The application's answers to the model's questions: Return takes the
// first button, Escape and closing the alert take Cancel, and names in the
// question stay plain text.

#include "WidgetDesktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

// Asks the conflict question and does `act` to the alert once it shows.
std::optional<int> answer(const std::function<void(QMessageBox&)>& act, Qt::TextFormat* format = nullptr)
{
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (format)
            *format = box->textFormat();
        act(*box);
    });
    WidgetDesktop desktop;
    return desktop.ask({QStringLiteral("“<b>a.jpg</b>” already exists in this folder."),
                        QStringLiteral("Replacing overwrites existing files. Folders are merged."),
                        {QStringLiteral("Replace"), QStringLiteral("Keep Both"), QStringLiteral("Skip"), QStringLiteral("Cancel")}});
}

TEST(ConflictAlert, ReturnReplacesAndEscapeOrClosingCancels)
{
    Qt::TextFormat format = Qt::RichText;
    EXPECT_EQ(answer([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Return); }, &format), 0);
    EXPECT_EQ(format, Qt::PlainText);
    EXPECT_EQ(answer([](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }), 3);
    EXPECT_EQ(answer([](QMessageBox& box) { box.close(); }), 3);
}

} // namespace
