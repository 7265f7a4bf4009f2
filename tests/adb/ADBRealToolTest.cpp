// The runner with Debian's real adb and a private adb server of the test's own.
#include "ADB.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Sets an environment variable for a scope, then restores it.
struct Env {
    QByteArray name, old;
    bool had;
    Env(const char* n, const QByteArray& value) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        qputenv(n, value);
    }
    ~Env() { had ? qputenv(name.constData(), old) : qunsetenv(name.constData()); }
};

} // namespace

TEST(ADBRealTool, LocatesDebiansAdbAndListsDevicesOnAPrivateServer)
{
    if (!QFileInfo(QStringLiteral("/usr/bin/adb")).isExecutable())
        GTEST_SKIP() << "Debian's adb is not installed";
    QTemporaryDir home;
    QTcpServer probe; // a port that was free a moment ago
    probe.listen(QHostAddress::LocalHost, 0);
    const QByteArray freePort = QByteArray::number(probe.serverPort());
    probe.close();
    Env homeEnv("HOME", home.path().toLocal8Bit());
    Env port("ANDROID_ADB_SERVER_PORT", freePort);
    Env sdk("ANDROID_HOME", QByteArray());
    qunsetenv("ANDROID_HOME");

    auto adb = ADB::locate();
    ASSERT_TRUE(adb);
    QString output;
    try {
        output = adb->run({QStringLiteral("devices"), QStringLiteral("-l")}, Cancel());
    } catch (const std::exception& e) {
        ADD_FAILURE() << e.what();
    }
    EXPECT_TRUE(output.contains(QStringLiteral("List of devices attached"))) << output.toStdString();
    try {
        adb->run({QStringLiteral("kill-server")}, Cancel());
    } catch (const std::exception&) {
    }
}
