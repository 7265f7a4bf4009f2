// How a folder merged on the phone is cut into parts: every file in exactly
// one part, each part within the limits and of one folder, a folder that
// fits going whole, and a folder with a link never cut.

#include "PushBatches.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <unistd.h>

namespace {

void write(const QString& path, qsizetype size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile out(path);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(QByteArray(size, 'x'));
}

// Each part as "folder: item item", items relative to the copied folder.
std::vector<QString> described(const std::vector<PushBatch>& batches, const QString& root)
{
    std::vector<QString> out;
    for (const PushBatch& batch : batches) {
        QStringList items;
        for (const QString& source : batch.sources)
            items << QDir(root).relativeFilePath(source);
        out.push_back(batch.folder + QStringLiteral(": ") + items.join(QLatin1Char(' ')));
    }
    return out;
}

struct Case {
    const char* what;
    std::map<QString, qsizetype> files; // relative path → size
    PushBatchLimits limits;
    std::vector<QString> parts;
};

TEST(PushBatches, CutsAFolderOverTheLimitsIntoPartsOfOneFolderEach)
{
    const Case cases[] = {
        {"within the limits: one transfer", {{"a", 10}, {"sub/b", 10}}, {100, 10, 1 << 20}, {}},
        {"by bytes",
         {{"a", 40}, {"b", 40}, {"c", 40}, {"d", 40}},
         {100, 10, 1 << 20},
         {": a b", ": c d"}},
        {"by files", {{"a", 1}, {"b", 1}, {"c", 1}}, {100, 2, 1 << 20}, {": a b", ": c"}},
        {"a file over the limit alone", {{"a", 500}, {"b", 10}}, {100, 10, 1 << 20}, {": a", ": b"}},
        {"a small folder whole, a large one cut",
         {{"a", 30}, {"big/x", 60}, {"big/y", 60}, {"small/z", 30}},
         {100, 10, 1 << 20},
         {": a", "big: big/x", "big: big/y", ": small"}},
        {"by the length of the paths",
         {{"aaaa", 1}, {"bbbb", 1}, {"cccc", 1}},
         {2, 10, 0},
         {": aaaa", ": bbbb", ": cccc"}},
    };
    for (const Case& one : cases) {
        QTemporaryDir root;
        for (const auto& [path, size] : one.files)
            write(root.filePath(path), size);
        const std::vector<PushBatch> batches = pushBatches(root.path(), one.limits);
        EXPECT_EQ(described(batches, root.path()), one.parts) << one.what;
        if (batches.empty())
            continue;
        int64_t parts = 0, whole = 0;
        for (const PushBatch& batch : batches)
            parts += batch.bytes;
        for (const auto& [path, size] : one.files)
            whole += size;
        EXPECT_EQ(parts, whole) << one.what;
    }
}

TEST(PushBatches, AFolderHoldingALinkIsNeverCut)
{
    QTemporaryDir root;
    for (const char* name : {"a", "b", "c"})
        write(root.filePath(QString::fromLatin1(name)), 60);
    for (const char* name : {"x", "y"})
        write(root.filePath(QStringLiteral("linked/") + QString::fromLatin1(name)), 60);
    ASSERT_EQ(::symlink("x", QFile::encodeName(root.filePath(QStringLiteral("linked/link"))).constData()), 0);
    // The folder with the link goes as one item, however large.
    EXPECT_EQ(described(pushBatches(root.path(), {100, 10, 1 << 20}), root.path()),
              (std::vector<QString>{": a", ": b", ": c", ": linked"}));
    ASSERT_EQ(::symlink("a", QFile::encodeName(root.filePath(QStringLiteral("top"))).constData()), 0);
    EXPECT_TRUE(pushBatches(root.path(), {100, 10, 1 << 20}).empty());
}

} // namespace
