// How a folder merged on the phone is cut into parts: every file in exactly
// one part, each part within the limits and of one folder, a folder that
// fits going whole, and a folder with a link never cut.

#include "PushBatches.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <map>
#include <sys/stat.h>
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

// ---- what a copy to the phone leaves out ------------------------------------------------

// Each item left out as "path: why".
QStringList leftOut(const CarryPlan& plan)
{
    static const char* const whys[] = {"not regular", "link to folder", "broken link", "unreadable folder",
                                       "unreadable file", "name"};
    QStringList out;
    for (const LeftOutItem& item : plan.leftOut)
        out << item.path + QStringLiteral(": ") + QLatin1StringView(whys[int(item.why)]);
    out.sort();
    return out;
}

// Whether this process can be kept out of a folder (not while it passes over file modes).
bool modesBind(const QString& root)
{
    const QByteArray shut = QFile::encodeName(root + QStringLiteral("/.probe"));
    ::mkdir(shut.constData(), 0);
    DIR* open = ::opendir(shut.constData());
    if (open)
        ::closedir(open);
    ::rmdir(shut.constData());
    return !open;
}

TEST(CarryPlan, LeavesOutWhatTheCopyCantCarryAndMakesTheFoldersDownToIt)
{
    QTemporaryDir root;
    const QString top = root.filePath(QStringLiteral("Work"));
    const auto at = [&](const char* path) { return QFile::encodeName(top + QLatin1Char('/') + QLatin1StringView(path)); };
    write(top + QStringLiteral("/a.txt"), 10);
    write(top + QStringLiteral("/sub/b.txt"), 20);
    write(top + QStringLiteral("/sub/deeper/c.txt"), 30);
    write(top + QStringLiteral("/plain/d.txt"), 40);
    write(top + QStringLiteral("/refused.txt"), 5);
    write(top + QStringLiteral("/shut/secret.txt"), 5);
    ASSERT_EQ(::mkfifo(at("sub/deeper/pipe").constData(), 0600), 0);
    ASSERT_EQ(::symlink("..", at("sub/up").constData()), 0);
    ASSERT_EQ(::symlink("gone", at("broken").constData()), 0);
    ASSERT_EQ(::symlink("a.txt", at("linked.txt").constData()), 0);
    ASSERT_EQ(::chmod(at("shut").constData(), 0), 0);
    const bool shut = modesBind(root.path());
    const NameRefusal refusal = [](const QString& name) -> std::optional<QString> {
        if (name == QStringLiteral("refused.txt"))
            return QStringLiteral("refused");
        return std::nullopt;
    };

    const CarryPlan plan = planCarried(top, refusal);
    QStringList expected{QStringLiteral("broken: broken link"), QStringLiteral("refused.txt: name"),
                         QStringLiteral("sub/deeper/pipe: not regular"), QStringLiteral("sub/up: link to folder")};
    if (shut)
        expected << QStringLiteral("shut: unreadable folder");
    expected.sort();
    EXPECT_EQ(leftOut(plan), expected);
    // Parents first, each with what it carries whole; a link to a file is carried.
    const std::vector<QString> folders = described(plan.folders, top);
    std::vector<QString> sorted;
    for (QString folder : folders) {
        QStringList items = folder.section(QStringLiteral(": "), 1).split(QLatin1Char(' '));
        items.sort();
        sorted.push_back(folder.section(QStringLiteral(": "), 0, 0) + QStringLiteral(": ") + items.join(QLatin1Char(' ')));
    }
    EXPECT_EQ(sorted, (std::vector<QString>{shut ? QStringLiteral(": a.txt linked.txt plain")
                                                 : QStringLiteral(": a.txt linked.txt plain shut"),
                                            QStringLiteral("sub: sub/b.txt"), QStringLiteral("sub/deeper: sub/deeper/c.txt")}));
    EXPECT_EQ(plan.folders.front().folder, QString());
    EXPECT_EQ(plan.folders.front().bytes, shut ? 10 + 40 + 10 : 10 + 40 + 5 + 10);
    // All it carries counts, the folders carried on their own too.
    EXPECT_EQ(plan.bytes, (shut ? 10 + 40 + 10 : 10 + 40 + 5 + 10) + 20 + 30);

    // Only the items directly in it: a folder is looked into only to see it can be read.
    EXPECT_EQ(leftOut(planCarried(top + QStringLiteral("/sub"), refusal, false)),
              QStringList{QStringLiteral("up: link to folder")});
    // Nothing left out: nothing to make apart.
    EXPECT_TRUE(planCarried(top + QStringLiteral("/plain"), refusal).folders.empty());
    EXPECT_TRUE(planCarried(top + QStringLiteral("/plain"), refusal).leftOut.empty());
    // The item itself: a pipe, or a folder that can't be read, is left out whole.
    EXPECT_EQ(leftOut(planCarried(top + QStringLiteral("/sub/deeper/pipe"), refusal)),
              QStringList{QStringLiteral(": not regular")});
    if (shut) {
        EXPECT_EQ(leftOut(planCarried(top + QStringLiteral("/shut"), refusal)),
                  QStringList{QStringLiteral(": unreadable folder")});
    }
    ::chmod(at("shut").constData(), 0755);
}

// The one walk of a folder answers what the copy asks before sending: the
// bytes it carries, the files directly in it, and the first folder holding
// names a caseless storage takes for one (a folder's own names before those
// of the folders inside it, each folder's in sorted order).
TEST(CarryPlan, TellsTheBytesTheFilesAndTheFirstAlikeNamesInOneWalk)
{
    const struct {
        const char* what;
        std::map<QString, qsizetype> files;
        int64_t bytes;
        int direct;
        QString alike; // "folder: first second", empty for none
    } rows[] = {
        {"files and a folder", {{"a", 10}, {"b", 20}, {"sub/c", 30}}, 60, 2, {}},
        {"alike names at the top", {{"b.txt", 1}, {"B.TXT", 2}, {"a.txt", 3}}, 6, 3, QStringLiteral(": B.TXT b.txt")},
        {"accents composed and not", {{QStringLiteral("caf\u00e9"), 1}, {QStringLiteral("cafe\u0301"), 1}}, 2, 2,
         QStringLiteral(": cafe\u0301 caf\u00e9")},
        {"a folder's names before its folders'",
         {{"z/y/Q", 1}, {"z/y/q", 1}, {"a/b/X", 1}, {"a/b/x", 1}, {"m/K", 1}, {"m/k", 1}},
         6,
         0,
         QStringLiteral("a/b: X x")},
        {"the folders' names themselves", {{"Pics/a", 1}, {"pics/b", 1}, {"pics/c/d", 1}}, 3, 0,
         QStringLiteral(": Pics pics")},
    };
    for (const auto& row : rows) {
        QTemporaryDir root;
        for (const auto& [path, size] : row.files)
            write(root.filePath(path), size);
        const CarryPlan plan = planCarried(root.path(), {});
        EXPECT_EQ(plan.bytes, row.bytes) << row.what;
        EXPECT_EQ(plan.files, row.direct) << row.what;
        EXPECT_EQ(plan.alike ? plan.alike->folder + QStringLiteral(": ") + plan.alike->first + u' ' + plan.alike->second : QString(),
                  row.alike)
            << row.what;
    }
}

} // namespace
