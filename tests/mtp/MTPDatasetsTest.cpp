// Reading and writing the bytes of MTP datasets and MTP date strings, and the
// sentences of MTP failures.
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

TEST(MTPReader, FieldsAreLittleEndianAndAShortReadFailsWithoutConsuming)
{
    MTPReader reader(bytes({0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    EXPECT_EQ(reader.u16(), 0x0201);
    EXPECT_EQ(failureOf([&] { reader.u64(); }), unexpected);
    EXPECT_EQ(reader.u32(), 0x06050403u);

    // "ab" and its NUL; then an emoji without one; then a string cut short.
    MTPReader strings(bytes({0x03, 'a', 0, 'b', 0, 0, 0, 0x02, 0x3D, 0xD8, 0x00, 0xDE, 0x04, 'a', 0, 'b'}));
    EXPECT_EQ(strings.string(), QStringLiteral("ab"));
    EXPECT_EQ(strings.string(), QStringLiteral("😀"));
    EXPECT_EQ(failureOf([&] { strings.string(); }), unexpected);

    // An array value is skipped whole; a type nobody knows cannot be skipped.
    MTPReader values(bytes({3, 0, 0, 0, 1, 0, 2, 0, 3, 0, 9, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_FALSE(values.value(0x4004).has_value());
    EXPECT_EQ(values.position(), 10);
    EXPECT_EQ(failureOf([&] { values.value(0x000B); }), unexpected);
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
    EXPECT_EQ(failureOf([&] { mtp::readObjectInfo(huge.left(60)); }), unexpected);
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
}

TEST(MTPError, ResponseCodesHaveSentencesOrNameTheCode)
{
    const QString what = QStringLiteral("rename that");
    EXPECT_EQ(MTPError::response(0x2005, what).description(),
              QStringLiteral("This phone can't rename that over file transfer. Turn on USB debugging to do it."));
    EXPECT_EQ(MTPError::response(0x2009, what).description(),
              QStringLiteral("The file is no longer on the phone. Refresh and try again."));
    EXPECT_EQ(MTPError::response(0x200C, what).description(), QStringLiteral("The phone is full."));
    EXPECT_EQ(MTPError::response(0x201D, what).description(),
              QStringLiteral("The phone didn't allow that (read-only location)."));
    EXPECT_EQ(MTPError::response(0x2019, what).description(),
              QStringLiteral("The phone is busy. Try again in a moment."));
    EXPECT_EQ(MTPError::response(0xa801, QStringLiteral("do that")).description(),
              QStringLiteral("The phone couldn't do that (MTP error 0xA801)."));
}

} // namespace
