// ADBFiles through the real adb and the fake phone: the whole PhoneFiles
// contract, and what only the adb transport promises.
#include "ADBFiles.h"
#include "PhoneFilesContract.h"
#include "PhoneFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace {

// The contract's view of the fake phone: its storage folder is the phone's
// "/sdcard", so items are seeded and read back there directly.
class ADBTransport : public PhoneFilesTransport {
public:
    bool start(QString* error) override { return m_phone.start(error); }
    std::unique_ptr<PhoneFiles> files() override
    {
        return std::make_unique<ADBFiles>(ADB(m_phone.adbPath()), m_phone.serial());
    }
    QString root() const override { return QStringLiteral("/sdcard"); }

    void seedFile(const QString& path, const QByteArray& content, const QDateTime& modified) override
    {
        ASSERT_TRUE(phonetest::writeFile(local(path), content, modified)) << path.toStdString();
    }
    void seedFolder(const QString& path) override
    {
        QDir(local(path)).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(local(path))) << path.toStdString();
    }
    std::optional<QByteArray> readFile(const QString& path) const override
    {
        QFile file(local(path));
        if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
            return std::nullopt;
        return file.readAll();
    }
    bool isFolder(const QString& path) const override { return QFileInfo(local(path)).isDir(); }
    bool isPresent(const QString& path) const override { return QFileInfo::exists(local(path)); }

    // 10 ms per 64 KiB: a few MiB take a second or so.
    void setSlowTransfers(bool slow) override { m_phone.setChunkDelay(slow ? 10 : 0); }
    bool isNotFound(const Error& error) const override
    {
        return dynamic_cast<const ADBError*>(&error) && error.description().contains(QStringLiteral("No such file"));
    }
    QString leftoverAfterCancel() override
    {
        return phonetest::adbClientsWith(m_phone.serial()).join(QLatin1Char('\n'));
    }

private:
    QString local(const QString& path) const { return phonetest::storagePath(m_phone, path); }
    FakePhoneHarness m_phone;
};

INSTANTIATE_TEST_SUITE_P(ADBFiles, PhoneFilesContract,
                         ::testing::Values(PhoneFilesTransportKind{
                             "adb", [] { return std::unique_ptr<PhoneFilesTransport>(new ADBTransport); }}),
                         phoneFilesTransportName);

// ---- what only the adb transport promises ------------------------------------

class ADBFilesOnPhone : public PhoneTest {
protected:
    ADBFiles files() const { return ADBFiles(adb(), serial()); }
    QString local(const QString& phonePath) const { return phonetest::storagePath(phone(), phonePath); }
};

TEST_F(ADBFilesOnPhone, RemoveAndMakeFolderAreIdempotentAndFailuresOnThePhoneFailTheCall)
{
    EXPECT_NO_THROW(files().remove(QStringLiteral("/sdcard/never was"), Cancel()));
    files().makeFolder(QStringLiteral("/sdcard/deep/er/folder"), Cancel());
    EXPECT_TRUE(QFileInfo(local(QStringLiteral("/sdcard/deep/er/folder"))).isDir());
    EXPECT_NO_THROW(files().makeFolder(QStringLiteral("/sdcard/deep/er/folder"), Cancel()));

    ASSERT_TRUE(phonetest::writeFile(local(QStringLiteral("/sdcard/taken")), "x"));
    EXPECT_THROW(files().list(QStringLiteral("/sdcard/taken"), false, Cancel()), ADBError); // a file, not a folder
    EXPECT_THROW(files().move(QStringLiteral("/sdcard/absent"), QStringLiteral("/sdcard/other"), Cancel()), ADBError);
    EXPECT_TRUE(phonetest::failureOf([&] { files().makeFolder(QStringLiteral("/sdcard/taken"), Cancel()); })
                    .contains(QStringLiteral("taken")));
}

// A phone of its own: the dropped connection does not come back.
class ADBFilesOnDroppingPhone : public ADBFilesOnPhone {};

TEST_F(ADBFilesOnDroppingPhone, ADroppedConnectionFailsTheCopy)
{
    ASSERT_TRUE(phonetest::writeFile(local(QStringLiteral("/sdcard/drop.bin")), QByteArray(1024 * 1024, 'd')));
    QTemporaryDir target;
    phone().dropAfterBytes(200 * 1024);
    EXPECT_THROW(files().pull(QStringLiteral("/sdcard/drop.bin"), target.filePath(QStringLiteral("drop.bin")), Cancel()),
                 ADBError);
}

} // namespace
