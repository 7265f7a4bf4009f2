// A start's token for bringing a window forward, as it travels to the
// running application.

#include "ActivationToken.h"

#include <gtest/gtest.h>

TEST(ActivationToken, EveryTokenComesBackWholeAndAnythingElseOnTheLineIsRefused)
{
    const ActivationToken tokens[] = {
        {"kwin-17", {}},
        {{}, "host-1234-5678 \"quoted\" \\ slash_TIME99"},
        {"a", QByteArray("\xff\xfe=+/ ", 6)},
        {QByteArray(512, 'w'), QByteArray(512, 'x')},
    };
    for (const ActivationToken& token : tokens) {
        const QByteArray words = token.encoded();
        EXPECT_FALSE(words.contains('\n') || words.contains('\0')) << words.constData();
        EXPECT_EQ(ActivationToken::decoded(words), token) << words.constData();
    }
    EXPECT_EQ(ActivationToken::decoded(""), ActivationToken());

    const QByteArray refused[] = {
        "wayland",                                        // no value
        "wayland=",                                       // an empty one
        "colour=cmVk",                                    // no word of ours
        "wayland=YQ wayland=Yg",                          // twice
        "wayland=Y*Q",                                    // not base64
        "x11=" + QByteArray(513, 'x').toBase64(),         // longer than any launcher's
        "x11=" + QByteArray("a\0b", 3).toBase64(),        // a zero byte would cut the X11 message
    };
    for (const QByteArray& words : refused)
        EXPECT_EQ(ActivationToken::decoded(words), std::nullopt) << words.constData();
}
