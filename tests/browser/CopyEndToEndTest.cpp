// Copies both ways through the browser model over the real adb tool with the
// fake phone, and over MTP with the simulated phone: a folder tree arrives
// with its contents and times, Replace merges a folder on both sides, a
// slowed copy shows rising progress, and Stop ends an adb copy without
// leaving adb running.

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "MTPConnection.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <unistd.h>

using namespace browsertest;

namespace {

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);

// The simulated phone as the machine's only USB phone.
class SimulatedMtpSource : public MtpSource {
public:
    explicit SimulatedMtpSource(std::shared_ptr<MTPConnection> connection) : m_connection(std::move(connection)) {}
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override { return {mtpPhone(QStringLiteral("SIM0001"))}; }
    std::shared_ptr<PhoneFiles> connection(const QString&) override { return m_connection; }
    bool isMissingItem(const std::exception_ptr&) const override { return false; }

private:
    std::shared_ptr<MTPConnection> m_connection;
};

// Relative path -> contents ("/" for a folder) and modification second.
QMap<QString, QString> tree(const QString& root)
{
    QMap<QString, QString> found;
    QDirIterator walk(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        const QFileInfo item(walk.next());
        QFile file(item.filePath());
        const QString contents = item.isDir() ? QStringLiteral("/") : (file.open(QIODevice::ReadOnly), QString::fromUtf8(file.readAll()));
        found.insert(QDir(root).relativeFilePath(item.filePath()), contents + QLatin1Char('@') + QString::number(item.lastModified().toSecsSinceEpoch()));
    }
    return found;
}

void write(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(contents);
    file.setFileTime(stamp, QFileDevice::FileModificationTime);
}

class CopyEndToEnd : public ::testing::Test {
protected:
    void start(std::shared_ptr<AdbSource> adbSource, std::shared_ptr<MtpSource> mtpSource)
    {
        BrowserModel::Collaborators collaborators;
        collaborators.adb = std::move(adbSource);
        collaborators.mtp = std::move(mtpSource);
        collaborators.settings = &settings;
        collaborators.clock = std::make_shared<ManualClock>();
        collaborators.discovery = std::make_unique<WirelessDiscovery>(std::make_unique<SilentServiceBrowser>());
        collaborators.desktop = desktop;
        model = std::make_unique<BrowserModel>(std::move(collaborators));
        bool passed = false;
        model->refreshDevices([&] { passed = true; });
        ASSERT_TRUE(testsupport::waitUntil([&] { return passed && model->readyDevice() && !model->isLoading(); }, std::chrono::seconds(20)));
        model->setAskWhereToSave(false);
        model->setRevealAfterCopy(false);
        model->setSaveFolder(back.path());
        QObject::connect(model.get(), &BrowserModel::jobChanged, model.get(), [this] {
            if (model->job() && model->job()->progress)
                progress.append(*model->job()->progress);
        });
    }
    // Waits for the job and the listing after it.
    void finish()
    {
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->job(); }, std::chrono::seconds(60)));
        ASSERT_TRUE(testsupport::waitUntil([&] { return !model->isLoading(); }, std::chrono::seconds(20)));
        EXPECT_FALSE(model->errorMessage()) << model->errorMessage().value_or(QString()).toStdString();
    }
    std::optional<RemoteEntry> listed(const QString& name)
    {
        for (const RemoteEntry& entry : model->entries())
            if (entry.name == name)
                return entry;
        return std::nullopt;
    }

    // Album goes to the phone and comes back whole; a second Album with
    // another file replaces it on both sides, merged.
    void copiesBothWaysAndMerges()
    {
        write(source.filePath(QStringLiteral("Album/a.txt")), "alpha");
        write(source.filePath(QStringLiteral("Album/sub/b.txt")), "beta");
        const auto album = QUrl::fromLocalFile(source.filePath(QStringLiteral("Album")));
        model->upload({album});
        finish();
        ASSERT_TRUE(listed(QStringLiteral("Album")));
        model->download({*listed(QStringLiteral("Album"))});
        finish();
        auto expected = tree(source.path());
        expected.remove(QStringLiteral("Album")); // a folder's own time is the phone's
        expected.remove(QStringLiteral("Album/sub"));
        auto arrived = tree(back.path());
        arrived.remove(QStringLiteral("Album"));
        arrived.remove(QStringLiteral("Album/sub"));
        EXPECT_EQ(arrived, expected);

        QDir(source.filePath(QStringLiteral("Album"))).removeRecursively();
        write(source.filePath(QStringLiteral("Album/c.txt")), "gamma");
        desktop->answer = 0; // Replace: folders are merged
        model->upload({album});
        finish();
        model->download({*listed(QStringLiteral("Album"))});
        finish();
        const QStringList names = QDir(back.filePath(QStringLiteral("Album"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        EXPECT_EQ(names, (QStringList{QStringLiteral("a.txt"), QStringLiteral("c.txt"), QStringLiteral("sub")}));
        EXPECT_EQ(desktop->questions.size(), 2);
    }

    QTemporaryDir folder, source, back;
    QSettings settings{folder.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> model;
    QList<double> progress;
};

// adb processes whose parent is this test.
int adbChildren()
{
    int count = 0;
    QDirIterator procs(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (procs.hasNext()) {
        QFile stat(procs.next() + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (line.contains("(adb)") && fields.size() > 1 && fields[1].toLong() == long(::getpid()))
            ++count;
    }
    return count;
}

TEST_F(CopyEndToEnd, OverAdbCopiesBothWaysMergesShowsProgressAndStops)
{
    if (!QFile::exists(QStringLiteral("/usr/bin/adb")))
        GTEST_SKIP() << "adb is not installed";
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    start(makeSystemAdbSource(), std::make_shared<FakeMtpSource>());
    copiesBothWaysAndMerges();

    // A slowed copy of a new file: rising progress, then Stop.
    write(phone.storage() + QStringLiteral("/big.bin"), QByteArray(4 << 20, 'x'));
    bool reloaded = false;
    model->reload([&] { reloaded = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return reloaded && listed(QStringLiteral("big.bin")); }));
    phone.setChunkDelay(40);
    progress.clear();
    model->download({*listed(QStringLiteral("big.bin"))});
    ASSERT_TRUE(testsupport::waitUntil([&] { return progress.size() >= 3; }, std::chrono::seconds(30)))
        << (model->job() ? model->job()->message.toStdString() : "no job") << " " << progress.size();
    EXPECT_LT(progress.first(), progress.last());
    model->cancelJob();
    finish();
    EXPECT_TRUE(testsupport::waitUntil([] { return adbChildren() == 0; }, std::chrono::seconds(5)));
    EXPECT_FALSE(QFileInfo::exists(back.filePath(QStringLiteral("big.bin"))));
    model.reset();
    phone.stop();
}

TEST_F(CopyEndToEnd, OverMtpCopiesBothWaysAndMerges)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    auto connection = std::make_shared<MTPConnection>(host, host->plug(phone), QStringLiteral("SIM0001"), QStringLiteral("Pixel 7"));
    connection->check();
    ASSERT_EQ(connection->status(), MTPConnection::Status::ready);
    start(std::make_shared<FakeAdbSource>(), std::make_shared<SimulatedMtpSource>(connection));
    copiesBothWaysAndMerges();
    model.reset();
    connection->close().wait();
}

} // namespace
