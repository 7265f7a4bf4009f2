// The runner with Debian's real adb and a private adb server of the test's own.
#include "ADB.h"
#include "TestSupport.h"

#include <QFileInfo>
#include <QTcpServer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// A port that was free a moment ago.
int freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

struct Env {
    QByteArray name, old;
    bool had;
    Env(const char* n, const QByteArray& value) : name(n), old(qgetenv(n)), had(qEnvironmentVariableIsSet(n))
    {
        qputenv(n, value);
    }
    ~Env()
    {
        if (had)
            qputenv(name.constData(), old);
        else
            qunsetenv(name.constData());
    }
};

} // namespace

TEST(ADBRealTool, LocatesDebiansAdbAndListsDevicesOnAPrivateServer)
{
    if (!QFileInfo(QStringLiteral("/usr/bin/adb")).isExecutable())
        GTEST_SKIP() << "Debian's adb is not installed";
    QTemporaryDir home;
    Env homeEnv("HOME", home.path().toLocal8Bit());
    Env port("ANDROID_ADB_SERVER_PORT", QByteArray::number(freePort()));
    qunsetenv("ANDROID_HOME");

    auto adb = ADB::locate();
    ASSERT_TRUE(adb);
    EXPECT_TRUE(adb->executable.endsWith(QStringLiteral("/adb")));

    QString output;
    try {
        output = adb->run({QStringLiteral("devices"), QStringLiteral("-l")}, Cancel());
    } catch (const std::exception& e) {
        adb->run({QStringLiteral("kill-server")}, Cancel());
        FAIL() << e.what();
    }
    EXPECT_TRUE(output.contains(QStringLiteral("List of devices attached"))) << output.toStdString();
    try {
        adb->run({QStringLiteral("kill-server")}, Cancel());
    } catch (const std::exception&) {
    }
}
