// The sentences of MTP failures and the response codes behind them.
#include "MTPError.h"

#include <gtest/gtest.h>

namespace {

TEST(MTPError, Sentences)
{
    EXPECT_EQ(MTPError::notFound(QStringLiteral("Camera")).description(),
              QStringLiteral("“Camera” isn't on the phone any more."));
    EXPECT_EQ(MTPError::unsupported(QStringLiteral("move files")).description(),
              QStringLiteral("This phone can't move files over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(MTPError::failed(QStringLiteral("Done badly.")).description(), QStringLiteral("Done badly."));
    EXPECT_EQ(MTPError::busy().description(),
              QStringLiteral("Another app is using the phone's file transfer. Quit Android File Transfer, Image "
                             "Capture or Photos and try again."));
    EXPECT_EQ(MTPError::locked().description(), QStringLiteral("Unlock your phone to see its files."));
    EXPECT_EQ(MTPError::gone().description(), QStringLiteral("The phone was disconnected."));

    // The browser recognises a missing folder by this wording.
    EXPECT_TRUE(MTPError::notFound(QStringLiteral("x")).description().contains(QStringLiteral("isn't on the phone")));
    EXPECT_EQ(MTPError::notFound(QStringLiteral("DCIM")).kind(), MTPError::Kind::notFound);
    EXPECT_EQ(MTPError::notFound(QStringLiteral("DCIM")).text(), QStringLiteral("DCIM"));
}

TEST(MTPError, ResponseCodesWithSentencesOfTheirOwn)
{
    const QString what = QStringLiteral("rename that");
    EXPECT_EQ(MTPError::response(0x2005, what).kind(), MTPError::Kind::unsupported);
    EXPECT_EQ(MTPError::response(0x2005, what).description(),
              QStringLiteral("This phone can't rename that over file transfer. Turn on USB debugging to do it."));
    for (uint16_t code : {0x2009, 0x200A})
        EXPECT_EQ(MTPError::response(code, what).description(),
                  QStringLiteral("The file is no longer on the phone. Refresh and try again."));
    EXPECT_EQ(MTPError::response(0x200C, what).description(), QStringLiteral("The phone is full."));
    for (uint16_t code : {0x200D, 0x200E, 0x201D})
        EXPECT_EQ(MTPError::response(code, what).description(),
                  QStringLiteral("The phone didn't allow that (read-only location)."));
    EXPECT_EQ(MTPError::response(0x2019, what).description(),
              QStringLiteral("The phone is busy. Try again in a moment."));
}

TEST(MTPError, OtherResponseCodesNameTheCode)
{
    EXPECT_EQ(MTPError::response(0x2002, QStringLiteral("list this folder")).description(),
              QStringLiteral("The phone couldn't list this folder (MTP error 0x2002)."));
    EXPECT_EQ(MTPError::response(0x000F, QStringLiteral("do that")).description(),
              QStringLiteral("The phone couldn't do that (MTP error 0x000F)."));
    EXPECT_EQ(MTPError::response(0xa801, QStringLiteral("do that")).description(),
              QStringLiteral("The phone couldn't do that (MTP error 0xA801)."));
    // Opening a session looks for exactly this text.
    const MTPError alreadyOpen = MTPError::response(0x201E, QStringLiteral("do that"));
    EXPECT_EQ(alreadyOpen.kind(), MTPError::Kind::failed);
    EXPECT_TRUE(alreadyOpen.text().contains(QStringLiteral("0x201E")));
}

} // namespace
