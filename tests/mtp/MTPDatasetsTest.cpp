// Reading and writing the bytes of MTP datasets and MTP date strings, and the
// sentences of failed responses.
#include "MTPCodes.h"
#include "MTPConnection.h"
#include "MTPDatasets.h"
#include "MTPObject.h"
#include "MTPReader.h"
#include "MTPWriter.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

const QString unexpected = QStringLiteral("The phone sent an unexpected reply.");

template <class F>
QString failureOf(F&& read)
{
    try {
        read();
    } catch (const MTPError& error) {
        return error.description();
    }
    return {};
}

TEST(MTPReader, FieldsAreLittleEndianStringsUtf16AndArraysSkippedWhole)
{
    MTPReader reader(bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    EXPECT_EQ(reader.u16(), 0x0201);
    EXPECT_EQ(failureOf([&] { reader.u64(); }), unexpected);
    EXPECT_EQ(reader.u32(), 0x06050403u);

    // "ab" and its NUL; then an emoji without one.
    MTPReader strings(bytes({0x03, 'a', 0, 'b', 0, 0, 0, 0x02, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(strings.string(), QStringLiteral("ab"));
    EXPECT_EQ(strings.string(), QStringLiteral("😀"));

    MTPReader values(bytes({3, 0, 0, 0, 1, 0, 2, 0, 3, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(values.value(0x4004).has_value());
    EXPECT_EQ(values.position(), 10);
}

// A broken or hostile phone: every count and length is checked against what
// remains, at once, and a failed read consumes nothing.
TEST(MTPReader, WhatClaimsMoreThanRemainsFailsBeforeReadingAnyOfIt)
{
    const std::vector<std::tuple<const char*, QByteArray, std::function<void(MTPReader&)>>> cases = {
        {"string", bytes({0x04, 'a', 0, 'b', 0, 0}), [](MTPReader& r) { r.string(); }},
        {"u16 array", bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 0}), [](MTPReader& r) { r.u16Array(); }},
        {"u32 array", bytes({2, 0, 0, 0, 1, 0, 0, 0}), [](MTPReader& r) { r.u32Array(); }},
        {"128-bit value", QByteArray(15, '\0'), [](MTPReader& r) { r.value(mtp::DataType::uint128); }},
        {"array of 2^32-1 128-bit values", bytes({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3}),
         [](MTPReader& r) { r.value(mtp::DataType::arrayFlag | mtp::DataType::uint128); }},
        {"array of strings", bytes({1, 0, 0, 0, 0}), [](MTPReader& r) { r.value(0x4FFF); }},
        {"skip", bytes({1, 2, 3}), [](MTPReader& r) { r.skip(4); }},
    };
    for (const auto& [what, data, read] : cases) {
        MTPReader reader(data);
        EXPECT_EQ(failureOf([&] { read(reader); }), unexpected) << what;
        EXPECT_EQ(reader.position(), 0) << what;
    }
}

TEST(MTPWriter, StringsAreCutTo254Units)
{
    MTPWriter longName;
    longName.string(QString(300, QLatin1Char('x')));
    EXPECT_EQ(longName.data.size(), 1 + 255 * 2);
    EXPECT_EQ(MTPReader(longName.data).string(), QString(254, QLatin1Char('x')));
}

TEST(MTPObjectInfoDataset, WrittenAndReadBack)
{
    const QDateTime when(QDate(2023, 12, 31), QTime(23, 59, 58));
    const auto folder = mtp::readObjectInfo(
        MTPConnection::objectInfo(QStringLiteral("Camera"), mtp::Format::association, 4096, when));
    EXPECT_TRUE(folder.isDirectory());
    EXPECT_EQ(folder.size, 4096u);
    EXPECT_EQ(folder.name, QStringLiteral("Camera"));
    EXPECT_EQ(folder.modified, when);

    // A size beyond the 32-bit field is written as 0xFFFFFFFF.
    const QByteArray huge = MTPConnection::objectInfo(QStringLiteral("a"), mtp::Format::undefined, 5'000'000'000, when);
    EXPECT_EQ(mtp::readObjectInfo(huge).size, 0xFFFFFFFFu);
    EXPECT_FALSE(mtp::readObjectInfo(huge).isDirectory());
    EXPECT_EQ(failureOf([&] { mtp::readObjectInfo(huge.left(40)); }), unexpected);
}

TEST(MTPDates, WrittenAndReadInLocalTimeWhateverTheSuffix)
{
    const QDateTime when(QDate(2024, 3, 7), QTime(14, 5, 9));
    EXPECT_EQ(MTPObject::dateString(when.addMSecs(999)), QStringLiteral("20240307T140509"));
    EXPECT_EQ(MTPObject::date(QStringLiteral("20240307T140509.0Z")), when);
    EXPECT_EQ(MTPObject::date(QStringLiteral("20240307T140509+0100")), when);

    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    EXPECT_EQ(MTPObject::date(QStringLiteral("2024-03-07")), epoch);
    EXPECT_EQ(MTPObject::date(QStringLiteral("00000000T000000")), epoch); // no year 0
}

TEST(MTPError, ResponseCodesHaveSentencesOrNameTheCode)
{
    const std::pair<uint16_t, const char*> cases[] = {
        {0x2005, "This phone can't rename that over file transfer. Turn on USB debugging to do it."},
        {0x2009, "The file is no longer on the phone. Refresh and try again."},
        {0x200C, "The phone is full."},
        {0x201D, "The phone didn't allow that (read-only location)."},
        {0x2019, "The phone is busy. Try again in a moment."},
        {0xa801, "The phone couldn't rename that (MTP error 0xA801)."},
    };
    for (const auto& [code, sentence] : cases)
        EXPECT_EQ(MTPError::response(code, QStringLiteral("rename that")).description(), QString::fromUtf8(sentence));
}

} // namespace
