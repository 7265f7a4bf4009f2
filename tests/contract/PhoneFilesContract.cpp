#include "PhoneFilesContract.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <vector>

namespace {

using namespace std::chrono_literals;

// One started phone per transport kind, kept for the whole suite.
std::map<std::string, std::unique_ptr<PhoneFilesTransport>>& transports()
{
    static std::map<std::string, std::unique_ptr<PhoneFilesTransport>> all;
    return all;
}

const QDateTime seeded = QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), Qt::UTC);

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + i / 4099) & 0xff);
    return bytes;
}

std::optional<QByteArray> readLocal(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

bool writeLocal(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

std::set<QString> names(const std::vector<RemoteEntry>& entries)
{
    std::set<QString> result;
    for (const RemoteEntry& entry : entries)
        result.insert(entry.name);
    return result;
}

const RemoteEntry* find(const std::vector<RemoteEntry>& entries, const QString& name)
{
    for (const RemoteEntry& entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

// Progress values seen by a copy, from whatever thread they arrive on.
struct ProgressLog {
    std::mutex mutex;
    std::vector<double> values;
    std::atomic<int> count{0};

    Progress callback()
    {
        return [this](double fraction) {
            std::lock_guard guard(mutex);
            values.push_back(fraction);
            ++count;
        };
    }
};

} // namespace

void PrintTo(const PhoneFilesTransportKind& kind, std::ostream* os)
{
    *os << kind.name;
}

std::string phoneFilesTransportName(const ::testing::TestParamInfo<PhoneFilesTransportKind>& info)
{
    return info.param.name;
}

void PhoneFilesContract::TearDownTestSuite()
{
    transports().clear();
}

void PhoneFilesContract::SetUp()
{
    auto& slot = transports()[GetParam().name];
    if (!slot) {
        auto made = GetParam().make();
        QString error;
        ASSERT_TRUE(made->start(&error)) << error.toStdString();
        slot = std::move(made);
    }
    m_transport = slot.get();
    m_transport->setSlowTransfers(false);
    m_files = m_transport->files();
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    m_folder = m_transport->root() + QStringLiteral("/contract-") + QString::fromLatin1(test->name()).section(QLatin1Char('/'), 0, 0);
    m_transport->seedFolder(m_folder);
    m_local = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(m_local->isValid());
}

QString PhoneFilesContract::localPath(const QString& name) const
{
    return m_local->filePath(name);
}

// ---- listing ----------------------------------------------------------------

TEST_P(PhoneFilesContract, ListsDirectChildrenWithTheirFacts)
{
    transport().seedFile(phonePath(QStringLiteral("a b.txt")), "hello", seeded);
    transport().seedFile(phonePath(QStringLiteral("It's")), pattern(1000), seeded);
    transport().seedFile(phonePath(QStringLiteral("x|y.txt")), {}, seeded);
    transport().seedFile(phonePath(QStringLiteral("Grüße €.txt")), "1", seeded);
    transport().seedFolder(phonePath(QStringLiteral("Camera")));
    transport().seedFile(phonePath(QStringLiteral("Camera/inner.jpg")), "x", seeded);

    const auto entries = files().list(folder(), false, Cancel());
    EXPECT_EQ(names(entries), (std::set<QString>{QStringLiteral("a b.txt"), QStringLiteral("It's"),
                                                  QStringLiteral("x|y.txt"), QStringLiteral("Grüße €.txt"),
                                                  QStringLiteral("Camera")}));
    const RemoteEntry* file = find(entries, QStringLiteral("It's"));
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(file->isDirectory);
    EXPECT_EQ(file->size, 1000);
    EXPECT_EQ(file->modified.toSecsSinceEpoch(), seeded.toSecsSinceEpoch());
    const RemoteEntry* camera = find(entries, QStringLiteral("Camera"));
    ASSERT_NE(camera, nullptr);
    EXPECT_TRUE(camera->isDirectory);
    ASSERT_NE(find(entries, QStringLiteral("x|y.txt")), nullptr);
    EXPECT_EQ(find(entries, QStringLiteral("x|y.txt"))->size, 0);
}

TEST_P(PhoneFilesContract, ShowsHiddenItemsOnlyWhenAskedAndNeverTheDotEntries)
{
    transport().seedFile(phonePath(QStringLiteral(".nomedia")), {}, seeded);
    transport().seedFolder(phonePath(QStringLiteral(".thumbnails")));
    transport().seedFile(phonePath(QStringLiteral("seen.txt")), "x", seeded);

    EXPECT_EQ(names(files().list(folder(), false, Cancel())), (std::set<QString>{QStringLiteral("seen.txt")}));
    EXPECT_EQ(names(files().list(folder(), true, Cancel())),
              (std::set<QString>{QStringLiteral(".nomedia"), QStringLiteral(".thumbnails"), QStringLiteral("seen.txt")}));
}

TEST_P(PhoneFilesContract, AnEmptyFolderListsNothing)
{
    transport().seedFile(phonePath(QStringLiteral(".hidden")), {}, seeded);
    EXPECT_TRUE(files().list(folder(), false, Cancel()).empty());
    transport().seedFolder(phonePath(QStringLiteral("empty")));
    EXPECT_TRUE(files().list(phonePath(QStringLiteral("empty")), true, Cancel()).empty());
}

TEST_P(PhoneFilesContract, AMissingFolderFailsAsNotFound)
{
    try {
        files().list(phonePath(QStringLiteral("missing")), false, Cancel());
        FAIL() << "listing a missing folder must fail";
    } catch (const Error& error) {
        EXPECT_TRUE(transport().isNotFound(error)) << error.description().toStdString();
    }
}

// ---- exists, remove, makeFolder, move -----------------------------------------

TEST_P(PhoneFilesContract, ExistsForFilesAndFoldersOnly)
{
    transport().seedFile(phonePath(QStringLiteral("It's here.txt")), "x", seeded);
    transport().seedFolder(phonePath(QStringLiteral("Sub folder")));
    EXPECT_TRUE(files().exists(phonePath(QStringLiteral("It's here.txt")), Cancel()));
    EXPECT_TRUE(files().exists(phonePath(QStringLiteral("Sub folder")), Cancel()));
    EXPECT_FALSE(files().exists(phonePath(QStringLiteral("nothing")), Cancel()));
    EXPECT_FALSE(files().exists(phonePath(QStringLiteral("nothing/deeper")), Cancel()));
}

TEST_P(PhoneFilesContract, RemoveDeletesFilesAndFoldersWithTheirContents)
{
    transport().seedFile(phonePath(QStringLiteral("a'b.txt")), "x", seeded);
    transport().seedFolder(phonePath(QStringLiteral("tree")));
    transport().seedFolder(phonePath(QStringLiteral("tree/sub")));
    transport().seedFile(phonePath(QStringLiteral("tree/sub/f.bin")), pattern(100), seeded);

    files().remove(phonePath(QStringLiteral("a'b.txt")), Cancel());
    files().remove(phonePath(QStringLiteral("tree")), Cancel());
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("a'b.txt"))));
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("tree"))));
}

TEST_P(PhoneFilesContract, MakeFolderCreatesAnEmptyFolder)
{
    files().makeFolder(phonePath(QStringLiteral("New folder")), Cancel());
    EXPECT_TRUE(transport().isFolder(phonePath(QStringLiteral("New folder"))));
    EXPECT_TRUE(files().list(phonePath(QStringLiteral("New folder")), true, Cancel()).empty());
}

TEST_P(PhoneFilesContract, MoveRenamesFilesAndFolders)
{
    transport().seedFile(phonePath(QStringLiteral("old.txt")), "content", seeded);
    transport().seedFolder(phonePath(QStringLiteral("Old dir")));
    transport().seedFile(phonePath(QStringLiteral("Old dir/in.txt")), "inside", seeded);

    files().move(phonePath(QStringLiteral("old.txt")), phonePath(QStringLiteral("It's new.txt")), Cancel());
    files().move(phonePath(QStringLiteral("Old dir")), phonePath(QStringLiteral("New dir")), Cancel());
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("old.txt"))));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("It's new.txt"))), QByteArray("content"));
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("Old dir"))));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("New dir/in.txt"))), QByteArray("inside"));
}

// ---- pull ---------------------------------------------------------------------

TEST_P(PhoneFilesContract, PullCopiesAFileKeepingItsModificationTime)
{
    const QByteArray content = pattern(300 * 1024 + 7);
    transport().seedFile(phonePath(QStringLiteral("photo 1.jpg")), content, seeded);
    const QString target = localPath(QStringLiteral("copy of photo.jpg"));
    ASSERT_TRUE(writeLocal(target, "old content to be replaced"));

    files().pull(phonePath(QStringLiteral("photo 1.jpg")), target, Cancel());
    EXPECT_EQ(readLocal(target), content);
    EXPECT_EQ(QFileInfo(target).lastModified().toSecsSinceEpoch(), seeded.toSecsSinceEpoch());
}

TEST_P(PhoneFilesContract, PullIntoAnExistingFolderPlacesTheItemInside)
{
    transport().seedFile(phonePath(QStringLiteral("It's.txt")), "q", seeded);
    const QString into = localPath(QStringLiteral("Downloads"));
    ASSERT_TRUE(QDir().mkpath(into));
    files().pull(phonePath(QStringLiteral("It's.txt")), into, Cancel());
    EXPECT_EQ(readLocal(into + QStringLiteral("/It's.txt")), QByteArray("q"));
}

TEST_P(PhoneFilesContract, PullCopiesAFolderWithEverythingInIt)
{
    transport().seedFolder(phonePath(QStringLiteral("Album")));
    transport().seedFolder(phonePath(QStringLiteral("Album/Sub dir")));
    transport().seedFolder(phonePath(QStringLiteral("Album/empty")));
    transport().seedFile(phonePath(QStringLiteral("Album/a.jpg")), pattern(5000), seeded);
    transport().seedFile(phonePath(QStringLiteral("Album/Sub dir/b'c.txt")), "deep", seeded);

    const QString target = localPath(QStringLiteral("Album copy"));
    files().pull(phonePath(QStringLiteral("Album")), target, Cancel());
    EXPECT_EQ(readLocal(target + QStringLiteral("/a.jpg")), pattern(5000));
    EXPECT_EQ(readLocal(target + QStringLiteral("/Sub dir/b'c.txt")), QByteArray("deep"));
    EXPECT_TRUE(QFileInfo(target + QStringLiteral("/empty")).isDir());
}

// ---- push ---------------------------------------------------------------------

TEST_P(PhoneFilesContract, PushCopiesAFileAndReplacesAnExistingOne)
{
    const QByteArray content = pattern(200 * 1024 + 3);
    const QString source = localPath(QStringLiteral("It's a file.bin"));
    ASSERT_TRUE(writeLocal(source, content));
    transport().seedFile(phonePath(QStringLiteral("target.bin")), "previous", seeded);

    files().push(source, phonePath(QStringLiteral("target.bin")), {}, Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("target.bin"))), content);
}

TEST_P(PhoneFilesContract, PushToAPathEndingInSlashKeepsTheName)
{
    const QString source = localPath(QStringLiteral("keep name.txt"));
    ASSERT_TRUE(writeLocal(source, "kept"));
    transport().seedFolder(phonePath(QStringLiteral("Music")));
    files().push(source, phonePath(QStringLiteral("Music/")), {}, Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Music/keep name.txt"))), QByteArray("kept"));
}

TEST_P(PhoneFilesContract, PushCopiesAFolderWithEverythingInIt)
{
    const QString source = localPath(QStringLiteral("Project"));
    ASSERT_TRUE(QDir().mkpath(source + QStringLiteral("/src/deep")));
    ASSERT_TRUE(writeLocal(source + QStringLiteral("/readme.txt"), "top"));
    ASSERT_TRUE(writeLocal(source + QStringLiteral("/src/deep/x|y.dat"), pattern(70000)));

    files().push(source, phonePath(QStringLiteral("Project")), {}, Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Project/readme.txt"))), QByteArray("top"));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Project/src/deep/x|y.dat"))), pattern(70000));
}

// ---- progress and cancellation ----------------------------------------------------

TEST_P(PhoneFilesContract, ReportsProgressWhileACopyRuns)
{
    transport().setSlowTransfers(true);
    const QByteArray content = pattern(4 * 1024 * 1024);
    transport().seedFile(phonePath(QStringLiteral("slow.bin")), content, seeded);

    ProgressLog pulled;
    files().pull(phonePath(QStringLiteral("slow.bin")), localPath(QStringLiteral("slow.bin")), pulled.callback(),
                 Cancel());
    EXPECT_EQ(readLocal(localPath(QStringLiteral("slow.bin"))), content);

    ProgressLog pushed;
    files().push(localPath(QStringLiteral("slow.bin")), phonePath(QStringLiteral("back.bin")), pushed.callback(),
                 Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("back.bin"))), content);

    for (ProgressLog* log : {&pulled, &pushed}) {
        SCOPED_TRACE(log == &pulled ? "pull" : "push");
        ASSERT_FALSE(log->values.empty());
        for (double value : log->values) {
            EXPECT_GE(value, 0.0);
            EXPECT_LE(value, 1.0);
        }
        // Some value must come while the copy is still under way (a push may
        // run ahead of the phone by what the adb server buffers).
        EXPECT_LT(log->values.front(), 1.0) << log->values.size() << " values";
    }
}

namespace {

// Runs a copy on another thread, cancels it once it has made progress, and
// returns what it ended with.
std::exception_ptr cancelMidway(const std::function<void(const Progress&, const Cancel&)>& copy)
{
    std::stop_source stop;
    ProgressLog log;
    auto running = std::async(std::launch::async, [&] {
        try {
            copy(log.callback(), Cancel(stop.get_token()));
        } catch (...) {
            return std::current_exception();
        }
        return std::exception_ptr();
    });
    testsupport::waitUntil([&] { return log.count > 0; }, 10s);
    stop.request_stop();
    if (running.wait_for(10s) != std::future_status::ready)
        ADD_FAILURE() << "the cancelled copy did not end";
    return running.get();
}

bool isCancelled(const std::exception_ptr& error)
{
    try {
        if (error)
            std::rethrow_exception(error);
    } catch (const Cancelled&) {
        return true;
    } catch (...) {
    }
    return false;
}

} // namespace

TEST_P(PhoneFilesContract, CancellingAPullEndsItWithCancelled)
{
    transport().setSlowTransfers(true);
    transport().seedFile(phonePath(QStringLiteral("big.bin")), pattern(24 * 1024 * 1024), seeded);
    const QString target = localPath(QStringLiteral("big.bin"));
    const auto started = std::chrono::steady_clock::now();
    const std::exception_ptr error = cancelMidway([&](const Progress& progress, const Cancel& cancel) {
        files().pull(phonePath(QStringLiteral("big.bin")), target, progress, cancel);
    });
    EXPECT_TRUE(isCancelled(error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s) << "the copy ran to its end";
    EXPECT_EQ(transport().leftoverAfterCancel(), QString());
    transport().setSlowTransfers(false);
    EXPECT_TRUE(files().exists(phonePath(QStringLiteral("big.bin")), Cancel())) << "the phone stays usable";
}

TEST_P(PhoneFilesContract, CancellingAPushEndsItWithCancelled)
{
    transport().setSlowTransfers(true);
    const QString source = localPath(QStringLiteral("big.bin"));
    ASSERT_TRUE(writeLocal(source, pattern(24 * 1024 * 1024)));
    const auto started = std::chrono::steady_clock::now();
    const std::exception_ptr error = cancelMidway([&](const Progress& progress, const Cancel& cancel) {
        files().push(source, phonePath(QStringLiteral("big.bin")), progress, cancel);
    });
    EXPECT_TRUE(isCancelled(error));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 8s) << "the copy ran to its end";
    EXPECT_EQ(transport().leftoverAfterCancel(), QString());
    transport().setSlowTransfers(false);
    EXPECT_TRUE(files().list(folder(), false, Cancel()).size() <= 1u) << "the phone stays usable";
}
