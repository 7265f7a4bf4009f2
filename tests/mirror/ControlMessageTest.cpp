#include "ControlMessage.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using TA = ControlMessage::TouchAction;
constexpr double inf = std::numeric_limits<double>::infinity();

QByteArray hex(const char* text) { return QByteArray::fromHex(QByteArray(text).replace(' ', "")); }

} // namespace

TEST(ControlMessage, WorkedExamplesAreTheServersBytes)
{
    const struct { ControlMessage message; const char* bytes; } cases[] = {
        {ControlMessage::key(0, 4, 0), "00 00 00 00 00 04 00 00 00 00 00 00 00 00"},
        {ControlMessage::text(QStringLiteral("abc")), "01 00 00 00 03 61 62 63"},
        {ControlMessage::touch(TA::down, {100.4, 200.5}, {1080, 2340}),
         "02 00 FF FF FF FF FF FF FF FE 00 00 00 64 00 00 00 C9 04 38 09 24 FF FF 00 00 00 00 00 00 00 00"},
        {ControlMessage::touch(TA::move, {1, 1}, {1, 1}), // pressure is zero only when lifting
         "02 02 FF FF FF FF FF FF FF FE 00 00 00 01 00 00 00 01 00 01 00 01 FF FF 00 00 00 00 00 00 00 00"},
        {ControlMessage::touch(TA::up, {1, 1}, {1, 1}),
         "02 01 FF FF FF FF FF FF FF FE 00 00 00 01 00 00 00 01 00 01 00 01 00 00 00 00 00 00 00 00 00 00"},
        {ControlMessage::scroll({10, 20}, {1080, 2340}, -1, 2),
         "03 00 00 00 0A 00 00 00 14 04 38 09 24 F8 00 10 00 00 00 00 00"},
        {ControlMessage::setClipboard(QStringLiteral("abc"), true), "09 00 00 00 00 00 00 00 00 01 00 00 00 03 61 62 63"},
        {ControlMessage::setClipboard(QString(), false), "09 00 00 00 00 00 00 00 00 00 00 00 00 00"},
        {ControlMessage::text(QString()), "01 00 00 00 00"},
        {ControlMessage::rotateDevice(), "0B"},
        {ControlMessage::resetVideo(), "11"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.message.data().toHex(' '), hex(c.bytes).toHex(' ')) << c.bytes;
}

TEST(ControlMessage, PositionsRoundHalvesAwayFromZeroClampTheScreenAndSaturate)
{
    const struct { QPointF point; QSizeF screen; const char* position; /* x, y, width, height */ } cases[] = {
        {{-0.5, 0.5}, {1080, 2340}, "FF FF FF FF 00 00 00 01 04 38 09 24"},
        {{2.4999, 2.5}, {1080, 2340}, "00 00 00 02 00 00 00 03 04 38 09 24"},
        {{0, 0}, {70000, -3}, "00 00 00 00 00 00 00 00 FF FF 00 00"},
        {{0, 0}, {1080.9, 2340}, "00 00 00 00 00 00 00 00 04 38 09 24"},
        {{0, 0}, {qQNaN(), inf}, "00 00 00 00 00 00 00 00 00 00 FF FF"},
        {{qQNaN(), inf}, {1, 1}, "00 00 00 00 00 00 00 00 00 01 00 01"},
        {{3e9, -3e9}, {1, 1}, "7F FF FF FF 80 00 00 00 00 01 00 01"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ControlMessage::touch(TA::move, c.point, c.screen).data().mid(10, 12).toHex(' '), hex(c.position).toHex(' ')) << c.position;
}

TEST(ControlMessage, ScrollAmountsAreSixteenthsOfTheFixedPointRange)
{
    const struct { double amount; const char* encoded; } cases[] = {
        {16, "7F FF"}, {-16, "80 00"}, {100, "7F FF"}, {1, "08 00"},
        {-1, "F8 00"}, {-0.0001, "00 00"}, {qQNaN(), "00 00"}, {-inf, "00 00"},
    };
    for (const auto& c : cases) {
        const QByteArray data = ControlMessage::scroll({0, 0}, {1, 1}, c.amount, c.amount).data();
        EXPECT_EQ(data.mid(13, 2).toHex(' '), hex(c.encoded).toHex(' ')) << c.amount;
        EXPECT_EQ(data.mid(15, 2), data.mid(13, 2));
    }
}

TEST(ControlMessage, TypedTextIsCutAtThreeHundredBytesOnACharacterBoundary)
{
    const QString ascii(301, QLatin1Char('a'));
    const QString twoByte = QString(299, QLatin1Char('a')) + QStringLiteral("é"); // é straddles byte 300
    const QString fourByte = QString(298, QLatin1Char('a')) + QStringLiteral("😀");
    const QString exact = QString(298, QLatin1Char('a')) + QStringLiteral("é");
    const struct { QString text; int sent; } cases[] = {
        {ascii, 300}, {twoByte, 299}, {fourByte, 298}, {exact, 300}, {QStringLiteral("é"), 2}};
    for (const auto& c : cases) {
        const QByteArray data = ControlMessage::text(c.text).data();
        ASSERT_EQ(data.size(), 5 + c.sent);
        EXPECT_EQ(data.mid(1, 4), QByteArray::fromHex(QByteArray::number(c.sent, 16).rightJustified(8, '0')));
        EXPECT_EQ(data.mid(5), c.text.toUtf8().left(c.sent));
    }
    // The clipboard is never cut.
    const QByteArray clipboard = ControlMessage::setClipboard(QString(5000, QChar(u'é')), false).data();
    EXPECT_EQ(clipboard.size(), 14 + 10000);
    EXPECT_EQ(clipboard.mid(10, 4), hex("00 00 27 10"));
}

// Mended: a full queue could take a key's or a touch's press and drop its
// release, leaving it held on the phone.
TEST(ControlQueue, AReleaseAlwaysFitsAndADroppedPressTakesItsRelease)
{
    const ControlMessage keyDown = ControlMessage::key(0, 4, 0), keyUp = ControlMessage::key(1, 4, 0);
    const ControlMessage touchDown = ControlMessage::touch(TA::down, {1, 1}, {10, 10});
    const ControlMessage touchMove = ControlMessage::touch(TA::move, {2, 2}, {10, 10});
    const ControlMessage touchUp = ControlMessage::touch(TA::up, {2, 2}, {10, 10});
    const ControlMessage filler = ControlMessage::text(QStringLiteral("0123456789"));
    const qsizetype key = keyDown.data().size(), touch = touchDown.data().size(), fill = filler.data().size();
    struct Case {
        const char* name;
        qsizetype limit;
        std::vector<ControlMessage> sent;
        std::vector<QByteArray> queued;
    };
    const Case cases[] = {
        {"the press fills the queue: its release goes too", fill + key, {filler, keyDown, keyUp},
         {filler.data(), keyDown.data(), keyUp.data()}},
        {"no room for the press: the release goes with it", fill + key - 1, {filler, keyDown, keyUp}, {filler.data()}},
        {"a touch's down fills it: the up goes too, the move not", fill + touch, {filler, touchDown, touchMove, touchUp},
         {filler.data(), touchDown.data(), touchUp.data()}},
        {"a touch dropped at its down: its moves and up too", fill + touch - 1, {filler, touchDown, touchMove, touchUp},
         {filler.data()}},
        {"other messages are dropped whole when full", fill + 1, {filler, filler}, {filler.data()}},
        {"one always fits into an empty queue", 1, {filler, keyDown, keyUp}, {filler.data()}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ControlQueue queue(c.limit);
        for (const ControlMessage& message : c.sent)
            queue.push(message);
        std::vector<QByteArray> queued;
        while (!queue.empty())
            queued.push_back(queue.take());
        EXPECT_EQ(queued, c.queued);
    }
    // Once room is back, a dropped key's next press goes with its release.
    ControlQueue queue(fill);
    queue.push(filler);
    queue.push(keyDown);
    queue.push(keyUp);
    queue.take();
    EXPECT_TRUE(queue.push(keyDown));
    EXPECT_TRUE(queue.push(keyUp));
    EXPECT_EQ(queue.bytes(), 2 * key);
}
