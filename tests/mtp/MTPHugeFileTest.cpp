// A file over 4 GiB each way: the 32-bit size fields give up, the copy must
// not. The phone makes its file up as it is read and digests what it
// receives, so neither side holds the file in memory.
#include "FilesFixture.h"

#include <fcntl.h>
#include <unistd.h>

using namespace mtp;

namespace {

constexpr uint64_t hugeSize = (4ull << 30) + 3 * MiB + 5;

uint64_t localDigest(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    mtpsim::Digest digest;
    QByteArray buffer(4 * MiB, Qt::Uninitialized);
    for (;;) {
        const qint64 n = file.read(buffer.data(), buffer.size());
        if (n <= 0)
            break;
        digest.update(buffer.constData(), size_t(n));
    }
    return digest.value();
}

class MTPHugeFile : public FilesTest {};

TEST_F(MTPHugeFile, PullsAFileOver4GiB)
{
    const auto content = mtpsim::patternContent(hugeSize, 11);
    phone->addFile(0, QStringLiteral("huge.bin"), content);
    const auto listed = files().list(QStringLiteral("/sdcard"), false, Cancel());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(uint64_t(listed[0].size), hugeSize);

    ProgressRecord progress;
    files().pull(QStringLiteral("/sdcard/huge.bin"), local(QStringLiteral("huge.bin")), progress.callback(), Cancel());
    EXPECT_EQ(uint64_t(QFileInfo(local(QStringLiteral("huge.bin"))).size()), hugeSize);
    EXPECT_EQ(localDigest(local(QStringLiteral("huge.bin"))), content->digest());
    EXPECT_TRUE(progress.risesWithin0And1());
    EXPECT_DOUBLE_EQ(progress.values.back(), 1.0);
}

TEST_F(MTPHugeFile, PushesAFileOver4GiB)
{
    // Sparse, with a few written places, so that it costs no disk and still tells bytes apart.
    const QString path = local(QStringLiteral("huge.img"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(qint64(hugeSize)));
        for (const uint64_t at : {uint64_t(0), uint64_t(1) << 32, hugeSize - 100}) {
            file.seek(qint64(at));
            file.write(bytesOf(100, char(at)));
        }
    }
    phone->configure([](auto& s) { s.keepLimit = 0; });
    files().push(path, QStringLiteral("/sdcard/"), {}, Cancel());

    const auto stored = phone->objectAt(QStringLiteral("huge.img"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->size(), hugeSize);
    EXPECT_EQ(stored->content->digest(), localDigest(path));
    EXPECT_EQ(phone->dataLengths().back(), 0xFFFFFFFFu) << "SendObject cannot state the length";
    EXPECT_TRUE(phone->violations().empty());
}

} // namespace
