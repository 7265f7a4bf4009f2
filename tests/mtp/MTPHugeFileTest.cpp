// A file over 4 GiB each way: the 32-bit size fields give up, the copy must
// not. The phone makes its file up as it is read and digests what it
// receives, so neither side holds the file in memory.
#include "PhoneFixture.h"

using namespace mtp;

namespace {

constexpr uint64_t hugeSize = (4ull << 30) + 3 * MiB + 5;

// The bytes of a local file at an offset.
QByteArray localBytes(const QString& path, uint64_t offset, qsizetype count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(qint64(offset)))
        return {};
    return file.read(count);
}

QByteArray patternAt(uint32_t seed, uint64_t offset, qsizetype count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    mtpsim::patternBytes(seed, offset, bytes.data(), size_t(count));
    return bytes;
}

class MTPHugeFile : public FilesTest {};

TEST_F(MTPHugeFile, PullsAFileOver4GiB)
{
    const auto content = mtpsim::patternContent(hugeSize, 11);
    phone->addFile(0, QStringLiteral("huge.bin"), content);
    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/huge.bin"), local(QStringLiteral("huge.bin")), progress.callback(), Cancel());
    const QString copy = local(QStringLiteral("huge.bin"));
    EXPECT_EQ(uint64_t(QFileInfo(copy).size()), hugeSize);
    // The start, across the 4 GiB mark, and the end.
    for (const uint64_t at : {uint64_t(0), (uint64_t(1) << 32) - uint64_t(MiB / 2), hugeSize - uint64_t(MiB)})
        EXPECT_EQ(localBytes(copy, at, MiB), patternAt(11, at, MiB)) << "at " << at;
    EXPECT_TRUE(progress.risesTo1());
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
}

TEST_F(MTPHugeFile, PushesAFileOver4GiB)
{
    // Sparse, with a few written places, so that it costs no disk and still
    // tells bytes apart; its digest is worked out from the same places.
    const QString path = local(QStringLiteral("huge.img"));
    mtpsim::Digest expected;
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(hugeSize)));
        const QByteArray zeros(4 * MiB, '\0');
        uint64_t done = 0;
        for (const uint64_t at : {uint64_t(0), uint64_t(1) << 32, hugeSize - 100}) {
            for (; done < at; done += std::min<uint64_t>(zeros.size(), at - done))
                expected.update(zeros.constData(), size_t(std::min<uint64_t>(zeros.size(), at - done)));
            const QByteArray mark = bytesOf(100, char(at));
            file.seek(qint64(at));
            file.write(mark);
            expected.update(mark.constData(), size_t(mark.size()));
            done += uint64_t(mark.size());
        }
    }
    phone->configure([](auto& s) { s.keepLimit = 0; });
    files().push(path, QStringLiteral("/sdcard/"), {}, Cancel());

    const auto stored = phone->objectAt(QStringLiteral("huge.img"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), hugeSize);
    EXPECT_EQ(stored->content->digest(), expected.value());
    EXPECT_EQ(phone->dataLengths().back(), 0xFFFFFFFFu) << "SendObject cannot state the length";
    EXPECT_TRUE(phone->violations().empty());
}

// The push is checked by digest: it must see a single changed byte, however
// the bytes were cut.
TEST(MTPSimulatedPhoneDigest, SeesEveryByteHoweverTheBytesWereCut)
{
    QByteArray bytes = bytesOf(100'003);
    mtpsim::Digest whole, pieces, changed;
    whole.update(bytes.constData(), size_t(bytes.size()));
    for (qsizetype at = 0, step = 1; at < bytes.size(); at += step, step = step * 3 % 4099 + 1)
        pieces.update(bytes.constData() + at, size_t(std::min(step, bytes.size() - at)));
    EXPECT_EQ(whole.value(), pieces.value());
    bytes[50'000] = char(bytes[50'000] ^ 1);
    changed.update(bytes.constData(), size_t(bytes.size()));
    EXPECT_NE(changed.value(), whole.value());
}

} // namespace
