#include "ADBServer.h"

#include <gtest/gtest.h>

namespace {

using Reply = ADBServer::Reply;

TEST(ReplyParse, NeedsACompleteFramedMessage)
{
    EXPECT_EQ(ADBServer::parse(""), std::nullopt);
    EXPECT_EQ(ADBServer::parse("000"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("0005abcd"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("FAIL"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("FAIL000"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("FAIL0005err"), std::nullopt);
}

TEST(ReplyParse, ReadsTheLengthInEitherCaseOfHexadecimal)
{
    EXPECT_EQ(ADBServer::parse("0000"), Reply::okay(""));
    EXPECT_EQ(ADBServer::parse("000aabcdefghij"), Reply::okay("abcdefghij"));
    EXPECT_EQ(ADBServer::parse("000Aabcdefghij"), Reply::okay("abcdefghij"));
}

TEST(ReplyParse, AFailPrefixMakesAFailure)
{
    EXPECT_EQ(ADBServer::parse("FAIL0005error"), Reply::fail("error"));
    EXPECT_EQ(ADBServer::parse("FAIL0000"), Reply::fail(""));
}

TEST(ReplyParse, NeverAcceptsAMalformedOrSignedLength)
{
    EXPECT_EQ(ADBServer::parse("zz12 some text"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("-001x"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("+001x"), std::nullopt);
    EXPECT_EQ(ADBServer::parse(" 001x"), std::nullopt);
    EXPECT_EQ(ADBServer::parse("0x01x"), std::nullopt);
}

TEST(ReplyParse, ReplacesInvalidUtf8InThePayload)
{
    const auto reply = ADBServer::parse(QByteArray("0003a\xff" "b", 7));
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->text, QString::fromUtf8("a\xEF\xBF\xBD" "b"));
}

} // namespace
