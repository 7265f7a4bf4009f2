#pragma once

#include "ADB.h"
#include "FakePhoneHarness.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <gtest/gtest.h>

#include <memory>

// One fake phone, reached through the real adb, shared by the tests of a
// suite and stopped (with its private adb server) when the suite ends.
class PhoneTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    void SetUp() override;

    static FakePhoneHarness& phone() { return *s_phone; }
    static ADB adb() { return ADB(s_phone->adbPath()); }
    static QString serial() { return s_phone->serial(); }

private:
    static std::unique_ptr<FakePhoneHarness> s_phone;
    static QString s_startError;
};

namespace phonetest {

// Where a phone path ("/sdcard/x") lies in the phone's storage folder here.
QString storagePath(const FakePhoneHarness& phone, const QString& phonePath);
bool writeFile(const QString& path, const QByteArray& content, const QDateTime& modified = {});
// Running adb client processes whose arguments hold `needle` (the adb server
// excluded), as "pid: arguments" lines.
QStringList adbClientsWith(const QString& needle);

} // namespace phonetest
