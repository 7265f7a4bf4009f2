#pragma once

#include "Error.h"
#include "PhoneFiles.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

// What the PhoneFiles contract needs of one transport: the PhoneFiles under
// test, and a way to put items on the phone and look at them without going
// through the PhoneFiles itself.
class PhoneFilesTransport {
public:
    virtual ~PhoneFilesTransport() = default;

    // Brings the phone up; false with a reason when it cannot.
    virtual bool start(QString* error) = 0;
    virtual std::unique_ptr<PhoneFiles> files() = 0;
    // A phone folder the tests may fill ("/sdcard").
    virtual QString root() const = 0;

    virtual void seedFile(const QString& path, const QByteArray& content, const QDateTime& modified) = 0;
    virtual void seedFolder(const QString& path) = 0;
    // The bytes of the file at path; nothing when no file is there.
    virtual std::optional<QByteArray> readFile(const QString& path) const = 0;
    virtual bool isFolder(const QString& path) const = 0;
    virtual bool isPresent(const QString& path) const = 0;

    // Slows transfers down enough to watch their progress and cancel them.
    virtual void setSlowTransfers(bool slow) = 0;
    // Whether a failure is the transport's answer to a missing folder.
    virtual bool isNotFound(const Error& error) const = 0;
    // What a cancelled copy left running (empty when nothing).
    virtual QString leftoverAfterCancel() { return {}; }
};

// One transport the contract runs over; `name` names the instantiation.
struct PhoneFilesTransportKind {
    std::string name;
    std::function<std::unique_ptr<PhoneFilesTransport>()> make;
};

void PrintTo(const PhoneFilesTransportKind& kind, std::ostream* os);

// The contract every PhoneFiles meets. A test binary instantiates it with
//   INSTANTIATE_TEST_SUITE_P(Name, PhoneFilesContract,
//       ::testing::Values(PhoneFilesTransportKind{"name", factory}), phoneFilesTransportName);
// One phone per transport kind serves the whole suite; each test works in a
// fresh folder of its own.
class PhoneFilesContract : public ::testing::TestWithParam<PhoneFilesTransportKind> {
public:
    static void TearDownTestSuite();

protected:
    void SetUp() override;

    PhoneFilesTransport& transport() { return *m_transport; }
    PhoneFiles& files() { return *m_files; }
    // This test's own folder on the phone.
    const QString& folder() const { return m_folder; }
    QString phonePath(const QString& name) const { return m_folder + QLatin1Char('/') + name; }
    // This test's own folder on the computer.
    QString localPath(const QString& name) const { return m_local->filePath(name); }

private:
    PhoneFilesTransport* m_transport = nullptr;
    std::unique_ptr<PhoneFiles> m_files;
    QString m_folder;
    std::unique_ptr<QTemporaryDir> m_local;
};

std::string phoneFilesTransportName(const ::testing::TestParamInfo<PhoneFilesTransportKind>& info);
