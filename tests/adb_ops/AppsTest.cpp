// App listing and app actions over adb.
#include "ADBParsing.h"
#include "ADBTools.h"
#include "StubADB.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

const QString serial = QStringLiteral("SER1");
const QString dumpCommand =
    QStringLiteral("dumpsys package packages | grep -E '^  Package \\[|versionName=|firstInstallTime='");

QStringList shell(const QString& command)
{
    return {QStringLiteral("-s"), serial, QStringLiteral("shell"), command};
}

QDateTime local(const char* text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd HH:mm:ss")).toUTC();
}

TEST(PackageNames, KeepsTheValuesOfPackageLinesInOrder)
{
    EXPECT_EQ(ADB::packageNames(QStringLiteral("  package:com.a \t\n\nunrelated\npackage:\npackage: com.b\npackage:com.a\n")),
              (QStringList{QStringLiteral("com.a"), QString(), QStringLiteral(" com.b"), QStringLiteral("com.a")}));
}

TEST(AppList, MarksAppsMissingFromTheAddedListAsSystemApps)
{
    const auto apps = adbparse::apps(QStringLiteral("package:com.b\npackage:com.a\n"), QStringLiteral("package:com.b\n"),
                                     QString());
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0], (InstalledApp{QStringLiteral("com.a"), std::nullopt, std::nullopt, true}));
    EXPECT_EQ(apps[1], (InstalledApp{QStringLiteral("com.b"), std::nullopt, std::nullopt, false}));
}

TEST(AppList, FirstVersionAndFirstReadableInstallTimeWin)
{
    const QString dump = QStringLiteral("    versionName=0.1\n"
                                        "  Package [com.a] (1234abc):\n"
                                        "    versionName=1.0\n"
                                        "    versionName=2.0\n"
                                        "    firstInstallTime=yesterday\n"
                                        "    firstInstallTime=2023-04-05 06:07:08\n"
                                        "    firstInstallTime=2024-01-01 00:00:00\n"
                                        "  Package [com.unknown] (1):\n"
                                        "    versionName=9\n"
                                        "  Package [com.b (no bracket\n"
                                        "    versionName=\n"
                                        "    versionName=3.0\n");
    const auto apps = adbparse::apps(QStringLiteral("package:com.a\npackage:com.b\n"), QString(), dump);
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_EQ(apps[0].version, QStringLiteral("1.0"));
    EXPECT_EQ(apps[0].installed, local("2023-04-05 06:07:08"));
    // A header without "]" leaves the lines with com.unknown, which is not listed.
    EXPECT_EQ(apps[1].version, std::nullopt);
    EXPECT_EQ(apps[1].installed, std::nullopt);

    const auto empty = adbparse::apps(QStringLiteral("package:com.c\n"), QString(),
                                      QStringLiteral("  Package [com.c]\n    versionName=\n    versionName=3.0\n"));
    EXPECT_EQ(empty[0].version, QString()); // an empty version is a version
}

TEST(AppList, SortsByCodePointWithoutFoldingCase)
{
    const auto apps = adbparse::apps(QStringLiteral("package:com.zeta\npackage:Com.alpha\npackage:com.alpha\n"),
                                     QString(), QString());
    ASSERT_EQ(apps.size(), 3u);
    EXPECT_EQ(apps[0].package, QStringLiteral("Com.alpha"));
    EXPECT_EQ(apps[1].package, QStringLiteral("com.alpha"));
    EXPECT_EQ(apps[2].package, QStringLiteral("com.zeta"));
    // U+FF21 sorts before U+1F600 by code point, though not by UTF-16 unit.
    EXPECT_TRUE(adbparse::codePointLess(QStringLiteral("\uFF21"), QStringLiteral("\U0001F600")));
}

TEST(AppList, RunsTheThreeCommandsAndToleratesAFailedDump)
{
    StubADB stub;
    stub.setReply(shell(QStringLiteral("pm list packages")), {"package:com.a\npackage:com.b\n", {}, 0});
    stub.setReply(shell(QStringLiteral("pm list packages -3")), {"package:com.b\n", {}, 0});
    stub.setReply(shell(dumpCommand), {{}, "dumpsys: permission denied\n", 1});
    const auto apps = stub.adb().apps(serial, Cancel());
    ASSERT_EQ(apps.size(), 2u);
    EXPECT_TRUE(apps[0].isSystem);
    EXPECT_FALSE(apps[1].isSystem);
    EXPECT_EQ(dumpCommand.size(), 81);
    EXPECT_EQ(stub.calls().size(), 3u);
}

TEST(AppList, AFailedListFailsTheCallAndEndsTheOthers)
{
    StubADB stub;
    // The other two would run for half a minute if they were not ended.
    stub.setReply(shell(QStringLiteral("pm list packages")), {"package:com.a\n", {}, 0, 30});
    stub.setReply(shell(dumpCommand), {{}, {}, 0, 30});
    stub.setReply(shell(QStringLiteral("pm list packages -3")), {{}, "error: closed\n", 1});
    const auto started = std::chrono::steady_clock::now();
    try {
        stub.adb().apps(serial, Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("error: closed"));
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(AppList, CancellingEndsEveryCommand)
{
    StubADB stub;
    stub.setDefault({{}, {}, 0, 30});
    std::stop_source stop;
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        stop.request_stop();
    });
    const auto started = std::chrono::steady_clock::now();
    EXPECT_THROW(stub.adb().apps(serial, Cancel(stop.get_token())), Cancelled);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
}

TEST(AppActions, ClearDataAndUninstallNeedSuccessInTheAnswer)
{
    StubADB stub;
    ADB adb = stub.adb();
    stub.setDefault({"Failed\n", {}, 0});
    for (auto action : {&ADB::clearData, &ADB::uninstall}) {
        try {
            (adb.*action)(serial, QStringLiteral("com.a"), Cancel());
            FAIL() << "expected a failure";
        } catch (const ADBError& error) {
            EXPECT_EQ(error.description(), QStringLiteral("Failed"));
        }
    }
    stub.setDefault({"\x1b[31madb: error: x\x1b[0m\n", {}, 0});
    try {
        adb.uninstall(serial, QStringLiteral("com.a"), Cancel());
        FAIL() << "expected a failure";
    } catch (const ADBError& error) {
        EXPECT_EQ(error.description(), QStringLiteral("x"));
    }
    stub.setDefault({"Deleting...\r\nSuccess\r\n", {}, 0});
    EXPECT_NO_THROW(adb.uninstall(serial, QStringLiteral("com.a"), Cancel()));
}

TEST(AppActions, PidsSplitAtWhiteSpaceAndNeverFail)
{
    StubADB stub;
    stub.setDefault({"1234 5678\n", {}, 0});
    EXPECT_EQ(stub.adb().pids(serial, QStringLiteral("com.a"), Cancel()),
              (QSet<QString>{QStringLiteral("1234"), QStringLiteral("5678")}));
    stub.setDefault({{}, {}, 1});
    EXPECT_TRUE(stub.adb().pids(serial, QStringLiteral("com.a"), Cancel()).isEmpty());
}

} // namespace
