#pragma once

#include "ADB.h"
#include "ADBStream.h"
#include "Cancel.h"
#include "Models.h"
#include "PhoneFiles.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

// What the browser asks of the adb tool. The model keeps the located ADB
// value and hands it back with every call, so a test can answer for a tool
// that isn't there. Everything but files() blocks and runs on worker threads,
// possibly several calls at once.
class AdbSource {
public:
    virtual ~AdbSource() = default;

    // The adb executable at its usual places, looked for afresh; none when
    // it isn't installed.
    virtual std::optional<ADB> locate() = 0;
    // The phones adb lists. Throws what adb's failure throws.
    virtual std::vector<Device> devices(const ADB& adb, const Cancel& cancel) = 0;
    // The phone's own name; none on any failure.
    virtual std::optional<QString> displayName(const ADB& adb, const QString& serial, const Cancel& cancel) = 0;
    // The hardware serial behind a (Wi-Fi) connection; none on any failure.
    virtual std::optional<QString> serialNumber(const ADB& adb, const QString& serial, const Cancel& cancel) = 0;
    // The phone's files over adb. Cheap: called on the GUI thread.
    virtual std::shared_ptr<PhoneFiles> files(const ADB& adb, const QString& serial) = 0;
    // "adb connect" to a Wi-Fi phone; throws when adb did not connect.
    // Returns the serial adb lists it under (see ADB::connect).
    virtual QString connect(const ADB& adb, const QString& address, const Cancel& cancel)
    {
        return adb.connect(address, cancel);
    }
    // adb with these arguments (installs, the recording's stop and copy);
    // its standard output. Throws what adb's failure throws.
    virtual QString run(const ADB& adb, const QStringList& args, const Cancel& cancel) { return adb.run(args, cancel); }
    // PNG bytes of the phone's screen.
    virtual QByteArray screenshot(const ADB& adb, const QString& serial, const Cancel& cancel)
    {
        return adb.screenshot(serial, cancel);
    }
    // A long-running adb child; onLines and onEnd run on a background
    // thread as ADBStream runs them. Throws SystemError when it cannot start.
    virtual std::unique_ptr<ADBStream> stream(const ADB& adb, const QStringList& args, ADBStream::LinesHandler onLines,
                                              ADBStream::EndHandler onEnd)
    {
        return std::make_unique<ADBStream>(adb, args, std::move(onLines), std::move(onEnd));
    }
    // "adb disconnect"; throws what adb's failure throws.
    virtual void disconnect(const ADB& adb, const QString& serial, const Cancel& cancel)
    {
        adb.run({QStringLiteral("disconnect"), serial}, cancel);
    }
};

// The real tool, through ADB and ADBFiles.
std::shared_ptr<AdbSource> makeSystemAdbSource();
