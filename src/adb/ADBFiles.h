#pragma once

#include "ADB.h"
#include "PhoneFiles.h"

#include <QString>

// The phone files of one phone reached through adb. A plain value: it holds
// only where adb is and the phone's serial, so it is cheap to make per use.
class ADBFiles : public PhoneFiles {
public:
    ADBFiles(ADB adb, QString serial) : adb(std::move(adb)), serial(std::move(serial)) {}

    ADB adb;
    QString serial;

    std::vector<RemoteEntry> list(const QString& path, bool showHidden, const Cancel& cancel) override;
    using PhoneFiles::pull;
    void pull(const QString& path, const QString& destination, const Progress& progress,
              const Cancel& cancel) override;
    void push(const QString& source, const QString& destination, const Progress& progress,
              const Cancel& cancel) override;
    bool exists(const QString& path, const Cancel& cancel) override;
    std::optional<bool> existence(const QString& path, const Cancel& cancel) override;
    void remove(const QString& path, const Cancel& cancel) override;
    void makeFolder(const QString& path, const Cancel& cancel) override;
    void move(const QString& from, const QString& to, const Cancel& cancel) override;
    // mv replaces a file in one step: the name is never without a whole file.
    std::optional<Clash> putInPlace(const QString& from, const QString& to, const Covered& covered,
                                    const Cancel& cancel) override;
    // The mark's change time: a file written, made, moved or renamed after
    // it is newer, however old its modification time.
    QString markSince(const QString& folder, const Cancel& cancel) override;
    bool takeName(const QString& from, const QString& to, const Cancel& cancel) override;
    bool mergesOnPhone() const override { return true; }
    // One shell command however many items: each a rename on the phone.
    std::vector<Clash> mergeInto(const QString& from, const QString& to, const QString& since,
                                   const Cancel& cancel) override;
    // adb's percentages are each source's own: with several, progress comes at the end.
    void pushInto(const QStringList& sources, const QString& folder, const Progress& progress,
                  const Cancel& cancel) override;
    void makeFolders(const QString& base, const QStringList& relative, const Cancel& cancel) override;
    bool markTime(const QString& folder, const Cancel& cancel) override;
    void moveWholeFiles(const QString& from, const QString& to, const QString& marked, const QString& since,
                        const Cancel& cancel) override;
    DeviceInfo info(const Cancel& cancel) override;
    bool pullsFoldersWhole() const override { return true; }
    bool putsInPlaceAtOnce() const override { return true; }
};
