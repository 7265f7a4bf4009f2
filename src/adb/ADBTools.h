#pragma once

#include "ADB.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QString>

#include <optional>
#include <utility>
#include <vector>

// One app on the phone. Its identity is the package name.
struct InstalledApp {
    QString package;
    std::optional<QString> version;     // the version name, when the phone said
    std::optional<QDateTime> installed; // first install time, UTC
    bool isSystem = false;              // came with the phone

    const QString& id() const { return package; }

    friend bool operator==(const InstalledApp&, const InstalledApp&) = default;
};

size_t qHash(const InstalledApp& app, size_t seed = 0);

// Labelled facts for the phone details popover, in a fixed order; facts the
// phone did not supply have no row.
struct DeviceDetails {
    std::vector<std::pair<QString, QString>> rows; // label, value

    friend bool operator==(const DeviceDetails& a, const DeviceDetails& b);
};
