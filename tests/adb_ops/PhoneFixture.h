#pragma once

#include "ADB.h"
#include "FakePhoneHarness.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

// One fake phone, reached through the real adb, shared by the tests of a
// suite and stopped (with its private adb server) when the suite ends.
class PhoneTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { s_phone.reset(); }

protected:
    void SetUp() override;

    static bool hasPhone() { return s_phone != nullptr; }
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
// Makes empty files (or folders) of these raw names in a local folder.
void makeItems(const QString& folder, const std::vector<QByteArray>& names, bool folders = false);
// The description of the ADBError that work throws, or "<no failure>".
QString failureOf(const std::function<void()>& work);
// Running adb client processes started by this test process (directly or
// further down) whose arguments hold `needle` (the adb server excluded), as
// their command lines.
QStringList adbClientsWith(const QString& needle);

} // namespace phonetest
