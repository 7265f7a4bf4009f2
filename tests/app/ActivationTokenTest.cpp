// A start's token for bringing a window forward, as it travels to the
// running application and as its X11 form tells the launch's time.

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

TEST(ActivationToken, TheLaunchTimeIsTheNumberAfterTheLastTimeMark)
{
    const std::pair<QByteArray, std::optional<quint32>> cases[] = {
        {"host-12-34-app_TIME5678", 5678u},
        {"a_TIME1_TIME4294967295", 4294967295u},
        {"a_TIME4294967296", std::nullopt}, // past what an X server counts
        {"a_TIME12x", std::nullopt},
        {"a_TIME", std::nullopt},
        {"a_TIME-1", std::nullopt},
        {"no-time-here", std::nullopt},
    };
    for (const auto& [id, time] : cases)
        EXPECT_EQ(ActivationToken::launchTime(id), time) << id.constData();
}
