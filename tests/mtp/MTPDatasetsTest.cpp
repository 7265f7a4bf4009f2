// Reading and writing the bytes of MTP datasets, and MTP date strings.
#include "MTPCodes.h"
#include "MTPConnection.h"
#include "MTPDatasets.h"
#include "MTPObject.h"
#include "MTPReader.h"
#include "MTPWriter.h"

#include <gtest/gtest.h>

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

TEST(MTPReader, IntegersAreLittleEndianAndShortReadsLeaveThePosition)
{
    MTPReader reader(bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09}));
    EXPECT_EQ(reader.u16(), 0x0201);
    EXPECT_EQ(reader.u32(), 0x06050403u);
    EXPECT_EQ(reader.position(), 6);
    EXPECT_EQ(failureOf([&] { reader.u32(); }), unexpected);
    EXPECT_EQ(reader.position(), 6); // nothing consumed by the failed read
    EXPECT_EQ(reader.u16(), 0x0807);

    MTPReader wide(QByteArray(10, '\x01'));
    EXPECT_EQ(wide.integer(10), 0x0101010101010101ull); // bytes past the eighth add nothing
}

TEST(MTPReader, Strings)
{
    MTPReader empty(bytes({0x00, 0x41}));
    EXPECT_EQ(empty.string(), QString());
    EXPECT_EQ(empty.position(), 1);

    // "ab" and its NUL; then "cd" without one, returned whole.
    MTPReader two(bytes({0x03, 'a', 0, 'b', 0, 0, 0, 0x02, 'c', 0, 'd', 0}));
    EXPECT_EQ(two.string(), QStringLiteral("ab"));
    EXPECT_EQ(two.string(), QStringLiteral("cd"));

    // A string that ends inside its units stops after the last whole unit.
    MTPReader cut(bytes({0x04, 'a', 0, 'b', 0, 'c'}));
    EXPECT_EQ(failureOf([&] { cut.string(); }), unexpected);
    EXPECT_EQ(cut.position(), 5);

    // An unpaired surrogate is replaced; a pair is kept.
    MTPReader odd(bytes({0x04, 0x00, 0xD8, 'x', 0, 0x3D, 0xD8, 0x00, 0xDE}));
    EXPECT_EQ(odd.string(), QStringLiteral("\uFFFDx😀"));
}

TEST(MTPReader, Arrays)
{
    MTPReader reader(bytes({2, 0, 0, 0, 0x01, 0x10, 0x02, 0x10, 0, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0, 2, 0}));
    EXPECT_EQ(reader.u16Array(), (std::vector<uint16_t>{0x1001, 0x1002}));
    EXPECT_TRUE(reader.u32Array().empty());
    EXPECT_EQ(failureOf([&] { reader.u32Array(); }), unexpected);
    EXPECT_EQ(reader.position(), 20); // count and the one whole element
}

TEST(MTPReader, TypedValues)
{
    MTPReader reader(bytes({0xFF, 0xFE, 0xFF, 0x02, 'h', 0, 'i', 0}));
    EXPECT_EQ(std::get<uint8_t>(*reader.value(mtp::DataType::int8)), 0xFF); // signed read as unsigned
    EXPECT_EQ(std::get<uint16_t>(*reader.value(mtp::DataType::uint16)), 0xFFFE);
    EXPECT_EQ(std::get<QString>(*reader.value(mtp::DataType::string)), QStringLiteral("hi"));

    MTPReader big(QByteArray(5, '\0'));
    EXPECT_FALSE(big.value(mtp::DataType::uint128).has_value()); // skipped to the end, no failure
    EXPECT_EQ(big.remaining(), 0);

    MTPReader array(bytes({3, 0, 0, 0, 1, 0, 2, 0, 3, 0, 9}));
    EXPECT_FALSE(array.value(0x4004).has_value());
    EXPECT_EQ(array.position(), 10);

    MTPReader unknown(QByteArray(8, '\0'));
    EXPECT_EQ(failureOf([&] { unknown.value(0x000B); }), unexpected);
    MTPReader unknownArray(bytes({1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(failureOf([&] { unknownArray.value(0x400B); }), unexpected);
    MTPReader emptyUnknownArray(bytes({0, 0, 0, 0}));
    EXPECT_FALSE(emptyUnknownArray.value(0x400B).has_value());
}

TEST(MTPWriter, Strings)
{
    MTPWriter empty;
    empty.string(QString());
    EXPECT_EQ(empty.data, bytes({0}));

    MTPWriter abc;
    abc.string(QStringLiteral("abc"));
    EXPECT_EQ(abc.data, bytes({4, 'a', 0, 'b', 0, 'c', 0, 0, 0}));

    MTPWriter longName;
    longName.string(QString(300, QLatin1Char('x')));
    EXPECT_EQ(uint8_t(longName.data[0]), 255);
    EXPECT_EQ(longName.data.size(), 1 + 255 * 2);
    EXPECT_TRUE(longName.data.endsWith(bytes({'x', 0, 0, 0})));

    MTPReader back(longName.data);
    EXPECT_EQ(back.string(), QString(254, QLatin1Char('x')));
}

TEST(MTPObjectInfoDataset, WrittenForFilesAndFolders)
{
    const QDateTime when(QDate(2024, 3, 7), QTime(14, 5, 9));
    const QByteArray file = MTPConnection::objectInfo(QStringLiteral("a.jpg"), mtp::Format::undefined, 5'000'000'000, when);
    MTPReader reader(file);
    EXPECT_EQ(reader.u32(), 0u);
    EXPECT_EQ(reader.u16(), mtp::Format::undefined);
    EXPECT_EQ(reader.u16(), 0);
    EXPECT_EQ(reader.u32(), 0xFFFFFFFFu); // too large for the field
    reader.skip(30);
    EXPECT_EQ(reader.u16(), 0); // association type
    reader.skip(8);
    EXPECT_EQ(reader.position(), 52);
    EXPECT_EQ(reader.string(), QStringLiteral("a.jpg"));
    EXPECT_EQ(reader.string(), QStringLiteral("20240307T140509"));
    EXPECT_EQ(reader.string(), QStringLiteral("20240307T140509"));
    EXPECT_EQ(reader.string(), QString());
    EXPECT_EQ(reader.remaining(), 0);

    const QByteArray folder = MTPConnection::objectInfo(QStringLiteral("New"), mtp::Format::association, 0, when);
    MTPReader f(folder);
    f.skip(4);
    EXPECT_EQ(f.u16(), mtp::Format::association);
    f.skip(36);
    EXPECT_EQ(f.u16(), 1);

    const QByteArray exact = MTPConnection::objectInfo(QStringLiteral("b"), mtp::Format::undefined, 0xFFFFFFFELL, when);
    EXPECT_EQ(MTPReader(exact.mid(8)).integer(4), 0xFFFFFFFEu);
}

TEST(MTPObjectInfoDataset, ReadBack)
{
    const QDateTime when(QDate(2023, 12, 31), QTime(23, 59, 58));
    const auto info = mtp::readObjectInfo(
        MTPConnection::objectInfo(QStringLiteral("Camera"), mtp::Format::association, 4096, when));
    EXPECT_TRUE(info.isDirectory());
    EXPECT_EQ(info.size, 4096u);
    EXPECT_EQ(info.name, QStringLiteral("Camera"));
    EXPECT_EQ(info.modified, when);

    QByteArray truncated = MTPConnection::objectInfo(QStringLiteral("x"), 0x3000, 1, when).left(60);
    EXPECT_EQ(failureOf([&] { mtp::readObjectInfo(truncated); }), unexpected);
}

TEST(MTPStorageInfoDataset, Sizes)
{
    MTPWriter w;
    w.u16(3);
    w.u16(2);
    w.u16(0);
    w.u64(64ull << 30);
    w.u64(12345);
    const auto info = mtp::readStorageInfo(w.data);
    EXPECT_EQ(info.maxCapacity, 64ull << 30);
    EXPECT_EQ(info.freeSpace, 12345u);
    EXPECT_EQ(failureOf([&] { mtp::readStorageInfo(w.data.left(20)); }), unexpected);
}

TEST(MTPDates, WrittenInLocalTime)
{
    EXPECT_EQ(MTPObject::dateString(QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9))), QStringLiteral("20240307T140509"));
    EXPECT_EQ(MTPObject::dateString(QDateTime(QDate(2024, 3, 7), QTime(14, 5, 9, 999))),
              QStringLiteral("20240307T140509"));
}

TEST(MTPDates, ReadAsLocalTimeWhateverTheSuffix)
{
    const QDateTime expected(QDate(2024, 3, 7), QTime(14, 5, 9));
    EXPECT_EQ(MTPObject::date(QStringLiteral("20240307T140509.0Z")), expected);
    EXPECT_EQ(MTPObject::date(QStringLiteral("20240307T140509+0100")), expected);
    EXPECT_EQ(MTPObject::date(QStringLiteral("20240307T140509")), expected);

    const QDateTime epoch = QDateTime::fromSecsSinceEpoch(0, Qt::UTC);
    EXPECT_EQ(MTPObject::date(QStringLiteral("2024-03-07")), epoch);
    EXPECT_EQ(MTPObject::date(QString()), epoch);
    EXPECT_EQ(MTPObject::date(QStringLiteral("00000000T000000")), epoch); // no year 0
}

} // namespace
