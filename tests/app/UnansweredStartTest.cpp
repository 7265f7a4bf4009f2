// What a start that finds the running application frozen tells the person.

#include "ModalGuard.h"
#include "UnansweredStart.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray written(std::FILE* file)
{
    std::rewind(file);
    QByteArray text;
    char chunk[256];
    while (const size_t got = std::fread(chunk, 1, sizeof chunk, file))
        text.append(chunk, qsizetype(got));
    return text;
}

} // namespace

TEST(UnansweredStart, OnlyPlatformsThatDrawNowhereGetNoBox)
{
    const std::pair<QString, bool> platforms[] = {
        {u"xcb"_s, true}, {u"wayland"_s, true}, {u"offscreen"_s, false}, {u"minimal"_s, false},
    };
    for (const auto& [name, shown] : platforms)
        EXPECT_EQ(UnansweredStart::shownOn(name), shown) << name.toStdString();
}

// Mended: the sentence went to the terminal alone, so a start from the
// desktop ended without a word. It goes to the terminal first, then into a
// box that waits for OK; where no screen shows one, the terminal alone.
TEST(UnansweredStart, TheSentenceGoesToTheTerminalAndIntoABoxThatWaitsForOK)
{
    const QString sentence = u"Vantelorquist is already running but doesn't answer."_s;
    EXPECT_EQ(UnansweredStart::sentence(), sentence);
    for (const bool withBox : {true, false}) {
        SCOPED_TRACE(withBox ? "with a box" : "terminal only");
        std::FILE* terminal = std::tmpfile();
        ASSERT_TRUE(terminal);
        QStringList boxes;
        QByteArray writtenBeforeTheBox;
        // The box a person would see, answered with OK.
        QTimer person;
        person.setInterval(10);
        QObject::connect(&person, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible())
                return;
            writtenBeforeTheBox = written(terminal);
            boxes << box->text();
            EXPECT_EQ(box->icon(), QMessageBox::Warning);
            ASSERT_EQ(box->buttons().size(), 1);
            box->buttons().first()->click();
        });
        person.start();
        const ModalGuard bound;
        UnansweredStart::tell(terminal, withBox);
        EXPECT_FALSE(bound.closedOne());
        EXPECT_EQ(boxes, withBox ? QStringList{sentence} : QStringList{});
        if (withBox) {
            EXPECT_EQ(writtenBeforeTheBox, sentence.toUtf8() + '\n');
        }
        EXPECT_EQ(written(terminal), sentence.toUtf8() + '\n');
        std::fclose(terminal);
    }
}
