#include "PhoneFilesContract.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <atomic>
#include <chrono>
#include <future>
#include <map>
#include <vector>

namespace {

using namespace std::chrono_literals;

// One started phone per transport kind, kept for the whole suite.
std::map<std::string, std::unique_ptr<PhoneFilesTransport>> transports;

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
    return file.open(QIODevice::ReadOnly) ? std::optional(file.readAll()) : std::nullopt;
}

bool writeLocal(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// The entries as "name: folder|file size modified-seconds", in name order.
QStringList described(const std::vector<RemoteEntry>& entries)
{
    QStringList result;
    for (const RemoteEntry& entry : entries)
        result << QStringLiteral("%1: %2 %3 %4").arg(entry.name, entry.isDirectory ? QStringLiteral("folder") : QStringLiteral("file"))
                      .arg(entry.size).arg(entry.modified.toSecsSinceEpoch());
    result.sort();
    return result;
}

// Progress values seen by a copy, from whatever thread they arrive on:
// sound when some came, all within 0 to 1.
struct ProgressLog {
    std::atomic<int> count = 0;
    std::atomic<bool> outside = false;

    Progress callback()
    {
        return [this](double fraction) {
            if (fraction < 0 || fraction > 1)
                outside = true;
            ++count;
        };
    }
    bool sound() const { return count > 0 && !outside; }
};

} // namespace

void PhoneFilesContract::TearDownTestSuite()
{
    transports.clear();
}

void PrintTo(const PhoneFilesTransportKind& kind, std::ostream* os)
{
    *os << kind.name;
}

std::string phoneFilesTransportName(const ::testing::TestParamInfo<PhoneFilesTransportKind>& info)
{
    return info.param.name;
}


void PhoneFilesContract::SetUp()
{
    auto& slot = transports[GetParam().name];
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

// ---- listing ----------------------------------------------------------------

TEST_P(PhoneFilesContract, ListsDirectChildrenWithTheirFactsHiddenOnesOnlyWhenAskedAMissingFolderAsNotFound)
{
    transport().seedFile(phonePath(QStringLiteral("It's")), pattern(1000), seeded);
    transport().seedFile(phonePath(QStringLiteral("x|y.txt")), {}, seeded);
    transport().seedFile(phonePath(QStringLiteral("Grüße €.txt")), "1", seeded);
    transport().seedFile(phonePath(QStringLiteral(".nomedia")), {}, seeded);
    transport().seedFolder(phonePath(QStringLiteral("Camera")));
    transport().seedFile(phonePath(QStringLiteral("Camera/inner.jpg")), "x", seeded);

    const QString at = QString::number(seeded.toSecsSinceEpoch());
    QStringList expected {QStringLiteral("Grüße €.txt: file 1 ") + at, QStringLiteral("It's: file 1000 ") + at,
                          QStringLiteral("x|y.txt: file 0 ") + at};
    QStringList listed = described(files().list(folder(), false, Cancel()));
    ASSERT_EQ(listed.size(), 4) << listed.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(listed.takeFirst().startsWith(QStringLiteral("Camera: folder "))); // a folder's size and time vary
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(described(files().list(folder(), true, Cancel())).filter(QStringLiteral(".nomedia: file 0")).size(), 1);
    try {
        files().list(phonePath(QStringLiteral("missing")), false, Cancel());
        ADD_FAILURE() << "listing a missing folder must fail";
    } catch (const Error& error) {
        EXPECT_TRUE(transport().isNotFound(error)) << error.description().toStdString();
    }
}

// ---- exists, makeFolder, remove, move -----------------------------------------

TEST_P(PhoneFilesContract, ExistsMakeFolderMoveAndRemoveWithTheContents)
{
    transport().seedFile(phonePath(QStringLiteral("a'b.txt")), "x", seeded);
    files().makeFolder(phonePath(QStringLiteral("New folder")), Cancel());
    EXPECT_TRUE(transport().isFolder(phonePath(QStringLiteral("New folder"))));
    EXPECT_TRUE(files().list(phonePath(QStringLiteral("New folder")), true, Cancel()).empty());
    transport().seedFile(phonePath(QStringLiteral("New folder/f.bin")), "inside", seeded);
    EXPECT_TRUE(files().exists(phonePath(QStringLiteral("a'b.txt")), Cancel()));
    EXPECT_TRUE(files().exists(phonePath(QStringLiteral("New folder")), Cancel()));
    EXPECT_FALSE(files().exists(phonePath(QStringLiteral("nothing/deeper")), Cancel()));

    files().move(phonePath(QStringLiteral("a'b.txt")), phonePath(QStringLiteral("It's new.txt")), Cancel());
    files().move(phonePath(QStringLiteral("New folder")), phonePath(QStringLiteral("New dir")), Cancel());
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("a'b.txt"))));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("It's new.txt"))), QByteArray("x"));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("New dir/f.bin"))), QByteArray("inside"));

    files().remove(phonePath(QStringLiteral("It's new.txt")), Cancel());
    files().remove(phonePath(QStringLiteral("New dir")), Cancel());
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("It's new.txt"))));
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("New dir"))));
}

// A new item takes its name only where nothing is: never over a file, never
// into a folder.
TEST_P(PhoneFilesContract, TakeNameNamesANewItemOnlyWhereNothingIs)
{
    transport().seedFile(phonePath(QStringLiteral(".new.part")), "new", seeded);
    transport().seedFile(phonePath(QStringLiteral("file.txt")), "old", seeded);
    files().makeFolder(phonePath(QStringLiteral("Folder")), Cancel());
    for (const QString& taken : {QStringLiteral("file.txt"), QStringLiteral("Folder")})
        EXPECT_FALSE(files().takeName(phonePath(QStringLiteral(".new.part")), phonePath(taken), Cancel()));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("file.txt"))), QByteArray("old"));
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral("Folder/.new.part"))));
    EXPECT_TRUE(files().takeName(phonePath(QStringLiteral(".new.part")), phonePath(QStringLiteral("It's new.txt")),
                                 Cancel()));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("It's new.txt"))), QByteArray("new"));
    EXPECT_FALSE(transport().isPresent(phonePath(QStringLiteral(".new.part"))));
}

// ---- pull and push ------------------------------------------------------------

// A copied file replaces what stood at its destination, or goes into a folder
// named by a path ending in "/" (or an existing local folder) under its own name.
// Where "not there" must be certain (before removing what a stopped copy
// left), a check that could not be made says so instead of "no".
TEST_P(PhoneFilesContract, ExistenceTellsNoOnlyWhenItIsCertain)
{
    transport().seedFile(phonePath(QStringLiteral("a'b.txt")), "x", seeded);
    files().makeFolder(phonePath(QStringLiteral("Folder")), Cancel());
    EXPECT_EQ(files().existence(phonePath(QStringLiteral("a'b.txt")), Cancel()), std::optional<bool>(true));
    EXPECT_EQ(files().existence(phonePath(QStringLiteral("Folder")), Cancel()), std::optional<bool>(true));
    EXPECT_EQ(files().existence(phonePath(QStringLiteral("missing")), Cancel()), std::optional<bool>(false));
    EXPECT_EQ(files().existence(phonePath(QStringLiteral("missing/deeper")), Cancel()), std::optional<bool>(false));
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_NE(files().existence(phonePath(QStringLiteral("a'b.txt")), Cancel(stopped.get_token())),
              std::optional<bool>(false));
    EXPECT_NE(files().existence(phonePath(QStringLiteral("missing")), Cancel(stopped.get_token())),
              std::optional<bool>(false));
}

TEST_P(PhoneFilesContract, AFileCopiedBothWaysReplacesWhatWasThereOrGoesIntoAFolder)
{
    const QByteArray content = pattern(300 * 1024 + 7);
    transport().seedFile(phonePath(QStringLiteral("It's 1.jpg")), content, seeded);
    const QString local = localPath(QStringLiteral("copy of photo.jpg"));
    ASSERT_TRUE(writeLocal(local, "old content to be replaced"));
    ProgressLog pulled;
    files().pull(phonePath(QStringLiteral("It's 1.jpg")), local, pulled.callback(), Cancel());
    EXPECT_EQ(readLocal(local), content);
    EXPECT_EQ(QFileInfo(local).lastModified().toSecsSinceEpoch(), seeded.toSecsSinceEpoch());

    transport().seedFile(phonePath(QStringLiteral("target.bin")), "previous", seeded);
    ProgressLog pushed;
    files().push(local, phonePath(QStringLiteral("target.bin")), pushed.callback(), Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("target.bin"))), content);
    EXPECT_TRUE(pulled.sound());
    EXPECT_TRUE(pushed.sound());

    const QString into = localPath(QStringLiteral("Downloads"));
    ASSERT_TRUE(QDir().mkpath(into));
    files().pull(phonePath(QStringLiteral("It's 1.jpg")), into, Cancel());
    EXPECT_EQ(readLocal(into + QStringLiteral("/It's 1.jpg")), content);
    transport().seedFolder(phonePath(QStringLiteral("Music")));
    files().push(into + QStringLiteral("/It's 1.jpg"), phonePath(QStringLiteral("Music/")), {}, Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Music/It's 1.jpg"))), content);
}

TEST_P(PhoneFilesContract, AFolderCopiedBothWaysKeepsEverythingInIt)
{
    transport().seedFolder(phonePath(QStringLiteral("Album")));
    transport().seedFolder(phonePath(QStringLiteral("Album/Sub dir")));
    transport().seedFolder(phonePath(QStringLiteral("Album/empty")));
    transport().seedFile(phonePath(QStringLiteral("Album/a.jpg")), pattern(5000), seeded);
    transport().seedFile(phonePath(QStringLiteral("Album/Sub dir/b'c|d.txt")), "deep", seeded);

    const QString local = localPath(QStringLiteral("Album copy"));
    files().pull(phonePath(QStringLiteral("Album")), local, Cancel());
    EXPECT_EQ(readLocal(local + QStringLiteral("/a.jpg")), pattern(5000));
    EXPECT_EQ(readLocal(local + QStringLiteral("/Sub dir/b'c|d.txt")), QByteArray("deep"));
    EXPECT_TRUE(QFileInfo(local + QStringLiteral("/empty")).isDir());

    files().push(local, phonePath(QStringLiteral("Back")), {}, Cancel());
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Back/a.jpg"))), pattern(5000));
    EXPECT_EQ(transport().readFile(phonePath(QStringLiteral("Back/Sub dir/b'c|d.txt"))), QByteArray("deep"));
}

// ---- progress and cancellation ----------------------------------------------------

// A slow copy reports progress while it runs, and cancelling it then ends it
// with Cancelled, nothing left running, and the phone usable.
TEST_P(PhoneFilesContract, ACopyCancelledWhileItReportsProgressEndsWithCancelled)
{
    const QString onPhone = phonePath(QStringLiteral("big.bin"));
    const QString local = localPath(QStringLiteral("big.bin"));
    transport().seedFile(onPhone, pattern(24 * 1024 * 1024), seeded);
    ASSERT_TRUE(writeLocal(local, pattern(24 * 1024 * 1024)));
    const QString pulled = localPath(QStringLiteral("pulled.bin"));
    const QString pushed = phonePath(QStringLiteral("pushed.bin"));
    using Copy = std::function<void(const Progress&, const Cancel&)>;
    const std::vector<std::pair<const char*, Copy>> copies = {
        {"pull", [&](const Progress& p, const Cancel& c) { files().pull(onPhone, pulled, p, c); }},
        {"push", [&](const Progress& p, const Cancel& c) { files().push(local, pushed, p, c); }},
    };
    for (const auto& [name, copy] : copies) {
        SCOPED_TRACE(name);
        transport().setSlowTransfers(true);
        std::stop_source stop;
        ProgressLog log;
        const auto started = std::chrono::steady_clock::now();
        auto running = std::async(std::launch::async, [&] { copy(log.callback(), Cancel(stop.get_token())); });
        EXPECT_TRUE(testsupport::waitUntil([&] { return log.sound(); }, 10s)) << "no progress while copying";
        stop.request_stop();
        ASSERT_EQ(running.wait_for(10s), std::future_status::ready) << "the cancelled copy did not end";
        EXPECT_THROW(running.get(), Cancelled);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 8s) << "the copy ran to its end";
        EXPECT_TRUE(log.sound());
        EXPECT_EQ(transport().leftoverAfterCancel(), QString());
        transport().setSlowTransfers(false);
        EXPECT_TRUE(files().exists(onPhone, Cancel())) << "the phone stays usable";
    }
}
