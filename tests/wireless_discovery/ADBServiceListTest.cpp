#include "StubADB.h"
#include "WirelessDiscovery.h"

#include <gtest/gtest.h>

#include <QFileInfo>

#include <stop_token>

namespace {

using Kind = WirelessService::Kind;

TEST(ADBServiceList, AsksAdbForItsMdnsServices)
{
    StubADB adb;
    adb.setOutput("");
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel()).empty());
    EXPECT_EQ(adb.calls(), "mdns services\n");
}

TEST(ADBServiceList, ReadsOneServicePerUsableLine)
{
    StubADB adb;
    adb.setOutput("List of discovered mdns services\n"
                  "adb-R5CT123ABC-Xy1Z\t_adb-tls-connect._tcp.\t192.168.1.20:41005\n"
                  "\n"
                  "adb-R5CT123ABC-Xy1Z  _adb-tls-pairing._tcp   192.168.1.20:37199  extra fields\n"
                  "adb-NOCOLON-x _adb-tls-connect._tcp. 192.168.1.21\n"
                  "printer _ipp._tcp. 192.168.1.30:631\n"
                  "adb-SHORT-x _adb-tls-connect._tcp.\n"
                  "   adb-LEAD-x\t \t_adb-tls-connect 10.0.0.1:5555\n");
    const auto services = ADB(adb.path).mdnsServices(Cancel());
    ASSERT_EQ(services.size(), 3u);
    EXPECT_EQ(services[0], (WirelessService{Kind::connect, QStringLiteral("adb-R5CT123ABC-Xy1Z"),
                                            QStringLiteral("192.168.1.20:41005")}));
    EXPECT_EQ(services[1], (WirelessService{Kind::pairing, QStringLiteral("adb-R5CT123ABC-Xy1Z"),
                                            QStringLiteral("192.168.1.20:37199")}));
    EXPECT_EQ(services[2], (WirelessService{Kind::connect, QStringLiteral("adb-LEAD-x"), QStringLiteral("10.0.0.1:5555")}));
}

TEST(ADBServiceList, IsEmptyWhenAdbFails)
{
    StubADB adb;
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:5555\n");
    adb.setFailing(true);
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel()).empty());
    EXPECT_TRUE(ADB(adb.folder.filePath(QStringLiteral("missing"))).mdnsServices(Cancel()).empty());
}

TEST(ADBServiceList, IsEmptyWhenCancelled)
{
    StubADB adb;
    adb.setOutput("adb-A-x _adb-tls-connect._tcp. 10.0.0.1:5555\n");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(ADB(adb.path).mdnsServices(Cancel(stop.get_token())).empty());
}

TEST(ADBServiceList, AnAdbWithoutTheCommandListsNothing)
{
    const QString system = QStringLiteral("/usr/bin/adb");
    if (!QFileInfo(system).isExecutable())
        GTEST_SKIP() << "no adb installed at " << system.toStdString();
    EXPECT_TRUE(ADB(system).mdnsServices(Cancel()).empty());
}

} // namespace
