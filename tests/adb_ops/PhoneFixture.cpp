#include "PhoneFixture.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::unique_ptr<FakePhoneHarness> PhoneTest::s_phone;
QString PhoneTest::s_startError;

void PhoneTest::SetUpTestSuite()
{
    s_phone = std::make_unique<FakePhoneHarness>();
    if (!s_phone->start(&s_startError))
        s_phone.reset();
}

void PhoneTest::TearDownTestSuite()
{
    s_phone.reset();
}

void PhoneTest::SetUp()
{
    ASSERT_TRUE(s_phone) << "the fake phone did not start: " << s_startError.toStdString();
    s_phone->clearReceived();
}

namespace phonetest {

QString storagePath(const FakePhoneHarness& phone, const QString& phonePath)
{
    const QString root = QStringLiteral("/sdcard");
    if (phonePath == root)
        return phone.storage();
    return phone.storage() + phonePath.mid(root.size());
}

bool writeFile(const QString& path, const QByteArray& content, const QDateTime& modified)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()
        || !file.flush())
        return false;
    if (modified.isValid() && !file.setFileTime(modified, QFileDevice::FileModificationTime))
        return false;
    return true;
}

QStringList adbClientsWith(const QString& needle)
{
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& pid : pids) {
        bool numeric = false;
        const long number = pid.toLong(&numeric);
        if (!numeric)
            continue;
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!cmdline.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        if (args.isEmpty() || !QFileInfo(QString::fromLocal8Bit(args.first())).fileName().startsWith(QStringLiteral("adb")))
            continue;
        QStringList words;
        for (const QByteArray& arg : args)
            words << QString::fromLocal8Bit(arg);
        if (words.contains(QStringLiteral("server")) || !words.join(QLatin1Char(' ')).contains(needle))
            continue;
        if (testsupport::processAlive(number))
            found << pid + QStringLiteral(": ") + words.join(QLatin1Char(' '));
    }
    return found;
}

} // namespace phonetest
