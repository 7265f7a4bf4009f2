// The browser model over the real adb tool with the fake phone (listed under
// its own name, chosen and its storage listed), and over MTP with the
// simulated phone: a folder tree copied both ways arrives with its contents
// and times, Replace merges a folder on both sides, a slowed copy shows
// rising progress, and Stop ends an adb copy without leaving adb running.

#include "BrowserFakes.h"
#include "FakePhoneHarness.h"
#include "MTPConnection.h"
#include "PhoneFixture.h"
#include "SimulatedPhone.h"
#include "SimulatedUsbHost.h"
#include "TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

using namespace browsertest;

namespace {

const QDateTime stamp = QDateTime::fromSecsSinceEpoch(1600000000, Qt::UTC);

// The simulated phone as the machine's only USB phone.
class SimulatedMtpSource : public MtpSource {
public:
    explicit SimulatedMtpSource(std::shared_ptr<MTPConnection> connection) : m_connection(std::move(connection)) {}
    std::vector<Device> devices(const QSet<QString>&, const Cancel&) override { return {mtpPhone(u"SIM0001"_s)}; }
    std::shared_ptr<PhoneFiles> connection(const QString&) override { return m_connection; }
    bool isMissingItem(const std::exception_ptr&) const override { return false; }

private:
    std::shared_ptr<MTPConnection> m_connection;
};

// Relative path of each file -> its contents and modification second (a
// folder's own time is the phone's).
QMap<QString, QString> tree(const QString& root)
{
    QMap<QString, QString> found;
    QDirIterator walk(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext()) {
        QFile file(walk.next());
        const QString contents = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : u"?"_s;
        found.insert(QDir(root).relativeFilePath(file.fileName()),
                     contents + u'@' + QString::number(QFileInfo(file).lastModified().toSecsSinceEpoch()));
    }
    return found;
}

void write(const QString& path, const QByteArray& contents)
{
    QDir().mkpath(QFileInfo(path).path());
    ASSERT_TRUE(phonetest::writeFile(path, contents, stamp));
}

class CopyEndToEnd : public ::testing::Test {
protected:
    void start(std::shared_ptr<AdbSource> adbSource, std::shared_ptr<MtpSource> mtpSource)
    {
        model = newModel(std::move(adbSource), std::move(mtpSource), settings, std::make_shared<ManualClock>(), desktop);
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
        write(source.filePath(u"Album/a.txt"_s), "alpha");
        write(source.filePath(u"Album/sub/b.txt"_s), "beta");
        const auto album = QUrl::fromLocalFile(source.filePath(u"Album"_s));
        model->upload({album});
        finish();
        ASSERT_TRUE(listed(u"Album"_s));
        model->download({*listed(u"Album"_s)});
        finish();
        EXPECT_EQ(tree(back.path()), tree(source.path()));
        EXPECT_EQ(tree(back.path()).size(), 2);

        QDir(source.filePath(u"Album"_s)).removeRecursively();
        write(source.filePath(u"Album/c.txt"_s), "gamma");
        desktop->answer = 0; // Replace: folders are merged
        model->upload({album});
        finish();
        model->download({*listed(u"Album"_s)});
        finish();
        const QStringList names = QDir(back.filePath(u"Album"_s)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        EXPECT_EQ(names, (QStringList{u"a.txt"_s, u"c.txt"_s, u"sub"_s}));
        EXPECT_EQ(desktop->questions.size(), 2);
    }

    QTemporaryDir folder, source, back;
    QSettings settings{folder.filePath(u"settings.ini"_s), QSettings::IniFormat};
    std::shared_ptr<ScriptedDesktop> desktop = std::make_shared<ScriptedDesktop>();
    std::unique_ptr<BrowserModel> model;
    QList<double> progress;
};

TEST_F(CopyEndToEnd, OverAdbCopiesBothWaysMergesShowsProgressAndStops)
{
    if (!QFile::exists(u"/usr/bin/adb"_s))
        GTEST_SKIP() << "adb is not installed";
    FakePhoneHarness phone;
    QString error;
    ASSERT_TRUE(phone.start(&error)) << error.toStdString();
    phone.setReply(u"settings get global device_name 2>/dev/null; getprop ro.product.marketname; "
                   "getprop ro.product.model"_s, {.out = "Ana’s phone\n\nPixel 7\n"});
    start(makeSystemAdbSource(), std::make_shared<FakeMtpSource>());
    // Named as its shell reports it, chosen, and its storage listed.
    EXPECT_EQ(model->devices(), QList<Device>{adbPhone(phone.serial(), u"device"_s, u"Ana’s phone"_s)});
    EXPECT_EQ(model->selectedSerial(), phone.serial());
    EXPECT_EQ(model->path(), u"/sdcard"_s);
    copiesBothWaysAndMerges();

    // A slowed copy of a new file: rising progress, then Stop.
    write(phone.storage() + u"/big.bin"_s, QByteArray(4 << 20, 'x'));
    bool reloaded = false;
    model->reload([&] { reloaded = true; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return reloaded && listed(u"big.bin"_s); }));
    phone.setChunkDelay(40);
    progress.clear();
    model->download({*listed(u"big.bin"_s)});
    ASSERT_TRUE(testsupport::waitUntil([&] { return progress.size() >= 3; }, std::chrono::seconds(30)))
        << (model->job() ? model->job()->message.toStdString() : "no job") << " " << progress.size();
    EXPECT_LT(progress.first(), progress.last());
    model->cancelJob();
    finish();
    EXPECT_TRUE(testsupport::waitUntil([] { return phonetest::adbClientsWith(u"big.bin"_s).isEmpty(); },
                                       std::chrono::seconds(5)));
    EXPECT_FALSE(QFileInfo::exists(back.filePath(u"big.bin"_s)));
    model.reset();
    phone.stop();
}

TEST_F(CopyEndToEnd, OverMtpCopiesBothWaysAndMerges)
{
    auto host = std::make_shared<mtpsim::SimulatedUsbHost>();
    auto phone = std::make_shared<mtpsim::SimulatedPhone>();
    auto connection = std::make_shared<MTPConnection>(host, host->plug(phone), u"SIM0001"_s, u"Pixel 7"_s);
    connection->check();
    ASSERT_EQ(connection->status(), MTPConnection::Status::ready);
    start(std::make_shared<FakeAdbSource>(), std::make_shared<SimulatedMtpSource>(connection));
    copiesBothWaysAndMerges();
    model.reset();
    connection->close().wait();
}

} // namespace
